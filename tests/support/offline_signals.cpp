#include "offline_signals.h"

#include <algorithm>
#include <cmath>

#include "test_signals.h"

namespace kvdtest {

namespace {

constexpr double kPi = 3.14159265358979323846;
// Harmonics are generated up to the upper edge of the telephone band.
constexpr double kBandTopHz = 3400.0;

// Magnitude of a second-order resonance at frequency hz, 1 at its centre.
double Resonance(double hz, double centreHz, double bandwidthHz) {
  const double detuning = (hz - centreHz) / (0.5 * bandwidthHz);
  return 1.0 / std::sqrt(1.0 + detuning * detuning);
}

double FormantGain(double hz, const VowelShape& shape) {
  double gain = 0.0;
  for (double centreHz : shape.formantHz) {
    gain = std::max(gain, Resonance(hz, centreHz, shape.formantBandwidthHz));
  }
  return gain;
}

int16_t SaturatedSum(int16_t a, int16_t b) {
  return static_cast<int16_t>(std::clamp(static_cast<int32_t>(a) + b, -32768, 32767));
}

}  // namespace

std::vector<int16_t> VowelPcm(const VowelShape& shape, int sampleRateHz, int sampleCount) {
  std::vector<int16_t> pcm(static_cast<size_t>(sampleCount));
  const double durationSec = static_cast<double>(sampleCount) / sampleRateHz;
  const double glideHzPerSec = (shape.f0EndHz - shape.f0StartHz) / durationSec;
  const double fadeSamples = shape.fadeMs * sampleRateHz / 1000.0;
  const int harmonicCount =
      static_cast<int>(kBandTopHz / std::max(shape.f0StartHz, shape.f0EndHz));
  for (int n = 0; n < sampleCount; ++n) {
    const double t = static_cast<double>(n) / sampleRateHz;
    const double f0Hz = shape.f0StartHz + glideHzPerSec * t;
    // Phase of the fundamental: the integral of the gliding pitch.
    const double phase = 2.0 * kPi * (shape.f0StartHz * t + 0.5 * glideHzPerSec * t * t);
    double value = 0.0;
    for (int h = 1; h <= harmonicCount; ++h) {
      value += FormantGain(h * f0Hz, shape) * std::cos(h * phase + kPi * h * h / harmonicCount);
    }
    const double swell =
        1.0 - shape.dipDepth * 0.5 * (1.0 - std::cos(2.0 * kPi * shape.syllableRateHz * t));
    const double edgeSamples = std::min<double>(n, sampleCount - 1 - n);
    const double fade =
        edgeSamples >= fadeSamples ? 1.0 : 0.5 - 0.5 * std::cos(kPi * edgeSamples / fadeSamples);
    pcm[static_cast<size_t>(n)] = static_cast<int16_t>(
        std::clamp(std::lround(shape.peakAmplitude * swell * fade * value), -32768L, 32767L));
  }
  return pcm;
}

std::vector<int16_t> BuildRecording(int sampleRateHz, int totalMs, double noiseAmplitude,
                                    uint32_t seed, const std::vector<Utterance>& utterances) {
  std::vector<int16_t> recording =
      WhiteNoisePcm(noiseAmplitude, seed, MsToSamples(totalMs, sampleRateHz));
  for (const Utterance& utterance : utterances) {
    const int first = MsToSamples(utterance.startMs, sampleRateHz);
    const std::vector<int16_t> vowel =
        VowelPcm(utterance.shape, sampleRateHz, MsToSamples(utterance.durationMs, sampleRateHz));
    for (size_t i = 0; i < vowel.size() && first + i < recording.size(); ++i) {
      recording[first + i] = SaturatedSum(recording[first + i], vowel[i]);
    }
  }
  return recording;
}

int MsToSamples(int ms, int sampleRateHz) {
  return static_cast<int>(static_cast<int64_t>(ms) * sampleRateHz / 1000);
}

int SamplesToMs(int32_t samples, int sampleRateHz) {
  return static_cast<int>(static_cast<int64_t>(samples) * 1000 / sampleRateHz);
}

}  // namespace kvdtest
