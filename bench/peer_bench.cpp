// The peer detector, WebRTC's voice-activity detector, on the same audio as
// OnlineFrame: the time it spends on one 10 ms frame, so that our online cost
// can be given as a multiple of it.
//   Args: sample rate (Hz), speech (1) or silence (0).
#include <benchmark/benchmark.h>

#include <cstdint>
#include <string>
#include <vector>

#include "bench_support.h"
#include "peer/webrtc_vad_peer.h"

namespace {

constexpr int kRecordingSeconds = 60;
constexpr double kFrameSeconds = 0.01;
constexpr int kLikelihood = 1;  // the module's own default

void BM_WebRtcVadFrame(benchmark::State& state) {
  const int sampleRate = static_cast<int>(state.range(0));
  const std::vector<int16_t> pcm =
      state.range(1) != 0 ? kvdbench::SpeechRecording(sampleRate, kRecordingSeconds)
                          : kvdbench::SilentRecording(sampleRate, kRecordingSeconds);
  std::string error;
  const auto peer = kvdpeer::WebRtcVadPeer::Create(sampleRate, kLikelihood, &error);
  if (!peer) {
    state.SkipWithError(error.c_str());
    return;
  }
  const size_t shift = static_cast<size_t>(peer->FrameSamples());
  size_t first = 0;
  int64_t voiced = 0;
  for (auto _ : state) {
    voiced += peer->HasVoice(pcm.data() + first).value_or(false) ? 1 : 0;
    first += shift;
    if (first + shift > pcm.size()) first = 0;
  }
  benchmark::DoNotOptimize(voiced);
  // As in OnlineFrame: 10 ms of audio per frame over the CPU time of a frame.
  state.counters["lines_per_core"] = benchmark::Counter(
      kFrameSeconds * static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_WebRtcVadFrame)
    ->ArgNames({"rate", "speech"})
    ->ArgsProduct({{8000, 16000}, {1, 0}})
    ->Unit(benchmark::kMicrosecond);

}  // namespace
