#include "bench_support.h"

#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>

#include "platform/ipps.h"

namespace kvdbench {

namespace {

constexpr double kPi = 3.14159265358979323846;
constexpr double kNoiseAmplitude = 150.0;
constexpr int kVowelMs = 600;
constexpr int kPauseMs = 200;

// Utterances may last an hour (MaxSpeechDuration in frames) so that a line
// fed continuous speech never finishes.
const Settings& MainDefaults() {
  static const Settings defaults = {
      {"OpenAllLines", "false"},   {"IsOneSeg", "1"},         {"IsOnline", "1"},
      {"MinSpeechDuration", "1600"}, {"MaxSpeechDuration", "360000"},
      {"MaxSilence", "80"},        {"MaxWaitFrame", "1000"},  {"Sensitivity", "0.5"},
      {"stRelaxFrames", "10"},     {"edRelaxFrames", "10"},   {"AverageGain", "-10"},
      {"MaxHoldFrame", "80"},      {"FastMode", "0"},         {"UseCheckDTMF", "1"},
  };
  return defaults;
}

const Settings& OfflineDefaults() {
  static const Settings defaults = {
      {"ShortSpeechSegEnergyThd", "10"},
      {"BackgroundEnergyOffline", "1"},
      {"DetectSpecLowBorder_Hz", "200"},
      {"DetectSpecHighBorder_Hz", "3400"},
      {"CommonSpeechSegLen_sec", "0.3"},
      {"ShortSpeechSegLen_sec", "0.1"},
      {"CommonSpeechSegEnergyThd", "3"},
      {"ExtendSpeechLen_sec", "0.03"},
      {"SpeechSegMinVoiceLen_sec", "0.1"},
      {"SpeechSegMinVoiceRatio", "0.3"},
      {"MaxSegNum", "1000"},
      {"DefaultSpeech", "1"},
      {"MinSignalLen", "0.5"},
      {"BakgroundEnergyRelativeOffline", "0.1"},
      {"DelShortSpeechSegLen_sec", "0.1"},
      {"DelShortSpeechSideNoiseLen_sec", "0.3"},
  };
  return defaults;
}

// KVD_BENCH_BASELINE=1 in the environment runs every figure of a benchmark
// program on the x86-64 baseline code paths, so that what the wider ones
// (AVX2) bring can be measured on the same machine.
struct BaselineChoice {
  BaselineChoice() {
    const char* value = std::getenv("KVD_BENCH_BASELINE");
    if (value != nullptr && std::string(value) == "1") ippSetCpuFeatures(0);
  }
} const kBaselineChoice;

void WriteSettings(const std::string& path, const Settings& settings) {
  std::ofstream file(path);
  for (const auto& [key, value] : settings) file << key << '=' << value << '\n';
}

std::vector<int16_t> Noise(int count) {
  std::mt19937 engine(2024);
  std::vector<int16_t> pcm(static_cast<size_t>(count));
  for (auto& sample : pcm) {
    const double unit = static_cast<double>(engine() >> 8) / (1 << 23) - 1.0;  // [-1, 1)
    sample = static_cast<int16_t>(std::lround(kNoiseAmplitude * unit));
  }
  return pcm;
}

}  // namespace

BenchConfig::BenchConfig(int sampleRate, const Settings& mainOverrides) {
  std::string pattern =
      (std::filesystem::temp_directory_path() / "kvd_bench_XXXXXX").string();
  if (mkdtemp(pattern.data()) == nullptr) std::abort();
  dir_ = pattern;
  Settings main = MainDefaults();
  main["SampleRate"] = std::to_string(sampleRate);
  for (const auto& [key, value] : mainOverrides) main[key] = value;
  mainPath_ = dir_ + "/kvd.cfg";
  WriteSettings(mainPath_, main);
  WriteSettings(dir_ + "/kvd_offline.cfg", OfflineDefaults());
}

BenchConfig::~BenchConfig() {
  std::error_code ignored;
  std::filesystem::remove_all(dir_, ignored);
}

std::vector<int16_t> SpeechRecording(int sampleRate, int seconds) {
  std::vector<int16_t> pcm = Noise(sampleRate * seconds);
  const int period = (kVowelMs + kPauseMs) * sampleRate / 1000;
  const int vowel = kVowelMs * sampleRate / 1000;
  for (size_t n = 0; n < pcm.size(); ++n) {
    const int k = static_cast<int>(n % period);
    if (k >= vowel) continue;
    const double t = static_cast<double>(k) / sampleRate;
    const double f0 = 110.0 + 60.0 * t;  // Hz, gliding within the vowel
    const double phase = 2.0 * kPi * (110.0 * t + 30.0 * t * t);
    double value = 0.0;
    for (int h = 1; h * f0 < 3400.0; ++h) value += std::cos(h * phase) / h;
    const double envelope = std::sin(kPi * k / vowel);
    pcm[n] = static_cast<int16_t>(
        std::clamp(pcm[n] + std::lround(3000.0 * envelope * value), -32768L, 32767L));
  }
  return pcm;
}

std::vector<int16_t> SilentRecording(int sampleRate, int seconds) {
  return Noise(sampleRate * seconds);
}

int64_t ResidentBytes() {
  std::ifstream statm("/proc/self/statm");
  int64_t sizePages = 0;
  int64_t residentPages = 0;
  if (!(statm >> sizePages >> residentPages)) return 0;
  return residentPages * sysconf(_SC_PAGESIZE);
}

}  // namespace kvdbench
