// The speech level of an utterance and the search for its end.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>

#include "classifiers/detect_energy.h"
#include "energy_signals.h"

namespace {

using kvdtest::BandLevels;

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
