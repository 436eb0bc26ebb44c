// Per-frame label codes of the offline detections. A frame is a speech
// candidate while its label is positive; a negative label says why it counts
// as noise. No label is ever 0.
#ifndef KVD_PIPELINE_OFFLINE_LABELS_H
#define KVD_PIPELINE_OFFLINE_LABELS_H

#include <cstdint>

// Every frame at the start of a call.
constexpr int16_t kLabelCandidate = 1;
// Added in front of or behind a candidate by boundary refinement.
constexpr int16_t kLabelRefinedIn = 4;
// Frame of an accepted segment after refinement and extension, or a filled
// gap of one or two frames.
constexpr int16_t kLabelSegment = 10;

// Inside a stationary 100-frame window.
constexpr int16_t kLabelStationary100 = -2;
// Inside a stationary 60-frame window far below its 100-frame surroundings.
constexpr int16_t kLabelQuietDip60 = -3;
// Inside a very stationary 60-frame window not far above the background.
constexpr int16_t kLabelSteady60 = -4;
// Energy below the background level.
constexpr int16_t kLabelBelowFloor = -8;
// Run of candidates that failed the energy test of the segment scan.
constexpr int16_t kLabelWeakRun = -10;
// Short candidate run between long noise runs.
constexpr int16_t kLabelShortRun = -12;
// Energy below the histogram threshold.
constexpr int16_t kLabelBelowThreshold = -13;
// Candidate rejected by the voice test.
constexpr int16_t kLabelUnvoiced = -15;
// Head of a candidate cut off by boundary refinement.
constexpr int16_t kLabelHeadCut = -16;
// Tail of a candidate cut off by boundary refinement.
constexpr int16_t kLabelTailCut = -17;

// Sets labels[first .. endExclusive - 1] to code.
inline void SetLabels(int16_t* labels, int32_t first, int32_t endExclusive, int16_t code) {
  for (int32_t i = first; i < endExclusive; ++i) labels[i] = code;
}

#endif  // KVD_PIPELINE_OFFLINE_LABELS_H
