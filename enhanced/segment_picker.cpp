#include "enhanced/segment_picker.h"

#include <algorithm>

namespace {

std::vector<FrameSegment> RunsAtOrAbove(const std::vector<float>& probability,
                                        const SegmentRules& rules) {
  const int32_t count = static_cast<int32_t>(probability.size());
  std::vector<FrameSegment> runs;
  // Running sum over the window [i - r, i + r], cut at the recording's ends.
  const int32_t r = rules.smoothRadius;
  double sum = 0.0;
  for (int32_t i = 0; i < std::min(r, count); ++i) sum += probability[static_cast<size_t>(i)];
  int32_t runFirst = -1;
  for (int32_t i = 0; i < count; ++i) {
    if (i + r < count) sum += probability[static_cast<size_t>(i + r)];
    if (i - r - 1 >= 0) sum -= probability[static_cast<size_t>(i - r - 1)];
    const int32_t width = std::min(i + r, count - 1) - std::max(i - r, 0) + 1;
    const bool speech = sum >= static_cast<double>(rules.threshold) * width;
    if (speech && runFirst < 0) runFirst = i;
    if (!speech && runFirst >= 0) {
      runs.push_back({runFirst, i});
      runFirst = -1;
    }
  }
  if (runFirst >= 0) runs.push_back({runFirst, count});
  return runs;
}

// Joins neighbours whose gap is below gapFrames.
std::vector<FrameSegment> Joined(const std::vector<FrameSegment>& runs, int32_t gapFrames) {
  std::vector<FrameSegment> joined;
  for (const FrameSegment& run : runs) {
    if (!joined.empty() && run.first - joined.back().end < gapFrames) {
      joined.back().end = run.end;
    } else {
      joined.push_back(run);
    }
  }
  return joined;
}

}  // namespace

std::vector<FrameSegment> PickSegments(const std::vector<float>& probability,
                                       const SegmentRules& rules) {
  const int32_t count = static_cast<int32_t>(probability.size());
  std::vector<FrameSegment> kept;
  for (const FrameSegment& s : Joined(RunsAtOrAbove(probability, rules), rules.joinGapFrames)) {
    if (s.end - s.first < rules.minSpeechFrames) continue;
    kept.push_back({std::max(s.first - rules.padFrames, 0),
                    std::min(s.end + rules.padFrames, count)});
  }
  return Joined(kept, 1);
}
