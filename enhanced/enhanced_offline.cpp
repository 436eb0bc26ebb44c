#include "enhanced/enhanced_offline.h"

#include <kvd/tprintf.h>

#include <algorithm>
#include <cstddef>
#include <new>

#include "classifiers/dtmf_check.h"
#include "engine/speech_detector.h"
#include "enhanced/enhanced_line.h"
#include "enhanced/segment_picker.h"
#include "pipeline/frame_front_end.h"
#include "platform/ipps.h"

namespace {

// How the offline detections turn probabilities into speech, chosen on the
// tuning half of the corpus (docs/evaluation.md).
constexpr SegmentRules kOfflineRules{0.5f, 6, 10, 30, 1};

}  // namespace

bool ScoreRecording(SpeechDetector& detector, const int16_t* data, int32_t frameCount,
                    std::vector<float>& probability, std::vector<float>* features) {
  EnhancedLine& line = *detector.enhanced;
  line.Reset();
  std::fill(std::begin(detector.ToneFlag), std::end(detector.ToneFlag), false);
  std::fill(std::begin(detector.ToneEnergy), std::end(detector.ToneEnergy), 0.0f);
  probability.assign(static_cast<size_t>(frameCount), 0.0f);
  if (features != nullptr) features->assign(static_cast<size_t>(frameCount) * kFeatureCount, 0.0f);
  float* power = detector.AllFramesBinEnergy;
  detector.currentPower = power;
  for (int32_t f = 0; f < frameCount; ++f) {
    ippsConvert_16s32f(data + static_cast<size_t>(f) * detector.frameShift, detector.ffts,
                       detector.frameLength);
    const bool dead = IsDeadFrame(detector);
    ComputeSpectrum(detector, dead, f, power, detector.magnitude);
    bool tone = false;
    if (!dead && detector.UseCheckDTMF) {
      tone = CheckDTMF(detector.ToneState(), f, power);
    } else {
      detector.ToneFlag[RingSlot(f, kToneRingFrames)] = false;
    }
    probability[static_cast<size_t>(f)] = line.Score(power, detector.magnitude, dead, tone);
    if (features != nullptr)
      std::copy(line.Features(), line.Features() + kFeatureCount,
                features->begin() + static_cast<std::ptrdiff_t>(f) * kFeatureCount);
    if (detector.busyFlag.load() == 0) return false;
  }
  return true;
}

LabelOutcome LabelSpeechFrames(SpeechDetector& detector, const int16_t* data) {
  const int32_t frameCount = detector.frameCount;
  int16_t* labels = detector.labels.data();
  try {
    std::vector<float> probability;
    if (!ScoreRecording(detector, data, frameCount, probability, nullptr))
      return LabelOutcome::kStopped;
    std::fill(labels, labels + frameCount, int16_t{-1});
    for (const FrameSegment& s : PickSegments(probability, kOfflineRules))
      std::fill(labels + s.first, labels + s.end, int16_t{1});
  } catch (const std::bad_alloc&) {
    tprintf7("KVD_DetectSpeech offline error! Cannot allocate memory!\n");
    return LabelOutcome::kNoMemory;
  }
  return LabelOutcome::kLabelled;
}
