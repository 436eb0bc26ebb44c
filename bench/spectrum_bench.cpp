// Cost of one frame's spectrum (window, FFT, magnitude, power): the floor
// under every per-frame figure of the engine.
#include <benchmark/benchmark.h>

#include <cmath>
#include <vector>

#include "platform/ipps.h"

namespace {

void BM_FramePowerSpectrum(benchmark::State& state) {
  const int order = static_cast<int>(state.range(0));
  const int fftSize = 1 << order;
  IppsFFTSpec_R_32f* spec = nullptr;
  if (ippsFFTInitAlloc_R_32f(&spec, order, IPP_FFT_DIV_FWD_BY_N, ippAlgHintNone) != ippStsNoErr) {
    state.SkipWithError("FFT plan");
    return;
  }
  std::vector<float> window(static_cast<size_t>(fftSize), 0.5f);
  std::vector<float> frame(static_cast<size_t>(fftSize));
  std::vector<float> magnitude(static_cast<size_t>(fftSize / 2));
  std::vector<float> power(static_cast<size_t>(fftSize / 2));
  for (auto _ : state) {
    for (int i = 0; i < fftSize; ++i) frame[static_cast<size_t>(i)] = std::sin(0.1f * i);
    ippsMul_32f_I(window.data(), frame.data(), fftSize);
    ippsFFTFwd_RToPerm_32f(frame.data(), frame.data(), spec, nullptr);
    ippsMagnitude_32fc(reinterpret_cast<const Ipp32fc*>(frame.data()), magnitude.data(), fftSize / 2);
    ippsMul_32f(magnitude.data(), magnitude.data(), power.data(), fftSize / 2);
    benchmark::DoNotOptimize(power.data());
  }
  ippsFFTFree_R_32f(spec);
}
// 512 points serve 8000 Hz, 1024 serve 16000 Hz.
BENCHMARK(BM_FramePowerSpectrum)->Arg(9)->Arg(10);

}  // namespace
