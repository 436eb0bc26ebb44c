#include "pipeline/offline_histogram.h"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

namespace {

// A histogram from its first entries; the rest is 0.
std::vector<float> Histogram(std::initializer_list<float> head) {
  std::vector<float> hist(kHistogramBins, 0.0f);
  std::copy(head.begin(), head.end(), hist.begin());
  return hist;
}

TEST(EnergyHistogram, FramesFallIntoTheBinOfTheirEnergy) {
  // floor 10, max 110: step (110 - 10) / 100 = 1; counting starts at 9.
  // 9 takes no step (bin 0); 10 one step (9 -> 10, bin 1); 10.5 two steps
  // (9 -> 10 -> 11, bin 2); 59.5 fifty-one steps; 1000 is beyond the top.
  const std::vector<float> energy = {9.0f, 10.0f, 10.5f, 59.5f, 1000.0f};
  std::vector<float> hist(kHistogramBins, -1.0f);
  const float step = BuildEnergyHistogram(energy.data(), 5, 10.0f, 110.0f, hist.data());
  EXPECT_FLOAT_EQ(step, 1.0f);
  EXPECT_FLOAT_EQ(hist[0], 0.2f);
  EXPECT_FLOAT_EQ(hist[1], 0.2f);
  EXPECT_FLOAT_EQ(hist[2], 0.2f);
  EXPECT_FLOAT_EQ(hist[51], 0.2f);
  EXPECT_FLOAT_EQ(hist[99], 0.2f);
  float total = 0.0f;
  for (float fraction : hist) total += fraction;
  EXPECT_FLOAT_EQ(total, 1.0f);
}

TEST(EnergyHistogram, StepTooSmallToMoveTheCountStopsAtTheTopBin) {
  // Around 1e6 single precision resolves 0.0625; a span of one such unit
  // gives a step of 0.000625 that leaves 999999 unchanged when added.
  const float floorValue = 1.0e6f;
  const float maxEnergy = std::nextafter(floorValue, 2.0e6f);
  const std::vector<float> energy = {2.0e6f, 3.0e6f};
  std::vector<float> hist(kHistogramBins);
  BuildEnergyHistogram(energy.data(), 2, floorValue, maxEnergy, hist.data());
  EXPECT_FLOAT_EQ(hist[99], 1.0f);
}

TEST(HistogramThreshold, QuietBinZeroHoldingMoreThanHalfIsTheThreshold) {
  EXPECT_EQ(MassThresholdBin(Histogram({0.6f, 0.2f, 0.1f, 0.1f}).data()), 0);
}

TEST(HistogramThreshold, FallingBinsAreTakenUpToHalfOfAllFrames) {
  // 0.05 < 0.3: start at bin 1 with 0.35; bin 2 (0.45), bin 3 (0.55); stop.
  EXPECT_EQ(MassThresholdBin(Histogram({0.05f, 0.3f, 0.1f, 0.1f, 0.05f, 0.4f}).data()), 3);
}

TEST(HistogramThreshold, RisingBinsAreTakenOnlyBelowATenth) {
  // 0.02, 0.03, 0.04 taken falling or flat; the rises to bins 3 and 4 are
  // taken while less than 0.1 lies below (0.04, then 0.07).
  EXPECT_EQ(MassThresholdBin(Histogram({0.02f, 0.01f, 0.01f, 0.03f, 0.5f, 0.43f}).data()), 4);
  // After bins 0 .. 2 already 0.13 lies below: the rise at bin 3 stops it.
  EXPECT_EQ(MassThresholdBin(Histogram({0.05f, 0.04f, 0.04f, 0.1f, 0.77f}).data()), 2);
}

TEST(HistogramThreshold, RiseAtTheStartMovesToBinTwo) {
  // 0.1 < 0.15 < 0.2: bins 0 .. 2 taken at once (0.45), then bin 3 (0.6).
  EXPECT_EQ(MassThresholdBin(Histogram({0.1f, 0.15f, 0.2f, 0.15f, 0.4f}).data()), 3);
}

TEST(HistogramValleyAndPeak, ValleyAtSevenAndPeakAtTwelve) {
  // Falling from bin 0 to bin 7, rising from 8 up to bin 12, falling after.
  const std::vector<float> hist = Histogram({0.30f, 0.15f, 0.10f, 0.07f, 0.05f, 0.03f, 0.02f,
                                             0.01f, 0.02f, 0.03f, 0.04f, 0.05f, 0.08f, 0.04f,
                                             0.01f});
  EXPECT_EQ(ValleyBin(hist.data()), 7);
  EXPECT_EQ(PeakBin(hist.data()), 12);
}

TEST(HistogramValleyAndPeak, PeakSearchStopsAtBinFifty) {
  // Falls to bin 1, then rises steadily to bin 99.
  std::vector<float> hist(kHistogramBins);
  hist[0] = 0.5f;
  for (int k = 1; k < kHistogramBins; ++k) hist[k] = 0.0001f * k;
  EXPECT_EQ(ValleyBin(hist.data()), 1);
  EXPECT_EQ(PeakBin(hist.data()), 50);
  // A valley beyond bin 50 (falling to bin 70, rising at 71) stays.
  std::vector<float> falling(kHistogramBins);
  for (int k = 0; k < kHistogramBins; ++k) falling[k] = 1.0f - 0.01f * (k < 70 ? k : 70);
  falling[71] = 0.5f;
  EXPECT_EQ(ValleyBin(falling.data()), 70);
  EXPECT_EQ(PeakBin(falling.data()), 70);
}

}  // namespace
