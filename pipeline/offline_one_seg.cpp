#include <kvd/tprintf.h>

#include "engine/kvd_api.h"
#include "engine/speech_detector.h"
#include "pipeline/offline_detection.h"
#include "pipeline/offline_shared.h"

namespace {

// Fewer frames than the voice detector's window cannot be analysed.
constexpr int32_t kMinFrames = 30;

// A recording that cannot be analysed is speech from its first to its last
// sample when DefaultSpeech is 1; otherwise nothing is reported.
void ReportDefault(const SpeechDetector& detector, int32_t sampleCount, int32_t* state,
                   int32_t* start, int32_t* end) {
  if (detector.DefaultSpeech == 1) {
    tprintf2("Default as speech.\n");
    *start = 0;
    *end = sampleCount - 1;
    *state = speech_end;
  } else {
    tprintf2("Default as noise or silence.\n");
  }
}

}  // namespace

int32_t DetectOfflineOneSeg(SpeechDetector& detector, const int16_t* data, int32_t sampleCount,
                            int32_t* state, int32_t* start, int32_t* end, int32_t* processed) {
  if (data == nullptr || state == nullptr || start == nullptr || end == nullptr ||
      processed == nullptr) {
    tprintf7("KVD_DetectSpeech error! NULL pointer!\n");
    detector.errorStatus = KVD_ERR_BAD_DATA;
    return KVD_ERR_BAD_DATA;
  }
  *processed = 0;
  const int32_t frameCount = OfflineFrameCount(detector, sampleCount);
  if (detector.DetectState != before_speech) {
    tprintf7("KVD_DetectSpeech offline mode error in KVD_STATE! Forget to reinitialize KVD?\n");
    detector.errorStatus = KVD_ERR_NOT_STARTED;
    return KVD_ERR_NOT_STARTED;
  }
  if (frameCount < kMinFrames || frameCount < detector.MinSignalLen) {
    tprintf2("Too short wave file!");
  } else {
    tprintf7("Signal dynamic range too small!\n");
  }
  ReportDefault(detector, sampleCount, state, start, end);
  detector.errorStatus = KVD_OK;
  *processed = sampleCount;
  return KVD_OK;
}
