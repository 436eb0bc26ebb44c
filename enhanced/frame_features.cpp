#include "enhanced/frame_features.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>

namespace {

constexpr float kLowestHz = 100.0f;
constexpr float kHighestHz = 3400.0f;
constexpr float kLowShareHz = 1000.0f;
constexpr float kFlatnessLowestHz = 300.0f;
// Band edges of the tracker, Hz: about half an octave each above 250 Hz.
constexpr float kBandEdgesHz[kFeatureBands + 1] = {100.0f,  250.0f,  450.0f,  700.0f, 1000.0f,
                                                   1400.0f, 1900.0f, 2600.0f, 3400.0f};
constexpr float kHighestPitchHz = 400.0f;
constexpr float kLowestPitchHz = 80.0f;

// Power below this (on the 1/N FFT scale) is taken as this: about 60 dB
// below the level of a full-scale 16-bit sine and below any real recording,
// so that a dead frame has a finite level.
constexpr float kPowerFloor = 1e-3f;
// The level's peak falls by this much per frame (5 dB a second), dB / 10,
// and the level under it is clipped at 60 dB.
constexpr float kPeakFallPerFrame = 0.005f;
constexpr float kLowestBelowPeak = -6.0f;
// A frame is quiet when its mean band level lies within this of the floor
// (dB / 10).
constexpr float kQuietSnr = 0.3f;
// A frame counts for kPitchSteadiness from this harmonicity on, and two
// periods match within this share of the current one (at least 1 sample).
constexpr float kHarmonicFrame = 0.3f;
constexpr float kPeriodMatch = 0.02f;
// dB values are handed to the model divided by this.
constexpr float kDbScale = 10.0f;
// Band levels over the floor are clipped to this range, dB.
constexpr float kLowestSnrDb = -10.0f;
constexpr float kHighestSnrDb = 50.0f;
// Smoothing of the band levels before their minimum is taken (one-pole,
// weight of the new frame), and of the smoothed feature copies.
constexpr float kLevelSmoothing = 0.3f;
constexpr float kFastSmoothing = 0.3f;
constexpr float kSlowSmoothing = 0.05f;
constexpr float kSlowestSmoothing = 0.02f;
// The minimum of a noisy level lies below its mean; this much is added back
// (dB, about the bias of a smoothed chi-square level over 2 s).
constexpr float kMinimumBiasDb = 1.5f;

float ToDb(float power) { return 10.0f * std::log10(std::max(power, kPowerFloor)); }

int32_t BinOf(float hz, float binWidthHz, int32_t bins) {
  return std::clamp(static_cast<int32_t>(std::lround(hz / binWidthHz)), 1, bins);
}

float Smooth(float state, float value, float weight) { return state + weight * (value - state); }

}  // namespace

FrameFeatures::FrameFeatures(int32_t fftSize, int32_t sampleRate, const IppsFFTSpec_R_32f* spec)
    : spec_(spec), fftSize_(fftSize), work_(static_cast<size_t>(fftSize)) {
  const int32_t bins = fftSize / 2;
  binWidthHz_ = static_cast<float>(sampleRate) / static_cast<float>(fftSize);
  firstBin_ = BinOf(kLowestHz, binWidthHz_, bins);
  endBin_ = BinOf(kHighestHz, binWidthHz_, bins);
  lowEndBin_ = BinOf(kLowShareHz, binWidthHz_, bins);
  flatFirstBin_ = BinOf(kFlatnessLowestHz, binWidthHz_, bins);
  for (int32_t b = 0; b <= kFeatureBands; ++b)
    bandEdge_[b] = BinOf(kBandEdgesHz[b], binWidthHz_, bins);
  shortestLag_ = static_cast<int32_t>(std::lround(sampleRate / kHighestPitchHz));
  longestLag_ = std::min(static_cast<int32_t>(std::lround(sampleRate / kLowestPitchHz)),
                         fftSize / 2 - 1);
  Reset();
}

void FrameFeatures::Reset() {
  frames_ = 0;
  std::fill(std::begin(smoothedDb_), std::end(smoothedDb_), 0.0f);
  std::fill(std::begin(previousDb_), std::end(previousDb_), 0.0f);
  std::fill(std::begin(noiseDb_), std::end(noiseDb_), 0.0f);
  std::fill(std::begin(subWindowMin_), std::end(subWindowMin_), 0.0f);
  for (auto& window : windowMins_) std::fill(std::begin(window), std::end(window), 0.0f);
  meanSnrFast_ = meanSnrSlow_ = harmonicityFast_ = harmonicitySlow_ = fluxFast_ = 0.0f;
  std::fill(std::begin(harmonicityRing_), std::end(harmonicityRing_), 0.0f);
  std::fill(std::begin(levelRing_), std::end(levelRing_), 0.0f);
  peakLevel_ = 0.0f;
  std::fill(std::begin(longLevelRing_), std::end(longLevelRing_), 0.0f);
  std::fill(std::begin(quietRing_), std::end(quietRing_), false);
  quietFrames_ = 0;
  peakLag_ = 0;
  std::fill(std::begin(periodRing_), std::end(periodRing_), 0);
  for (auto& row : bandDbRing_) std::fill(std::begin(row), std::end(row), 0.0f);
}

// The magnitude spectrum of the band, mirrored into a real even sequence,
// transformed: its value at lag L is the autocorrelation of a signal with
// that (compressed) spectrum, high at the pitch period of a harmonic frame.
float FrameFeatures::Harmonicity(const float* magnitude) {
  float* x = work_.data();
  std::fill(work_.begin(), work_.end(), 0.0f);
  for (int32_t k = firstBin_; k < endBin_; ++k) {
    x[k] = magnitude[k];
    x[fftSize_ - k] = magnitude[k];
  }
  ippsFFTFwd_RToPerm_32f(x, x, spec_, nullptr);
  const float zeroLag = x[0];
  if (!(zeroLag > 0.0f)) return 0.0f;
  float best = 0.0f;
  peakLag_ = 0;
  for (int32_t lag = shortestLag_; lag <= longestLag_; ++lag) {
    if (x[2 * lag] > best) {
      best = x[2 * lag];
      peakLag_ = lag;
    }
  }
  return std::clamp(best / zeroLag, 0.0f, 1.0f);
}

// Minimum statistics: the floor of a band is the lowest smoothed level of
// the last kNoiseSubWindows sub-windows, the current one included.
void FrameFeatures::TrackNoise(const float* bandDb) {
  const int32_t inWindow = frames_ % kNoiseSubWindowFrames;
  const int32_t window = (frames_ / kNoiseSubWindowFrames) % kNoiseSubWindows;
  const int32_t completed = frames_ / kNoiseSubWindowFrames;
  for (int32_t b = 0; b < kFeatureBands; ++b) {
    smoothedDb_[b] = frames_ == 0 ? bandDb[b] : Smooth(smoothedDb_[b], bandDb[b], kLevelSmoothing);
    subWindowMin_[b] = inWindow == 0 ? smoothedDb_[b] : std::min(subWindowMin_[b], smoothedDb_[b]);
    float floorDb = subWindowMin_[b];
    for (int32_t w = 0; w < std::min(completed, kNoiseSubWindows); ++w)
      if (w != window) floorDb = std::min(floorDb, windowMins_[w][b]);
    noiseDb_[b] = floorDb + kMinimumBiasDb;
    if (inWindow == kNoiseSubWindowFrames - 1) windowMins_[window][b] = subWindowMin_[b];
  }
}

void FrameFeatures::Compute(const float* power, const float* magnitude, bool dead, bool dualTone,
                            float* out) {
  float bandDb[kFeatureBands];
  float total = 0.0f;
  for (int32_t b = 0; b < kFeatureBands; ++b) {
    float sum = 0.0f;
    for (int32_t k = bandEdge_[b]; k < bandEdge_[b + 1]; ++k) sum += power[k];
    total += sum;
    bandDb[b] = ToDb(dead ? 0.0f : sum);
  }
  TrackNoise(bandDb);

  float meanSnr = 0.0f;
  float flux = 0.0f;
  for (int32_t b = 0; b < kFeatureBands; ++b) {
    const float snr = std::clamp(bandDb[b] - noiseDb_[b], kLowestSnrDb, kHighestSnrDb) / kDbScale;
    out[kBandSnrFirst + b] = snr;
    meanSnr += snr;
    flux += frames_ == 0 ? 0.0f : std::fabs(bandDb[b] - previousDb_[b]);
    previousDb_[b] = bandDb[b];
  }
  meanSnr /= kFeatureBands;
  flux /= kFeatureBands * kDbScale;

  const float level = ToDb(dead ? 0.0f : total) / kDbScale;
  const float harmonicity = dead ? 0.0f : Harmonicity(magnitude);
  const int32_t period = harmonicity >= kHarmonicFrame ? peakLag_ : 0;

  // Shape of the spectrum: flatness over 300 .. 3400 Hz, centroid and the
  // share below 1000 Hz over 100 .. 3400 Hz.
  double logSum = 0.0;
  double linearSum = 0.0;
  for (int32_t k = flatFirstBin_; k < endBin_; ++k) {
    const float p = std::max(power[k], kPowerFloor);
    logSum += std::log(static_cast<double>(p));
    linearSum += p;
  }
  const int32_t flatBins = std::max(endBin_ - flatFirstBin_, 1);
  const double geometric = std::exp(logSum / flatBins);
  const float flatness =
      dead ? 0.0f : static_cast<float>(std::log10(geometric / (linearSum / flatBins)));
  double weighted = 0.0;
  double bandPower = 0.0;
  double lowPower = 0.0;
  for (int32_t k = firstBin_; k < endBin_; ++k) {
    weighted += static_cast<double>(power[k]) * k;
    bandPower += power[k];
    if (k < lowEndBin_) lowPower += power[k];
  }
  const bool silent = dead || !(bandPower > 0.0);
  const float centroid =
      silent ? 0.0f : static_cast<float>(weighted / bandPower * binWidthHz_ / kHighestHz);
  const float lowShare = silent ? 0.0f : static_cast<float>(lowPower / bandPower);

  const bool first = frames_ == 0;
  meanSnrFast_ = first ? meanSnr : Smooth(meanSnrFast_, meanSnr, kFastSmoothing);
  meanSnrSlow_ = first ? meanSnr : Smooth(meanSnrSlow_, meanSnr, kSlowSmoothing);
  harmonicityFast_ = first ? harmonicity : Smooth(harmonicityFast_, harmonicity, kFastSmoothing);
  harmonicitySlow_ =
      first ? harmonicity : Smooth(harmonicitySlow_, harmonicity, kSlowestSmoothing);
  fluxFast_ = first ? flux : Smooth(fluxFast_, flux, kFastSmoothing);

  const int32_t slot = frames_ % kFeatureHistoryFrames;
  harmonicityRing_[slot] = harmonicity;
  periodRing_[slot] = period;
  int32_t steadyFrames = 0;
  if (period > 0) {
    const int32_t tolerance =
        std::max(1, static_cast<int32_t>(std::lround(kPeriodMatch * static_cast<float>(period))));
    for (int32_t i = 0; i < kFeatureHistoryFrames; ++i)
      if (periodRing_[i] > 0 && std::abs(periodRing_[i] - period) <= tolerance) ++steadyFrames;
  }
  // Band levels kFluxLongFrames ago (this frame's own before there are so many).
  float* oldDb = bandDbRing_[frames_ % kFluxLongFrames];
  float fluxLong = 0.0f;
  for (int32_t b = 0; b < kFeatureBands; ++b) {
    fluxLong += frames_ < kFluxLongFrames ? 0.0f : std::fabs(bandDb[b] - oldDb[b]);
    oldDb[b] = bandDb[b];
  }
  fluxLong /= kFeatureBands * kDbScale;
  levelRing_[slot] = level;
  const int32_t held = std::min(frames_ + 1, kFeatureHistoryFrames);
  float harmonicityMax = 0.0f;
  for (int32_t i = 0; i < std::min(held, kFeatureHistoryFrames / 2); ++i)
    harmonicityMax = std::max(
        harmonicityMax,
        harmonicityRing_[(slot - i + kFeatureHistoryFrames) % kFeatureHistoryFrames]);
  float levelMean = 0.0f;
  for (int32_t i = 0; i < held; ++i) levelMean += levelRing_[i];
  levelMean /= static_cast<float>(held);
  float levelVariance = 0.0f;
  for (int32_t i = 0; i < held; ++i)
    levelVariance += (levelRing_[i] - levelMean) * (levelRing_[i] - levelMean);
  levelVariance /= static_cast<float>(held);

  float noiseMean = 0.0f;
  for (float n : noiseDb_) noiseMean += n;

  peakLevel_ = first ? level : std::max(level, peakLevel_ - kPeakFallPerFrame);
  const int32_t longSlot = frames_ % kLongHistoryFrames;
  longLevelRing_[longSlot] = level;
  const bool quiet = meanSnr < kQuietSnr;
  quietFrames_ += (quiet ? 1 : 0) - (quietRing_[longSlot] ? 1 : 0);
  quietRing_[longSlot] = quiet;
  const int32_t longHeld = std::min(frames_ + 1, kLongHistoryFrames);
  float longMean = 0.0f;
  for (int32_t i = 0; i < longHeld; ++i) longMean += longLevelRing_[i];
  longMean /= static_cast<float>(longHeld);
  float longVariance = 0.0f;
  for (int32_t i = 0; i < longHeld; ++i)
    longVariance += (longLevelRing_[i] - longMean) * (longLevelRing_[i] - longMean);
  longVariance /= static_cast<float>(longHeld);

  out[kMeanSnr] = meanSnr;
  out[kLevel] = level;
  out[kHarmonicity] = harmonicity;
  out[kFlatness] = flatness;
  out[kFlux] = flux;
  out[kDualTone] = dualTone ? 1.0f : 0.0f;
  out[kMeanSnrFast] = meanSnrFast_;
  out[kMeanSnrSlow] = meanSnrSlow_;
  out[kHarmonicityFast] = harmonicityFast_;
  out[kHarmonicityMax] = harmonicityMax;
  out[kLevelSpread] = std::sqrt(levelVariance);
  out[kHarmonicitySlow] = harmonicitySlow_;
  out[kCentroid] = centroid;
  out[kLowShare] = lowShare;
  out[kFluxFast] = fluxFast_;
  out[kNoiseLevel] = noiseMean / (kFeatureBands * kDbScale);
  out[kBelowPeak] = std::max(level - peakLevel_, kLowestBelowPeak);
  out[kLevelSpreadLong] = std::sqrt(longVariance);
  out[kQuietShare] = static_cast<float>(quietFrames_) / static_cast<float>(longHeld);
  out[kPitchSteadiness] = static_cast<float>(steadyFrames) / kFeatureHistoryFrames;
  out[kFluxLong] = fluxLong;
  ++frames_;
}
