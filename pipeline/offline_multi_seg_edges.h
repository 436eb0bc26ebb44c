// The per-frame steps of multi-segment offline detection that follow the
// voice test: the edges of an accepted candidate, the closing of short gaps
// and the segment list. Arrays as in offline_one_seg_scan.h (N frames).
#ifndef KVD_PIPELINE_OFFLINE_MULTI_SEG_EDGES_H
#define KVD_PIPELINE_OFFLINE_MULTI_SEG_EDGES_H

#include <cstdint>

// What the edge refinement of one candidate needs besides the arrays.
struct CandidateEdges {
  int32_t first;       // first frame of the candidate (a)
  int32_t last;        // last frame of the candidate (b)
  float floorValue;    // background energy
  float peakLevel;     // energy level of the histogram peak
  int32_t extendFrames;  // margin added on both sides of the refined segment
};

// Refines the edges of an accepted candidate whose voice flags are complete:
// the start moves to the first voiced frame, back over frames of low
// variance and energy, then back up the energy slope (at most 30 frames
// before the candidate); the end moves to the last voiced frame, forward over
// quiet frames of low variance, then down the falling energy (at most 30
// frames after it). Frames cut off become kLabelHeadCut / kLabelTailCut,
// frames added kLabelRefinedIn, and the refined segment widened by
// extendFrames on each side (not beyond frame N - 2) kLabelSegment.
void RefineCandidate(const float* frameEnergy, int16_t* labels, const int16_t* voiceFlags,
                     const float* bandVar, int32_t frameCount, const CandidateEdges& edges);

// Closes gaps of one or two non-positive frames between candidates
// (kLabelSegment), for gaps starting at frames 1 .. N - 3.
void FillShortGaps(int16_t* labels, int32_t frameCount);

// Outcome of CollectSegments.
struct SegmentList {
  int32_t count;      // segments written
  bool full;          // maxSegments segments were closed: detection gives up
  int32_t stopFrame;  // with full: the frame on which the list filled up
};

// Writes the runs of positive labels as sample positions: a segment starts
// at frameShift x its first frame and ends at frameShift x the frame after it
// (or the last frame of the recording when it reaches it). Entries from
// count on are 0.
//   starts, ends [out] at least max(maxSegments, 1) entries each
SegmentList CollectSegments(const int16_t* labels, int32_t frameCount, int32_t frameShift,
                            int32_t maxSegments, int32_t* starts, int32_t* ends);

#endif  // KVD_PIPELINE_OFFLINE_MULTI_SEG_EDGES_H
