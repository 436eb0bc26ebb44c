// KVD_DetectSpeech: checks the line and routes the call to the detection
// mode of the configuration.
#include "engine/kvd_api.h"
#include "engine/speech_detector.h"
#include "kvd/tprintf.h"
#include "pipeline/offline_detection.h"
#include "pipeline/online_detection.h"

namespace {

// Streaming reads the samples and writes all four positions on every call.
bool StreamPointersMissing(const int16_t* samples, int32_t sampleCount, const int32_t* state,
                           const int32_t* start, const int32_t* end, const int32_t* position) {
  return (samples == nullptr && sampleCount > 0) || !state || !start || !end || !position;
}

// A negative length is broken data: the offline modes refuse it as online
// detection does, breaking the line (every later start fails with -90),
// instead of reporting a segment that ends before it starts.
int32_t RefuseNegativeLength(SpeechDetector& detector) {
  tprintf7("%s\n", "KVD_DetectSpeech error! Error data sent to KVD_DetectSpeech.\n");
  detector.errorStatus = KVD_ERR_BAD_DATA;
  return KVD_ERR_BAD_DATA;
}

}  // namespace

int32_t KVD_DetectSpeech(int32_t line, const int16_t* samples, int32_t sampleCount, int32_t* state,
                         int32_t* start, int32_t* end, int32_t* position, float** block1,
                         int32_t* count1, float** block2, int32_t* count2, int32_t reserved) {
  SpeechDetector* detector = GetLine(line);
  if (detector == nullptr) {
    tprintf7("%s\n", "KVD_DetectSpeech Error! NULL pointer to kvd.\n");
    return KVD_ERR_BAD_LINE;
  }
  const int32_t lineState = detector->DetectState;
  if (lineState == KVD_STATE_UNINIT) {
    tprintf7("%s\n", "Error in KVD_DetectSpeech! This line has not been used.\n");
    return KVD_ERR_NOT_OPEN;
  }
  if (lineState == KVD_STATE_IDLE) {
    tprintf7("%s\n", "Error in KVD_DetectSpeech! This line has not been started.\n");
    return KVD_ERR_NOT_STARTED;
  }
  int32_t result = 0;
  const bool offline = detector->IsOneSeg != 1 || detector->IsOnline != 1;
  if (offline && sampleCount < 0) {
    result = RefuseNegativeLength(*detector);
  } else if (detector->IsOneSeg != 1) {
    result = DetectOfflineMultiSeg(*detector, samples, sampleCount, state, start, end, position);
  } else if (detector->IsOnline != 1) {
    result = DetectOfflineOneSeg(*detector, samples, sampleCount, state, start, end, position);
  } else if (StreamPointersMissing(samples, sampleCount, state, start, end, position)) {
    // The caller's mistake: refused without breaking the line.
    tprintf7("%s\n", "KVD_DetectSpeech error! NULL pointer!\n");
    return KVD_ERR_BAD_LINE;
  } else {
    result = Detect(*detector, samples, sampleCount, state, start, end, position, block1, count1,
                    block2, count2, reserved);
  }
  if (result != 0) {
    tprintf7("%s\n", "KVD_DetectSpeech Error! Fail in Detect.\n");
    return result;
  }
  return KVD_OK;
}

int32_t KVD_DetectSpeech(int32_t line, const int16_t* samples, int32_t sampleCount, int32_t* state,
                         int32_t* start, int32_t* end, int32_t* position) {
  return KVD_DetectSpeech(line, samples, sampleCount, state, start, end, position, nullptr, nullptr,
                          nullptr, nullptr, 1);
}
