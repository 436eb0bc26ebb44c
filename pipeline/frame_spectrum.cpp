// Spectra of one frame: flatness test, window + FFT, magnitude and power,
// the reduced ring row, and the spectral variance inside a bin range.
#include "pipeline/frame_front_end.h"
#include "platform/ipps.h"

#include <algorithm>

#ifdef __SSE2__
#include <emmintrin.h>
#endif

namespace {
// A frame whose samples spread less than this (standard deviation, PCM
// units) holds one constant value.
constexpr float kConstantFrameStdDev = 0.000001f;

// Largest and smallest of x[0 .. n-1] (n >= 1), no NaN among them. A zero
// may come out with either sign where +0 and -0 both occur, which no
// difference of the two shows.
void ValueRange(const float* x, int32_t n, float* smallest, float* largest) {
  int32_t i = 0;
  float lo = x[0];
  float hi = x[0];
#ifdef __SSE2__
  if (n >= 4) {
    __m128 vlo = _mm_loadu_ps(x);
    __m128 vhi = vlo;
    for (i = 4; i + 4 <= n; i += 4) {
      const __m128 v = _mm_loadu_ps(x + i);
      vlo = _mm_min_ps(vlo, v);
      vhi = _mm_max_ps(vhi, v);
    }
    float lanes[4];
    _mm_storeu_ps(lanes, vlo);
    lo = std::min(std::min(lanes[0], lanes[1]), std::min(lanes[2], lanes[3]));
    _mm_storeu_ps(lanes, vhi);
    hi = std::max(std::max(lanes[0], lanes[1]), std::max(lanes[2], lanes[3]));
  }
#endif
  for (; i < n; ++i) {
    lo = std::min(lo, x[i]);
    hi = std::max(hi, x[i]);
  }
  *smallest = lo;
  *largest = hi;
}

// Magnitude and power of the first `bins` pairs of a Perm buffer, in one
// pass: the values ippsMagnitude_32fc and then ippsMul_32f of the magnitude
// with itself give (the same products, sums, correctly rounded square roots
// and squares, four at a time).
void MagnitudeAndPower(const float* perm, int32_t bins, float* magnitude, float* power) {
  int32_t k = 0;
#ifdef __SSE2__
  for (; k + 4 <= bins; k += 4) {
    const __m128 lo = _mm_loadu_ps(perm + 2 * k);      // re0 im0 re1 im1
    const __m128 hi = _mm_loadu_ps(perm + 2 * k + 4);  // re2 im2 re3 im3
    const __m128 re = _mm_shuffle_ps(lo, hi, _MM_SHUFFLE(2, 0, 2, 0));
    const __m128 im = _mm_shuffle_ps(lo, hi, _MM_SHUFFLE(3, 1, 3, 1));
    const __m128 m = _mm_sqrt_ps(_mm_add_ps(_mm_mul_ps(re, re), _mm_mul_ps(im, im)));
    _mm_storeu_ps(magnitude + k, m);
    _mm_storeu_ps(power + k, _mm_mul_ps(m, m));
  }
#endif
  if (k < bins) {
    ippsMagnitude_32fc(reinterpret_cast<const Ipp32fc*>(perm) + k, magnitude + k, bins - k);
    ippsMul_32f(magnitude + k, magnitude + k, power + k, bins - k);
  }
}

}  // namespace

bool IsDeadFrame(const SpeechDetector& detector) {
  const int32_t length = detector.frameLength;
  float largest = 0.0f;
  float smallest = 0.0f;
  float spread = 0.0f;
  // The values ippsMaxIndx_32f and ippsMinIndx_32f find, in one pass.
  ValueRange(detector.ffts, length, &smallest, &largest);
  // A frame spreading over deadRange is alive whatever its deviation.
  if (!(largest - smallest < detector.deadRange)) return false;
  ippsStdDev_32f(detector.ffts, length, &spread, ippAlgHintFast);
  return spread < kConstantFrameStdDev;
}

int32_t ComputeSpectrum(SpeechDetector& detector, bool dead, int32_t frame, float* power,
                        float* magnitude) {
  const int32_t bins = detector.binCount;
  float* row = detector.spectrumRing + RingSlot(frame, kHistoryFrames) * kReducedBins;
  if (dead) {
    ippsZero_32f(power, bins);
    ippsZero_32f(magnitude, bins);
    ippsZero_32f(row, kReducedBins);
    return 0;
  }
  float* work = detector.ffts;
  const int32_t length = detector.frameLength;
  ippsZero_32f(work + length, detector.fftSize - length);
  ippsMul_32f_I(detector.hamwin, work, length);
  ippsFFTFwd_RToPerm_32f(work, work, detector.FFTSpec1, nullptr);
  MagnitudeAndPower(work, bins, magnitude, power);
  // The row always spans 0 Hz to just below half the sample rate.
  const int32_t step = detector.fftSize / 256;
  int32_t j = 0;
#ifdef __SSE2__
  if (step == 2) {  // 8000 Hz: the even bins, four at a time
    for (; j + 4 <= kReducedBins; j += 4) {
      const __m128 low = _mm_loadu_ps(magnitude + 2 * j);
      const __m128 high = _mm_loadu_ps(magnitude + 2 * j + 4);
      _mm_storeu_ps(row + j, _mm_shuffle_ps(low, high, _MM_SHUFFLE(2, 0, 2, 0)));
    }
  }
#endif
  for (; j < kReducedBins; ++j) row[j] = magnitude[j * step];
  return 0;
}

float GetBandVariance(const float* power, const float* magnitude, int32_t firstBin, int32_t endBin,
                      bool usable) {
  const int32_t width = endBin - firstBin;
  if (!usable || width <= 0) return 0.0f;
  float powerSum = 0.0f;
  ippsSum_32f(power + firstBin, width, &powerSum, ippAlgHintFast);
  return GetBandVarianceOfPowerSum(powerSum, magnitude, firstBin, endBin, usable);
}

float GetBandVarianceOfPowerSum(float powerSum, const float* magnitude, int32_t firstBin,
                                int32_t endBin, bool usable) {
  const int32_t width = endBin - firstBin;
  if (!usable || width <= 0) return 0.0f;
  float magnitudeSum = 0.0f;
  ippsSum_32f(magnitude + firstBin, width, &magnitudeSum, ippAlgHintFast);
  const double m = width;
  const double squaredWidth = static_cast<double>(static_cast<int64_t>(width) * width);
  return static_cast<float>((m * powerSum - static_cast<double>(magnitudeSum) * magnitudeSum) /
                            squaredWidth);
}
