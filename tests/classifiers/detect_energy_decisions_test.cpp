// The start and end decisions of the energy detector: confirming a
// candidate start against the spectral variance at the energy peak and
// refining it to the onset of the energy rise; the speech level of an
// utterance and the search for its end, also over digital silence.
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

TEST_F(SpeechLevel, MeanOverEveryAccumulatedFrame) {
  detector.AccumulateSpeechLevel(105, 108, 600);  // 105 + 106 + 107 + 108 = 426
  EXPECT_EQ(detector.SpeechFrames, 4);
  EXPECT_FLOAT_EQ(detector.SpeechLevel[0], 426.0f / 4.0f);
  EXPECT_FLOAT_EQ(detector.SpeechLevel[1], 852.0f / 4.0f);
  EXPECT_FLOAT_EQ(detector.SpeechLevel[3], 1.0f);

  detector.AccumulateSpeechLevel(110, 111, 600);  // + 221 over 6 frames
  EXPECT_EQ(detector.SpeechFrames, 6);
  EXPECT_FLOAT_EQ(detector.SpeechLevel[0], 647.0f / 6.0f);
}

TEST_F(SpeechLevel, FramesOlderThanTheHistoryAreLeftOut) {
  detector.AccumulateSpeechLevel(0, 105, 600);  // only frames 101 .. 105 are held
  EXPECT_EQ(detector.SpeechFrames, 5);
  EXPECT_FLOAT_EQ(detector.SpeechLevel[0], 515.0f / 5.0f);
}

TEST_F(SpeechLevel, StretchEntirelyOutsideTheHistoryChangesNothing) {
  detector.AccumulateSpeechLevel(0, 50, 600);
  EXPECT_EQ(detector.SpeechFrames, 0);
  EXPECT_EQ(detector.SpeechLevel[0], 0.0f);

  detector.AccumulateSpeechLevel(105, 108, 600);
  detector.AccumulateSpeechLevel(0, 50, 600);
  EXPECT_EQ(detector.SpeechFrames, 4);
  EXPECT_FLOAT_EQ(detector.SpeechLevel[0], 426.0f / 4.0f);
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

TEST_F(FindEnd, QuietRunReportsItsEndMinusMaxSilence) {
  SetSlots(100, 129, {1000, 1000, 1000, 1000});
  SetSlots(140, 140, {1000, 1000, 1000, 1000});
  // Slots 130 .. 139 are too short a pause; 141 .. 160 make 20 quiet slots,
  // reached at slot 160: the end is 160 - 20. Slot 130, ten back, is quiet,
  // so the end is not extended.
  EXPECT_EQ(detector.FindEnd(100, voice, kNow), 140);
}

TEST_F(FindEnd, ExtendsOverLoudSlotsTenBackAndDecayingEnergy) {
  SetSlots(100, 140, {1000, 1000, 1000, 1000});
  // Quiet from 141: the end 140 is extended while slot e - 10 is loud, to 151.
  EXPECT_EQ(detector.FindEnd(100, voice, kNow), 151);

  // Band energy 50, 40, 30, 20, 0 over frames 151 .. 155, above the (zero)
  // background: frames 151, 152 and 153 each begin three falling values
  // (the last 30, 20, 0), frame 154 (20, 0, 0) does not.
  const float decay[] = {50, 40, 30, 20};
  for (int32_t f = 151; f <= 154; ++f) {
    detector.BandEnergy[2][f] = decay[f - 151];
  }
  EXPECT_EQ(detector.FindEnd(100, voice, kNow), 154);
}

TEST_F(FindEnd, ThreeLoudBandsInterruptThePauseOnlyNearVoice) {
  SetSlots(100, 139, {1000, 1000, 1000, 1000});
  SetSlots(150, 154, {1000, 1000, 1000, 10});
  // Without voice the five 3-band slots neither count nor break the pause:
  // 20 quiet slots at 164 give 144, extended while slots 135 .. 139 are loud.
  EXPECT_EQ(detector.FindEnd(100, voice, kNow), 150);

  voice[180] = 1;  // within 30 frames after slot 150
  // The pause starts again after 154: 20 quiet slots at 174 give 154, and
  // slot 144, ten back, is quiet.
  EXPECT_EQ(detector.FindEnd(100, voice, kNow), 154);
}

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
