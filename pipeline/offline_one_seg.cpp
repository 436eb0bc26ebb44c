#include <cstddef>

#include <kvd/detect_voice.h>
#include <kvd/tprintf.h>

#include "engine/kvd_api.h"
#include "engine/speech_detector.h"
#include "enhanced/enhanced_offline.h"
#include "pipeline/frame_front_end.h"
#include "pipeline/offline_detection.h"
#include "pipeline/offline_frame.h"
#include "pipeline/offline_one_seg_locate.h"
#include "pipeline/offline_shared.h"

namespace {

// Fewer frames than the voice detector's window cannot be analysed.
constexpr int32_t kMinFrames = CDetectVoice::kWindowFrames;
constexpr int32_t kNewestSlot = CDetectVoice::kWindowFrames - 1;
// Edges this close to either end of the recording are moved onto it.
constexpr int32_t kSnapFrames = 3;

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

// Feeds every frame to the voice detector (continuing from the state the
// line's start left it in) and records each frame's pitch and band variance.
// A frame's pitch is taken when it leaves the 30-frame window; the last 30
// come from the final window. Returns false when KVD_Stop cleared busyFlag.
bool RunVoicePass(SpeechDetector& detector, const int16_t* data) {
  CDetectVoice& voice = *detector.detectVoice;
  const int32_t frameCount = detector.frameCount;
  for (int32_t i = 0; i < frameCount; ++i) {
    AnalyseFrame(detector, data, i);
    voice.UpdateBuf(detector.currentPower, true);
    voice.DetectVoice();
    if (i >= kNewestSlot) {
      detector.voiceFlags[static_cast<std::size_t>(i - kNewestSlot)] = voice.VoicePitch[0];
    }
    if (detector.busyFlag.load() == 0) return false;
  }
  for (int32_t k = 0; k < CDetectVoice::kWindowFrames; ++k) {
    detector.voiceFlags[static_cast<std::size_t>(frameCount - CDetectVoice::kWindowFrames + k)] =
        voice.VoicePitch[k];
  }
  return true;
}

// KVD_Stop ended the call: nothing is reported.
int32_t ReportStopped(const SpeechDetector& detector, int32_t* state, int32_t* start, int32_t* end,
                      int32_t* processed) {
  *state = before_speech;
  *processed = 0;
  *start = 0;
  *end = -1;
  tprintf2("KVD_DetectSpeech warning! Stop KVD_DetectSpeech from outside!\n");
  return detector.errorStatus;
}

// The enhanced mode's segment: its first to its last speech frame.
bool SpanOfSpeechLabels(const SpeechDetector& detector, SegmentFrames& segment) {
  const int16_t* labels = detector.labels.data();
  int32_t first = 0;
  while (first < detector.frameCount && labels[first] <= 0) ++first;
  if (first == detector.frameCount) return false;
  int32_t last = detector.frameCount - 1;
  while (labels[last] <= 0) --last;
  segment = {first, last};
  return true;
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
    ReportDefault(detector, sampleCount, state, start, end);
    detector.errorStatus = KVD_OK;
    *processed = sampleCount;
    return KVD_OK;
  }

  OfflineArrays arrays(detector);
  if (!arrays.Allocate(frameCount, frameCount, frameCount, 0)) {
    tprintf7("KVD_DetectSpeech single-seg offline error! Cannot allocate memory!\n");
    detector.errorStatus = KVD_ERR_OFFLINE;
    return KVD_ERR_OFFLINE;
  }
  SegmentFrames segment{};
  bool found = false;
  if (detector.enhanced != nullptr) {
    const LabelOutcome outcome = LabelSpeechFrames(detector, data);
    if (outcome == LabelOutcome::kStopped) return ReportStopped(detector, state, start, end, processed);
    if (outcome == LabelOutcome::kNoMemory) {
      detector.errorStatus = KVD_ERR_OFFLINE;
      return KVD_ERR_OFFLINE;
    }
    found = SpanOfSpeechLabels(detector, segment);
  } else {
    ComputeFrameEnergies(detector, data);
    FindBackground(detector);
    if (!RunVoicePass(detector, data)) return ReportStopped(detector, state, start, end, processed);
    if (detector.maxEnergy <= detector.floorValue) {
      tprintf7("Signal dynamic range too small!\n");
      ReportDefault(detector, sampleCount, state, start, end);
      detector.errorStatus = KVD_OK;
      *processed = sampleCount;
      return KVD_OK;
    }
    found = LocateOneSegment(detector, segment);
  }
  if (!found) {
    *state = before_speech;
    *processed = sampleCount;
    *start = 0;
    *end = 0;
    return detector.errorStatus;
  }
  *start = segment.startFrame < kSnapFrames ? 0 : detector.frameShift * segment.startFrame;
  *end = segment.endFrame >= frameCount - kSnapFrames ? sampleCount - 1
                                                     : detector.frameShift * segment.endFrame;
  *state = speech_end;
  *processed = sampleCount;
  return detector.errorStatus;
}
