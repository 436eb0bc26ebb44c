// Band edges of the energy detector, its refused rate, and the statistics of
// frames that are unusable (dual tones, digital silence).
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>

#include "classifiers/detect_energy.h"
#include "energy_signals.h"

namespace {

TEST(BandEdges, OctavesBelow4000HzFrom60Hz) {
  // Hand computation: top = trunc(4000 / (rate / fft)), edges halve down from
  // it, band 0 starts at trunc(60 / (rate / fft)).
  //   8000/512 and 16000/1024: 15.625 Hz per bin, top 256, low 3.
  //   11025/1024: 10.7666 Hz per bin, top 371 (371.52), low 5 (5.57).
  //   48000/4096: 11.71875 Hz per bin, top 341 (341.33), low 5 (5.12).
  struct Case {
    int32_t rate, fft, edges[4][2];  // first bin, end bin (excluded)
  };
  const Case cases[] = {{8000, 512, {{3, 32}, {32, 64}, {64, 128}, {128, 256}}},
                        {16000, 1024, {{3, 32}, {32, 64}, {64, 128}, {128, 256}}},
                        {11025, 1024, {{5, 46}, {46, 92}, {92, 185}, {185, 371}}},
                        {48000, 4096, {{5, 42}, {42, 85}, {85, 170}, {170, 341}}}};
  for (const Case& c : cases) {
    CDetectEnergy detector(c.rate, c.fft);
    ASSERT_EQ(detector.Status, 0) << c.rate;
    EXPECT_EQ(detector.BinNum, c.fft / 2) << c.rate;
    for (int band = 0; band < 4; ++band) {
      EXPECT_EQ(detector.BandEdge[band][0], c.edges[band][0]) << c.rate << " band " << band;
      EXPECT_EQ(detector.BandEdge[band][1], c.edges[band][1]) << c.rate << " band " << band;
    }
  }
}

TEST(BandEdges, RateBelow8000IsRefused) {
  testing::internal::CaptureStdout();  // the facade's default console output
  CDetectEnergy detector(7999, 512);
  const std::string logged = testing::internal::GetCapturedStdout();
  EXPECT_EQ(detector.Status, -1);
  EXPECT_THAT(logged, testing::EndsWith(":Cannot process data with such low sample rate.\n"));
  EXPECT_EQ(CDetectEnergy(8000, 512).Status, 0);
}

class UnusableFrames : public testing::Test {
 protected:
  UnusableFrames() { kvdtest::LoadDefaultSettings(detector, 50); }
  CDetectEnergy detector{8000, 512};
  kvdtest::EnergyFeeder feeder{detector};
};

TEST_F(UnusableFrames, CarryTheLastStatisticsForward) {
  feeder.FeedConstant(0, 9, {5.0f, 6.0f, 7.0f, 8.0f});
  feeder.Feed(10, {1000.0f, 1000.0f, 1000.0f, 1000.0f}, false);
  for (int band = 0; band < 4; ++band) EXPECT_EQ(detector.BandEnergy[band][10], 0.0f);
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

TEST_F(UnusableFrames, BeforeTheFirstStatisticsGiveZeroStatistics) {
  // Slot 499 holds the statistics of an earlier run; it is not slot -1 of this one.
  for (int band = 0; band < 4; ++band) {
    detector.BandMean[band][499] = 7.0f;
    detector.BandCV[band][499] = 0.7f;
  }
  for (int32_t t = 0; t <= 9; ++t) feeder.Feed(t, {5.0f, 6.0f, 7.0f, 8.0f}, t != 3);
  for (int band = 0; band < 4; ++band) {
    EXPECT_EQ(detector.BandMean[band][0], 0.0f) << "band " << band;
    EXPECT_EQ(detector.BandCV[band][0], 0.0f) << "band " << band;
  }
}

}  // namespace
