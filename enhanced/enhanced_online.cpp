#include "enhanced/enhanced_online.h"

#include <algorithm>

#include "engine/kvd_api.h"
#include "enhanced/enhanced_line.h"
#include "pipeline/frame_front_end.h"

namespace {

// A frame is speech for the start when its probability reaches this; inside
// the utterance speech goes on while the probability smoothed over a few
// frames stays at the lower continuation threshold.
constexpr float kStartThreshold = 0.9f;
constexpr float kContinueThreshold = 0.35f;
constexpr float kContinueSmoothing = 0.3f;

void StartUtterance(SpeechDetector& detector, EnhancedLine& line, int32_t t, int32_t* start,
                    const SpectrumHandout& spectra) {
  // The utterance begins at the oldest speech frame of the start window.
  int32_t first = std::max(t - (kStartWindowFrames - 1), 0);
  while (first < t && !line.recentSpeech[RingSlot(first, kStartWindowFrames)]) ++first;
  detector.speechStartSamples = SamplePosition(detector, first);
  SetDetectionState(detector, in_speech);
  if (spectra.Wanted())
    SendSpectrum(detector, first, t, spectra.block1, spectra.count1, spectra.block2,
                 spectra.count2);
  const int32_t startFrame = std::max(first - detector.stRelaxFrames, 0);
  detector.startFrame = startFrame;
  detector.reportedStart = SamplePosition(detector, startFrame);
  *start = detector.reportedStart;
  detector.endFrame = -1;
  line.lastSpeechFrame = t;
}

}  // namespace

void EnhancedOnlineFrame(SpeechDetector& detector, int32_t t, bool dead, int32_t* start,
                         int32_t* end, const SpectrumHandout& spectra) {
  EnhancedLine& line = *detector.enhanced;
  const float probability =
      line.Score(detector.currentPower, detector.magnitude, dead, detector.isDtmf);
  line.smoothed += kContinueSmoothing * (probability - line.smoothed);
  line.recentSpeech[RingSlot(t, kStartWindowFrames)] = probability >= kStartThreshold;

  if (detector.reportedStart == -1) {
    const int32_t speechFrames = static_cast<int32_t>(
        std::count(std::begin(line.recentSpeech), std::end(line.recentSpeech), true));
    if (speechFrames >= kStartSpeechFrames) {
      StartUtterance(detector, line, t, start, spectra);
    } else if (t > detector.MaxWaitFrame) {
      SetDetectionState(detector, no_speech);
    }
    return;
  }
  if (detector.reportedEnd != -1) return;
  if (spectra.Wanted())
    SendSpectrum(detector, t, t, spectra.block1, spectra.count1, spectra.block2, spectra.count2);
  if (line.smoothed >= kContinueThreshold) line.lastSpeechFrame = t;
  if (t - line.lastSpeechFrame >= detector.MaxSilence) detector.endFrame = line.lastSpeechFrame + 1;
  DecideEnd(detector, t, end);
}
