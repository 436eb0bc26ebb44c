#include "voice_signals.h"

#include <cmath>

#include "platform/ipps.h"

namespace kvdtest {

namespace {

constexpr double kPi = 3.14159265358979323846;
// The engine's window writes 2 pi as this constant.
constexpr double kWindowTwoPi = 6.28318;
constexpr double kHammingA = 0.54;
constexpr double kHammingB = 0.46;

// The engine's frame geometry at a rate.
struct FrontGeometry {
  int frameSamples;  // 25 ms
  int shiftSamples;  // 10 ms
  int fftSize;
  int binCount;
  double binWidthHz;
};

FrontGeometry FrontFor(int sampleRateHz) {
  FrontGeometry g{sampleRateHz / 40, sampleRateHz / 100, 256, 0, 0.0};
  while (static_cast<double>(sampleRateHz) / g.fftSize > 15.625) g.fftSize *= 2;
  g.binCount = g.fftSize / 2;
  g.binWidthHz = static_cast<double>(sampleRateHz) / g.fftSize;
  return g;
}

std::vector<float> HammingWindow(int n) {
  std::vector<float> w(static_cast<size_t>(n));
  const float step = static_cast<float>(kWindowTwoPi / (n - 1));
  for (int i = 0; i < n; ++i) {
    w[static_cast<size_t>(i)] =
        static_cast<float>(kHammingA - kHammingB * std::cos(i * static_cast<double>(step)));
  }
  return w;
}

double Sinc(double x) { return x == 0.0 ? 1.0 : std::sin(kPi * x) / (kPi * x); }

// Magnitude of the Hamming window's transform, relative to its value at 0,
// at an offset of nu window bins (1 window bin = rate / frameSamples Hz).
double HammingLobe(double nu) {
  const double value =
      kHammingA * Sinc(nu) + 0.5 * kHammingB * (Sinc(nu - 1.0) + Sinc(nu + 1.0));
  return std::fabs(value) / kHammingA;
}

}  // namespace

std::vector<std::vector<float>> PowerFrames(const std::vector<int16_t>& pcm, int sampleRateHz) {
  const FrontGeometry g = FrontFor(sampleRateHz);
  std::vector<std::vector<float>> frames;
  if (static_cast<int>(pcm.size()) < g.frameSamples) return frames;
  const int frameCount = (static_cast<int>(pcm.size()) - g.frameSamples) / g.shiftSamples + 1;

  int order = 0;
  while ((1 << order) < g.fftSize) ++order;
  IppsFFTSpec_R_32f* spec = nullptr;
  if (ippsFFTInitAlloc_R_32f(&spec, order, IPP_FFT_DIV_FWD_BY_N, ippAlgHintNone) != ippStsNoErr) {
    return frames;
  }
  const std::vector<float> window = HammingWindow(g.frameSamples);
  std::vector<float> buffer(static_cast<size_t>(g.fftSize));
  std::vector<float> magnitude(static_cast<size_t>(g.binCount));
  for (int k = 0; k < frameCount; ++k) {
    ippsConvert_16s32f(pcm.data() + static_cast<size_t>(k) * g.shiftSamples, buffer.data(),
                       g.frameSamples);
    ippsZero_32f(buffer.data() + g.frameSamples, g.fftSize - g.frameSamples);
    ippsMul_32f_I(window.data(), buffer.data(), g.frameSamples);
    ippsFFTFwd_RToPerm_32f(buffer.data(), buffer.data(), spec, nullptr);
    ippsMagnitude_32fc(reinterpret_cast<const Ipp32fc*>(buffer.data()), magnitude.data(),
                       g.binCount);
    std::vector<float> power(static_cast<size_t>(g.binCount));
    ippsMul_32f(magnitude.data(), magnitude.data(), power.data(), g.binCount);
    frames.push_back(std::move(power));
  }
  ippsFFTFree_R_32f(spec);
  return frames;
}

std::vector<float> HarmonicSpectrum(double f0Hz, const HarmonicShape& shape, int sampleRateHz) {
  const FrontGeometry g = FrontFor(sampleRateHz);
  // Sum of the window: the gain of the transform at a component's own
  // frequency, divided by N like the engine's forward transform.
  double windowSum = 0.0;
  for (float v : HammingWindow(g.frameSamples)) windowSum += v;
  const double gain = windowSum / g.fftSize;
  const double windowBinHz = static_cast<double>(sampleRateHz) / g.frameSamples;

  std::vector<float> power(static_cast<size_t>(g.binCount));
  for (int k = 0; k < g.binCount; ++k) {
    double sum = shape.floorPower;
    double amplitude = shape.amplitude;
    for (int h = 1; h <= shape.harmonicCount; ++h) {
      const double nu = (k * g.binWidthHz - h * f0Hz) / windowBinHz;
      const double magnitude = 0.5 * amplitude * gain * HammingLobe(nu);
      sum += magnitude * magnitude;
      amplitude *= shape.tiltPerHarmonic;
    }
    power[static_cast<size_t>(k)] = static_cast<float>(sum);
  }
  return power;
}

std::vector<float> FlatSpectrum(double power, int sampleRateHz) {
  return std::vector<float>(static_cast<size_t>(FrontFor(sampleRateHz).binCount),
                            static_cast<float>(power));
}

}  // namespace kvdtest
