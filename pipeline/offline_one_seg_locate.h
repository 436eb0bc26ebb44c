// Where the single segment lies, once a line's offline arrays hold the
// recording's energies, background labels, voice flags and band variances.
#ifndef KVD_PIPELINE_OFFLINE_ONE_SEG_LOCATE_H
#define KVD_PIPELINE_OFFLINE_ONE_SEG_LOCATE_H

#include <cstdint>

#include "engine/speech_detector.h"

// First and last frame of the segment.
struct SegmentFrames {
  int32_t startFrame;
  int32_t endFrame;
};

// Labels the frames below the histogram threshold, finds the first and the
// last run loud enough to be speech and refines their outer edges. The end
// is never before the last frame of the start run, so endFrame >= startFrame.
// Needs maxEnergy > floorValue. Returns false when no run is loud enough.
bool LocateOneSegment(SpeechDetector& detector, SegmentFrames& segment);

#endif  // KVD_PIPELINE_OFFLINE_ONE_SEG_LOCATE_H
