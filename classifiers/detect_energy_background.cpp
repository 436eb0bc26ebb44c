// Background tracking and thresholds. The background of a band is the level
// (NoiseLevel, band energy) and coefficient of variation (NoiseCV) of its
// quiet stretches; the threshold of a band is (NoiseCV x SpreadFactor + 1) x
// NoiseLevel, kept between BandThdFloor and BandThdCap.
#include <algorithm>

#include "classifiers/detect_energy.h"

namespace {

// Band 0 must exceed this level (band energy) before the background counts as
// established; the other bands only need to be positive.
constexpr float kEstablishedLevelBand0 = 0.01f;
// Coefficient of variation of a flat band: below it a slot counts as steady,
// and it is the smallest CV kept for a background pinned to NoiseFloor.
constexpr float kSteadyCV = 0.1f;
// A background at NoiseFloor with a CV up to this (kSteadyCV plus a rounding
// margin) may jump straight to a steady, non-rising current level.
constexpr float kPinnedCVMargin = 0.10001f;
// A slot within 10 % of the background level (or CV) counts as background.
constexpr float kNearBackgroundRatio = 1.1f;
// New background level: the mean of the old level and the current slot.
constexpr float kBlendWeight = 0.5f;

}  // namespace

bool CDetectEnergy::BackgroundEstablished() const {
  return NoiseLevel[0] > kEstablishedLevelBand0 && NoiseLevel[1] > 0.0f &&
         NoiseLevel[2] > 0.0f && NoiseLevel[3] > 0.0f;
}

void CDetectEnergy::SetThresholdFromBackground(int32_t band) {
  const float threshold = (NoiseCV[band] * SpreadFactor + 1.0f) * NoiseLevel[band];
  BandThd[band] = std::max(std::min(threshold, BandThdCap[band]), BandThdFloor[band]);
}

void CDetectEnergy::UpdateBackground(int32_t t, int32_t speechStartSamples,
                                     int32_t voiceCount) {
  if (t < kWindowFrames - 1) {
    return;
  }
  const int32_t current = HistorySlot(t - (kWindowFrames - 1));

  if (!BackgroundEstablished()) {
    if (BandMean[0][current] <= 0.0f || BandMean[1][current] <= 0.0f) {
      std::copy(BandThdInit, BandThdInit + kBandCount, BandThd);
      return;
    }
    for (int32_t band = 0; band < kBandCount; ++band) {
      const float mean = BandMean[band][current];
      const float cv = BandCV[band][current];
      if (voiceCount > 0) {
        // Voice in the window: the slot is not background, but it still
        // gives a threshold, never above the initial one.
        const float threshold = (cv * SpreadFactor + 1.0f) * mean;
        BandThd[band] = std::min(std::max(threshold, BandThdFloor[band]), BandThdInit[band]);
      } else {
        NoiseLevel[band] = mean;
        NoiseCV[band] = cv;
        SetThresholdFromBackground(band);
      }
    }
    return;
  }

  for (int32_t band = 0; band < kBandCount; ++band) {
    if (speechStartSamples >= 0) {
      UpdateBackgroundInSpeech(band, current);
    } else {
      UpdateBackgroundNoSpeech(band, current);
    }
    SetThresholdFromBackground(band);
  }
}

void CDetectEnergy::UpdateBackgroundInSpeech(int32_t band, int32_t current) {
  const float mean = BandMean[band][current];
  const float cv = BandCV[band][current];
  float& level = NoiseLevel[band];
  float& levelCV = NoiseCV[band];
  if (mean < NoiseFloor) {
    level = NoiseFloor;
    if (cv < kSteadyCV) {
      levelCV = kSteadyCV;
    }
  } else if ((levelCV + 1.0f) * level > (cv + 1.0f) * mean ||
             (mean < kNearBackgroundRatio * level && cv < levelCV)) {
    level = (mean + level) * kBlendWeight;
    levelCV = cv;
  }
}

void CDetectEnergy::UpdateBackgroundNoSpeech(int32_t band, int32_t current) {
  const int32_t previous = HistorySlot(current - 1);
  const int32_t next = HistorySlot(current + 1);
  const float mean = BandMean[band][current];
  const float cv = BandCV[band][current];
  const float meanPrev = BandMean[band][previous];
  const float cvPrev = BandCV[band][previous];
  const float meanNext = BandMean[band][next];
  const float cvNext = BandCV[band][next];
  float& level = NoiseLevel[band];
  float& levelCV = NoiseCV[band];
  const bool notRising = mean <= meanPrev && meanNext <= mean;

  if (mean < NoiseFloor) {
    level = NoiseFloor;
    if (cv < kSteadyCV) {
      levelCV = kSteadyCV;
    }
  } else if (cv < kSteadyCV && notRising) {
    level = (mean + level) * kBlendWeight;
    levelCV = kSteadyCV;
  } else if (mean <= kNearBackgroundRatio * level && cv <= kNearBackgroundRatio * levelCV) {
    level = (mean + level) * kBlendWeight;
    levelCV = cv;
  } else if (cv < cvPrev && cvNext < cv && mean <= meanPrev &&
             mean < kNearBackgroundRatio * level) {
    // Variation settling down on a level near the background.
    level = (mean + level) * kBlendWeight;
    levelCV = cvNext;
  } else if ((levelCV + 1.0f) * level > (cv + 1.0f) * mean) {
    level = (mean + level) * kBlendWeight;
    levelCV = cv;
  } else if (level <= NoiseFloor && levelCV <= kPinnedCVMargin && notRising &&
             cv <= cvPrev && cvNext <= cv) {
    // A background pinned to the floor jumps straight to a steady level.
    level = mean;
    levelCV = cv;
  }
}
