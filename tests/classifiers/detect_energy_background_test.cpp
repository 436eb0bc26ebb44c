// The rules by which the energy detector's background follows the
// statistics slots, before speech and in it, on slots set by hand.
#include <gtest/gtest.h>

#include "classifiers/detect_energy.h"
#include "energy_signals.h"

namespace {

TEST(Background, FirstMatchingRuleGivesTheNewBackground) {
  // Background (N, V) and the statistics of slots c - 1, c, c + 1 give the
  // new background, before speech (-1) or in it.
  struct Rule {
    const char* name;
    int32_t speechStart;
    float level, cv, meanPrev, meanCur, meanNext, cvPrev, cvCur, cvNext, newLevel, newCV;
  };
  const Rule rules[] = {
      // Below NoiseFloor 0.4: pinned to it, CV raised to 0.1.
      {"BelowFloorSteady", -1, 10, 0.2f, 1, 0.3f, 1, 0.5f, 0.05f, 0.5f, 0.4f, 0.1f},
      {"BelowFloorVarying", -1, 10, 0.2f, 1, 0.3f, 1, 0.5f, 0.5f, 0.5f, 0.4f, 0.2f},
      // Flat (CV < 0.1) and not rising, however loud: (50 + 10) / 2, CV 0.1.
      {"FlatNotRising", -1, 10, 0.2f, 60, 50, 40, 0.5f, 0.05f, 0.5f, 30, 0.1f},
      // Within 10 % of level (11) and CV (0.22): (10.5 + 10) / 2.
      {"NearBackground", -1, 10, 0.2f, 1, 10.5f, 100, 0.5f, 0.21f, 0.5f, 10.25f, 0.21f},
      // CV settling (0.9 > 0.5 > 0.3), level falling and below 11: CV of the next slot.
      {"Settling", -1, 10, 0.2f, 20, 10.8f, 30, 0.9f, 0.5f, 0.3f, 10.4f, 0.3f},
      // (0.2 + 1) x 10 = 12 > (1 + 1) x 5 = 10.
      {"QuieterOverall", -1, 10, 0.2f, 1, 5, 1, 0.5f, 1.0f, 0.5f, 7.5f, 1.0f},
      // Background pinned to the floor jumps to a steady level.
      {"PinnedJumps", -1, 0.4f, 0.1f, 1000, 1000, 1000, 0.3f, 0.3f, 0.3f, 1000, 0.3f},
      {"LoudRising", -1, 10, 0.2f, 500, 1000, 2000, 0.5f, 0.5f, 0.5f, 10, 0.2f},
      {"BelowFloorSteadyInSpeech", 800, 10, 0.2f, 1, 0.3f, 1, 0.5f, 0.05f, 0.5f, 0.4f, 0.1f},
      {"QuieterOverallInSpeech", 800, 10, 0.2f, 1, 5, 1, 0.5f, 1.0f, 0.5f, 7.5f, 1.0f},
      // (1.2 x 10 = 12) <= (1.15 x 10.9), but 10.9 < 11 and 0.15 < 0.2.
      {"NearAndSteadierInSpeech", 800, 10, 0.2f, 1, 10.9f, 1, 0.5f, 0.15f, 0.5f, 10.45f, 0.15f},
      // Flat and falling counts only before speech.
      {"FlatNotRisingInSpeech", 800, 10, 0.2f, 60, 50, 40, 0.5f, 0.05f, 0.5f, 10, 0.2f}};
  for (const Rule& r : rules) {
    CDetectEnergy detector(8000, 512);
    kvdtest::LoadDefaultSettings(detector, 50);
    const float means[3] = {r.meanPrev, r.meanCur, r.meanNext};
    const float cvs[3] = {r.cvPrev, r.cvCur, r.cvNext};
    for (int band = 0; band < 4; ++band) {
      detector.NoiseLevel[band] = r.level;
      detector.NoiseCV[band] = r.cv;
      for (int k = 0; k < 3; ++k) {
        detector.BandMean[band][99 + k] = means[k];
        detector.BandCV[band][99 + k] = cvs[k];
      }
    }
    detector.UpdateBackground(129, r.speechStart, 0);  // slot c = 129 - 29
    for (int band = 0; band < 4; ++band) {
      EXPECT_FLOAT_EQ(detector.NoiseLevel[band], r.newLevel) << r.name << " band " << band;
      EXPECT_FLOAT_EQ(detector.NoiseCV[band], r.newCV) << r.name << " band " << band;
    }
  }
}

}  // namespace
