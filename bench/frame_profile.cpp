// kvd_profile: a fixed amount of engine work for instruction counting under
// callgrind, where wall-clock figures mean nothing. Only the detection calls
// are instrumented (setup, signal making and KVD_Init are not), so
// "Collected" divided by the printed frame count is instructions per frame:
//
//   valgrind --tool=callgrind --collect-atstart=no build/bin/kvd_profile online 8000 1 0
//
// Scenarios:
//   online RATE SPEECH FAST [FRAMES]   one line fed 10 ms per call
//                                      (default 3000 frames, after 100 not counted)
//   offline RATE ONE_SEG [SECONDS]     one offline call (default 60 s)
//   init RATE                          KVD_Init with 1024 lines (counted)
#if __has_include(<valgrind/callgrind.h>)
#include <valgrind/callgrind.h>
#else
#define CALLGRIND_START_INSTRUMENTATION
#define CALLGRIND_STOP_INSTRUMENTATION
#endif

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "bench_support.h"
#include "engine/kvd_api.h"

namespace {

constexpr int32_t kWarmUpFrames = 100;

int Usage() {
  std::fprintf(stderr,
               "usage: kvd_profile online RATE SPEECH(0/1) FAST(0/1) [FRAMES]\n"
               "       kvd_profile offline RATE ONE_SEG(0/1) [SECONDS]\n"
               "       kvd_profile init RATE\n");
  return 2;
}

int RunOnline(int rate, bool speech, bool fast, int frames) {
  const kvdbench::BenchConfig config(rate, {{"FastMode", fast ? "1" : "0"}});
  const int seconds = (frames + kWarmUpFrames) / 100 + 1;
  const std::vector<int16_t> pcm = speech ? kvdbench::SpeechRecording(rate, seconds)
                                          : kvdbench::SilentRecording(rate, seconds);
  int32_t line = -1;
  if (KVD_Init(config.MainPath().c_str(), 1) != KVD_OK || KVD_Open(&line) != KVD_OK ||
      KVD_Start(line) != KVD_OK) {
    std::fprintf(stderr, "engine setup failed\n");
    return 1;
  }
  const int32_t shift = rate / 100;
  int32_t state = 0;
  int32_t start = -1;
  int32_t end = -1;
  int32_t position = 0;
  int restarts = 0;
  for (int f = 0; f < frames + kWarmUpFrames; ++f) {
    if (f == kWarmUpFrames) CALLGRIND_START_INSTRUMENTATION;
    KVD_DetectSpeech(line, pcm.data() + static_cast<size_t>(f) * shift, shift, &state, &start,
                     &end, &position);
    // A finished utterance starts the line again, as in the benchmark
    // (no_speech goes on detecting).
    if (state == speech_end || state == speech_too_long || state == speech_too_short) {
      KVD_Start(line);
      ++restarts;
    }
  }
  CALLGRIND_STOP_INSTRUMENTATION;
  std::printf("online rate %d speech %d fast %d: %d frames, %d restarts, last state %d\n", rate,
              speech, fast, frames, restarts, state);
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
    return RunOnline(rate, std::atoi(argv[3]) != 0, std::atoi(argv[4]) != 0, frames);
  }
  if (scenario == "offline" && argc >= 4) {
    const int seconds = argc >= 5 ? std::atoi(argv[4]) : 60;
    return RunOffline(rate, std::atoi(argv[3]) != 0, seconds);
  }
  if (scenario == "init") return RunInit(rate);
  return Usage();
}
