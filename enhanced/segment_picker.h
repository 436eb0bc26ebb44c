// From per-frame speech probabilities of a whole recording to its speech
// segments, as the enhanced mode's offline detections report them.
#ifndef KVD_ENHANCED_SEGMENT_PICKER_H
#define KVD_ENHANCED_SEGMENT_PICKER_H

#include <cstdint>
#include <vector>

// A stretch of frames [first, end), 10 ms each.
struct FrameSegment {
  int32_t first = 0;
  int32_t end = 0;
};

// The probabilities are averaged over kSmoothRadius frames either side; a
// frame is speech when that mean reaches the threshold; speech stretches
// closer than the gap are joined, those shorter than the minimum after
// joining dropped, and each kept one widened by the padding on both sides
// (within the recording), joining those that then touch.
struct SegmentRules {
  float threshold = 0.5f;
  int32_t smoothRadius = 2;     // frames
  int32_t joinGapFrames = 30;   // frames
  int32_t minSpeechFrames = 10; // frames
  int32_t padFrames = 5;        // frames
};

std::vector<FrameSegment> PickSegments(const std::vector<float>& probability,
                                       const SegmentRules& rules);

#endif  // KVD_ENHANCED_SEGMENT_PICKER_H
