#include "pipeline/offline_multi_seg_edges.h"

#include <gtest/gtest.h>

#include <vector>

#include "pipeline/offline_labels.h"

namespace {

std::vector<int16_t> Labels(const std::string& pattern) {
  std::vector<int16_t> labels;
  for (char c : pattern) labels.push_back(c == '+' ? kLabelCandidate : kLabelBelowThreshold);
  return labels;
}

std::string Pattern(const std::vector<int16_t>& labels) {
  std::string pattern;
  for (int16_t label : labels) pattern += label > 0 ? '+' : '-';
  return pattern;
}

TEST(MultiSegGaps, GapsOfOneAndTwoFramesAreClosed) {
  std::vector<int16_t> labels = Labels("++-++--++---++");
  FillShortGaps(labels.data(), static_cast<int32_t>(labels.size()));
  EXPECT_EQ(Pattern(labels), "+++++++++---++");
  EXPECT_EQ(labels[2], kLabelSegment);
  EXPECT_EQ(labels[5], kLabelSegment);
  EXPECT_EQ(labels[6], kLabelSegment);
}

TEST(MultiSegList, SegmentsInSamplesWithZerosAfterThem) {
  // Frames 2 .. 4 and 8 .. 11 (the last frame): the first ends at the frame
  // after it (5), the second at the last frame itself (11).
  const std::vector<int16_t> labels = Labels("--+++---++++");
  std::vector<int32_t> starts(4, -7);
  std::vector<int32_t> ends(4, -7);
  const SegmentList list = CollectSegments(labels.data(), 12, 80, 4, starts.data(), ends.data());
  EXPECT_FALSE(list.full);
  EXPECT_EQ(list.count, 2);
  EXPECT_EQ(starts, (std::vector<int32_t>{160, 640, 0, 0}));
  EXPECT_EQ(ends, (std::vector<int32_t>{400, 880, 0, 0}));
}

TEST(MultiSegList, ACandidateOnTheLastFrameAloneOpensNoSegment) {
  const std::vector<int16_t> labels = Labels("-++---+");
  std::vector<int32_t> starts(3);
  std::vector<int32_t> ends(3);
  const SegmentList list = CollectSegments(labels.data(), 7, 80, 3, starts.data(), ends.data());
  EXPECT_EQ(list.count, 1);
  EXPECT_EQ(starts, (std::vector<int32_t>{80, 0, 0}));
  EXPECT_EQ(ends, (std::vector<int32_t>{240, 0, 0}));
}

TEST(MultiSegList, ClosingTheLastEntryFillsTheList) {
  // Three segments and room for three: full when the third closes (frame 9).
  const std::vector<int16_t> labels = Labels("++--++--+--");
  std::vector<int32_t> starts(3);
  std::vector<int32_t> ends(3);
  const SegmentList list = CollectSegments(labels.data(), 11, 80, 3, starts.data(), ends.data());
  EXPECT_TRUE(list.full);
  EXPECT_EQ(list.stopFrame, 9);
  // No room at all: full on the first frame, nothing written out of range.
  std::vector<int32_t> one(1);
  std::vector<int32_t> other(1);
  EXPECT_TRUE(CollectSegments(labels.data(), 11, 80, 0, one.data(), other.data()).full);
}

TEST(MultiSegRefinement, EdgesMoveToTheVoicedCoreAndWiden) {
  // Candidate 50 .. 120 over flat energy 10 (floor 5, peak level 50); voiced
  // and loud (100) frames 60 .. 109; variance 1, 10 at the voiced edges.
  constexpr int32_t kFrames = 200;
  std::vector<float> energy(kFrames, 10.0f);
  std::vector<int16_t> voice(kFrames, -1);
  std::vector<float> variance(kFrames, 1.0f);
  std::vector<int16_t> labels(kFrames, kLabelBelowThreshold);
  for (int32_t i = 60; i < 110; ++i) {
    energy[static_cast<size_t>(i)] = 100.0f;
    voice[static_cast<size_t>(i)] = 20;
  }
  variance[60] = 10.0f;
  variance[109] = 10.0f;
  for (int32_t i = 50; i <= 120; ++i) labels[static_cast<size_t>(i)] = kLabelCandidate;
  RefineCandidate(energy.data(), labels.data(), voice.data(), variance.data(), kFrames,
                  CandidateEdges{50, 120, 5.0f, 50.0f, 5});
  // Start: first voiced frame 60, one frame back up the slope to 59; 5
  // margin -> 54. End: last voiced frame 109, forward over the quiet,
  // low-variance frames to 110; 5 margin -> 115 (exclusive).
  for (int32_t i = 50; i < 54; ++i) EXPECT_EQ(labels[static_cast<size_t>(i)], kLabelHeadCut);
  for (int32_t i = 54; i < 115; ++i) EXPECT_EQ(labels[static_cast<size_t>(i)], kLabelSegment);
  for (int32_t i = 115; i < 120; ++i) EXPECT_EQ(labels[static_cast<size_t>(i)], kLabelTailCut);
  EXPECT_EQ(labels[120], kLabelCandidate);
}

}  // namespace
