// SendSpectrum: views of the stored reduced spectra for the caller.
#include "kvd/tprintf.h"
#include "pipeline/frame_front_end.h"

namespace {
float* Row(SpeechDetector& detector, int32_t slot) {
  return detector.spectrumRing + slot * kReducedBins;
}
}  // namespace

void SendSpectrum(SpeechDetector& detector, int32_t firstFrame, int32_t lastFrame, float** block1,
                  int32_t* count1, float** block2, int32_t* count2) {
  const int32_t rows = lastFrame - firstFrame + 1;
  if (rows < 1) return;  // an empty range hands out nothing
  if (rows > kHistoryFrames || *count1 + *count2 + rows > kHistoryFrames) {
    tprintf7("Too much spectrum to send! Buffer overflow!\n");
    return;
  }
  const int32_t firstSlot = RingSlot(firstFrame, kHistoryFrames);
  const int32_t lastSlot = RingSlot(lastFrame, kHistoryFrames);
  if (firstFrame == lastFrame) {
    if (*count1 == 0) {
      *block1 = Row(detector, firstSlot);
      *count1 = 1;
      *block2 = nullptr;
      *count2 = 0;
    } else if (*count2 > 0) {
      *count2 += 1;
    } else if (firstSlot == 0) {  // block 1 ends at the last row: the ring wrapped
      *block2 = Row(detector, 0);
      *count2 = 1;
    } else {
      *count1 += 1;
    }
    return;
  }
  if (*count1 > 0) {
    tprintf7("Send Spectrum error!\n");
    return;
  }
  *block1 = Row(detector, firstSlot);
  if (firstSlot < lastSlot) {
    *count1 = lastSlot - firstSlot + 1;
    *block2 = nullptr;
    *count2 = 0;
  } else {
    *count1 = kHistoryFrames - firstSlot;
    *block2 = Row(detector, 0);
    *count2 = lastSlot + 1;
  }
}
