// Turning per-frame probabilities into segments, on hand-made sequences.
#include "enhanced/segment_picker.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

// Frames [first, end) at value, the rest at 0.
std::vector<float> Steps(int32_t count, const std::vector<FrameSegment>& on, float value = 1.0f) {
  std::vector<float> p(static_cast<size_t>(count), 0.0f);
  for (const FrameSegment& s : on)
    for (int32_t f = s.first; f < s.end; ++f) p[static_cast<size_t>(f)] = value;
  return p;
}

std::vector<std::pair<int32_t, int32_t>> Pairs(const std::vector<FrameSegment>& segments) {
  std::vector<std::pair<int32_t, int32_t>> pairs;
  for (const FrameSegment& s : segments) pairs.emplace_back(s.first, s.end);
  return pairs;
}

// No smoothing, padding or joining: the runs themselves.
constexpr SegmentRules kPlain{0.5f, 0, 1, 1, 0};

TEST(SegmentPicker, RulesShapeTheSegments) {
  using P = std::vector<std::pair<int32_t, int32_t>>;
  const std::vector<float> twoRuns = Steps(200, {{20, 60}, {70, 120}});
  EXPECT_EQ(Pairs(PickSegments(twoRuns, kPlain)), (P{{20, 60}, {70, 120}}));
  // A 10-frame gap is joined when the joining gap is longer than it.
  EXPECT_EQ(Pairs(PickSegments(twoRuns, {0.5f, 0, 11, 1, 0})), (P{{20, 120}}));
  EXPECT_EQ(Pairs(PickSegments(twoRuns, {0.5f, 0, 10, 1, 0})), (P{{20, 60}, {70, 120}}));
  // Runs shorter than the minimum go; padding widens within the recording
  // and joins the segments it makes touch.
  EXPECT_EQ(Pairs(PickSegments(twoRuns, {0.5f, 0, 1, 45, 0})), (P{{70, 120}}));
  EXPECT_EQ(Pairs(PickSegments(twoRuns, {0.5f, 0, 1, 1, 5})), (P{{15, 125}}));
  EXPECT_EQ(Pairs(PickSegments(Steps(50, {{0, 10}, {45, 50}}), {0.5f, 0, 1, 1, 3})),
            (P{{0, 13}, {42, 50}}));
}

TEST(SegmentPicker, ThresholdAndSmoothing) {
  using P = std::vector<std::pair<int32_t, int32_t>>;
  // Probability 0.55 passes 0.5 and fails 0.6.
  const std::vector<float> mild = Steps(100, {{30, 60}}, 0.55f);
  EXPECT_EQ(Pairs(PickSegments(mild, kPlain)), (P{{30, 60}}));
  EXPECT_TRUE(PickSegments(mild, {0.6f, 0, 1, 1, 0}).empty());
  // A single-frame spike averaged over 5 frames (0.2) is no speech; a run
  // keeps its place, its edge frames reaching the mean of 3 of 5 frames.
  EXPECT_TRUE(PickSegments(Steps(100, {{50, 51}}), {0.5f, 2, 1, 1, 0}).empty());
  EXPECT_EQ(Pairs(PickSegments(Steps(100, {{30, 60}}), {0.5f, 2, 1, 1, 0})), (P{{30, 60}}));
  // Nothing in, nothing out.
  EXPECT_TRUE(PickSegments({}, kPlain).empty());
  EXPECT_TRUE(PickSegments(Steps(100, {}), kPlain).empty());
}

}  // namespace
