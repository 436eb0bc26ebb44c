// kvd-load: real-time load on this machine. N lines, each fed 10 ms of
// audio every 10 ms (the chunk's own duration every chunk) by a pool of
// worker threads, each streaming a recording (the bundled sample, looped)
// through KVD_Open / KVD_Start / KVD_DetectSpeech and starting again when
// detection ends. Prints per run: lines, duration, frames, frames done more
// than 10 ms after their chunk arrived (or never: undone_frames), the maximum
// and 99th percentile of that lateness, CPU share (user + system over wall
// time and cores), CPU time per frame, resident memory.
//
//   kvd-load [--lines N] [--seconds S] [--chunk 80|160] [--threads T]
//            [--fast on|off | --config kvd.cfg] [--recording REC]
//   kvd-load --search [--late-percent P] [--seconds S] ...
//       the largest N served with no late frame (with at most P % of the
//       frames late), then a run at 1024 lines
//   kvd-load --ramp S ...
//       lines begin streaming one after another, spread evenly over the
//       first S seconds, as calls arrive on a server (default 0: all lines
//       begin in the same 10 ms, and so fill their first window together)
//   kvd-load --realtime ...
//       workers under SCHED_FIFO and every page of the process locked in
//       memory (mlockall, after KVD_Init: the lines' records are all
//       resident before the first chunk), as a media server runs its audio
//       threads; needs root or CAP_SYS_NICE and CAP_IPC_LOCK
//   kvd-load --shared-queue ...
//       the workers take the chunks of every line from one schedule, each
//       the next chunk due, as a pool with one queue does (default: each
//       worker feeds its own share of the lines); a worker held up then
//       delays one line, not its whole share
//   kvd-load --stand-in US ...
//       the same pacing with no engine work: each chunk spins US
//       microseconds per 10 ms frame (give it the us_per_frame of an engine
//       run), so the frames late then are late by the machine alone
//
// Not a test: the figures depend on the machine and on what else runs on it.
// The engine writes LogClt.cfg and logs/ into the current folder.
#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <stdexcept>
#include <string>
#include <thread>
#include <type_traits>
#include <vector>

#include "bench_support.h"
#include "engine/kvd_api.h"
#include "entry/wave_reader.h"
#include "kvd/tprintf.h"
#include "load_run.h"

namespace {

constexpr int kSearchStart = 1;
// SCHED_FIFO priority of the workers with --realtime: the middle of 1 .. 99,
// below the kernel's own real-time threads (watchdog, migration: 99).
constexpr int kRealtimePriority = 50;

struct Options {
  int lines = kMaxLines;
  double seconds = 10.0;
  int chunk = 80;
  int threads = std::max(1, static_cast<int>(std::thread::hardware_concurrency()));
  bool fast = false;
  std::string config;  // empty: a configuration written for the run
  std::string recording = KVD_SAMPLE_WAV;
  bool search = false;
  double lateShare = 0.0;  // share of frames a served run may have late, 0..1
  double standInUs = 0.0;  // > 0: spin this long per frame instead of the engine
  bool realtime = false;   // SCHED_FIFO workers, memory locked
  bool sharedQueue = false;  // one schedule for all workers
  double rampSeconds = 0.0;
};

void Usage() {
  std::fprintf(stderr,
               "usage: kvd-load [--lines N (1..%d)] [--seconds S] [--chunk SAMPLES] "
               "[--threads T] [--fast on|off | --config kvd.cfg] [--recording REC] [--search] "
               "[--late-percent P] [--stand-in US] [--ramp S] [--realtime] [--shared-queue]\n",
               kMaxLines);
}

template <typename Number>
bool ParseNumber(const char* text, Number& value) {
  try {
    size_t used = 0;
    if constexpr (std::is_same_v<Number, int>) {
      value = std::stoi(text, &used);
    } else {
      value = std::stod(text, &used);
    }
    return text[used] == '\0';
  } catch (const std::exception&) {
    return false;
  }
}

bool ParseOptions(int argc, char** argv, Options& options) {
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    const char* value = i + 1 < argc ? argv[i + 1] : nullptr;
    bool ok = true;
    if (arg == "--search") {
      options.search = true;
      continue;
    }
    if (arg == "--realtime") {
      options.realtime = true;
      continue;
    }
    if (arg == "--shared-queue") {
      options.sharedQueue = true;
      continue;
    }
    if (value == nullptr) return false;
    ++i;
    if (arg == "--lines") {
      ok = ParseNumber(value, options.lines) && options.lines >= 1 && options.lines <= kMaxLines;
    } else if (arg == "--seconds") {
      ok = ParseNumber(value, options.seconds) && options.seconds > 0.0;
    } else if (arg == "--chunk") {
      ok = ParseNumber(value, options.chunk) && options.chunk > 0;
    } else if (arg == "--late-percent") {
      ok = ParseNumber(value, options.lateShare) && options.lateShare >= 0.0 &&
           options.lateShare <= 100.0;
      options.lateShare /= 100.0;
    } else if (arg == "--stand-in") {
      ok = ParseNumber(value, options.standInUs) && options.standInUs > 0.0 &&
           options.standInUs <= 10000.0;
    } else if (arg == "--ramp") {
      ok = ParseNumber(value, options.rampSeconds) && options.rampSeconds >= 0.0;
    } else if (arg == "--threads") {
      ok = ParseNumber(value, options.threads) && options.threads > 0;
    } else if (arg == "--fast") {
      ok = std::string(value) == "on" || std::string(value) == "off";
      options.fast = std::string(value) == "on";
    } else if (arg == "--config") {
      options.config = value;
    } else if (arg == "--recording") {
      options.recording = value;
    } else {
      ok = false;
    }
    if (!ok) return false;
  }
  return options.rampSeconds < options.seconds;  // every line streams for a while
}

// 16-bit mono samples, read as GetMuteEnd reads a recording (a ".wav"
// file is a RIFF/WAVE file, any other file is raw PCM); an unusable file
// ends the process after the reader's message.
std::vector<int16_t> ReadRecording(const std::string& path) {
  WaveTable table;
  if (ReadWaveList(path.c_str(), table) != 0) std::exit(EXIT_FAILURE);
  std::vector<int16_t> samples(table.sampleBuffer, table.sampleBuffer + table.totalSamples);
  ReleaseWaveTable(table);
  return samples;
}

// The shipped online settings; only FastMode varies.
kvdbench::Settings LoadSettings(bool fast) {
  return {{"MaxSpeechDuration", "3000"},
          {"stRelaxFrames", "20"},
          {"edRelaxFrames", "20"},
          {"AverageGain", "0"},
          {"FastMode", fast ? "1" : "0"}};
}

std::string Parameter(const char* name) {
  char value[kConfigLineBytes] = "";
  KVD_GetParameter(0, name, value);
  return value;
}

void Print(const char* label, const kvdbench::LoadFigures& figures, int chunk) {
  const unsigned cores = std::max(1u, std::thread::hardware_concurrency());
  const double cpuShare =
      figures.wallSeconds > 0.0 ? figures.cpuSeconds / figures.wallSeconds / cores : 0.0;
  const double usPerFrame =
      figures.frames > 0 ? figures.cpuSeconds * 1e6 / static_cast<double>(figures.frames) : 0.0;
  std::printf(
      "%s lines=%d threads=%d chunk=%d seconds=%.1f frames=%lld late_frames=%lld "
      "undone_frames=%lld "
      "late_max_ms=%.2f late_p99_ms=%.2f cpu_share=%.1f%% us_per_frame=%.2f "
      "resident_MB=%.0f restarts=%lld%s%s\n",
      label, figures.lines, figures.threads, chunk, figures.wallSeconds,
      static_cast<long long>(figures.frames), static_cast<long long>(figures.lateFrames),
      static_cast<long long>(figures.undoneFrames),
      static_cast<double>(figures.maxLatenessUs) / 1000.0,
      static_cast<double>(figures.p99LatenessUs) / 1000.0, 100.0 * cpuShare, usPerFrame,
      static_cast<double>(figures.residentBytes) / (1024.0 * 1024.0),
      static_cast<long long>(figures.restarts),
      figures.error.empty() ? "" : " error=", figures.error.c_str());
  std::fflush(stdout);
}

// A run at n lines; served when no call failed and at most lateShare of the
// frames were late.
bool Served(kvdbench::LoadSetup setup, int lines, double lateShare,
            std::optional<kvdbench::LoadFigures>* at1024) {
  setup.lines = lines;
  const kvdbench::LoadFigures figures = kvdbench::RunLoad(setup);
  Print("search:", figures, setup.chunkSamples);
  if (lines == kMaxLines) *at1024 = figures;
  const double allowed = lateShare * static_cast<double>(figures.frames + figures.undoneFrames);
  return static_cast<double>(figures.lateFrames) <= allowed && figures.error.empty();
}

// Doubling until a run fails or all lines pass, then bisection to within
// 5 % (or one line).
void Search(const kvdbench::LoadSetup& setup, double lateShare) {
  std::optional<kvdbench::LoadFigures> at1024;
  int served = 0;
  int failed = 0;
  for (int lines = kSearchStart; failed == 0; lines = std::min(2 * lines, kMaxLines)) {
    if (Served(setup, lines, lateShare, &at1024)) {
      served = lines;
      if (lines == kMaxLines) break;
    } else {
      failed = lines;
    }
  }
  while (failed != 0 && failed - served > std::max(1, failed / 20)) {
    const int middle = (served + failed) / 2;
    (Served(setup, middle, lateShare, &at1024) ? served : failed) = middle;
  }
  std::printf(
      "largest number of lines served in real time (at most %g %% of the frames more "
      "than 10 ms late): %d%s\n",
      100.0 * lateShare, served, served == kMaxLines ? " (every line the engine holds)" : "");
  if (!at1024) {
    kvdbench::LoadSetup all = setup;
    all.lines = kMaxLines;
    at1024 = kvdbench::RunLoad(all);
  }
  Print("at 1024 lines:", *at1024, setup.chunkSamples);
}

}  // namespace

int main(int argc, char** argv) {
  Options options;
  if (!ParseOptions(argc, argv, options)) {
    Usage();
    return 1;
  }
  std::vector<int16_t> recording = ReadRecording(options.recording);
  // Every line streams whole chunks of the recording, looped.
  recording.resize(recording.size() / static_cast<size_t>(options.chunk) *
                   static_cast<size_t>(options.chunk));
  if (recording.empty()) {
    std::fprintf(stderr, "kvd-load: %s: shorter than one chunk\n", options.recording.c_str());
    return 1;
  }
  KES_EnableLogInConsole(false);
  std::optional<kvdbench::BenchConfig> written;
  if (options.config.empty()) {
    written.emplace(8000, LoadSettings(options.fast));
    options.config = written->MainPath();
  }
  const int32_t init = KVD_Init(options.config.c_str(), kMaxLines);
  if (init != KVD_OK) {
    std::fprintf(stderr, "kvd-load: KVD_Init(%s) returned %d\n", options.config.c_str(), init);
    return 2;
  }
  if (Parameter("IsOnline") != "1" || Parameter("IsOneSeg") != "1") {
    std::fprintf(stderr, "kvd-load: the configuration must say IsOnline = 1, IsOneSeg = 1\n");
    KVD_Exit();
    return 2;
  }
  if (options.realtime && mlockall(MCL_CURRENT | MCL_FUTURE) != 0) {
    std::fprintf(stderr, "kvd-load: --realtime: mlockall: %s\n", std::strerror(errno));
    KVD_Exit();
    return 2;
  }
  kvdbench::LoadSetup setup;
  setup.lines = options.lines;
  setup.threads = options.threads;
  setup.chunkSamples = options.chunk;
  setup.seconds = options.seconds;
  setup.sampleRate = std::stoi(Parameter("SampleRate"));
  setup.recording = &recording;
  setup.standInUsPerFrame = options.standInUs;
  setup.realtimePriority = options.realtime ? kRealtimePriority : 0;
  setup.rampSeconds = options.rampSeconds;
  setup.sharedSchedule = options.sharedQueue;
  std::string settings =
      written ? std::string("FastMode ") + (options.fast ? "on" : "off") : options.config;
  if (options.standInUs > 0.0) {
    settings = "no engine work, a stand-in of " + std::to_string(options.standInUs) +
               " us a frame";
  }
  std::printf(
      "kvd-load: %s, %d worker threads%s%s, %u hardware threads, chunk %d samples at %d Hz, "
      "%s\n",
      settings.c_str(), setup.threads,
      options.realtime ? " (SCHED_FIFO, memory locked)" : "",
      options.sharedQueue ? " on one shared queue" : "",
      std::thread::hardware_concurrency(), setup.chunkSamples, setup.sampleRate,
      options.recording.c_str());
  // A run that could not go as asked (a failed engine call, no real-time
  // scheduling) ends the process with 2 after its figures.
  bool failed = false;
  if (options.search) {
    Search(setup, options.lateShare);
  } else {
    const kvdbench::LoadFigures figures = kvdbench::RunLoad(setup);
    Print("run:", figures, setup.chunkSamples);
    failed = !figures.error.empty();
  }
  KVD_Exit();
  return failed ? 2 : 0;
}
