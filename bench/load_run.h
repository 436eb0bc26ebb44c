// One real-time load run: lines fed recorded audio at the pace of real
// time by a pool of worker threads through the engine's online interface,
// and what that cost.
#ifndef KVD_BENCH_LOAD_RUN_H
#define KVD_BENCH_LOAD_RUN_H

#include <cstdint>
#include <string>
#include <vector>

namespace kvdbench {

struct LoadSetup {
  int lines = 1;
  int threads = 1;
  int chunkSamples = 80;  // samples per KVD_DetectSpeech call
  double seconds = 10.0;  // wall time of the run
  int sampleRate = 8000;  // Hz, the engine's SampleRate
  // Audio every line streams, looped; a whole number of chunks long.
  const std::vector<int16_t>* recording = nullptr;
  // When above 0, each chunk spins this many microseconds per 10 ms frame
  // instead of going through the engine: the same pacing and duty cycle
  // with no engine work, so that what is late then is the machine's.
  double standInUsPerFrame = 0.0;
  // Lines begin streaming spread evenly over this many seconds from the
  // start, as calls arrive one after another; 0: all begin together.
  double rampSeconds = 0.0;
  // When above 0, the workers run under SCHED_FIFO at this priority, as a
  // media server's audio threads do: nothing of normal priority (other
  // programs, the kernel's own background threads) preempts them then.
  int realtimePriority = 0;
  // When true, the workers share one schedule of every line's chunks and
  // each takes the next chunk due, as a pool with one queue does; when
  // false, each worker feeds its own share of the lines. Shared, a worker
  // held up (its CPU not run for a while) delays the chunk it holds and
  // that line's next ones, not every line of its share.
  bool sharedSchedule = false;
};

struct LoadFigures {
  int lines = 0;
  int threads = 0;
  double wallSeconds = 0.0;
  double cpuSeconds = 0.0;    // user + system of the whole process
  int64_t frames = 0;         // 10 ms frames fed to the engine
  int64_t lateFrames = 0;     // frames of chunks done more than 10 ms after arrival, or never
  int64_t undoneFrames = 0;   // of which never done: arrived before the end, not fed by then
  int64_t maxLatenessUs = 0;  // over all chunks
  int64_t p99LatenessUs = 0;
  int64_t restarts = 0;       // lines started again after detection ended
  int64_t residentBytes = 0;  // of the process at the end of the run
  std::string error;          // the first failed engine call; empty when none
};

// Runs the load on an engine already built by KVD_Init with enough lines:
// opens setup.lines lines, streams, stops and closes them.
LoadFigures RunLoad(const LoadSetup& setup);

}  // namespace kvdbench

#endif  // KVD_BENCH_LOAD_RUN_H
