// Background tracking, thresholds and the count of active bands, on
// statistics slots set by hand or built from constant band energies.
#include <gtest/gtest.h>

#include <ostream>
#include <string>

#include "classifiers/detect_energy.h"
#include "energy_signals.h"

namespace {

using kvdtest::BandLevels;

class Background : public testing::Test {
 protected:
  Background() { kvdtest::LoadDefaultSettings(detector, 50); }

  // The same statistics in all four bands of a slot.
  void SetSlot(int32_t slot, float mean, float cv) {
    for (int band = 0; band < 4; ++band) {
      detector.BandMean[band][slot] = mean;
      detector.BandCV[band][slot] = cv;
    }
  }
  void SetBackground(float level, float cv) {
    for (int band = 0; band < 4; ++band) {
      detector.NoiseLevel[band] = level;
      detector.NoiseCV[band] = cv;
    }
  }

  CDetectEnergy detector{8000, 512};
};

TEST_F(Background, EstablishedOnlyFromAWindowWithoutVoice) {
  const BandLevels levels = {100.0f, 2e4f, 3e5f, 9e5f};
  kvdtest::EnergyFeeder feeder(detector);
  feeder.FeedConstant(0, 29, levels);  // slot 0: these means, CV 0

  detector.UpdateBackground(29, -1, 5);
  // Voiced: thresholds from the slot, between the floor 5e3 and the initial 5e5.
  const BandLevels voicedThresholds = {5e3f, 2e4f, 3e5f, 5e5f};
  for (int band = 0; band < 4; ++band) {
    EXPECT_EQ(detector.NoiseLevel[band], 0.0f) << "band " << band;
    EXPECT_FLOAT_EQ(detector.BandThd[band], voicedThresholds[band]) << "band " << band;
  }

  detector.UpdateBackground(29, -1, 0);
  // Unvoiced: the slot becomes the background; thresholds only capped at 1e6.
  const BandLevels quietThresholds = {5e3f, 2e4f, 3e5f, 9e5f};
  for (int band = 0; band < 4; ++band) {
    EXPECT_FLOAT_EQ(detector.NoiseLevel[band], levels[band]) << "band " << band;
    EXPECT_EQ(detector.NoiseCV[band], 0.0f) << "band " << band;
    EXPECT_FLOAT_EQ(detector.BandThd[band], quietThresholds[band]) << "band " << band;
  }
}

TEST_F(Background, EmptyLowBandsKeepTheInitialThresholds) {
  SetSlot(10, 100.0f, 0.2f);
  detector.BandMean[1][10] = 0.0f;
  detector.BandThd[3] = 123.0f;
  detector.UpdateBackground(39, -1, 0);
  for (int band = 0; band < 4; ++band) {
    EXPECT_EQ(detector.NoiseLevel[band], 0.0f);
    EXPECT_EQ(detector.BandThd[band], detector.BandThdInit[band]);
  }
}

// One rule of background following: background (N, V) and the statistics of
// the previous, current and next slot give the new background.
struct RuleCase {
  const char* name;
  float level, cv;                    // background before
  float meanPrev, meanCur, meanNext;  // slots c - 1, c, c + 1
  float cvPrev, cvCur, cvNext;
  float expectedLevel, expectedCV;
};

void PrintTo(const RuleCase& c, std::ostream* os) { *os << c.name; }

class BackgroundRules : public Background, public testing::WithParamInterface<RuleCase> {
 protected:
  void Run(int32_t speechStartSamples) {
    const RuleCase& c = GetParam();
    SetBackground(c.level, c.cv);
    SetSlot(99, c.meanPrev, c.cvPrev);
    SetSlot(100, c.meanCur, c.cvCur);
    SetSlot(101, c.meanNext, c.cvNext);
    detector.UpdateBackground(129, speechStartSamples, 0);  // slot c = 129 - 29
    for (int band = 0; band < 4; ++band) {
      EXPECT_FLOAT_EQ(detector.NoiseLevel[band], c.expectedLevel) << "band " << band;
      EXPECT_FLOAT_EQ(detector.NoiseCV[band], c.expectedCV) << "band " << band;
    }
  }
};

class BackgroundWithoutSpeech : public BackgroundRules {};
class BackgroundInSpeech : public BackgroundRules {};

TEST_P(BackgroundWithoutSpeech, FirstMatchingRuleApplies) { Run(-1); }
TEST_P(BackgroundInSpeech, FollowsOnlyQuieterSlots) { Run(800); }

std::string RuleName(const testing::TestParamInfo<RuleCase>& info) { return info.param.name; }

INSTANTIATE_TEST_SUITE_P(
    Rules, BackgroundWithoutSpeech,
    testing::Values(
        // Below NoiseFloor 0.4: pinned to it, CV raised to 0.1.
        RuleCase{"BelowFloorSteady", 10, 0.2f, 1, 0.3f, 1, 0.5f, 0.05f, 0.5f, 0.4f, 0.1f},
        RuleCase{"BelowFloorVarying", 10, 0.2f, 1, 0.3f, 1, 0.5f, 0.5f, 0.5f, 0.4f, 0.2f},
        // Flat (CV < 0.1) and not rising, however loud: (50 + 10) / 2, CV 0.1.
        RuleCase{"FlatNotRising", 10, 0.2f, 60, 50, 40, 0.5f, 0.05f, 0.5f, 30, 0.1f},
        // Within 10 % of level (11) and CV (0.22): (10.5 + 10) / 2.
        RuleCase{"NearBackground", 10, 0.2f, 1, 10.5f, 100, 0.5f, 0.21f, 0.5f, 10.25f, 0.21f},
        // CV settling (0.9 > 0.5 > 0.3), level falling and below 11: CV of the next slot.
        RuleCase{"Settling", 10, 0.2f, 20, 10.8f, 30, 0.9f, 0.5f, 0.3f, 10.4f, 0.3f},
        // (0.2 + 1) x 10 = 12 > (1 + 1) x 5 = 10.
        RuleCase{"QuieterOverall", 10, 0.2f, 1, 5, 1, 0.5f, 1.0f, 0.5f, 7.5f, 1.0f},
        // Background pinned to the floor jumps to a steady level.
        RuleCase{"PinnedJumps", 0.4f, 0.1f, 1000, 1000, 1000, 0.3f, 0.3f, 0.3f, 1000, 0.3f},
        // Loud and rising: unchanged.
        RuleCase{"LoudRising", 10, 0.2f, 500, 1000, 2000, 0.5f, 0.5f, 0.5f, 10, 0.2f}),
    RuleName);

INSTANTIATE_TEST_SUITE_P(
    Rules, BackgroundInSpeech,
    testing::Values(
        RuleCase{"BelowFloorSteady", 10, 0.2f, 1, 0.3f, 1, 0.5f, 0.05f, 0.5f, 0.4f, 0.1f},
        RuleCase{"QuieterOverall", 10, 0.2f, 1, 5, 1, 0.5f, 1.0f, 0.5f, 7.5f, 1.0f},
        // (1.2 x 10 = 12) <= (1.15 x 10.9), but 10.9 < 11 and 0.15 < 0.2.
        RuleCase{"NearAndSteadier", 10, 0.2f, 1, 10.9f, 1, 0.5f, 0.15f, 0.5f, 10.45f, 0.15f},
        // Flat and falling counts only before speech.
        RuleCase{"FlatNotRising", 10, 0.2f, 60, 50, 40, 0.5f, 0.05f, 0.5f, 10, 0.2f}),
    RuleName);

TEST_F(Background, ThresholdIsSpreadBackgroundBetweenFloorAndCap) {
  // Loud rising slot: no rule applies, the threshold is (V x 1000 + 1) x N.
  SetSlot(99, 1e5f, 0.5f);
  SetSlot(100, 1e5f, 0.5f);
  SetSlot(101, 2e5f, 0.5f);
  const float levels[4] = {1000.0f, 2000.0f, 10.0f, 1000.0f};
  const float cvs[4] = {0.2f, 0.5f, 0.2f, 0.0f};
  for (int band = 0; band < 4; ++band) {
    detector.NoiseLevel[band] = levels[band];
    detector.NoiseCV[band] = cvs[band];
  }
  detector.UpdateBackground(129, -1, 0);
  EXPECT_FLOAT_EQ(detector.BandThd[0], 201000.0f);  // 201 x 1000
  EXPECT_FLOAT_EQ(detector.BandThd[1], 1e6f);       // 501 x 2000, capped
  EXPECT_FLOAT_EQ(detector.BandThd[2], 5e3f);       // 201 x 10, floored
  EXPECT_FLOAT_EQ(detector.BandThd[3], 5e3f);       // 1 x 1000, floored
}

class ActiveBands : public Background {
 protected:
  ActiveBands() {
    for (int band = 0; band < 4; ++band) {
      detector.BandThd[band] = 100.0f;
    }
    SetBackground(50.0f, 0.2f);  // background bound (0.2 + 1) x 50 = 60
  }
  void SetMeans(int32_t slot, const BandLevels& means) {
    for (int band = 0; band < 4; ++band) {
      detector.BandMean[band][slot] = means[band];
    }
  }
};

TEST_F(ActiveBands, BackgroundInABandBelowThresholdStopsTheCount) {
  SetMeans(7, {55, 500, 500, 500});
  EXPECT_EQ(detector.CountBandsAbove(7), -1);  // band 0 at background
  SetMeans(7, {500, 500, 500, 55});
  EXPECT_EQ(detector.CountBandsAbove(7), -1);  // after three bands above
  SetMeans(7, {70, 500, 500, 500});
  EXPECT_EQ(detector.CountBandsAbove(7), 3);  // band 0 between bound and threshold
  SetMeans(7, {500, 500, 500, 500});
  EXPECT_EQ(detector.CountBandsAbove(7), 4);
}

TEST_F(ActiveBands, BestSlotOfTheWindowNeverNegative) {
  const int32_t t = 600;  // window: slots 571 .. 591
  for (int32_t slot = 560; slot <= 600; ++slot) {
    SetMeans(slot % 500, {10, 10, 10, 10});  // background everywhere: -1
  }
  EXPECT_EQ(detector.GetActiveBands(t), 0);

  SetMeans(570 % 500, {500, 500, 500, 500});  // just before the window
  SetMeans(592 % 500, {500, 500, 500, 500});  // just after it
  EXPECT_EQ(detector.GetActiveBands(t), 0);

  SetMeans(580 % 500, {500, 70, 500, 70});
  SetMeans(591 % 500, {500, 500, 500, 70});
  EXPECT_EQ(detector.GetActiveBands(t), 3);
}

}  // namespace
