#include "golden_signals.h"

#include <algorithm>
#include <cmath>
#include <random>

#include "test_signals.h"

namespace kvdtest {

namespace {

constexpr double kPi = 3.14159265358979323846;
constexpr double kBandTopHz = 3400.0;
constexpr double kFormantHz[3] = {700.0, 1200.0, 2600.0};
constexpr double kFormantBandwidthHz = 150.0;
constexpr double kEdgeMs = 20.0;
constexpr int kRecordingMs = 6000;
// Loudness of a vowel dips at a syllable rate, as speech does: no stretch of
// it is as steady as background noise.
constexpr double kSyllableRateHz = 4.0;
constexpr double kDipDepth = 0.7;

int Samples(int ms, int sampleRate) {
  return static_cast<int>(static_cast<int64_t>(ms) * sampleRate / 1000);
}

void AddAt(std::vector<int16_t>& pcm, size_t index, double value) {
  if (index >= pcm.size()) return;
  const long sum = pcm[index] + std::lround(value);
  pcm[index] = static_cast<int16_t>(std::clamp(sum, -32768L, 32767L));
}

// 1 inside the segment, raised-cosine edges of kEdgeMs.
double Edge(int n, int count, int sampleRate) {
  const double edgeSamples = kEdgeMs * sampleRate / 1000.0;
  const double inside = std::min(n, count - 1 - n);
  return inside >= edgeSamples ? 1.0 : 0.5 - 0.5 * std::cos(kPi * inside / edgeSamples);
}

double FormantGain(double hz) {
  double gain = 0.0;
  for (double centreHz : kFormantHz) {
    const double detuning = (hz - centreHz) / (0.5 * kFormantBandwidthHz);
    gain = std::max(gain, 1.0 / std::sqrt(1.0 + detuning * detuning));
  }
  return gain;
}

GoldenRecording Synthetic(const std::string& kind, int sampleRate, uint32_t seed,
                          double noiseAmplitude) {
  return {kind + "_" + std::to_string(sampleRate), sampleRate,
          GoldenNoise(noiseAmplitude, seed, Samples(kRecordingMs, sampleRate))};
}

void AddSyntheticSet(std::vector<GoldenRecording>& set, int sampleRate) {
  const auto seed = static_cast<uint32_t>(sampleRate);
  GoldenRecording vowel = Synthetic("vowel_in_noise", sampleRate, seed + 1, 300.0);
  AddVowel(vowel.pcm, sampleRate, 1500, 1400, 110.0, 150.0, 3000.0);
  set.push_back(std::move(vowel));

  set.push_back(Synthetic("silence", sampleRate, seed + 2, 30.0));

  // Digits 1 5 9 # : 120 ms tones, 120 ms gaps, from 1 s on.
  GoldenRecording keys = Synthetic("key_tones", sampleRate, seed + 3, 200.0);
  const double pairs[4][2] = {{697, 1209}, {770, 1336}, {852, 1477}, {941, 1477}};
  for (int k = 0; k < 4; ++k)
    AddKeyTone(keys.pcm, sampleRate, 1000 + 240 * k, 120, pairs[k][0], pairs[k][1], 4000.0);
  set.push_back(std::move(keys));

  GoldenRecording utterances = Synthetic("utterances", sampleRate, seed + 4, 250.0);
  AddVowel(utterances.pcm, sampleRate, 600, 700, 120.0, 160.0, 2500.0);
  AddVowel(utterances.pcm, sampleRate, 1700, 400, 200.0, 170.0, 2000.0);
  AddVowel(utterances.pcm, sampleRate, 3300, 1100, 95.0, 130.0, 3500.0);
  AddVowel(utterances.pcm, sampleRate, 5200, 500, 140.0, 140.0, 1500.0);
  set.push_back(std::move(utterances));

  // 40 s of talk: 36 vowels of 0.25 to 1.5 s, pitches from 85 to 320 Hz
  // rising, falling and steady, pauses of 0.1 to 0.6 s, over noise whose
  // level steps every 10 s, with a keypad digit inside one vowel.
  GoldenRecording talk{"long_talk_" + std::to_string(sampleRate), sampleRate, {}};
  for (int part = 0; part < 4; ++part) {
    const double levels[4] = {150.0, 400.0, 60.0, 250.0};
    const std::vector<int16_t> noise =
        GoldenNoise(levels[part], seed + 10 + static_cast<uint32_t>(part), Samples(10000, sampleRate));
    talk.pcm.insert(talk.pcm.end(), noise.begin(), noise.end());
  }
  // A linear congruential sequence (Numerical Recipes constants) picks the
  // vowels: integer arithmetic, the same everywhere.
  uint32_t pick = seed;
  auto next = [&pick](int range) {
    pick = pick * 1664525u + 1013904223u;
    return static_cast<int>((pick >> 16) % static_cast<uint32_t>(range));
  };
  int atMs = 300;
  while (atMs < 39000) {
    const int durationMs = 250 + 50 * next(26);
    const double f0Start = 85.0 + 5.0 * next(48);
    const double f0End = f0Start * (0.75 + 0.05 * next(11));
    const double amplitude = 800.0 + 200.0 * next(15);
    AddVowel(talk.pcm, sampleRate, atMs, std::min(durationMs, 39800 - atMs), f0Start, f0End,
             amplitude);
    atMs += durationMs + 100 + 50 * next(11);
  }
  AddKeyTone(talk.pcm, sampleRate, 12000, 150, 770, 1336, 3000.0);
  set.push_back(std::move(talk));
}

}  // namespace

std::vector<int16_t> GoldenNoise(double amplitude, uint32_t seed, int count) {
  std::mt19937 engine(seed);
  std::vector<int16_t> pcm(static_cast<size_t>(count));
  for (auto& sample : pcm) {
    // The top 24 bits of a draw as a fraction in [-1, 1): exact in a double.
    const double unit = static_cast<double>(static_cast<int32_t>(engine() >> 8) - (1 << 23)) /
                        static_cast<double>(1 << 23);
    sample = static_cast<int16_t>(std::lround(amplitude * unit));
  }
  return pcm;
}

void AddVowel(std::vector<int16_t>& pcm, int sampleRate, int startMs, int durationMs,
              double f0StartHz, double f0EndHz, double peakAmplitude) {
  const int first = Samples(startMs, sampleRate);
  const int count = Samples(durationMs, sampleRate);
  const double glideHzPerSec = (f0EndHz - f0StartHz) * 1000.0 / durationMs;
  const int harmonics = static_cast<int>(kBandTopHz / std::max(f0StartHz, f0EndHz));
  for (int n = 0; n < count; ++n) {
    const double t = static_cast<double>(n) / sampleRate;
    const double f0Hz = f0StartHz + glideHzPerSec * t;
    const double phase = 2.0 * kPi * (f0StartHz * t + 0.5 * glideHzPerSec * t * t);
    double value = 0.0;
    for (int h = 1; h <= harmonics; ++h)
      value += FormantGain(h * f0Hz) * std::cos(h * phase + kPi * h * h / harmonics);
    const double swell = 1.0 - kDipDepth * 0.5 * (1.0 - std::cos(2.0 * kPi * kSyllableRateHz * t));
    AddAt(pcm, static_cast<size_t>(first + n),
          peakAmplitude * swell * Edge(n, count, sampleRate) * value);
  }
}

void AddKeyTone(std::vector<int16_t>& pcm, int sampleRate, int startMs, int durationMs,
                double lowHz, double highHz, double amplitude) {
  const int first = Samples(startMs, sampleRate);
  const int count = Samples(durationMs, sampleRate);
  for (int n = 0; n < count; ++n) {
    const double t = static_cast<double>(n) / sampleRate;
    const double value = std::cos(2.0 * kPi * lowHz * t) + std::cos(2.0 * kPi * highHz * t);
    AddAt(pcm, static_cast<size_t>(first + n), amplitude * Edge(n, count, sampleRate) * value);
  }
}

std::vector<GoldenRecording> GoldenRecordings() {
  std::vector<GoldenRecording> set;
  set.push_back({"kvd_sample_8000", 8000, ReadPcmFile(SamplePath("kvd_sample.pcm"))});
  AddSyntheticSet(set, 8000);
  AddSyntheticSet(set, 16000);
  return set;
}

}  // namespace kvdtest
