#include "load_run.h"

#include <pthread.h>
#include <sched.h>
#include <sys/resource.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <thread>

#include "bench_support.h"
#include "engine/kvd_api.h"
#include "lateness_histogram.h"

namespace kvdbench {

namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::microseconds;
using std::chrono::milliseconds;
using std::chrono::nanoseconds;

// A chunk done more than this long after its audio arrived is late.
constexpr microseconds kLateLimit = milliseconds(10);
// Lines are spread over the chunk period in steps of this size, as a media
// server's timer would hand them out.
constexpr milliseconds kPhaseStep = milliseconds(1);
// A worker still behind this long after the end gives up; what it left
// undone counts as late.
constexpr milliseconds kGiveUpAfterEnd = milliseconds(100);
// The first chunks arrive this long after every line is open.
constexpr milliseconds kStartDelay = milliseconds(20);

// One line as a worker feeds it.
struct LineFeed {
  int32_t line = -1;
  nanoseconds phase{0};  // arrival offset of its chunks within a period
  int64_t firstPeriod = 0;  // the period in which its first chunk arrives
  size_t position = 0;   // next sample of the recording
  int64_t chunksDone = 0;
};

struct WorkerTally {
  LatenessHistogram lateness;
  int64_t samples = 0;
  int64_t lateSamples = 0;
  int64_t undoneSamples = 0;
  int64_t restarts = 0;
  std::string error;
};

double CpuSeconds() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  const auto seconds = [](const timeval& t) {
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_usec) / 1e6;
  };
  return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

// Holds the workers until every line is open, then gives them a common time
// zero. The run's wall and CPU time count from the opening.
class StartGate {
 public:
  explicit StartGate(int workers) : waiting_(workers) {}

  Clock::time_point ArriveAndWait() {
    std::unique_lock<std::mutex> lock(mutex_);
    if (--waiting_ == 0) {
      openedAt_ = Clock::now();
      cpuAtOpening_ = CpuSeconds();
      open_ = true;
      opened_.notify_all();
    }
    opened_.wait(lock, [this] { return open_; });
    return openedAt_ + kStartDelay;
  }

  // Valid once every worker has arrived.
  Clock::time_point OpenedAt() const { return openedAt_; }
  double CpuAtOpening() const { return cpuAtOpening_; }

 private:
  std::mutex mutex_;
  std::condition_variable opened_;
  int waiting_;
  bool open_ = false;
  Clock::time_point openedAt_;
  double cpuAtOpening_ = 0.0;
};

std::string CallError(const char* call, int32_t result) {
  return std::string(call) + " returned " + std::to_string(result);
}

class Worker {
 public:
  Worker(const LoadSetup& setup, int index, StartGate& gate, WorkerTally& tally)
      : setup_(setup),
        index_(index),
        gate_(gate),
        tally_(tally),
        period_(
            nanoseconds(static_cast<int64_t>(setup.chunkSamples) * 1000000000 / setup.sampleRate)) {
  }

  void Run() {
    // A worker that cannot take its scheduling or open its lines still
    // passes the gate, which waits for every worker.
    const bool ready = TakeScheduling() && OpenLines();
    const Clock::time_point zero = gate_.ArriveAndWait();
    if (ready) Stream(zero);
    for (const LineFeed& feed : feeds_) {
      KVD_Stop(feed.line);
      KVD_Close(feed.line);
    }
  }

 private:
  bool TakeScheduling() {
    if (setup_.realtimePriority <= 0) return true;
    sched_param param{};
    param.sched_priority = setup_.realtimePriority;
    const int failed = pthread_setschedparam(pthread_self(), SCHED_FIFO, &param);
    if (failed == 0) return true;
    return Fail("SCHED_FIFO priority " + std::to_string(setup_.realtimePriority) + ": " +
                std::strerror(failed));
  }

  // Lines index, index + threads, ...; their phases step through the
  // period, and they are kept in order of phase, which is the order in
  // which their chunks arrive.
  bool OpenLines() {
    const int64_t slots = std::max<int64_t>(1, period_ / kPhaseStep);
    const size_t chunks = setup_.recording->size() / static_cast<size_t>(setup_.chunkSamples);
    const int64_t rampPeriods = static_cast<int64_t>(
        setup_.rampSeconds * 1e9 / static_cast<double>(period_.count()));
    int local = 0;
    for (int global = index_; global < setup_.lines; global += setup_.threads, ++local) {
      LineFeed feed;
      const int32_t opened = KVD_Open(&feed.line);
      if (opened != KVD_OK) return Fail(CallError("KVD_Open", opened));
      feeds_.push_back(feed);
      const int32_t started = KVD_Start(feed.line);
      if (started != KVD_OK) return Fail(CallError("KVD_Start", started));
      feeds_.back().phase = kPhaseStep * (local % slots);
      feeds_.back().firstPeriod = rampPeriods * global / setup_.lines;
      // Lines start at scattered places of the recording, so that they are
      // not all in speech at once.
      feeds_.back().position =
          (static_cast<size_t>(global) * 997 % chunks) * static_cast<size_t>(setup_.chunkSamples);
    }
    std::stable_sort(feeds_.begin(), feeds_.end(),
                     [](const LineFeed& a, const LineFeed& b) { return a.phase < b.phase; });
    return true;
  }

  bool Fail(const std::string& error) {
    if (tally_.error.empty()) tally_.error = error;
    return false;
  }

  Clock::time_point Arrival(const Clock::time_point zero, const LineFeed& feed) const {
    return zero + feed.phase + period_ * (feed.firstPeriod + feed.chunksDone + 1);
  }

  void Stream(const Clock::time_point zero) {
    const Clock::time_point end = zero + std::chrono::duration_cast<nanoseconds>(
                                             std::chrono::duration<double>(setup_.seconds));
    const Clock::time_point giveUp = end + kGiveUpAfterEnd;
    // In each period the lines' chunks arrive in the order of their phases;
    // a line whose first period is still to come is passed over.
    for (int64_t period = 0;; ++period) {
      for (LineFeed& feed : feeds_) {
        if (feed.firstPeriod > period) continue;
        const Clock::time_point arrival = Arrival(zero, feed);
        if (arrival > end) return;
        Clock::time_point now = Clock::now();
        if (now > giveUp) return CountUndone(zero, end, giveUp);
        if (now < arrival) std::this_thread::sleep_until(arrival);
        if (!Feed(feed)) return;
        now = Clock::now();
        tally_.lateness.Add(std::chrono::duration_cast<microseconds>(now - arrival).count());
        if (now - arrival > kLateLimit) tally_.lateSamples += setup_.chunkSamples;
      }
    }
  }

  // One chunk through the engine (or the stand-in); the line starts again
  // when its detection has ended.
  bool Feed(LineFeed& feed) {
    if (setup_.standInUsPerFrame > 0.0) {
      StandIn();
    } else if (!Detect(feed)) {
      return false;
    }
    feed.position =
        (feed.position + static_cast<size_t>(setup_.chunkSamples)) % setup_.recording->size();
    ++feed.chunksDone;
    tally_.samples += setup_.chunkSamples;
    return true;
  }

  bool Detect(LineFeed& feed) {
    int32_t state = 0;
    int32_t start = -1;
    int32_t stop = -1;
    int32_t position = 0;
    const int32_t result = KVD_DetectSpeech(feed.line, setup_.recording->data() + feed.position,
                                            setup_.chunkSamples, &state, &start, &stop, &position);
    if (result != KVD_OK) return Fail(CallError("KVD_DetectSpeech", result));
    if (state == speech_end || state == speech_too_long || state == speech_too_short) {
      // Stopped first, as a host ends one detection before the next: a start
      // of a line still busy writes two warnings to the log.
      const int32_t stopped = KVD_Stop(feed.line);
      if (stopped != KVD_OK) return Fail(CallError("KVD_Stop", stopped));
      const int32_t started = KVD_Start(feed.line);
      if (started != KVD_OK) return Fail(CallError("KVD_Start", started));
      ++tally_.restarts;
    }
    return true;
  }

  // Spins for the stand-in's cost of one chunk, on the wall clock.
  void StandIn() const {
    const double frames =
        static_cast<double>(setup_.chunkSamples) * 100.0 / static_cast<double>(setup_.sampleRate);
    const auto cost = std::chrono::duration<double, std::micro>(setup_.standInUsPerFrame * frames);
    const Clock::time_point until = Clock::now() + std::chrono::duration_cast<nanoseconds>(cost);
    while (Clock::now() < until) {
    }
  }

  // Chunks that arrived before the end but were never fed: late by at least
  // the time from their arrival to giving up.
  void CountUndone(const Clock::time_point zero, const Clock::time_point end,
                   const Clock::time_point giveUp) {
    for (LineFeed& feed : feeds_) {
      for (Clock::time_point arrival = Arrival(zero, feed); arrival <= end;
           arrival = Arrival(zero, feed)) {
        tally_.lateness.Add(std::chrono::duration_cast<microseconds>(giveUp - arrival).count());
        tally_.lateSamples += setup_.chunkSamples;
        tally_.undoneSamples += setup_.chunkSamples;
        ++feed.chunksDone;
      }
    }
  }

  const LoadSetup& setup_;
  const int index_;
  StartGate& gate_;
  WorkerTally& tally_;
  const nanoseconds period_;
  std::vector<LineFeed> feeds_;
};

}  // namespace

LoadFigures RunLoad(const LoadSetup& setup) {
  LoadFigures figures;
  figures.lines = setup.lines;
  figures.threads = std::min(setup.threads, setup.lines);
  LoadSetup used = setup;
  used.threads = figures.threads;
  std::vector<WorkerTally> tallies(static_cast<size_t>(figures.threads));
  StartGate gate(figures.threads);
  std::vector<std::thread> threads;
  for (int i = 0; i < figures.threads; ++i) {
    threads.emplace_back([&used, &gate, &tallies, i] {
      Worker(used, i, gate, tallies[static_cast<size_t>(i)]).Run();
    });
  }
  for (std::thread& thread : threads) thread.join();
  figures.wallSeconds = std::chrono::duration<double>(Clock::now() - gate.OpenedAt()).count();
  figures.cpuSeconds = CpuSeconds() - gate.CpuAtOpening();

  LatenessHistogram lateness;
  int64_t samples = 0;
  int64_t lateSamples = 0;
  int64_t undoneSamples = 0;
  for (const WorkerTally& tally : tallies) {
    lateness.Merge(tally.lateness);
    samples += tally.samples;
    lateSamples += tally.lateSamples;
    undoneSamples += tally.undoneSamples;
    figures.restarts += tally.restarts;
    if (figures.error.empty()) figures.error = tally.error;
  }
  const int64_t frameShift = setup.sampleRate / 100;
  figures.frames = samples / frameShift;
  figures.lateFrames = lateSamples / frameShift;
  figures.undoneFrames = undoneSamples / frameShift;
  figures.maxLatenessUs = lateness.MaxUs();
  figures.p99LatenessUs = lateness.PercentileUs(0.99);
  figures.residentBytes = ResidentBytes();
  return figures;
}

}  // namespace kvdbench
