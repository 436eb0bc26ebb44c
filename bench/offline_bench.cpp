// Offline single- and multi-segment detection at 8000 Hz as a multiple of
// real time (seconds of audio analysed per second of CPU), on speech-like
// recordings of 10, 60 and 600 s: a constant multiple across lengths means
// the cost grows linearly with the length.
//   Args: recording length (s), single segment (1) or multi-segment (0).
#include <benchmark/benchmark.h>

#include <cstdint>
#include <vector>

#include "bench_support.h"
#include "engine/kvd_api.h"

namespace {

constexpr int kRate = 8000;
// List entries for the multi-segment results: the 600 s recording holds 750
// utterances.
constexpr int kListEntries = 1000;

void BM_Offline(benchmark::State& state) {
  const int seconds = static_cast<int>(state.range(0));
  const bool oneSegment = state.range(1) != 0;
  const kvdbench::BenchConfig config(
      kRate, {{"IsOnline", "0"},
              {"IsOneSeg", oneSegment ? "1" : "0"},
              {"DecisionMode", state.range(2) != 0 ? "enhanced" : "specified"}});
  const std::vector<int16_t> pcm = kvdbench::SpeechRecording(kRate, seconds);
  int32_t line = -1;
  if (KVD_Init(config.MainPath().c_str(), 1) != KVD_OK || KVD_Open(&line) != KVD_OK) {
    state.SkipWithError("engine setup");
    KVD_Exit();
    return;
  }
  std::vector<int32_t> starts(kListEntries);
  std::vector<int32_t> ends(kListEntries);
  int32_t detectState = 0;
  int32_t processed = 0;
  for (auto _ : state) {
    KVD_Start(line);
    const int32_t result =
        KVD_DetectSpeech(line, pcm.data(), static_cast<int32_t>(pcm.size()), &detectState,
                         starts.data(), ends.data(), &processed);
    if (result != KVD_OK) {
      state.SkipWithError("detection failed");
      break;
    }
  }
  state.counters["x_real_time"] = benchmark::Counter(
      static_cast<double>(seconds) * static_cast<double>(state.iterations()),
      benchmark::Counter::kIsRate);
  KVD_Exit();
}
BENCHMARK(BM_Offline)
    ->ArgNames({"seconds", "one_seg", "enhanced"})
    ->ArgsProduct({{10, 60, 600}, {1, 0}, {0, 1}})
    ->Unit(benchmark::kMillisecond);

}  // namespace
