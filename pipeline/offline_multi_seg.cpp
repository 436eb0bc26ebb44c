#include <algorithm>

#include <kvd/tprintf.h>

#include "engine/kvd_api.h"
#include "engine/speech_detector.h"
#include "pipeline/offline_detection.h"
#include "pipeline/offline_shared.h"

namespace {

// Fewer frames than the voice detector's window cannot be analysed.
constexpr int32_t kMinFrames = 30;

// Writes one segment (or none) into the caller's lists, zeros after it.
void WriteSingleEntry(int32_t maxSegments, int32_t* starts, int32_t* ends, bool present,
                      int32_t first, int32_t last) {
  std::fill(starts, starts + std::max(maxSegments, 0), 0);
  std::fill(ends, ends + std::max(maxSegments, 0), 0);
  if (present && maxSegments > 0) {
    starts[0] = first;
    ends[0] = last;
  }
}

}  // namespace

int32_t DetectOfflineMultiSeg(SpeechDetector& detector, const int16_t* data, int32_t sampleCount,
                              int32_t* state, int32_t* starts, int32_t* ends, int32_t* processed) {
  if (data == nullptr || state == nullptr || starts == nullptr || ends == nullptr ||
      processed == nullptr) {
    tprintf7("KVD_DetectSpeech error! NULL pointer!\n");
    detector.errorStatus = KVD_ERR_BAD_DATA;
    return KVD_ERR_BAD_DATA;
  }
  *processed = 0;
  const int32_t frameCount = OfflineFrameCount(detector, sampleCount);
  if (detector.DetectState != before_speech) {
    tprintf7(
        "KVD_DetectSpeech multi-seg offline mode error in KVD_STATE! Forget to reinitialize "
        "KVD?\n");
    detector.errorStatus = KVD_ERR_NOT_STARTED;
    return KVD_ERR_NOT_STARTED;
  }
  if (frameCount < kMinFrames || frameCount < detector.MinSignalLen) {
    tprintf2("Too short wave file!");
    const bool speech = detector.DefaultSpeech == 1;
    tprintf2(speech ? "Default as speech.\n" : "Default as noise or silence.\n");
    WriteSingleEntry(detector.MaxSegNum, starts, ends, speech, 0, sampleCount - 1);
    if (speech) *state = speech_end;
  } else {
    *state = before_speech;
    WriteSingleEntry(detector.MaxSegNum, starts, ends, true, -1, -1);
  }
  detector.errorStatus = KVD_OK;
  *processed = sampleCount;
  return KVD_OK;
}
