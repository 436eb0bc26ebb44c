#include "load_run.h"

#include <pthread.h>
#include <sched.h>
#include <sys/resource.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <memory>
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
// A worker still behind this long after the end gives up; what is left
// undone counts as late.
constexpr milliseconds kGiveUpAfterEnd = milliseconds(100);
// The first chunks arrive this long after every line is open.
constexpr milliseconds kStartDelay = milliseconds(20);

// One line as the workers feed it.
struct LineFeed {
  int32_t line = -1;
  nanoseconds phase{0};  // arrival offset of its chunks within a period
  int64_t firstPeriod = 0;  // the period in which its first chunk arrives
  size_t position = 0;   // next sample of the recording
  int64_t chunksDone = 0;
};

// Lines and the order in which their chunks come due: period by period,
// and within a period by phase. Item i of the schedule is the chunk of
// period i / n of the line order[i % n]. Whoever takes an item claims its
// line; a chunk that comes due while its line is claimed is left to the
// claiming worker, which feeds it next, so that a line's chunks go through
// the engine one at a time and in order.
struct Schedule {
  explicit Schedule(std::vector<LineFeed> lines)
      : feeds(std::move(lines)), claims(new std::atomic<int32_t>[feeds.size()]) {
    for (size_t i = 0; i < feeds.size(); ++i) {
      order.push_back(i);
      claims[i].store(0, std::memory_order_relaxed);
    }
    std::stable_sort(order.begin(), order.end(),
                     [this](size_t a, size_t b) { return feeds[a].phase < feeds[b].phase; });
  }

  std::vector<LineFeed> feeds;
  std::vector<size_t> order;
  // Chunks of each line taken and not yet fed (the claim's own included).
  std::unique_ptr<std::atomic<int32_t>[]> claims;
  std::atomic<int64_t> nextItem{0};
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

// Holds the workers until every one has taken its scheduling, then gives
// them a common time zero. The run's wall and CPU time count from the
// opening.
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

nanoseconds PeriodOf(const LoadSetup& setup) {
  return nanoseconds(static_cast<int64_t>(setup.chunkSamples) * 1000000000 / setup.sampleRate);
}

Clock::time_point Arrival(const Clock::time_point zero, nanoseconds period,
                          const LineFeed& feed) {
  return zero + feed.phase + period * (feed.firstPeriod + feed.chunksDone + 1);
}

class Worker {
 public:
  Worker(const LoadSetup& setup, StartGate& gate, Schedule& schedule, WorkerTally& tally)
      : setup_(setup), gate_(gate), schedule_(schedule), tally_(tally), period_(PeriodOf(setup)) {}

  // Streams from the common time zero; returns it.
  Clock::time_point Run() {
    // A worker that cannot take its scheduling still passes the gate,
    // which waits for every worker.
    const bool ready = TakeScheduling();
    const Clock::time_point zero = gate_.ArriveAndWait();
    if (ready) Stream(zero);
    return zero;
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

  bool Fail(const std::string& error) {
    if (tally_.error.empty()) tally_.error = error;
    return false;
  }

  void Stream(const Clock::time_point zero) {
    const Clock::time_point end = zero + std::chrono::duration_cast<nanoseconds>(
                                             std::chrono::duration<double>(setup_.seconds));
    const Clock::time_point giveUp = end + kGiveUpAfterEnd;
    const int64_t lines = static_cast<int64_t>(schedule_.feeds.size());
    for (;;) {
      const int64_t item = schedule_.nextItem.fetch_add(1, std::memory_order_relaxed);
      const int64_t period = item / lines;
      const size_t index = schedule_.order[static_cast<size_t>(item % lines)];
      LineFeed& feed = schedule_.feeds[index];
      if (feed.firstPeriod > period) continue;  // not streaming yet
      // Items come due in order: past the end, every later one is too.
      const Clock::time_point due = zero + feed.phase + period_ * (period + 1);
      if (due > end) return;
      if (Clock::now() > giveUp) return;
      std::this_thread::sleep_until(due);
      std::atomic<int32_t>& claims = schedule_.claims[index];
      if (claims.fetch_add(1, std::memory_order_acq_rel) != 0) continue;
      do {
        const Clock::time_point arrival = Arrival(zero, period_, feed);
        if (!Feed(feed)) return;
        const Clock::time_point now = Clock::now();
        tally_.lateness.Add(std::chrono::duration_cast<microseconds>(now - arrival).count());
        if (now - arrival > kLateLimit) tally_.lateSamples += setup_.chunkSamples;
        if (now > giveUp) return;
      } while (claims.fetch_sub(1, std::memory_order_acq_rel) != 1);
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

  const LoadSetup& setup_;
  StartGate& gate_;
  Schedule& schedule_;
  WorkerTally& tally_;
  const nanoseconds period_;
};

// Opens and starts every line: their phases step through the period in the
// order of opening within each schedule (so lines arrive spread over it),
// their first periods spread over the ramp, and they start at scattered
// places of the recording, so that they are not all in speech at once.
// Line g goes to schedule g % schedules.
bool OpenLines(const LoadSetup& setup, int schedules, std::vector<std::vector<LineFeed>>& lines,
               std::string& error) {
  const nanoseconds period = PeriodOf(setup);
  const int64_t slots = std::max<int64_t>(1, period / kPhaseStep);
  const size_t chunks = setup.recording->size() / static_cast<size_t>(setup.chunkSamples);
  const int64_t rampPeriods =
      static_cast<int64_t>(setup.rampSeconds * 1e9 / static_cast<double>(period.count()));
  lines.assign(static_cast<size_t>(schedules), {});
  for (int global = 0; global < setup.lines; ++global) {
    std::vector<LineFeed>& share = lines[static_cast<size_t>(global % schedules)];
    LineFeed feed;
    const int32_t opened = KVD_Open(&feed.line);
    if (opened != KVD_OK) {
      error = CallError("KVD_Open", opened);
      return false;
    }
    feed.phase = kPhaseStep * (static_cast<int64_t>(share.size()) % slots);
    feed.firstPeriod = rampPeriods * global / setup.lines;
    feed.position =
        (static_cast<size_t>(global) * 997 % chunks) * static_cast<size_t>(setup.chunkSamples);
    share.push_back(feed);
    const int32_t started = KVD_Start(feed.line);
    if (started != KVD_OK) {
      error = CallError("KVD_Start", started);
      return false;
    }
  }
  return true;
}

// Chunks that arrived before the end but were never fed: late by at least
// the time from their arrival to giving up.
void CountUndone(const LoadSetup& setup, const Clock::time_point zero, Schedule& schedule,
                 WorkerTally& tally) {
  const nanoseconds period = PeriodOf(setup);
  const Clock::time_point end =
      zero + std::chrono::duration_cast<nanoseconds>(std::chrono::duration<double>(setup.seconds));
  const Clock::time_point giveUp = end + kGiveUpAfterEnd;
  for (LineFeed& feed : schedule.feeds) {
    for (Clock::time_point arrival = Arrival(zero, period, feed); arrival <= end;
         arrival = Arrival(zero, period, feed)) {
      tally.lateness.Add(std::chrono::duration_cast<microseconds>(giveUp - arrival).count());
      tally.lateSamples += setup.chunkSamples;
      tally.undoneSamples += setup.chunkSamples;
      ++feed.chunksDone;
    }
  }
}

}  // namespace

LoadFigures RunLoad(const LoadSetup& setup) {
  LoadFigures figures;
  figures.lines = setup.lines;
  figures.threads = std::min(setup.threads, setup.lines);
  const int scheduleCount = setup.sharedSchedule ? 1 : figures.threads;
  std::vector<std::vector<LineFeed>> lines;
  std::vector<std::unique_ptr<Schedule>> schedules;
  const bool opened = OpenLines(setup, scheduleCount, lines, figures.error);
  for (std::vector<LineFeed>& share : lines) {
    schedules.push_back(std::make_unique<Schedule>(std::move(share)));
  }
  std::vector<WorkerTally> tallies(static_cast<size_t>(figures.threads));
  if (opened) {
    StartGate gate(figures.threads);
    Clock::time_point zero;
    std::vector<std::thread> threads;
    for (int i = 0; i < figures.threads; ++i) {
      Schedule& schedule = *schedules[static_cast<size_t>(i % scheduleCount)];
      threads.emplace_back([&setup, &gate, &schedule, &tallies, &zero, i] {
        const Clock::time_point workerZero =
            Worker(setup, gate, schedule, tallies[static_cast<size_t>(i)]).Run();
        if (i == 0) zero = workerZero;
      });
    }
    for (std::thread& thread : threads) thread.join();
    figures.wallSeconds = std::chrono::duration<double>(Clock::now() - gate.OpenedAt()).count();
    figures.cpuSeconds = CpuSeconds() - gate.CpuAtOpening();
    for (const std::unique_ptr<Schedule>& schedule : schedules) {
      CountUndone(setup, zero, *schedule, tallies.front());
    }
  }
  for (const std::unique_ptr<Schedule>& schedule : schedules) {
    for (const LineFeed& feed : schedule->feeds) {
      KVD_Stop(feed.line);
      KVD_Close(feed.line);
    }
  }

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
