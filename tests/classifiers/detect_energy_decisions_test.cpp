// The edges of the energy detector's decisions: a candidate start is
// confirmed by four strong frames and only while recent, the refined start stays
// inside frame 0 and the history, the speech level takes only frames still
// held, no end while speech is recent, and digital silence ends speech where
// quiet frames do while rejected tones do not.
#include <gtest/gtest.h>

#include <algorithm>

#include "classifiers/detect_energy.h"
#include "energy_signals.h"

namespace {

using kvdtest::BandLevels;

class ConfirmStart : public testing::Test {
 protected:
  ConfirmStart() { kvdtest::LoadDefaultSettings(detector, 50); }
  void SetVariance(int32_t frame, const BandLevels& v) {
    for (int band = 0; band < 4; ++band) variance[band][frame % 500] = v[band];
  }
  CDetectEnergy detector{8000, 512};
  float variance[4][500] = {};
};

TEST_F(ConfirmStart, MissingOrOldCandidateGivesTheCurrentFrame) {
  for (int32_t f = 0; f < 500; ++f) SetVariance(f, {5, 5, 5, 5});  // all strong against themselves
  EXPECT_EQ(detector.ConfirmStart(200, -1, variance, 30), 200);
  EXPECT_EQ(detector.ConfirmStart(200, 149, variance, 30), 200);  // 51 frames old
  EXPECT_EQ(detector.ConfirmStart(200, 150, variance, 30), 150);  // 50 frames old
  EXPECT_EQ(detector.ConfirmStart(200, 200, variance, 30), 200);  // not before t
}

TEST_F(ConfirmStart, FourStrongFramesInARowConfirm) {
  // No band energy: the peak frame is t = 100, with variance 1 in every band.
  SetVariance(100, {1, 1, 1, 1});
  // Strong: band 0 or band 1 above the peak, or all of bands 0 .. 2 at 80 %.
  SetVariance(60, {2, 0, 0, 0});
  SetVariance(61, {0, 2, 0, 0});
  SetVariance(62, {0.8f, 0.8f, 0.8f, 0});
  SetVariance(63, {0.8f, 0.8f, 0.79f, 0});  // weak: band 2 below 80 %
  SetVariance(64, {2, 0, 0, 0});
  EXPECT_EQ(detector.ConfirmStart(100, 60, variance, 30), 100);  // runs of 3 and 1
  SetVariance(63, {1, 1, 1, 0});  // equal to the peak in band 2: strong
  EXPECT_EQ(detector.ConfirmStart(100, 60, variance, 30), 60);
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

class SpeechLevel : public testing::Test {
 protected:
  SpeechLevel() {
    kvdtest::LoadDefaultSettings(detector, 50);
    detector.ResetSpeechLevel();
    // Band 0 holds the frame number, band 1 twice it, band 3 a constant 1.
    for (int32_t t = 0; t <= 600; ++t) {
      feeder.Feed(t, {static_cast<float>(t), 2.0f * static_cast<float>(t), 0, 1});
    }
  }

  CDetectEnergy detector{8000, 512};
  kvdtest::EnergyFeeder feeder{detector};
};

TEST_F(SpeechLevel, OnlyFramesStillInTheHistoryCount) {
  detector.AccumulateSpeechLevel(0, 50, 600);  // entirely before frame 101: nothing
  EXPECT_EQ(detector.SpeechFrames, 0);
  EXPECT_EQ(detector.SpeechLevel[0], 0.0f);
  detector.AccumulateSpeechLevel(0, 105, 600);  // only frames 101 .. 105 are held
  EXPECT_EQ(detector.SpeechFrames, 5);
  EXPECT_FLOAT_EQ(detector.SpeechLevel[0], 515.0f / 5.0f);
}

// End search with MaxSilence 20, no background and a speech level of 600 in
// every band: a slot is loud in a band when its mean exceeds 600 / 6 = 100.
class FindEnd : public testing::Test {
 protected:
  static constexpr int32_t kMaxSilence = 20;
  static constexpr int32_t kNow = 200;

  FindEnd() {
    kvdtest::LoadDefaultSettings(detector, kMaxSilence);
    for (int band = 0; band < 4; ++band) {
      detector.SpeechLevel[band] = 600.0f;
    }
    SetSlots(0, 499, {10, 10, 10, 10});
  }
  void SetSlots(int32_t first, int32_t last, const BandLevels& means) {
    for (int32_t slot = first; slot <= last; ++slot) {
      for (int band = 0; band < 4; ++band) {
        detector.BandMean[band][slot % 500] = means[band];
      }
    }
  }

  CDetectEnergy detector{8000, 512};
  int16_t voice[500] = {};
};

TEST_F(FindEnd, NoEndWhileSpeechIsRecentOrBeforeFrameOne) {
  SetSlots(100, 185, {1000, 1000, 1000, 1000});
  EXPECT_EQ(detector.FindEnd(100, voice, kNow), -1);
  // Quiet from frame 0: 20 quiet slots at 19 give frame -1.
  EXPECT_EQ(detector.FindEnd(0, voice, kNow), -1);
  // Start of the scan after t - 9: nothing to examine.
  EXPECT_EQ(detector.FindEnd(192, voice, kNow), -1);
}

// Frames 0 .. 99 of speech (1000 in every band), then frames 100 .. 199 of a
// tail, MaxSilence 20, no background, speech level 600 (loud above 100).
struct SpeechThenTail {
  static constexpr int32_t kNow = 199;
  SpeechThenTail(const BandLevels& energies, bool usable) {
    kvdtest::LoadDefaultSettings(detector, 20);
    std::fill(detector.SpeechLevel, detector.SpeechLevel + CDetectEnergy::kBandCount, 600.0f);
    feeder.FeedConstant(0, 99, {1000, 1000, 1000, 1000});
    for (int32_t t = 100; t <= kNow; ++t) feeder.Feed(t, energies, usable);
  }
  int32_t End() { return detector.FindEnd(50, voice, kNow); }
  CDetectEnergy detector{8000, 512};
  kvdtest::EnergyFeeder feeder{detector};
  int16_t voice[CDetectEnergy::kHistoryFrames] = {};
};

TEST(EndAfterSpeech, DeadFramesEndSpeechWhereQuietFramesDoAndKeepTheStatistics) {
  // Slot 99 (frames 99 .. 108) still holds a loud frame: the first quiet
  // slot is 100, and the end is extended over the ten slots before it.
  ASSERT_EQ(SpeechThenTail({10, 10, 10, 10}, true).End(), 110);
  SpeechThenTail dead({0, 0, 0, 0}, false);
  EXPECT_EQ(dead.End(), 110);
  CDetectEnergy& d = dead.detector;
  for (int32_t slot = 91; slot <= SpeechThenTail::kNow - 9; ++slot) {
    EXPECT_EQ(d.BandMean[0][slot], 1000.0f) << slot;
    EXPECT_EQ(d.SilentSlot[slot], slot >= 100) << slot;
  }
  // No band is active in a silent slot, whatever it carries.
  std::fill(d.BandThd, d.BandThd + CDetectEnergy::kBandCount, 500.0f);
  EXPECT_EQ(d.CountBandsAbove(99), 4);
  EXPECT_EQ(d.CountBandsAbove(100), 0);
  EXPECT_EQ(d.GetActiveBands(SpeechThenTail::kNow), 0);
}

TEST(EndAfterSpeech, RejectedFramesWithEnergyAreNotSilence) {
  // Dual-tone frames: not usable, but their spectrum holds real energy.
  SpeechThenTail tones({1000, 1000, 1000, 1000}, false);
  EXPECT_FALSE(tones.detector.SilentSlot[150]);
  EXPECT_EQ(tones.End(), -1);
}

}  // namespace
