// GetOneFrame: overlapping frames out of a stream that arrives in chunks.
#include <algorithm>

#include "engine/kvd_api.h"
#include "kvd/tprintf.h"
#include "pipeline/frame_front_end.h"
#include "platform/ipps.h"

int32_t GetOneFrame(SpeechDetector& detector) {
  detector.frameReady = false;
  if (detector.errorStatus != 0) {
    tprintf7("%s\n", "Error to begin GetOneFrame!");
    return detector.errorStatus;
  }
  const int32_t kept = detector.historyLength;
  const int32_t pending = detector.newDataLength;
  if (pending < 0 || kept < 0) {
    tprintf7("%s\n", pending < 0 ? "Error in sending data! NewDataLen belows zero!\n"
                                 : "Error in sending data! HistoryDataLen belows zero!\n");
    detector.errorStatus = KVD_ERR_BAD_DATA;
    return KVD_ERR_BAD_DATA;
  }
  const int32_t length = detector.frameLength;
  const int32_t shift = detector.frameShift;
  int16_t* buffer = detector.DataBuffer;
  const int16_t* fresh = detector.newData;

  if (kept + pending < length) {
    std::copy_n(fresh, pending, buffer + kept);
    detector.historyLength = kept + pending;
    detector.newDataLength = 0;
    return detector.errorStatus;
  }

  detector.frameReady = true;
  ippsConvert_16s32f(buffer, detector.ffts, kept);
  ippsConvert_16s32f(fresh, detector.ffts + kept, length - kept);

  // The next frame starts `shift` samples later in kept + pending. The kept
  // samples move towards the front of DataBuffer: regions may overlap, and a
  // forward copy is right because the destination lies before the source.
  if (kept + pending >= length + shift) {
    // The next frame is complete as well: keep the pending samples pending.
    if (kept > shift) {
      std::copy(buffer + shift, buffer + kept, buffer);
      detector.historyLength = kept - shift;
    } else {
      detector.historyLength = 0;
      detector.newData = fresh + (shift - kept);
      detector.newDataLength = kept + pending - shift;
    }
    return detector.errorStatus;
  }
  // Keep the kept + pending - shift samples that begin the next frame.
  if (kept > shift) {
    std::copy(buffer + shift, buffer + kept, buffer);
    std::copy_n(fresh, pending, buffer + (kept - shift));
  } else {
    std::copy(fresh + (shift - kept), fresh + pending, buffer);
  }
  detector.historyLength = kept + pending - shift;
  detector.newDataLength = 0;
  return detector.errorStatus;
}
