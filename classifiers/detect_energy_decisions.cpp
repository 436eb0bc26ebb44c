// Start and end decisions: confirming a candidate start, refining it to the
// onset of the energy rise, the speech level of an utterance and the end.
#include <algorithm>

#include "classifiers/detect_energy.h"

namespace {

// Oldest candidate start still examined, in frames before the current one.
constexpr int32_t kMaxCandidateAgeFrames = 50;
// Frames before the current one searched for the energy peak.
constexpr int32_t kPeakSearchFrames = 30;
// Bands summed for the energy peak: 0, 1 and 2 (below 2000 Hz).
constexpr int32_t kPeakBands = 3;
// A frame is strong when its variance in every peak band reaches this share
// of the peak frame's.
constexpr float kStrongVarianceShare = 0.8f;
// Strong frames in a row that confirm a candidate.
constexpr int32_t kStrongRunFrames = 4;
// Bands that must look like speech for the backward walk to go on.
constexpr int32_t kMinRisingBands = 3;
// Half the threshold: a rising frame this loud still belongs to the onset.
constexpr float kHalfThreshold = 0.5f;
// Frames the second backward walk may add, following loud high bands.
constexpr int32_t kLoudWalkFrames = 10;
// Band 3 above this many thresholds counts as loud on its own.
constexpr float kLoudBand3Ratio = 10.0f;
// End thresholds: a sixth of the utterance's speech level ...
constexpr float kSpeechLevelShare = 0.16666667f;
// ... or the background raised by SpreadFactor x NoiseCV percent.
constexpr float kSpreadPercent = 0.01f;
// A slot with this many bands above the end threshold is quiet only when no
// frame within 30 frames either side is voiced.
constexpr int32_t kAmbiguousBands = 3;
constexpr int32_t kVoiceReachFrames = 30;

}  // namespace

int32_t CDetectEnergy::ConfirmStart(int32_t t, int32_t candidateFrame,
                                    const float (*bandVariance)[kHistoryFrames],
                                    int32_t minGapFrames) const {
  if (candidateFrame < 0 || candidateFrame < t - kMaxCandidateAgeFrames) {
    return t;
  }

  // Loudest frame below 2000 Hz since the candidate's gap, first one on ties.
  int32_t peakFrame = t;
  float peakEnergy = 0.0f;
  for (int32_t f = std::max(t - kPeakSearchFrames, candidateFrame + minGapFrames); f <= t; ++f) {
    const int32_t slot = HistorySlot(f);
    float energy = 0.0f;
    for (int32_t band = 0; band < kPeakBands; ++band) {
      energy += BandEnergy[band][slot];
    }
    if (energy > peakEnergy) {
      peakEnergy = energy;
      peakFrame = f;
    }
  }
  if (candidateFrame >= t) {
    return t;
  }

  const int32_t peak = HistorySlot(peakFrame);
  int32_t strongRun = 0;
  for (int32_t f = candidateFrame; f < t; ++f) {
    const int32_t slot = HistorySlot(f);
    bool nearPeakInAllBands = true;
    for (int32_t band = 0; band < kPeakBands; ++band) {
      nearPeakInAllBands = nearPeakInAllBands && bandVariance[band][slot] >=
                                                     kStrongVarianceShare * bandVariance[band][peak];
    }
    const bool strong = bandVariance[0][slot] > bandVariance[0][peak] ||
                        bandVariance[1][slot] > bandVariance[1][peak] || nearPeakInAllBands;
    strongRun = strong ? strongRun + 1 : 0;
    if (strongRun >= kStrongRunFrames) {
      return candidateFrame;
    }
  }
  return t;
}

int32_t CDetectEnergy::RefineStart(int32_t t, int32_t firstFrame) const {
  const int32_t oldestFrame = t - (kHistoryFrames - 1);
  const int32_t lastStatFrame = t - (kStatFrames - 1);
  // Background in a band: its statistics (complete only up to t - 9) fall
  // below the background level, or no band's energy rises above the bound.
  auto looksLikeBackground = [&](int32_t f) {
    const int32_t slot = HistorySlot(f);
    for (int32_t band = 0; band < kBandCount; ++band) {
      if (BandMean[band][slot] < NoiseLevel[band] && f <= lastStatFrame) {
        return true;
      }
    }
    return !AboveBackgroundInAnyBand(f);
  };

  // Backward over the frames where at least three bands are above their
  // threshold or still rising.
  int32_t f = firstFrame;
  bool goOn = true;
  if (firstFrame > oldestFrame) {
    while (f > 0) {
      if (looksLikeBackground(f)) {
        goOn = false;
        break;
      }
      const int32_t slot = HistorySlot(f);
      const int32_t before = HistorySlot(f - 1);
      int32_t risingBands = 0;
      for (int32_t band = 0; band < kBandCount; ++band) {
        const float energy = BandEnergy[band][slot];
        const float mean = BandMean[band][slot];
        const float threshold = BandThd[band];
        const bool rising = energy > BandEnergy[band][before] &&
                            (mean > kHalfThreshold * threshold ||
                             energy > kHalfThreshold * threshold || f > lastStatFrame);
        if (mean > threshold || energy > threshold || rising) {
          ++risingBands;
        }
      }
      if (risingBands < kMinRisingBands) {
        break;
      }
      --f;
      if (f <= oldestFrame) {
        break;
      }
    }
  }

  // Further back over at most 10 frames while the high bands stay loud,
  // never below frame 0 nor to the oldest frame held.
  if (goOn && f > oldestFrame && f > 0) {
    const float loudLevel = BandThdCap[0];
    const int32_t walkStart = f;
    while (f > walkStart - kLoudWalkFrames && f > 0) {
      if (looksLikeBackground(f)) {
        break;
      }
      const int32_t slot = HistorySlot(f);
      const bool band3Loud = BandEnergy[3][slot] > loudLevel || BandMean[3][slot] > loudLevel;
      const bool band2Loud = BandEnergy[2][slot] > loudLevel || BandMean[2][slot] > loudLevel;
      const bool stepBack =
          BandEnergy[3][slot] > kLoudBand3Ratio * BandThd[3] || (band3Loud && band2Loud);
      if (!stepBack || f - 1 <= oldestFrame) {
        break;
      }
      --f;
    }
  }

  // Forward to the first frame above the background.
  while (f < t && !AboveBackgroundInAnyBand(f)) {
    ++f;
  }
  return f;
}

int32_t CDetectEnergy::ResetSpeechLevel() {
  SpeechFrames = 0;
  std::fill(SpeechLevel, SpeechLevel + kBandCount, 0.0f);
  std::fill(SpeechSum, SpeechSum + kBandCount, 0.0f);
  return 0;
}

int32_t CDetectEnergy::AccumulateSpeechLevel(int32_t fromFrame, int32_t toFrame, int32_t t) {
  fromFrame = std::max(fromFrame, t - (kHistoryFrames - 1));
  if (toFrame < fromFrame) {
    // The stretch is older than the history: nothing to add.
    return 0;
  }
  SpeechFrames += toFrame - fromFrame + 1;
  for (int32_t band = 0; band < kBandCount; ++band) {
    for (int32_t f = fromFrame; f <= toFrame; ++f) {
      SpeechSum[band] += BandEnergy[band][HistorySlot(f)];
    }
    SpeechLevel[band] = SpeechSum[band] / static_cast<float>(SpeechFrames);
  }
  return 0;
}

int32_t CDetectEnergy::FindEnd(int32_t fromFrame, const int16_t* voiceFlags, int32_t t) const {
  float endThreshold[kBandCount];
  for (int32_t band = 0; band < kBandCount; ++band) {
    const float background =
        (SpreadFactor * NoiseCV[band] * kSpreadPercent + 1.0f) * NoiseLevel[band];
    endThreshold[band] = std::max(SpeechLevel[band] * kSpeechLevelShare, background);
  }
  auto voicedNear = [&](int32_t f) {
    const int32_t last = std::min(t, f + kVoiceReachFrames);
    for (int32_t g = std::max(f - kVoiceReachFrames, 0); g < last; ++g) {
      if (voiceFlags[HistorySlot(g)] > 0) {
        return true;
      }
    }
    return false;
  };

  // Silence scan over the complete statistics slots.
  const int32_t lastStatFrame = t - (kStatFrames - 1);
  int32_t quietRun = 0;
  int32_t endFrame = -1;
  for (int32_t f = std::max(fromFrame, t - (kHistoryFrames - 1));
       f <= lastStatFrame && quietRun < MaxSilence && endFrame < 0; ++f) {
    const int32_t slot = HistorySlot(f);
    int32_t loudBands = 0;
    for (int32_t band = 0; band < kBandCount && !SilentSlot[slot]; ++band) {
      if (BandMean[band][slot] > endThreshold[band]) {
        ++loudBands;
      }
    }
    if (loudBands == kBandCount) {
      quietRun = 0;
    } else if (loudBands == kAmbiguousBands) {
      if (voicedNear(f)) {
        quietRun = 0;
      }
    } else {
      ++quietRun;
    }
    if (quietRun >= MaxSilence) {
      endFrame = f - MaxSilence;
    } else if (quietRun == 0 && f > t - MaxSilence) {
      // Speech is still too recent for an end.
      return -1;
    }
  }
  if (endFrame <= 0) {
    return -1;
  }

  // Extend over slots still loud ten frames back and over decaying energy
  // above the background.
  while (endFrame < lastStatFrame) {
    bool extend = false;
    const int32_t lookBack = endFrame - kStatFrames;
    const bool lookBackHeard = lookBack >= 0 && !SilentSlot[HistorySlot(lookBack)];
    const int32_t e0 = HistorySlot(endFrame);
    const int32_t e1 = HistorySlot(endFrame + 1);
    const int32_t e2 = HistorySlot(endFrame + 2);
    for (int32_t band = 0; band < kBandCount && !extend; ++band) {
      const bool loudBefore =
          lookBackHeard && BandMean[band][HistorySlot(lookBack)] > endThreshold[band];
      const bool decaying = BandEnergy[band][e0] > BandEnergy[band][e1] &&
                            BandEnergy[band][e1] > BandEnergy[band][e2] &&
                            BandEnergy[band][e0] > BackgroundBound(band);
      extend = loudBefore || decaying;
    }
    if (!extend) {
      break;
    }
    ++endFrame;
  }
  return endFrame;
}
