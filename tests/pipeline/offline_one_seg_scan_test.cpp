#include "pipeline/offline_one_seg_scan.h"

#include <gtest/gtest.h>

#include <vector>

#include "pipeline/offline_labels.h"

namespace {

// Frames [first, end) are candidates of the given energy; the rest noise at
// energy 1.
struct Recording {
  std::vector<float> energy;
  std::vector<int16_t> labels;
};

Recording NoiseFrames(int32_t count) {
  return Recording{std::vector<float>(static_cast<size_t>(count), 1.0f),
                   std::vector<int16_t>(static_cast<size_t>(count), kLabelBelowThreshold)};
}

void AddRun(Recording& r, int32_t first, int32_t end, float energy) {
  for (int32_t i = first; i < end; ++i) {
    r.energy[static_cast<size_t>(i)] = energy;
    r.labels[static_cast<size_t>(i)] = kLabelCandidate;
  }
}

// Long runs: 50 frames above 40; short runs: above 10.
constexpr RunEnergyTest kTest{50, 20, 40.0f, 10.0f};

TEST(OneSegScan, RunOfExactlyTheShortLengthIsAnEndRunButNoStartRun) {
  Recording r = NoiseFrames(100);
  AddRun(r, 40, 60, 20.0f);  // 20 frames
  FrameRun run{};
  EXPECT_FALSE(FindStartRun(r.energy.data(), r.labels.data(), 100, kTest, run));
  // Backwards the test window is frames 39 .. 58: (1 + 19 * 20) / 20 = 19.05.
  EXPECT_EQ(FindEndRun(r.energy.data(), r.labels.data(), 100, kTest), 59);
}

TEST(OneSegScan, QuietLongRunIsRelabelledAndTheScanGoesOn) {
  Recording r = NoiseFrames(300);
  AddRun(r, 10, 70, 30.0f);    // 60 frames, not above 40
  AddRun(r, 100, 121, 15.0f);  // 21 frames, above 10
  AddRun(r, 200, 260, 50.0f);  // 60 frames, above 40
  FrameRun run{};
  ASSERT_TRUE(FindStartRun(r.energy.data(), r.labels.data(), 300, kTest, run));
  EXPECT_EQ(run.first, 100);
  EXPECT_EQ(run.endExclusive, 121);
  EXPECT_EQ(r.labels[10], kLabelWeakRun);
  EXPECT_EQ(r.labels[69], kLabelWeakRun);
  EXPECT_EQ(FindEndRun(r.energy.data(), r.labels.data(), 300, kTest), 259);
}

TEST(OneSegScan, ScansStopAtTheArrayEnds) {
  // Candidates up to the last frame: the forward scan must stop at N.
  Recording r = NoiseFrames(80);
  AddRun(r, 10, 80, 5.0f);
  FrameRun run{};
  EXPECT_FALSE(FindStartRun(r.energy.data(), r.labels.data(), 80, kTest, run));
  // Candidates from frame 0 on: the backward window stops at frame 0 and
  // holds frames 0 .. 28.
  Recording fromZero = NoiseFrames(80);
  AddRun(fromZero, 0, 30, 50.0f);
  EXPECT_EQ(FindEndRun(fromZero.energy.data(), fromZero.labels.data(), 80, kTest), 29);
  Recording silent = NoiseFrames(80);
  EXPECT_EQ(FindEndRun(silent.energy.data(), silent.labels.data(), 80, kTest), -1);
}

TEST(OneSegScan, ZeroLengthSettingsNeverTestAnEmptyRun) {
  // With both lengths 0 every run is long; the noise between runs (an empty
  // run) must neither be accepted nor relabelled.
  constexpr RunEnergyTest zeroLengths{0, 0, 40.0f, 10.0f};
  Recording r = NoiseFrames(40);
  AddRun(r, 5, 15, 50.0f);
  FrameRun run{};
  ASSERT_TRUE(FindStartRun(r.energy.data(), r.labels.data(), 40, zeroLengths, run));
  EXPECT_EQ(run.first, 5);
  EXPECT_EQ(run.endExclusive, 15);
  EXPECT_EQ(FindEndRun(r.energy.data(), r.labels.data(), 40, zeroLengths), 14);
  EXPECT_EQ(r.labels[0], kLabelBelowThreshold);
  EXPECT_EQ(r.labels[39], kLabelBelowThreshold);
}

// Arrays for the refinements: flat energy 10, unvoiced, variance 1.
struct Edges {
  std::vector<float> energy = std::vector<float>(100, 10.0f);
  std::vector<int16_t> voice = std::vector<int16_t>(100, -1);
  std::vector<float> variance = std::vector<float>(100, 1.0f);
};

TEST(OneSegRefinement, StartMovesOverVoiceVarianceAndSlopeThenExtends) {
  Edges e;
  for (int32_t i = 40; i < 50; ++i) e.voice[static_cast<size_t>(i)] = 20;  // voiced 40 .. 49
  // From the first unvoiced frame, 39 (variance 10), back while the variance
  // stays above 2: frames 38 .. 36 (5), stop at 35 (1).
  e.variance[39] = 10.0f;
  for (int32_t i = 36; i < 39; ++i) e.variance[static_cast<size_t>(i)] = 5.0f;
  // Energy rising 33 .. 35 (11, 12, 13): down the slope to 32, then 5 more.
  e.energy[33] = 11.0f;
  e.energy[34] = 12.0f;
  e.energy[35] = 13.0f;
  EXPECT_EQ(RefineSegmentStart(e.energy.data(), e.voice.data(), e.variance.data(), 45, 5), 27);
  // The variance step moves at most the margin: with high variance from
  // frame 0 on it stops at 39 - 5 = 34, then 34 -> 32 by the slope.
  for (int32_t i = 0; i < 39; ++i) e.variance[static_cast<size_t>(i)] = 5.0f;
  EXPECT_EQ(RefineSegmentStart(e.energy.data(), e.voice.data(), e.variance.data(), 45, 5), 27);
  // Never below frame 0.
  EXPECT_EQ(RefineSegmentStart(e.energy.data(), e.voice.data(), e.variance.data(), 3, 5), 0);
}

TEST(OneSegRefinement, EndMirrorsTheStart) {
  Edges e;
  for (int32_t i = 50; i < 60; ++i) e.voice[static_cast<size_t>(i)] = 20;  // voiced 50 .. 59
  e.variance[60] = 10.0f;
  for (int32_t i = 61; i < 64; ++i) e.variance[static_cast<size_t>(i)] = 5.0f;
  // Energy falling from 64 (13, 12, 11 at 64 .. 66) down to the flat 10.
  e.energy[64] = 13.0f;
  e.energy[65] = 12.0f;
  e.energy[66] = 11.0f;
  // 55 -> 60 (voice) -> 64 (variance) -> 67 (slope) -> 72 (margin).
  EXPECT_EQ(RefineSegmentEnd(e.energy.data(), e.voice.data(), e.variance.data(), 100, 55, 5), 72);
  // Never beyond the last frame.
  EXPECT_EQ(RefineSegmentEnd(e.energy.data(), e.voice.data(), e.variance.data(), 100, 97, 5), 99);
}

}  // namespace
