// Fuzz target: CDetectVoice built with arbitrary parameters (valid ones and
// ones just outside their ranges) and fed arbitrary power spectra.
//
// Input layout:
//   construction: rate, FFT size, lowest pitch, highest pitch, highest
//                 harmonic, energy floor
//   frame count byte (1 .. 120)
//   per frame a control byte and a pitch byte:
//     bit 0 usable, bit 1 fed backwards (ReverseUpdateBuf), bit 2 detect
//     voice after it, bits 3-4 the spectrum: raw input floats (may be
//     NaN, infinite or negative), their magnitudes, their magnitudes plus a
//     harmonic comb at the pitch byte (in bins, 1 .. 255), all zeros
//   the rest: the float pool the spectra are cut from (cyclically)
#include <cmath>
#include <cstring>
#include <vector>

#include "fuzz/fuzz_support.h"
#include "kvd/detect_voice.h"

namespace {

constexpr int32_t kFftSizes[] = {512, 512, 256, 1024, 2048, 4096, 500, 0, -512, 1, 64, 128};
constexpr int32_t kMostFrames = 120;

enum SpectrumKind { kRaw = 0, kMagnitudes = 1, kComb = 2, kZeros = 3 };

class FloatPool {
 public:
  FloatPool(const uint8_t* bytes, size_t size) : values_(size / sizeof(float)) {
    if (!values_.empty()) std::memcpy(values_.data(), bytes, values_.size() * sizeof(float));
  }
  float At(size_t index) const { return values_.empty() ? 1.0f : values_[index % values_.size()]; }

 private:
  std::vector<float> values_;
};

void FillSpectrum(std::vector<float>& power, SpectrumKind kind, int32_t pitchBin,
                  const FloatPool& pool, size_t poolOffset) {
  for (size_t i = 0; i < power.size(); ++i) {
    const float value = pool.At(poolOffset + i);
    power[i] = kind == kRaw ? value : kind == kZeros ? 0.0f : std::fabs(value);
  }
  if (kind != kComb) return;
  for (size_t bin = pitchBin; bin < power.size(); bin += pitchBin) power[bin] += 1.0e6f / bin;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  kvdfuzz::InputReader in(data, size);
  const int32_t rate = in.InRange(-1, 48000);
  const int32_t fftSize = kFftSizes[in.InRange(0, sizeof kFftSizes / sizeof kFftSizes[0] - 1)];
  const int32_t lowestPitch = in.InRange(-1, 600);
  const int32_t highestPitch = in.InRange(-1, 1000);
  const int32_t highestHarmonic = in.InRange(-1, 24100);
  const float energyFloor = in.InRange(0, 255) / 25.0f;
  const int32_t frames = in.InRange(1, kMostFrames);

  CDetectVoice voice(rate, fftSize, lowestPitch, highestPitch, highestHarmonic);
  if (voice.Status != 0) return 0;
  voice.EnergyFloor = energyFloor;
  if (voice.ReInit() != 0) std::abort();  // a built detector always re-initialises

  std::vector<uint8_t> controls(2 * frames);
  for (uint8_t& control : controls) control = in.Byte();
  const FloatPool pool(in.Rest(), in.Remaining());
  std::vector<float> power(fftSize / 2);
  for (int32_t f = 0; f < frames; ++f) {
    const uint8_t control = controls[2 * f];
    const int32_t pitchBin = controls[2 * f + 1] | 1;
    FillSpectrum(power, static_cast<SpectrumKind>(control >> 3 & 3), pitchBin, pool,
                 static_cast<size_t>(f) * 37);
    const bool usable = control & 1;
    if (control & 2) {
      voice.ReverseUpdateBuf(power.data(), usable);
    } else {
      voice.UpdateBuf(power.data(), usable);
    }
    if ((control & 4) || f == frames - 1) {
      const int16_t voiced = voice.DetectVoice();
      if (voiced < 0 || voiced > CDetectVoice::kWindowFrames) std::abort();
    }
  }
  // A deep copy into a detector of the engine's geometry works on its own.
  CDetectVoice copy(8000, 512, 65, 480, 2000);
  copy = voice;
  if (copy.Status == 0) copy.DetectVoice();
  return 0;
}
