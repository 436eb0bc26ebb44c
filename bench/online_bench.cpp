// Online detection: the time one line spends on one 10 ms frame, and the
// number of lines one core could serve in real time at that cost.
//   Args: sample rate (Hz), speech (1) or silence (0), FastMode (0/1),
//   decision mode (0 specified, 1 enhanced).
#include <benchmark/benchmark.h>

#include <cstdint>
#include <vector>

#include "bench_support.h"
#include "engine/kvd_api.h"

namespace {

constexpr int kRecordingSeconds = 60;
constexpr double kFrameSeconds = 0.01;

void BM_OnlineFrame(benchmark::State& state) {
  const int sampleRate = static_cast<int>(state.range(0));
  const bool speech = state.range(1) != 0;
  const kvdbench::BenchConfig config(
      sampleRate, {{"FastMode", state.range(2) != 0 ? "1" : "0"},
                   {"DecisionMode", state.range(3) != 0 ? "enhanced" : "specified"}});
  const std::vector<int16_t> pcm = speech
                                       ? kvdbench::SpeechRecording(sampleRate, kRecordingSeconds)
                                       : kvdbench::SilentRecording(sampleRate, kRecordingSeconds);
  int32_t line = -1;
  if (KVD_Init(config.MainPath().c_str(), 1) != KVD_OK || KVD_Open(&line) != KVD_OK ||
      KVD_Start(line) != KVD_OK) {
    state.SkipWithError("engine setup");
    KVD_Exit();
    return;
  }
  const size_t shift = static_cast<size_t>(sampleRate / 100);
  size_t first = 0;
  int32_t detectState = 0;
  int32_t start = -1;
  int32_t end = -1;
  int32_t position = 0;
  for (auto _ : state) {
    KVD_DetectSpeech(line, pcm.data() + first, static_cast<int32_t>(shift), &detectState,
                     &start, &end, &position);
    first += shift;
    if (first + shift > pcm.size()) first = 0;
    if (detectState == speech_end || detectState == speech_too_long ||
        detectState == speech_too_short) {
      state.PauseTiming();
      KVD_Start(line);
      state.ResumeTiming();
    }
  }
  // Frames of 10 ms per second of CPU time, times 10 ms: lines in real time.
  state.counters["lines_per_core"] = benchmark::Counter(
      kFrameSeconds * static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
  KVD_Exit();
}
BENCHMARK(BM_OnlineFrame)
    ->ArgNames({"rate", "speech", "fast", "enhanced"})
    ->ArgsProduct({{8000, 16000}, {1, 0}, {0, 1}, {0}})
    ->ArgsProduct({{8000, 16000}, {1, 0}, {0}, {1}})
    ->Unit(benchmark::kMicrosecond);

}  // namespace
