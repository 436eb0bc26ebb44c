#include "test_signals.h"

#include <algorithm>
#include <cmath>
#include <fstream>
#include <iterator>
#include <random>

namespace kvdtest {

namespace {
constexpr double kPi = 3.14159265358979323846;
constexpr size_t kWaveHeaderBytes = 44;

int16_t ToPcm(double value) {
  return static_cast<int16_t>(std::clamp(std::lround(value), -32768L, 32767L));
}
}  // namespace

std::vector<int16_t> CosinePcm(double hz, double amplitude, int sampleRate, int count) {
  std::vector<int16_t> out(static_cast<size_t>(count));
  for (int n = 0; n < count; ++n)
    out[static_cast<size_t>(n)] = ToPcm(amplitude * std::cos(2.0 * kPi * hz * n / sampleRate));
  return out;
}

std::vector<int16_t> WhiteNoisePcm(double amplitude, uint32_t seed, int count) {
  std::mt19937 engine(seed);
  std::vector<int16_t> out(static_cast<size_t>(count));
  for (auto& sample : out) {
    const double unit = static_cast<double>(engine()) / 4294967295.0;  // [0, 1]
    sample = ToPcm((2.0 * unit - 1.0) * amplitude);
  }
  return out;
}

std::vector<int16_t> ReadPcmFile(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  if (!file) return {};
  std::vector<char> bytes((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
  size_t offset = 0;
  if (path.size() >= 4 && path.compare(path.size() - 4, 4, ".wav") == 0)
    offset = std::min(bytes.size(), kWaveHeaderBytes);
  std::vector<int16_t> samples((bytes.size() - offset) / 2);
  for (size_t i = 0; i < samples.size(); ++i) {
    const auto low = static_cast<uint8_t>(bytes[offset + 2 * i]);
    const auto high = static_cast<uint8_t>(bytes[offset + 2 * i + 1]);
    samples[i] = static_cast<int16_t>(static_cast<uint16_t>(low | (high << 8)));
  }
  return samples;
}

std::string SamplePath(const std::string& fileName) {
  return std::string(KVD_SAMPLE_DIR) + "/" + fileName;
}

std::vector<int16_t> ResampledLinear(const std::vector<int16_t>& samples, int fromRate, int toRate) {
  if (samples.empty()) return {};
  std::vector<int16_t> out(static_cast<size_t>(samples.size() * static_cast<double>(toRate) / fromRate));
  for (size_t n = 0; n < out.size(); ++n) {
    const double at = n * static_cast<double>(fromRate) / toRate;
    const size_t k = std::min(static_cast<size_t>(at), samples.size() - 1);
    const double next = k + 1 < samples.size() ? samples[k + 1] : samples[k];
    out[n] = static_cast<int16_t>(std::lround(samples[k] + (at - k) * (next - samples[k])));
  }
  return out;
}

}  // namespace kvdtest
