// kvd_profile: a fixed amount of engine work for instruction counting under
// callgrind, where wall-clock figures mean nothing. Only the detection calls
// are instrumented (setup, signal making and KVD_Init are not), so
// "Collected" divided by the printed frame count is instructions per frame:
//
//   valgrind --tool=callgrind --collect-atstart=no build/bin/kvd_profile online 8000 1 0
//
// Scenarios:
//   online RATE SPEECH FAST [FRAMES [LINES]]
//                                      LINES lines (default 1) fed 10 ms per call in
//                                      turn, each FRAMES frames (default 3000, after
//                                      100 not counted); several lines, each at its
//                                      own place of the recording, show under
//                                      --cache-sim=yes what a frame misses in the
//                                      caches when every other line ran in between
//   offline RATE ONE_SEG [SECONDS]     one offline call (default 60 s)
//   init RATE                          KVD_Init with 1024 lines (counted)
#if __has_include(<valgrind/callgrind.h>)
#include <valgrind/callgrind.h>
#else
#define CALLGRIND_START_INSTRUMENTATION
#define CALLGRIND_STOP_INSTRUMENTATION
#endif

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "bench_support.h"
#include "engine/kvd_api.h"
#include "kvd/tprintf.h"

namespace {

constexpr int32_t kWarmUpFrames = 100;

int Usage() {
  std::fprintf(stderr,
               "usage: kvd_profile online RATE SPEECH(0/1) FAST(0/1) [FRAMES [LINES]]\n"
               "       kvd_profile offline RATE ONE_SEG(0/1) [SECONDS]\n"
               "       kvd_profile init RATE\n");
  return 2;
}

int RunOnline(int rate, bool speech, bool fast, int frames, int lines) {
  const kvdbench::BenchConfig config(rate, {{"FastMode", fast ? "1" : "0"}});
  const int32_t shift = rate / 100;
  // One line reads the recording from its start; line n from n * 997
  // frames on, looped.
  const int seconds = (frames + kWarmUpFrames) / 100 + 1;
  const std::vector<int16_t> pcm = speech ? kvdbench::SpeechRecording(rate, seconds)
                                          : kvdbench::SilentRecording(rate, seconds);
  const int64_t recordingFrames = static_cast<int64_t>(pcm.size()) / shift;
  std::vector<int32_t> ids(static_cast<size_t>(lines), -1);
  KES_EnableLogInConsole(false);  // a line's messages would swamp the figures
  if (KVD_Init(config.MainPath().c_str(), lines) != KVD_OK) {
    std::fprintf(stderr, "engine setup failed\n");
    return 1;
  }
  for (int32_t& line : ids) {
    if (KVD_Open(&line) != KVD_OK || KVD_Start(line) != KVD_OK) {
      std::fprintf(stderr, "engine setup failed\n");
      return 1;
    }
  }
  int32_t state = 0;
  int32_t start = -1;
  int32_t end = -1;
  int32_t position = 0;
  int restarts = 0;
  std::chrono::steady_clock::time_point counted;
  for (int f = 0; f < frames + kWarmUpFrames; ++f) {
    if (f == kWarmUpFrames) {
      CALLGRIND_START_INSTRUMENTATION;
      counted = std::chrono::steady_clock::now();
    }
    for (int n = 0; n < lines; ++n) {
      const int64_t frame = (f + 997 * static_cast<int64_t>(n)) % recordingFrames;
      const size_t first = static_cast<size_t>(frame) * static_cast<size_t>(shift);
      KVD_DetectSpeech(ids[static_cast<size_t>(n)], pcm.data() + first, shift, &state, &start,
                       &end, &position);
      // A finished utterance starts the line again, as in the benchmark
      // (no_speech goes on detecting).
      if (state == speech_end || state == speech_too_long || state == speech_too_short) {
        KVD_Start(ids[static_cast<size_t>(n)]);
        ++restarts;
      }
    }
  }
  CALLGRIND_STOP_INSTRUMENTATION;
  // Outside callgrind, the time of a counted frame: with many lines, what a
  // frame costs when the other lines' state has pushed its own out of the
  // caches.
  const double us = std::chrono::duration<double, std::micro>(
                        std::chrono::steady_clock::now() - counted).count();
  std::printf(
      "online rate %d speech %d fast %d: %d frames x %d lines, %d restarts, last state %d, "
      "%.2f us a frame\n",
      rate, speech, fast, frames, lines, restarts, state,
      frames > 0 ? us / (static_cast<double>(frames) * lines) : 0.0);
  for (const int32_t line : ids) {
    KVD_Stop(line);
    KVD_Close(line);
  }
  KVD_Exit();
  return 0;
}

int RunOffline(int rate, bool oneSegment, int seconds) {
  const kvdbench::BenchConfig config(
      rate, {{"IsOnline", "0"}, {"IsOneSeg", oneSegment ? "1" : "0"}});
  const std::vector<int16_t> pcm = kvdbench::SpeechRecording(rate, seconds);
  int32_t line = -1;
  if (KVD_Init(config.MainPath().c_str(), 1) != KVD_OK || KVD_Open(&line) != KVD_OK ||
      KVD_Start(line) != KVD_OK) {
    std::fprintf(stderr, "engine setup failed\n");
    return 1;
  }
  std::vector<int32_t> starts(1000);
  std::vector<int32_t> ends(1000);
  int32_t state = 0;
  int32_t processed = 0;
  CALLGRIND_START_INSTRUMENTATION;
  const int32_t result = KVD_DetectSpeech(line, pcm.data(), static_cast<int32_t>(pcm.size()),
                                          &state, starts.data(), ends.data(), &processed);
  CALLGRIND_STOP_INSTRUMENTATION;
  std::printf("offline rate %d one_seg %d: %d frames (%d s), result %d, state %d\n", rate,
              oneSegment, seconds * 100, seconds, result, state);
  KVD_Exit();
  return 0;
}

int RunInit(int rate) {
  const kvdbench::BenchConfig config(rate, {});
  CALLGRIND_START_INSTRUMENTATION;
  const int32_t result = KVD_Init(config.MainPath().c_str(), kMaxLines);
  CALLGRIND_STOP_INSTRUMENTATION;
  std::printf("init rate %d: %d lines, result %d\n", rate, kMaxLines, result);
  KVD_Exit();
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) return Usage();
  const std::string scenario = argv[1];
  const int rate = std::atoi(argv[2]);
  if (scenario == "online" && argc >= 5) {
    const int frames = argc >= 6 ? std::atoi(argv[5]) : 3000;
    const int lines = argc >= 7 ? std::atoi(argv[6]) : 1;
    if (frames < 0 || lines < 1 || lines > kMaxLines) return Usage();
    return RunOnline(rate, std::atoi(argv[3]) != 0, std::atoi(argv[4]) != 0, frames, lines);
  }
  if (scenario == "offline" && argc >= 4) {
    const int seconds = argc >= 5 ? std::atoi(argv[4]) : 60;
    return RunOffline(rate, std::atoi(argv[3]) != 0, seconds);
  }
  if (scenario == "init") return RunInit(rate);
  return Usage();
}
