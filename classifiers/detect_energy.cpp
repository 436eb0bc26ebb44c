// Construction, band energies and their 10-frame statistics, and the count of
// active bands.
#include "classifiers/detect_energy.h"

#include <kvd/tprintf.h>

#include <algorithm>
#include <cmath>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "platform/ipps.h"

namespace {

constexpr int32_t kMinSampleRateHz = 8000;
// Upper edge of the top band: the telephone band ends at 4000 Hz.
constexpr float kTopEdgeHz = 4000.0f;
// Lower edge of band 0: hum and DC below 60 Hz are left out.
constexpr float kLowEdgeHz = 60.0f;
// ippsStdDev_32f divides by n - 1 = 9; sqrt(9 / 10) turns it into the
// population deviation (divisor 10) of the 10 band energies.
const double kSampleToPopulationDeviation = std::sqrt(0.9);

// The mean and the sample deviation (divisor n - 1) of each band's ring of
// energies, as ippsMeanStdDev_32f gives them: per band one chain of double
// additions in ring order for the sum, then one for the squared deviations
// from the mean. With SSE2 two bands share a register, one a lane, each
// lane with the operations of one band alone.
template <int32_t kBands, int32_t kFrames>
void RingStatistics(const float (&ring)[kBands][kFrames], float* means, float* deviations) {
#if defined(__SSE2__)
  static_assert(kBands % 2 == 0 && kFrames >= 2, "bands in pairs, a deviation to take");
  for (int32_t band = 0; band < kBands; band += 2) {
    const float* const a = ring[band];
    const float* const b = ring[band + 1];
    __m128d sum = _mm_setzero_pd();
    for (int32_t i = 0; i < kFrames; ++i) {
      sum = _mm_add_pd(sum, _mm_set_pd(b[i], a[i]));
    }
    const __m128d mean = _mm_div_pd(sum, _mm_set1_pd(kFrames));
    __m128d squares = _mm_setzero_pd();
    for (int32_t i = 0; i < kFrames; ++i) {
      const __m128d deviation = _mm_sub_pd(_mm_set_pd(b[i], a[i]), mean);
      squares = _mm_add_pd(squares, _mm_mul_pd(deviation, deviation));
    }
    const __m128d spread = _mm_sqrt_pd(_mm_div_pd(squares, _mm_set1_pd(kFrames - 1)));
    means[band] = static_cast<float>(_mm_cvtsd_f64(mean));
    means[band + 1] = static_cast<float>(_mm_cvtsd_f64(_mm_unpackhi_pd(mean, mean)));
    deviations[band] = static_cast<float>(_mm_cvtsd_f64(spread));
    deviations[band + 1] = static_cast<float>(_mm_cvtsd_f64(_mm_unpackhi_pd(spread, spread)));
  }
#else
  for (int32_t band = 0; band < kBands; ++band) {
    ippsMeanStdDev_32f(ring[band], kFrames, &means[band], &deviations[band], ippAlgHintNone);
  }
#endif
}

}  // namespace

CDetectEnergy::CDetectEnergy(int32_t sampleRateHz, int32_t fftSizePoints) {
  Status = -1;
  if (sampleRateHz < kMinSampleRateHz) {
    tprintf7("Cannot process data with such low sample rate.\n");
    return;
  }
  BinNum = fftSizePoints / 2;
  BinWidth = static_cast<float>(sampleRateHz) / static_cast<float>(fftSizePoints);

  // Octave bands below the top bin; each lower edge is the next band's lower
  // edge halved (integer division), band 0 starts at 60 Hz.
  const int32_t topBin = static_cast<int32_t>(kTopEdgeHz / BinWidth);
  int32_t endBin = topBin;
  for (int32_t band = kBandCount - 1; band > 0; --band) {
    BandEdge[band][0] = endBin / 2;
    BandEdge[band][1] = endBin;
    endBin = BandEdge[band][0];
  }
  BandEdge[0][0] = static_cast<int32_t>(kLowEdgeHz / BinWidth);
  BandEdge[0][1] = endBin;
  Status = 0;
}

int32_t CDetectEnergy::ReInit() {
  std::memset(BandEnergy, 0, sizeof(BandEnergy));
  std::memset(BandMean, 0, sizeof(BandMean));
  std::memset(BandCV, 0, sizeof(BandCV));
  std::memset(NoiseLevel, 0, sizeof(NoiseLevel));
  std::memset(NoiseCV, 0, sizeof(NoiseCV));
  std::memset(SilentSlot, 0, sizeof(SilentSlot));
  SilentRunFrames = 0;
  return 0;
}

int32_t CDetectEnergy::UpdateBandEnergy(const float* powerSpectrum, int32_t t,
                                        const bool* usable) {
  const int32_t frameSlot = HistorySlot(t);
  const int32_t recentSlot = RingSlot(t, kStatFrames);
  const bool frameUsable = usable[RingSlot(t, kUsableRingFrames)];
  bool powerless = true;
  for (int32_t band = 0; band < kBandCount; ++band) {
    float bandPower = 0.0f;
    const int32_t bandBins = BandEdge[band][1] - BandEdge[band][0];
    if (bandBins > 0) {
      ippsSum_32f(powerSpectrum + BandEdge[band][0], bandBins, &bandPower, ippAlgHintNone);
    }
    powerless = powerless && !(bandPower > 0.0f);
    const float energy = frameUsable ? bandPower : 0.0f;
    BandEnergy[band][frameSlot] = energy;
    RecentEnergy[band][recentSlot] = energy;
  }
  SilentRunFrames = powerless ? std::min(SilentRunFrames + 1, kStatFrames) : 0;
  if (t < kStatFrames - 1) {
    return -1;
  }

  bool windowUsable = true;
  for (int32_t k = 0, s = RingSlot(t, kUsableRingFrames); k < kStatFrames && windowUsable; ++k) {
    windowUsable = usable[s];
    s = s == 0 ? kUsableRingFrames - 1 : s - 1;
  }
  const int32_t statSlot = t - (kStatFrames - 1);
  const int32_t slot = HistorySlot(statSlot);
  SilentSlot[slot] = SilentRunFrames >= kStatFrames;
  float means[kBandCount];
  float sampleDeviations[kBandCount];
  if (windowUsable) RingStatistics(RecentEnergy, means, sampleDeviations);
  for (int32_t band = 0; band < kBandCount; ++band) {
    if (windowUsable) {
      const float mean = means[band];
      BandMean[band][slot] = mean;
      BandCV[band][slot] =
          mean > 0.0f
              ? static_cast<float>(sampleDeviations[band] * kSampleToPopulationDeviation / mean)
              : 0.0f;
    } else if (statSlot == 0) {
      // No statistics exist yet to carry forward.
      BandMean[band][slot] = 0.0f;
      BandCV[band][slot] = 0.0f;
    } else {
      // Keep the last statistics, so an unusable frame never lowers the
      // background.
      const int32_t previous = HistorySlot(statSlot - 1);
      BandMean[band][slot] = BandMean[band][previous];
      BandCV[band][slot] = BandCV[band][previous];
    }
  }
  return 0;
}

int32_t CDetectEnergy::CountBandsAbove(int32_t slot) const {
  float bound[kBandCount];
  for (int32_t band = 0; band < kBandCount; ++band) bound[band] = BackgroundBound(band);
  return CountBandsAboveIn(HistorySlot(slot), bound);
}

int32_t CDetectEnergy::CountBandsAboveIn(int32_t s, const float* bound) const {
  if (SilentSlot[s]) {
    return 0;
  }
  int32_t count = 0;
  for (int32_t band = 0; band < kBandCount; ++band) {
    const float mean = BandMean[band][s];
    if (mean > BandThd[band]) {
      ++count;
    } else if (bound[band] > mean) {
      return -1;
    }
  }
  return count;
}

int32_t CDetectEnergy::GetActiveBands(int32_t t) const {
  // The background bounds are made once, and the ring slot is stepped
  // rather than divided out.
  float bound[kBandCount];
  for (int32_t band = 0; band < kBandCount; ++band) bound[band] = BackgroundBound(band);
#if defined(__SSE2__)
  // The four bands of a slot side by side. A slot counts -1 when any band
  // not above its threshold lies below its bound, whichever band it is, so
  // the order CountBandsAboveIn looks at them in does not matter.
  static_assert(kBandCount == 4, "one lane per band");
  const __m128 thresholds = _mm_loadu_ps(BandThd);
  const __m128 bounds = _mm_loadu_ps(bound);
#endif
  int32_t best = 0;
  int32_t s = HistorySlot(t - (kWindowFrames - 1));
  for (int32_t slot = t - (kWindowFrames - 1); slot <= t - (kStatFrames - 1) && best < kBandCount;
       ++slot, s = s + 1 == kHistoryFrames ? 0 : s + 1) {
#if defined(__SSE2__)
    if (SilentSlot[s]) continue;  // counts 0
    const __m128 means = _mm_setr_ps(BandMean[0][s], BandMean[1][s], BandMean[2][s], BandMean[3][s]);
    const int32_t above = _mm_movemask_ps(_mm_cmpgt_ps(means, thresholds));
    const int32_t background = _mm_movemask_ps(_mm_cmpgt_ps(bounds, means));
    if ((background & ~above) != 0) continue;  // counts -1
    // Bands above, by the mask of them.
    constexpr int8_t kBandsIn[16] = {0, 1, 1, 2, 1, 2, 2, 3, 1, 2, 2, 3, 2, 3, 3, 4};
    best = std::max(best, static_cast<int32_t>(kBandsIn[above]));
#else
    best = std::max(best, CountBandsAboveIn(s, bound));
#endif
  }
  return best;
}

float CDetectEnergy::BackgroundBound(int32_t band) const {
  return (NoiseCV[band] + 1.0f) * NoiseLevel[band];
}

bool CDetectEnergy::AboveBackgroundInAnyBand(int32_t frame) const {
  const int32_t slot = HistorySlot(frame);
  for (int32_t band = 0; band < kBandCount; ++band) {
    if (BandEnergy[band][slot] > BackgroundBound(band)) {
      return true;
    }
  }
  return false;
}
