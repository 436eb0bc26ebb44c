// The online worker: one thread, one line, every recording streamed through
// it in chunks of 30 samples as a telephony host would.
#include <cstdio>
#include <cstdlib>

#include "engine/kvd_api.h"
#include "entry/batch_workers.h"

namespace {

// Marks worker i finished when the worker returns, whichever way it returns,
// so that GetMuteEnd's wait always ends.
class FinishedOnReturn {
 public:
  FinishedOnReturn(OnlineWorkerSlots& slots, int32_t workerIndex)
      : slots_(slots), workerIndex_(workerIndex) {}
  ~FinishedOnReturn() { slots_.finished[workerIndex_].store(1, std::memory_order_release); }
  FinishedOnReturn(const FinishedOnReturn&) = delete;
  FinishedOnReturn& operator=(const FinishedOnReturn&) = delete;

 private:
  OnlineWorkerSlots& slots_;
  int32_t workerIndex_;
};

}  // namespace

int32_t LineWorkerThread(int32_t i, OnlineWorkerSlots& slots, const WaveTable& table) {
  FinishedOnReturn markFinished(slots, i);
  if (KVD_Open(&slots.line[i]) != 0) {
    std::printf("Error open line %d!\n", i);
    return KVD_ERR_LINE_BUILD;
  }
  const int32_t line = slots.line[i];
  slots.status[i] = 0;
  std::printf("Open KVD line %4d successful!\n", line);

  // Results of the worker's calls; only the position is read, in messages.
  int32_t startResult = -1;
  int32_t endResult = -1;
  int32_t positionResult = 0;
  float* spectrumBlock1 = nullptr;
  int32_t spectrumRows1 = 0;
  float* spectrumBlock2 = nullptr;
  int32_t spectrumRows2 = 0;

  while (slots.caseIndex[i] < table.entryCount) {
    if (line < 0 || line > kMaxLines) {
      std::printf("ERROR in VAD_handle[%d]!\n", i);
      std::exit(EXIT_FAILURE);
    }
    if (KVD_Start(line) != 0) {
      std::printf("Error in Start Line %d of case %d!\n", i, slots.caseIndex[i]);
      return KVD_ERR_REINIT;
    }
    const WaveEntry& entry = table.entries[slots.caseIndex[i]];
    int32_t& position = slots.position[i];
    position = 0;
    if (entry.sampleCount > kOnlineChunkSamples) {
      do {
        slots.status[i] = KVD_DetectSpeech(line, entry.samples + position, kOnlineChunkSamples,
                                           &slots.stateResult[i], &startResult, &endResult,
                                           &positionResult);
        if (slots.status[i] != 0) {
          std::printf("Error in KVD_DetectSpeech!\nExit at %s on %d points!\n", entry.path,
                      positionResult);
          KVD_Close(line);
          return slots.status[i];
        }
        position += kOnlineChunkSamples;
      } while (position + kOnlineChunkSamples < entry.sampleCount);
    }
    if (position < entry.sampleCount) {
      slots.status[i] = KVD_DetectSpeech(line, entry.samples + position,
                                         entry.sampleCount - position, &slots.stateResult[i],
                                         &startResult, &endResult, &positionResult,
                                         &spectrumBlock1, &spectrumRows1, &spectrumBlock2,
                                         &spectrumRows2, 1);
    }
    if (slots.status[i] != 0) {
      std::printf("Error in KVD_DetectSpeech!\nExit at %s and drop %d points!\n", entry.path,
                  entry.sampleCount - positionResult);
      KVD_Close(line);
      return slots.status[i];
    }
    if (KVD_Stop(line) != 0) {
      std::printf("Error in Stop Line %d! of case %d\n", i, slots.caseIndex[i]);
      return -1;
    }
    ++slots.caseIndex[i];
  }
  std::printf("Line %d Finished!\n", line);
  if (KVD_Close(line) != 0) {
    std::printf("Error in Close Line %d!\n", i);
    return KVD_ERR_FFT_RELEASE;
  }
  return 0;
}
