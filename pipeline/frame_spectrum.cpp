// Spectra of one frame: flatness test, window + FFT, magnitude and power,
// the reduced ring row, and the spectral variance inside a bin range.
#include "pipeline/frame_front_end.h"
#include "platform/ipps.h"

namespace {
// A frame whose samples spread less than this (standard deviation, PCM
// units) holds one constant value.
constexpr float kConstantFrameStdDev = 0.000001f;
}  // namespace

bool IsDeadFrame(const SpeechDetector& detector) {
  const int32_t length = detector.frameLength;
  float largest = 0.0f;
  float smallest = 0.0f;
  float spread = 0.0f;
  int index = 0;
  ippsMaxIndx_32f(detector.ffts, length, &largest, &index);
  ippsMinIndx_32f(detector.ffts, length, &smallest, &index);
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
  ippsMagnitude_32fc(reinterpret_cast<const Ipp32fc*>(work), magnitude, bins);
  ippsMul_32f(magnitude, magnitude, power, bins);
  // The row always spans 0 Hz to just below half the sample rate.
  const int32_t step = detector.fftSize / 256;
  for (int32_t j = 0; j < kReducedBins; ++j) row[j] = magnitude[j * step];
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
