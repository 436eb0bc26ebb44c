// The voice detector per frame at 8000 Hz: UpdateBuf alone, and UpdateBuf
// followed by DetectVoice as the online path calls them (DetectVoice's own
// cost is the difference).
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <vector>

#include "bench_support.h"
#include "kvd/detect_voice.h"
#include "platform/ipps.h"

namespace {

constexpr double kPi = 3.14159265358979323846;
constexpr int kRate = 8000;
constexpr int kOrder = 9;  // 512-point FFT at 8000 Hz
constexpr int kFftSize = 1 << kOrder;
constexpr int kFrameLength = kRate * 25 / 1000;
constexpr int kFrameShift = kRate / 100;
constexpr int kFrames = 300;
constexpr int kWindowFrames = 30;

// Power spectra (fftSize / 2 bins, scaled by 1 / fftSize) of the
// Hamming-windowed frames of a speech-like recording, as the front end makes
// them.
std::vector<std::vector<float>> SpeechPowerFrames() {
  const std::vector<int16_t> pcm = kvdbench::SpeechRecording(kRate, 4);
  IppsFFTSpec_R_32f* spec = nullptr;
  ippsFFTInitAlloc_R_32f(&spec, kOrder, IPP_FFT_DIV_FWD_BY_N, ippAlgHintNone);
  std::vector<std::vector<float>> frames;
  std::vector<float> buffer(kFftSize);
  std::vector<float> magnitude(kFftSize / 2);
  for (int f = 0; f < kFrames; ++f) {
    std::fill(buffer.begin(), buffer.end(), 0.0f);
    for (int i = 0; i < kFrameLength; ++i) {
      const double hamming = 0.54 - 0.46 * std::cos(2.0 * kPi * i / (kFrameLength - 1));
      buffer[i] = static_cast<float>(hamming * pcm[f * kFrameShift + i]);
    }
    ippsFFTFwd_RToPerm_32f(buffer.data(), buffer.data(), spec, nullptr);
    ippsMagnitude_32fc(reinterpret_cast<const Ipp32fc*>(buffer.data()), magnitude.data(),
                       kFftSize / 2);
    std::vector<float> power(kFftSize / 2);
    ippsMul_32f(magnitude.data(), magnitude.data(), power.data(), kFftSize / 2);
    frames.push_back(std::move(power));
  }
  ippsFFTFree_R_32f(spec);
  return frames;
}

void RunVoice(benchmark::State& state, bool detect) {
  std::vector<std::vector<float>> frames = SpeechPowerFrames();
  CDetectVoice voice(kRate, kFftSize, 65, 480, 2000);
  if (voice.ReInit() != 0) {
    state.SkipWithError("voice detector");
    return;
  }
  for (int f = 0; f < kWindowFrames; ++f) voice.UpdateBuf(frames[f].data(), true);
  size_t f = kWindowFrames;
  for (auto _ : state) {
    voice.UpdateBuf(frames[f].data(), true);
    if (detect) benchmark::DoNotOptimize(voice.DetectVoice());
    f = (f + 1) % frames.size();
  }
}

void BM_VoiceUpdateBuf(benchmark::State& state) { RunVoice(state, false); }
void BM_VoiceUpdateBufAndDetectVoice(benchmark::State& state) { RunVoice(state, true); }
BENCHMARK(BM_VoiceUpdateBuf)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_VoiceUpdateBufAndDetectVoice)->Unit(benchmark::kMicrosecond);

}  // namespace
