// Start decisions: confirming a candidate against the spectral variance at
// the energy peak, and refining it to the onset of the energy rise.
#include <gtest/gtest.h>

#include "classifiers/detect_energy.h"
#include "energy_signals.h"

namespace {

using kvdtest::BandLevels;

class ConfirmStart : public testing::Test {
 protected:
  ConfirmStart() { kvdtest::LoadDefaultSettings(detector, 50); }

  void SetVariance(int32_t frame, const BandLevels& v) {
    for (int band = 0; band < 4; ++band) {
      variance[band][frame % 500] = v[band];
    }
  }
  void SetVarianceRange(int32_t first, int32_t last, const BandLevels& v) {
    for (int32_t f = first; f <= last; ++f) {
      SetVariance(f, v);
    }
  }

  CDetectEnergy detector{8000, 512};
  float variance[4][500] = {};
};

TEST_F(ConfirmStart, MissingOrOldCandidateGivesTheCurrentFrame) {
  SetVarianceRange(0, 499, {5, 5, 5, 5});  // every frame strong against itself
  EXPECT_EQ(detector.ConfirmStart(200, -1, variance, 30), 200);
  EXPECT_EQ(detector.ConfirmStart(200, 149, variance, 30), 200);  // 51 frames old
  EXPECT_EQ(detector.ConfirmStart(200, 150, variance, 30), 150);  // 50 frames old
  EXPECT_EQ(detector.ConfirmStart(200, 200, variance, 30), 200);  // not before t
}

TEST_F(ConfirmStart, FourStrongFramesInARowConfirm) {
  const int32_t t = 100;
  const int32_t candidate = 60;
  // No band energy: the peak frame is t, with variance 1 in every band.
  SetVariance(t, {1, 1, 1, 1});
  // Strong: band 0 or band 1 above the peak, or all of bands 0 .. 2 at 80 %.
  SetVariance(60, {2, 0, 0, 0});
  SetVariance(61, {0, 2, 0, 0});
  SetVariance(62, {0.8f, 0.8f, 0.8f, 0});
  SetVariance(63, {0.8f, 0.8f, 0.79f, 0});  // weak: band 2 below 80 %
  SetVariance(64, {2, 0, 0, 0});
  EXPECT_EQ(detector.ConfirmStart(t, candidate, variance, 30), t);  // runs of 3 and 1

  SetVariance(63, {1, 1, 1, 0});  // equal to the peak in band 2: strong
  EXPECT_EQ(detector.ConfirmStart(t, candidate, variance, 30), candidate);
}

TEST_F(ConfirmStart, PeakIsSearchedOnlyAfterTheGap) {
  const int32_t t = 100;
  const int32_t candidate = 60;
  kvdtest::EnergyFeeder feeder(detector);
  feeder.FeedConstant(0, t, {0, 0, 0, 0});
  feeder.Feed(80, {1000, 1000, 1000, 0});  // loudest, but before 60 + 30
  feeder.Feed(95, {10, 10, 10, 1000});     // loudest below 2000 Hz after the gap
  SetVariance(80, {10, 10, 10, 0});
  SetVariance(95, {1, 1, 1, 0});
  SetVarianceRange(60, 63, {2, 0, 0, 0});  // strong against frame 95 only

  EXPECT_EQ(detector.ConfirmStart(t, candidate, variance, 30), candidate);
  EXPECT_EQ(detector.ConfirmStart(t, candidate, variance, 10), t);  // peak at frame 80
}

class RefineStart : public testing::Test {
 protected:
  RefineStart() {
    kvdtest::LoadDefaultSettings(detector, 50);
    for (int band = 0; band < 4; ++band) {
      detector.NoiseLevel[band] = 10.0f;  // background bound (0 + 1) x 10
      detector.BandThd[band] = 100.0f;
    }
  }

  CDetectEnergy detector{8000, 512};
  kvdtest::EnergyFeeder feeder{detector};
};

TEST_F(RefineStart, WalksBackToTheOnsetOfARise) {
  feeder.FeedConstant(0, 199, {5, 5, 5, 5});
  feeder.FeedConstant(200, 300, {1000, 1000, 1000, 1000});
  // Back from 250 to slot 190, the last whose mean (5) is below the
  // background, then forward to the first loud frame.
  EXPECT_EQ(detector.RefineStart(300, 250), 200);
}

TEST_F(RefineStart, LoudHighBandsExtendTheWalkByAtMostTenFrames) {
  // Bands 0 and 1 above the background but below threshold; bands 2 and 3
  // above the loudness level 1e6. Only two bands count as speech, so the
  // first walk stops at once; the second follows the loud high bands.
  feeder.FeedConstant(0, 140, {20, 20, 2e6f, 2e6f});
  EXPECT_EQ(detector.RefineStart(140, 100), 90);
}

TEST_F(RefineStart, NeverBeforeFrameZero) {
  feeder.FeedConstant(0, 40, {20, 20, 2e6f, 2e6f});
  // Loud slots of an earlier run where frames -1 .. -6 would map.
  for (int32_t slot = 490; slot < 500; ++slot) {
    for (int band = 0; band < 4; ++band) {
      detector.BandEnergy[band][slot] = 2e6f;
      detector.BandMean[band][slot] = 2e6f;
    }
  }
  EXPECT_EQ(detector.RefineStart(40, 5), 0);
}

TEST_F(RefineStart, NeverBeyondTheHistory) {
  feeder.FeedConstant(0, 800, {1000, 1000, 1000, 1000});
  EXPECT_EQ(detector.RefineStart(800, 700), 800 - 499);
}

}  // namespace
