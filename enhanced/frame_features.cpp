#include "enhanced/frame_features.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <new>

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
// Powers multiplied before one logarithm for the flatness: 16 powers of
// 1e-3 .. 1e12 stay well inside the range of a double.
constexpr int32_t kPowersPerLog = 16;
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

float ToDb(float power) { return 10.0f * std::log10(std::max(power, kPowerFloor)); }

int32_t BinOf(float hz, float binWidthHz, int32_t bins) {
  return std::clamp(static_cast<int32_t>(std::lround(hz / binWidthHz)), 1, bins);
}

float Smooth(float state, float value, float weight) { return state + weight * (value - state); }

// Standard deviation of the first count values (count > 0).
float StandardDeviation(const float* values, int32_t count) {
  float mean = 0.0f;
  for (int32_t i = 0; i < count; ++i) mean += values[i];
  mean /= static_cast<float>(count);
  float variance = 0.0f;
  for (int32_t i = 0; i < count; ++i) variance += (values[i] - mean) * (values[i] - mean);
  return std::sqrt(variance / static_cast<float>(count));
}

}  // namespace

FrameFeatures::FrameFeatures(int32_t fftSize, int32_t sampleRate)
    : halfSize_(fftSize / 2), work_(static_cast<size_t>(fftSize / 2)) {
  int order = 0;
  while ((1 << order) < halfSize_) ++order;
  if (ippsFFTInitAlloc_R_32f(&spec_, order, IPP_FFT_DIV_FWD_BY_N, ippAlgHintNone) !=
      ippStsNoErr) {
    spec_ = nullptr;
    throw std::bad_alloc();
  }
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
                         halfSize_ / 2 - 1);
  Reset();
}

FrameFeatures::~FrameFeatures() {
  if (spec_ != nullptr) ippsFFTFree_R_32f(spec_);
}

void FrameFeatures::Reset() {
  frames_ = 0;
  for (float* values : {smoothedDb_, previousDb_, noiseDb_, subWindowMin_})
    std::fill(values, values + kFeatureBands, 0.0f);
  for (auto& window : windowMins_) std::fill(std::begin(window), std::end(window), 0.0f);
  for (auto& row : bandDbRing_) std::fill(std::begin(row), std::end(row), 0.0f);
  meanSnrFast_ = meanSnrSlow_ = harmonicityFast_ = harmonicitySlow_ = fluxFast_ = 0.0f;
  peakLevel_ = 0.0f;
  std::fill(std::begin(harmonicityRing_), std::end(harmonicityRing_), 0.0f);
  std::fill(std::begin(levelRing_), std::end(levelRing_), 0.0f);
  std::fill(std::begin(periodRing_), std::end(periodRing_), 0);
  std::fill(std::begin(longLevelRing_), std::end(longLevelRing_), 0.0f);
  std::fill(std::begin(quietRing_), std::end(quietRing_), false);
  quietFrames_ = 0;
}

// Every second bin of the band's magnitude spectrum, mirrored into a real
// even sequence of fftSize / 2 values and transformed: its value at lag L is
// the autocorrelation of a signal with that (compressed) spectrum, high at
// the pitch period of a harmonic frame. Taking every second bin folds lags
// beyond fftSize / 4 back onto the short ones, where a 25 ms frame's
// autocorrelation has faded: half the transform for nearly the same value.
float FrameFeatures::Harmonicity(const float* magnitude, int32_t& period) {
  float* x = work_.data();
  std::fill(work_.begin(), work_.end(), 0.0f);
  for (int32_t j = (firstBin_ + 1) / 2; 2 * j < endBin_; ++j) {
    x[j] = magnitude[2 * j];
    x[halfSize_ - j] = magnitude[2 * j];
  }
  ippsFFTFwd_RToPerm_32f(x, x, spec_, nullptr);
  period = 0;
  const float zeroLag = x[0];
  if (!(zeroLag > 0.0f)) return 0.0f;
  float best = 0.0f;
  for (int32_t lag = shortestLag_; lag <= longestLag_; ++lag) {
    if (x[2 * lag] > best) {
      best = x[2 * lag];
      period = lag;
    }
  }
  return std::clamp(best / zeroLag, 0.0f, 1.0f);
}

FrameFeatures::Spectral FrameFeatures::Analyse(const float* power, const float* magnitude,
                                               bool dead) {
  Spectral frame{};
  float total = 0.0f;
  for (int32_t b = 0; b < kFeatureBands; ++b) {
    float sum = 0.0f;
    for (int32_t k = bandEdge_[b]; k < bandEdge_[b + 1]; ++k) sum += power[k];
    total += sum;
    frame.bandDb[b] = ToDb(dead ? 0.0f : sum);
  }
  frame.level = ToDb(dead ? 0.0f : total) / kDbScale;
  if (dead) return frame;
  int32_t peakPeriod = 0;
  frame.harmonicity = Harmonicity(magnitude, peakPeriod);
  frame.period = frame.harmonicity >= kHarmonicFrame ? peakPeriod : 0;

  // Flatness over 300 .. 3400 Hz: log10 of geometric over arithmetic mean.
  double logSum = 0.0;
  double linearSum = 0.0;
  for (int32_t k = flatFirstBin_; k < endBin_; k += kPowersPerLog) {
    double product = 1.0;
    for (int32_t i = k; i < std::min(k + kPowersPerLog, endBin_); ++i) {
      const float p = std::max(power[i], kPowerFloor);
      product *= p;
      linearSum += p;
    }
    logSum += std::log(product);
  }
  const int32_t flatBins = std::max(endBin_ - flatFirstBin_, 1);
  frame.flatness =
      static_cast<float>(std::log10(std::exp(logSum / flatBins) / (linearSum / flatBins)));

  // Centroid and the share below 1000 Hz over 100 .. 3400 Hz.
  double weighted = 0.0;
  double bandPower = 0.0;
  double lowPower = 0.0;
  for (int32_t k = firstBin_; k < endBin_; ++k) {
    weighted += static_cast<double>(power[k]) * k;
    bandPower += power[k];
    if (k < lowEndBin_) lowPower += power[k];
  }
  if (bandPower > 0.0) {
    frame.centroid = static_cast<float>(weighted / bandPower * binWidthHz_ / kHighestHz);
    frame.lowShare = static_cast<float>(lowPower / bandPower);
  }
  return frame;
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

void FrameFeatures::BandFeatures(const Spectral& frame, float* out) {
  TrackNoise(frame.bandDb);
  float meanSnr = 0.0f;
  float flux = 0.0f;
  float fluxLong = 0.0f;
  // Band levels kFluxLongFrames ago; none are compared before there are so many.
  float* oldDb = bandDbRing_[frames_ % kFluxLongFrames];
  float noiseMean = 0.0f;
  for (int32_t b = 0; b < kFeatureBands; ++b) {
    const float db = frame.bandDb[b];
    const float snr = std::clamp(db - noiseDb_[b], kLowestSnrDb, kHighestSnrDb) / kDbScale;
    out[kBandSnrFirst + b] = snr;
    meanSnr += snr;
    flux += frames_ == 0 ? 0.0f : std::fabs(db - previousDb_[b]);
    fluxLong += frames_ < kFluxLongFrames ? 0.0f : std::fabs(db - oldDb[b]);
    previousDb_[b] = db;
    oldDb[b] = db;
    noiseMean += noiseDb_[b];
  }
  out[kMeanSnr] = meanSnr / kFeatureBands;
  out[kFlux] = flux / (kFeatureBands * kDbScale);
  out[kFluxLong] = fluxLong / (kFeatureBands * kDbScale);
  out[kNoiseLevel] = noiseMean / (kFeatureBands * kDbScale);
}

void FrameFeatures::HistoryFeatures(const Spectral& frame, float meanSnr, float flux, float* out) {
  const bool first = frames_ == 0;
  const float harmonicity = frame.harmonicity;
  meanSnrFast_ = first ? meanSnr : Smooth(meanSnrFast_, meanSnr, kFastSmoothing);
  meanSnrSlow_ = first ? meanSnr : Smooth(meanSnrSlow_, meanSnr, kSlowSmoothing);
  harmonicityFast_ = first ? harmonicity : Smooth(harmonicityFast_, harmonicity, kFastSmoothing);
  harmonicitySlow_ =
      first ? harmonicity : Smooth(harmonicitySlow_, harmonicity, kSlowestSmoothing);
  fluxFast_ = first ? flux : Smooth(fluxFast_, flux, kFastSmoothing);
  peakLevel_ = first ? frame.level : std::max(frame.level, peakLevel_ - kPeakFallPerFrame);

  // Short histories: harmonicity peak over 10 frames, period steadiness and
  // level spread over 20.
  const int32_t slot = frames_ % kFeatureHistoryFrames;
  harmonicityRing_[slot] = harmonicity;
  levelRing_[slot] = frame.level;
  periodRing_[slot] = frame.period;
  const int32_t held = std::min(frames_ + 1, kFeatureHistoryFrames);
  float harmonicityMax = 0.0f;
  for (int32_t i = 0; i < std::min(held, kFeatureHistoryFrames / 2); ++i)
    harmonicityMax = std::max(
        harmonicityMax,
        harmonicityRing_[(slot - i + kFeatureHistoryFrames) % kFeatureHistoryFrames]);
  int32_t steadyFrames = 0;
  if (frame.period > 0) {
    const int32_t tolerance = std::max(
        1, static_cast<int32_t>(std::lround(kPeriodMatch * static_cast<float>(frame.period))));
    for (const int32_t period : periodRing_)
      if (period > 0 && std::abs(period - frame.period) <= tolerance) ++steadyFrames;
  }

  // Long histories: level spread and quiet frames over 100.
  const int32_t longSlot = frames_ % kLongHistoryFrames;
  longLevelRing_[longSlot] = frame.level;
  const bool quiet = meanSnr < kQuietSnr;
  quietFrames_ += (quiet ? 1 : 0) - (quietRing_[longSlot] ? 1 : 0);
  quietRing_[longSlot] = quiet;
  const int32_t longHeld = std::min(frames_ + 1, kLongHistoryFrames);

  out[kMeanSnrFast] = meanSnrFast_;
  out[kMeanSnrSlow] = meanSnrSlow_;
  out[kHarmonicityFast] = harmonicityFast_;
  out[kHarmonicitySlow] = harmonicitySlow_;
  out[kFluxFast] = fluxFast_;
  out[kBelowPeak] = std::max(frame.level - peakLevel_, kLowestBelowPeak);
  out[kHarmonicityMax] = harmonicityMax;
  out[kPitchSteadiness] = static_cast<float>(steadyFrames) / kFeatureHistoryFrames;
  out[kLevelSpread] = StandardDeviation(levelRing_, held);
  out[kLevelSpreadLong] = StandardDeviation(longLevelRing_, longHeld);
  out[kQuietShare] = static_cast<float>(quietFrames_) / static_cast<float>(longHeld);
}

void FrameFeatures::Compute(const float* power, const float* magnitude, bool dead, bool dualTone,
                            float* out) {
  const Spectral frame = Analyse(power, magnitude, dead);
  BandFeatures(frame, out);
  out[kLevel] = frame.level;
  out[kHarmonicity] = frame.harmonicity;
  out[kFlatness] = frame.flatness;
  out[kCentroid] = frame.centroid;
  out[kLowShare] = frame.lowShare;
  out[kDualTone] = dualTone ? 1.0f : 0.0f;
  HistoryFeatures(frame, out[kMeanSnr], out[kFlux], out);
  ++frames_;
}
