// kvd-soak: a long-duration soak of the online engine. N lines stream looped
// audio (the bundled recording, silence, noise, a tone burst, keypad tones)
// at real-time pace, 160 samples (10 ms at 8000 Hz) every 10 ms per line,
// driven by a pool of worker threads; each worker owns a set of lines and
// closes and reopens a line after every utterance ends (speech end, too long,
// too short, or no speech within MaxWaitFrame). Every few seconds it prints
// the 10 ms frames processed, the late frames (processed more than 10 ms after
// their audio arrived), the errors (any negative engine code), the utterances
// and the resident memory; a summary follows at the end.
//
//   kvd-soak [--lines N] [--workers W] [--seconds S] [--report-every S]
//            [--sample recording.wav] [--config kvd.cfg]
//
// Without --config the engine runs the benchmark configuration (online, one
// segment, AverageGain -10 dB) with utterances cut at 30 s and no speech given
// up after 5 s. The logging facade writes LogClt.cfg and logs/ into the
// current folder: run it from a scratch folder. Not part of the tests.
#include <kvd/tprintf.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "bench_support.h"
#include "engine/kvd_api.h"
#include "soak_audio.h"

namespace {

using Clock = std::chrono::steady_clock;

constexpr int32_t kChunkSamples = kvdsoak::kSoakSampleRateHz / 100;  // 10 ms
constexpr auto kChunkPeriod = std::chrono::milliseconds(10);
// A frame is late when it is processed more than this after its audio arrived:
// by then the next 10 ms of the line have arrived too.
constexpr auto kLateAfter = std::chrono::milliseconds(10);
// Engine errors printed one by one; the rest are only counted.
constexpr int64_t kErrorsShown = 20;
// Facade number of ERROR: only errors reach the console and logs/.
constexpr int kLogLevelError = 6;
constexpr int32_t kDetectionStates = 7;

struct Options {
  int lines = kMaxLines;
  int workers = static_cast<int>(std::max(1u, std::thread::hardware_concurrency()));
  int seconds = 60;
  int reportEvery = 10;
  std::string sample = KVD_SAMPLE_PATH;
  std::string config;
};

struct Counters {
  std::atomic<int64_t> frames{0};
  std::atomic<int64_t> late{0};
  std::atomic<int64_t> errors{0};
  std::atomic<int64_t> utterances{0};
  std::atomic<int64_t> latenessSumUs{0};
  std::atomic<int64_t> maxLatenessUs{0};  // since the last report line
  std::array<std::atomic<int64_t>, kDetectionStates> endStates{};
};

struct Stream {
  int32_t line = -1;  // -1 while closed
  const std::vector<int16_t>* loop = nullptr;
  size_t position = 0;  // next sample of the loop
  Clock::duration phase{};
};

void RaiseTo(std::atomic<int64_t>& maximum, int64_t value) {
  int64_t seen = maximum.load();
  while (value > seen && !maximum.compare_exchange_weak(seen, value)) {
  }
}

bool Succeeded(int32_t code, const char* operation, int32_t line, Counters& counters) {
  if (code >= 0) return true;
  if (++counters.errors <= kErrorsShown)
    std::fprintf(stderr, "%s on line %d returned %d\n", operation, line, code);
  return false;
}

bool OpenStream(Stream& stream, Counters& counters) {
  int32_t line = -1;
  if (!Succeeded(KVD_Open(&line), "KVD_Open", line, counters)) return false;
  if (!Succeeded(KVD_Start(line), "KVD_Start", line, counters)) {
    KVD_Close(line);
    return false;
  }
  stream.line = line;
  return true;
}

void CloseStream(Stream& stream, Counters& counters) {
  Succeeded(KVD_Stop(stream.line), "KVD_Stop", stream.line, counters);
  Succeeded(KVD_Close(stream.line), "KVD_Close", stream.line, counters);
  stream.line = -1;
}

bool UtteranceEnded(int32_t state) {
  return state == speech_end || state == no_speech || state == speech_too_long ||
         state == speech_too_short;
}

// Feeds the stream's next 10 ms; reopens its line when an utterance ended.
void FeedChunk(Stream& stream, Counters& counters) {
  if (stream.line < 0 && !OpenStream(stream, counters)) return;
  int16_t chunk[kChunkSamples];
  const std::vector<int16_t>& loop = *stream.loop;
  for (int16_t& sample : chunk) {
    sample = loop[stream.position];
    stream.position = (stream.position + 1) % loop.size();
  }
  int32_t state = before_speech;
  int32_t start = -1;
  int32_t end = -1;
  int32_t position = 0;
  const int32_t code =
      KVD_DetectSpeech(stream.line, chunk, kChunkSamples, &state, &start, &end, &position);
  ++counters.frames;
  if (!Succeeded(code, "KVD_DetectSpeech", stream.line, counters)) {
    CloseStream(stream, counters);
    return;
  }
  if (UtteranceEnded(state)) {
    ++counters.endStates[state];
    ++counters.utterances;
    CloseStream(stream, counters);
    OpenStream(stream, counters);
  }
}

// Streams are in ascending phase: chunk k of every stream is due before
// chunk k + 1 of any, so one pass per 10 ms keeps deadline order. A worker
// that falls behind processes its backlog in order, dropping nothing, until
// the run's end; what it did not reach by then is not processed.
void RunWorker(std::vector<Stream*> streams, Clock::time_point begin, Clock::time_point finish,
               Counters& counters) {
  for (int64_t k = 1;; ++k) {
    for (Stream* stream : streams) {
      const Clock::time_point arrival = begin + stream->phase + k * kChunkPeriod;
      if (arrival > finish || Clock::now() > finish) {
        for (Stream* open : streams)
          if (open->line >= 0) CloseStream(*open, counters);
        return;
      }
      std::this_thread::sleep_until(arrival);
      FeedChunk(*stream, counters);
      const Clock::duration lateness = Clock::now() - arrival;
      const int64_t latenessUs =
          std::chrono::duration_cast<std::chrono::microseconds>(lateness).count();
      counters.latenessSumUs += latenessUs;
      RaiseTo(counters.maxLatenessUs, latenessUs);
      if (lateness > kLateAfter) ++counters.late;
    }
  }
}

int64_t ResidentKilobytes() { return kvdbench::ResidentBytes() / 1024; }

bool ParseOptions(int argc, char** argv, Options& options) {
  for (int i = 1; i + 1 < argc; i += 2) {
    const std::string name = argv[i];
    const char* value = argv[i + 1];
    if (name == "--lines") options.lines = std::atoi(value);
    else if (name == "--workers") options.workers = std::atoi(value);
    else if (name == "--seconds") options.seconds = std::atoi(value);
    else if (name == "--report-every") options.reportEvery = std::atoi(value);
    else if (name == "--sample") options.sample = value;
    else if (name == "--config") options.config = value;
    else return false;
  }
  return argc % 2 == 1 && options.lines >= 1 && options.lines <= kMaxLines &&
         options.workers >= 1 && options.seconds >= 1 && options.reportEvery >= 1;
}

void PrintReport(double elapsedSeconds, Counters& counters, int64_t& lastFrames,
                 int64_t& lastLate) {
  const int64_t frames = counters.frames.load();
  const int64_t late = counters.late.load();
  std::printf(
      "%7.0f s  frames %11lld (+%9lld)  late %9lld (+%8lld)  max lateness %8.1f ms  errors %lld  "
      "utterances %lld  RSS %lld kB\n",
      elapsedSeconds, static_cast<long long>(frames), static_cast<long long>(frames - lastFrames),
      static_cast<long long>(late), static_cast<long long>(late - lastLate),
      static_cast<double>(counters.maxLatenessUs.exchange(0)) / 1000.0,
      static_cast<long long>(counters.errors.load()),
      static_cast<long long>(counters.utterances.load()),
      static_cast<long long>(ResidentKilobytes()));
  std::fflush(stdout);
  lastFrames = frames;
  lastLate = late;
}

void PrintSummary(const Options& options, Counters& counters, int64_t rssAfterInit,
                  int64_t rssLowest, int64_t rssHighest, int32_t exitCode) {
  const int64_t frames = counters.frames.load();
  const int64_t late = counters.late.load();
  std::printf("\nsummary: %d lines, %d workers, %d s\n", options.lines, options.workers,
              options.seconds);
  std::printf("  frames processed   %lld (%.1f%% of the %lld due)\n",
              static_cast<long long>(frames),
              100.0 * static_cast<double>(frames) / (options.seconds * 100.0 * options.lines),
              static_cast<long long>(options.seconds) * 100 * options.lines);
  std::printf("  late frames        %lld (%.2f%%)\n", static_cast<long long>(late),
              frames > 0 ? 100.0 * static_cast<double>(late) / static_cast<double>(frames) : 0.0);
  std::printf("  mean lateness      %.2f ms\n",
              frames > 0 ? static_cast<double>(counters.latenessSumUs.load()) / 1000.0 /
                               static_cast<double>(frames)
                         : 0.0);
  std::printf("  errors             %lld\n", static_cast<long long>(counters.errors.load()));
  std::printf("  utterances         %lld (speech end %lld, no speech %lld, too long %lld, "
              "too short %lld)\n",
              static_cast<long long>(counters.utterances.load()),
              static_cast<long long>(counters.endStates[speech_end].load()),
              static_cast<long long>(counters.endStates[no_speech].load()),
              static_cast<long long>(counters.endStates[speech_too_long].load()),
              static_cast<long long>(counters.endStates[speech_too_short].load()));
  std::printf("  RSS after KVD_Init %lld kB, lowest %lld kB, highest %lld kB during the run\n",
              static_cast<long long>(rssAfterInit), static_cast<long long>(rssLowest),
              static_cast<long long>(rssHighest));
  std::printf("  KVD_Exit           %d\n", exitCode);
}

}  // namespace

int main(int argc, char** argv) {
  Options options;
  if (!ParseOptions(argc, argv, options)) {
    std::fprintf(stderr,
                 "usage: kvd-soak [--lines N (1..1024)] [--workers W] [--seconds S] "
                 "[--report-every S] [--sample recording.wav] [--config kvd.cfg]\n");
    return 2;
  }
  const std::vector<std::vector<int16_t>> loops = kvdsoak::MakeSourceLoops(options.sample);
  if (loops.empty()) return 1;

  KES_SetLogLevel(kLogLevelError);
  std::unique_ptr<kvdbench::BenchConfig> generated;
  if (options.config.empty()) {
    generated = std::make_unique<kvdbench::BenchConfig>(
        kvdsoak::kSoakSampleRateHz,
        kvdbench::Settings{{"MaxSpeechDuration", "3000"}, {"MaxWaitFrame", "500"}});
    options.config = generated->MainPath();
  }
  const int32_t initCode = KVD_Init(options.config.c_str(), options.lines);
  if (initCode != KVD_OK) {
    std::fprintf(stderr, "KVD_Init returned %d\n", initCode);
    return 1;
  }
  const int64_t rssAfterInit = ResidentKilobytes();

  // Stream s plays source s mod 5, from a point of the loop that differs per
  // stream; its 10 ms deadlines are staggered across the period.
  std::vector<Stream> streams(static_cast<size_t>(options.lines));
  for (int s = 0; s < options.lines; ++s) {
    Stream& stream = streams[static_cast<size_t>(s)];
    stream.loop = &loops[static_cast<size_t>(s % kvdsoak::kSourceKinds)];
    stream.position = static_cast<size_t>(s) * 997 % stream.loop->size();
    stream.phase = std::chrono::microseconds(kChunkPeriod) * s / options.lines;
  }
  std::printf("kvd-soak: %d lines (", options.lines);
  for (int kind = 0; kind < kvdsoak::kSourceKinds; ++kind)
    std::printf("%s%s", kind == 0 ? "" : ", ",
                kvdsoak::SourceName(static_cast<kvdsoak::SourceKind>(kind)));
  std::printf(" in turn), %d workers, %d s, RSS after KVD_Init %lld kB\n", options.workers,
              options.seconds, static_cast<long long>(rssAfterInit));

  Counters counters;
  const Clock::time_point begin = Clock::now();
  const Clock::time_point finish = begin + std::chrono::seconds(options.seconds);
  std::vector<std::thread> workers;
  for (int w = 0; w < options.workers; ++w) {
    std::vector<Stream*> owned;
    for (int s = w; s < options.lines; s += options.workers)
      owned.push_back(&streams[static_cast<size_t>(s)]);
    workers.emplace_back(RunWorker, std::move(owned), begin, finish, std::ref(counters));
  }

  int64_t lastFrames = 0;
  int64_t lastLate = 0;
  int64_t rssLowest = rssAfterInit;
  int64_t rssHighest = rssAfterInit;
  for (Clock::time_point next = begin + std::chrono::seconds(options.reportEvery); next <= finish;
       next += std::chrono::seconds(options.reportEvery)) {
    std::this_thread::sleep_until(next);
    const int64_t rss = ResidentKilobytes();
    rssLowest = std::min(rssLowest, rss);
    rssHighest = std::max(rssHighest, rss);
    PrintReport(std::chrono::duration<double>(Clock::now() - begin).count(), counters, lastFrames,
                lastLate);
  }
  for (std::thread& worker : workers) worker.join();
  PrintReport(std::chrono::duration<double>(Clock::now() - begin).count(), counters, lastFrames,
              lastLate);
  const int32_t exitCode = KVD_Exit();
  PrintSummary(options, counters, rssAfterInit, rssLowest, rssHighest, exitCode);
  return counters.errors.load() == 0 && exitCode == KVD_OK ? 0 : 1;
}
