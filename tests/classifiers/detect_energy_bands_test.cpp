// Band edges, band energies and their 10-frame statistics.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <ostream>
#include <string>
#include <vector>

#include "classifiers/detect_energy.h"
#include "energy_signals.h"

namespace {

using kvdtest::BandLevels;
using kvdtest::EnergyFeeder;

struct BandCase {
  int32_t sampleRateHz;
  int32_t fftSize;
  int32_t edges[4][2];  // first bin, end bin (excluded)
};

void PrintTo(const BandCase& c, std::ostream* os) {
  *os << c.sampleRateHz << " Hz, " << c.fftSize << "-point FFT";
}

// Hand computation: top = trunc(4000 / (rate / fft)), edges halve down from
// it, band 0 starts at trunc(60 / (rate / fft)).
//   8000/512 and 16000/1024: 15.625 Hz per bin, top 256, low 3.
//   11025/1024: 10.7666 Hz per bin, top 371 (371.52), low 5 (5.57).
//   48000/4096: 11.71875 Hz per bin, top 341 (341.33), low 5 (5.12).
class BandEdges : public testing::TestWithParam<BandCase> {};

TEST_P(BandEdges, OctavesBelow4000HzFrom60Hz) {
  const BandCase& c = GetParam();
  CDetectEnergy detector(c.sampleRateHz, c.fftSize);
  ASSERT_EQ(detector.Status, 0);
  EXPECT_EQ(detector.BinNum, c.fftSize / 2);
  for (int band = 0; band < 4; ++band) {
    EXPECT_EQ(detector.BandEdge[band][0], c.edges[band][0]) << "band " << band;
    EXPECT_EQ(detector.BandEdge[band][1], c.edges[band][1]) << "band " << band;
  }
}

INSTANTIATE_TEST_SUITE_P(
    Rates, BandEdges,
    testing::Values(BandCase{8000, 512, {{3, 32}, {32, 64}, {64, 128}, {128, 256}}},
                    BandCase{16000, 1024, {{3, 32}, {32, 64}, {64, 128}, {128, 256}}},
                    BandCase{11025, 1024, {{5, 46}, {46, 92}, {92, 185}, {185, 371}}},
                    BandCase{48000, 4096, {{5, 42}, {42, 85}, {85, 170}, {170, 341}}}),
    [](const testing::TestParamInfo<BandCase>& paramInfo) {
      return std::to_string(paramInfo.param.sampleRateHz) + "Hz";
    });

TEST(EnergyDetectorConstruction, RateBelow8000IsRefused) {
  testing::internal::CaptureStdout();  // the facade's default console output
  CDetectEnergy detector(7999, 512);
  const std::string logged = testing::internal::GetCapturedStdout();
  EXPECT_EQ(detector.Status, -1);
  EXPECT_THAT(logged, testing::EndsWith(":Cannot process data with such low sample rate.\n"));
  CDetectEnergy lowest(8000, 512);
  EXPECT_EQ(lowest.Status, 0);
}

class BandStatistics : public testing::Test {
 protected:
  BandStatistics() { kvdtest::LoadDefaultSettings(detector, 50); }
  CDetectEnergy detector{8000, 512};
  EnergyFeeder feeder{detector};
};

TEST_F(BandStatistics, BandEnergySumsTheBandsBins) {
  const std::vector<float> flat(256, 1.0f);  // every bin holds power 1
  bool usable[30];
  std::fill(usable, usable + 30, true);
  detector.UpdateBandEnergy(flat.data(), 0, usable);
  EXPECT_EQ(detector.BandEnergy[0][0], 29.0f);  // bins 3 .. 31
  EXPECT_EQ(detector.BandEnergy[1][0], 32.0f);
  EXPECT_EQ(detector.BandEnergy[2][0], 64.0f);
  EXPECT_EQ(detector.BandEnergy[3][0], 128.0f);
}

TEST_F(BandStatistics, FirstStatisticsAtFrameNineDescribeFramesZeroToNine) {
  detector.BandMean[0][0] = 42.0f;  // must survive frames 0 .. 8
  // Band 0 alternates 1, 3: mean 2, population deviation 1, CV 0.5.
  // Band 1 is constant 4: CV 0. Band 2 is silent: mean 0, CV 0.
  // Band 3 is 0 except 10 at frame 9: mean 1, deviation sqrt(90/10) = 3, CV 3.
  for (int32_t t = 0; t <= 8; ++t) {
    EXPECT_EQ(feeder.Feed(t, {t % 2 == 0 ? 1.0f : 3.0f, 4.0f, 0.0f, 0.0f}), -1);
  }
  EXPECT_EQ(detector.BandMean[0][0], 42.0f);
  EXPECT_EQ(feeder.Feed(9, {3.0f, 4.0f, 0.0f, 10.0f}), 0);

  const float tolerance = 1e-5f;  // float mean and deviation over 10 values
  EXPECT_NEAR(detector.BandMean[0][0], 2.0f, tolerance);
  EXPECT_NEAR(detector.BandCV[0][0], 0.5f, tolerance);
  EXPECT_NEAR(detector.BandMean[1][0], 4.0f, tolerance);
  EXPECT_NEAR(detector.BandCV[1][0], 0.0f, tolerance);
  EXPECT_EQ(detector.BandMean[2][0], 0.0f);
  EXPECT_EQ(detector.BandCV[2][0], 0.0f);
  EXPECT_NEAR(detector.BandMean[3][0], 1.0f, tolerance);
  EXPECT_NEAR(detector.BandCV[3][0], 3.0f, tolerance);
}

TEST_F(BandStatistics, UnusableFrameCarriesTheLastStatisticsForward) {
  feeder.FeedConstant(0, 9, {5.0f, 6.0f, 7.0f, 8.0f});
  feeder.Feed(10, {1000.0f, 1000.0f, 1000.0f, 1000.0f}, false);
  for (int band = 0; band < 4; ++band) {
    EXPECT_EQ(detector.BandEnergy[band][10], 0.0f);
  }
  // Frames 11 .. 19 are loud, but every window up to slot 10 holds frame 10.
  feeder.FeedConstant(11, 19, {100.0f, 100.0f, 100.0f, 100.0f});
  for (int32_t slot = 1; slot <= 10; ++slot) {
    EXPECT_NEAR(detector.BandMean[0][slot], 5.0f, 1e-5f) << "slot " << slot;
    EXPECT_NEAR(detector.BandMean[3][slot], 8.0f, 1e-5f) << "slot " << slot;
    EXPECT_NEAR(detector.BandCV[0][slot], 0.0f, 1e-6f) << "slot " << slot;
  }
  // Frames 11 .. 20 are usable again: slot 11 is computed afresh.
  feeder.Feed(20, {100.0f, 100.0f, 100.0f, 100.0f});
  EXPECT_NEAR(detector.BandMean[0][11], 100.0f, 1e-4f);
}

TEST_F(BandStatistics, UnusableFrameBeforeFirstStatisticsGivesZeroStatistics) {
  // Slot 499 holds the statistics of an earlier run; it is not slot -1 of this one.
  for (int band = 0; band < 4; ++band) {
    detector.BandMean[band][499] = 7.0f;
    detector.BandCV[band][499] = 0.7f;
  }
  for (int32_t t = 0; t <= 9; ++t) {
    feeder.Feed(t, {5.0f, 6.0f, 7.0f, 8.0f}, t != 3);
  }
  for (int band = 0; band < 4; ++band) {
    EXPECT_EQ(detector.BandMean[band][0], 0.0f) << "band " << band;
    EXPECT_EQ(detector.BandCV[band][0], 0.0f) << "band " << band;
  }
}

}  // namespace
