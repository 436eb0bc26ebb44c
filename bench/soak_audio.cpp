#include "soak_audio.h"

#include <cmath>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <random>

namespace kvdsoak {

namespace {

constexpr double kPi = 3.14159265358979323846;
constexpr size_t kWaveHeaderBytes = 44;
constexpr int kMs = kSoakSampleRateHz / 1000;  // samples per millisecond

constexpr double kNoiseAmplitude = 2000.0;
constexpr int kNoiseSeconds = 10;
constexpr double kBurstHz = 1000.0;
constexpr double kBurstAmplitude = 6000.0;
constexpr int kBurstMs = 500;
constexpr int kBurstPauseMs = 2500;
// Keypad: each digit's two frequencies (Hz) at this amplitude each.
constexpr double kKeypadAmplitude = 5000.0;
constexpr int kKeyToneMs = 100;
constexpr int kKeyGapMs = 100;
constexpr int kKeypadPauseMs = 2000;
constexpr double kDigits[][2] = {{770, 1336}, {770, 1336}, {770, 1336}, {697, 1209},
                                 {697, 1336}, {697, 1477}, {770, 1209}, {941, 1477}};

std::vector<int16_t> ReadRecording(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  std::vector<char> bytes((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
  const bool wave = path.size() >= 4 && (path.compare(path.size() - 4, 4, ".wav") == 0 ||
                                         path.compare(path.size() - 4, 4, ".WAV") == 0);
  const size_t skip = wave ? kWaveHeaderBytes : 0;
  std::vector<int16_t> pcm;
  for (size_t i = skip; i + 1 < bytes.size(); i += 2) {
    const auto low = static_cast<uint8_t>(bytes[i]);
    const auto high = static_cast<uint8_t>(bytes[i + 1]);
    pcm.push_back(static_cast<int16_t>(static_cast<uint16_t>(low | (high << 8))));
  }
  return pcm;
}

std::vector<int16_t> Noise() {
  std::mt19937 engine(7);
  std::vector<int16_t> pcm(static_cast<size_t>(kNoiseSeconds) * kSoakSampleRateHz);
  for (auto& sample : pcm) {
    const double unit = static_cast<double>(engine() >> 8) / (1 << 23) - 1.0;  // [-1, 1)
    sample = static_cast<int16_t>(std::lround(kNoiseAmplitude * unit));
  }
  return pcm;
}

// Appends ms milliseconds of the sum of the given tones (0 tones: zeros).
void AppendTones(std::vector<int16_t>& pcm, int ms, const double* hz, int tones,
                 double amplitude) {
  for (int n = 0; n < ms * kMs; ++n) {
    double value = 0.0;
    for (int k = 0; k < tones; ++k)
      value += amplitude * std::sin(2.0 * kPi * hz[k] * n / kSoakSampleRateHz);
    pcm.push_back(static_cast<int16_t>(std::lround(value)));
  }
}

std::vector<int16_t> ToneBurst() {
  std::vector<int16_t> pcm;
  AppendTones(pcm, kBurstMs, &kBurstHz, 1, kBurstAmplitude);
  AppendTones(pcm, kBurstPauseMs, nullptr, 0, 0.0);
  return pcm;
}

std::vector<int16_t> Keypad() {
  std::vector<int16_t> pcm;
  for (const auto& digit : kDigits) {
    AppendTones(pcm, kKeyToneMs, digit, 2, kKeypadAmplitude);
    AppendTones(pcm, kKeyGapMs, nullptr, 0, 0.0);
  }
  AppendTones(pcm, kKeypadPauseMs, nullptr, 0, 0.0);
  return pcm;
}

}  // namespace

const char* SourceName(SourceKind kind) {
  switch (kind) {
    case SourceKind::kRecorded: return "recorded";
    case SourceKind::kSilence: return "silence";
    case SourceKind::kNoise: return "noise";
    case SourceKind::kToneBurst: return "tone burst";
    case SourceKind::kKeypad: return "keypad";
  }
  return "?";
}

std::vector<std::vector<int16_t>> MakeSourceLoops(const std::string& samplePath) {
  std::vector<int16_t> recorded = ReadRecording(samplePath);
  if (recorded.empty()) {
    std::fprintf(stderr, "cannot read the recording %s\n", samplePath.c_str());
    return {};
  }
  std::vector<std::vector<int16_t>> loops(kSourceKinds);
  loops[static_cast<int>(SourceKind::kRecorded)] = std::move(recorded);
  loops[static_cast<int>(SourceKind::kSilence)].assign(kSoakSampleRateHz, 0);
  loops[static_cast<int>(SourceKind::kNoise)] = Noise();
  loops[static_cast<int>(SourceKind::kToneBurst)] = ToneBurst();
  loops[static_cast<int>(SourceKind::kKeypad)] = Keypad();
  return loops;
}

}  // namespace kvdsoak
