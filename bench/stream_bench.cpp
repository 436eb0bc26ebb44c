// The public stream handle: the time one handle spends on one 10 ms frame,
// to set beside BM_OnlineFrame (the internal line interface) in the same
// run. Args: sample rate (Hz), speech (1) or silence (0), FastMode (0/1).
#include <benchmark/benchmark.h>

#include <cstdint>
#include <vector>

#include "bench_support.h"
#include "kvd/kvd_stream.h"

namespace {

constexpr int kRecordingSeconds = 60;
constexpr double kFrameSeconds = 0.01;

void BM_StreamHandleFrame(benchmark::State& state) {
  const int sampleRate = static_cast<int>(state.range(0));
  const kvdbench::BenchConfig config(sampleRate,
                                     {{"FastMode", state.range(2) != 0 ? "1" : "0"}});
  const std::vector<int16_t> pcm = state.range(1) != 0
                                       ? kvdbench::SpeechRecording(sampleRate, kRecordingSeconds)
                                       : kvdbench::SilentRecording(sampleRate, kRecordingSeconds);
  kvd_stream* stream = nullptr;
  if (kvd_stream_open(config.MainPath().c_str(), sampleRate, &stream) != KVD_STREAM_OK) {
    state.SkipWithError("stream setup");
    return;
  }
  const size_t shift = static_cast<size_t>(sampleRate / 100);
  size_t first = 0;
  kvd_event events[8];
  int32_t count = 0;
  for (auto _ : state) {
    kvd_stream_feed(stream, pcm.data() + first, static_cast<int32_t>(shift), events, 8, &count);
    first += shift;
    if (first + shift > pcm.size()) first = 0;
    for (int32_t i = 0; i < count; ++i) {
      if (events[i].kind != KVD_EVENT_SPEECH_START && events[i].kind != KVD_EVENT_NO_INPUT) {
        state.PauseTiming();
        kvd_stream_reset(stream);
        state.ResumeTiming();
      }
    }
  }
  state.counters["lines_per_core"] = benchmark::Counter(
      kFrameSeconds * static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
  kvd_stream_free(stream);
}
BENCHMARK(BM_StreamHandleFrame)
    ->ArgNames({"rate", "speech", "fast"})
    ->ArgsProduct({{8000, 16000}, {1, 0}, {0, 1}})
    ->Unit(benchmark::kMicrosecond);

}  // namespace
