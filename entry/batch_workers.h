// The workers that carry the recordings of a wave table through the engine
// for GetMuteEnd: the online line worker (one thread per line, streaming in
// chunks of 30 samples) and the two offline cutters (one call per recording).
// All of them print their progress and errors on standard output.
#ifndef KVD_ENTRY_BATCH_WORKERS_H
#define KVD_ENTRY_BATCH_WORKERS_H

#include <atomic>
#include <cstdint>

#include "entry/wave_reader.h"

// Online workers GetMuteEnd runs at once, one line each.
constexpr int32_t kOnlineWorkerCount = 100;
// Samples handed to the engine per call by an online worker (3.75 ms at 8 kHz).
constexpr int32_t kOnlineChunkSamples = 30;

// Per-worker tables of the online mode; slot i belongs to worker i.
struct OnlineWorkerSlots {
  int32_t line[kOnlineWorkerCount] = {};         // line opened by worker i
  int32_t status[kOnlineWorkerCount] = {};       // result of its last KVD_DetectSpeech
  int32_t caseIndex[kOnlineWorkerCount] = {};    // wave entry worker i is on
  int32_t position[kOnlineWorkerCount] = {};     // samples of that entry handed over
  int32_t stateResult[kOnlineWorkerCount] = {};  // DetectState after its last call
  // Set as the worker's last action, on every return path: the only
  // synchronisation between GetMuteEnd's waiting loop and the worker.
  std::atomic<uint8_t> finished[kOnlineWorkerCount] = {};
};

// Worker i: opens a line, streams every entry of table through it (start,
// chunks, stop), closes it. Returns 0, or -94 (open failed), -93 (start
// failed), -1 (stop failed), -91 (close failed) or the engine's code of a
// failed detection call. A line number outside 0 .. 1024 ends the process.
int32_t LineWorkerThread(int32_t workerIndex, OnlineWorkerSlots& slots, const WaveTable& table);

// Speech limits of the last recording cut by OfflineCutOneSeg, in samples from
// the recording's first sample (after any header); 0 / 0 when it found none.
struct SpeechLimits {
  int32_t speechStart = 0;
  int32_t speechEnd = 0;
};

// Runs every entry of table through the started-per-entry line in one call
// and leaves the last entry's limits in limits. With saveCutPcm non-zero the
// speech part is written to "test_cut.pcm" in the current folder. Returns 0,
// or -1 after its message.
int32_t OfflineCutOneSeg(int32_t line, int32_t saveCutPcm, const WaveTable& table,
                         SpeechLimits& limits);

// Runs every entry through the line in one call and prints its segments as
// "start-end " pairs in samples. saveShortPcm writes segment j to
// "test_%.3d.pcm", saveCutPcm all segments to "testm_cut.pcm", in the current
// folder. maxSegNum is the capacity of the segment list. Returns 0, or -1
// after its message.
int32_t OfflineCutMultiSeg(int32_t line, int32_t saveCutPcm, int32_t saveShortPcm,
                           int32_t maxSegNum, const WaveTable& table);

#endif  // KVD_ENTRY_BATCH_WORKERS_H
