// KVD_Init building all 1024 lines at 8000 and 16000 Hz, in the specified
// and the enhanced decision mode: the time of one call (page faults of fresh
// memory included), and the resident memory the lines add, per line.
#include <benchmark/benchmark.h>
#include <malloc.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdint>

#include "bench_support.h"
#include "engine/kvd_api.h"

namespace {

// Resident bytes that KVD_Init adds, measured in a child process that first
// hands the memory freed by earlier benchmarks back to the system (else the
// lines would reuse it unseen). -1 when the measurement fails.
int64_t InitResidentBytes(const char* path) {
  int channel[2];
  if (pipe(channel) != 0) return -1;
  const pid_t child = fork();
  if (child == 0) {
    malloc_trim(0);
    const int64_t before = kvdbench::ResidentBytes();
    const int64_t added =
        KVD_Init(path, kMaxLines) == KVD_OK ? kvdbench::ResidentBytes() - before : -1;
    const bool written = write(channel[1], &added, sizeof added) == sizeof added;
    _exit(written ? 0 : 1);
  }
  close(channel[1]);
  int64_t added = -1;
  if (child < 0 || read(channel[0], &added, sizeof added) != sizeof added) added = -1;
  close(channel[0]);
  if (child > 0) waitpid(child, nullptr, 0);
  return added;
}

void BM_InitAllLines(benchmark::State& state) {
  const int sampleRate = static_cast<int>(state.range(0));
  const kvdbench::BenchConfig config(
      sampleRate, {{"DecisionMode", state.range(1) != 0 ? "enhanced" : "specified"}});
  const char* path = config.MainPath().c_str();
  const int64_t added = InitResidentBytes(path);
  for (auto _ : state) {
    if (KVD_Init(path, kMaxLines) != KVD_OK) {
      state.SkipWithError("KVD_Init");
      break;
    }
    state.PauseTiming();
    KVD_Exit();
    malloc_trim(0);  // every build starts from memory the process does not hold
    state.ResumeTiming();
  }
  state.counters["resident_kB_per_line"] = static_cast<double>(added) / 1024.0 / kMaxLines;
}
BENCHMARK(BM_InitAllLines)
    ->ArgNames({"rate", "enhanced"})
    ->ArgsProduct({{8000, 16000}, {0, 1}})
    ->Unit(benchmark::kMillisecond);

}  // namespace
