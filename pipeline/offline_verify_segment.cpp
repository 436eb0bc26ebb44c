#include "pipeline/offline_verify_segment.h"

#include <kvd/detect_voice.h>

#include "pipeline/offline_frame.h"
#include "pipeline/offline_labels.h"
#include "pipeline/offline_multi_seg_edges.h"

namespace {

constexpr int32_t kWindow = CDetectVoice::kWindowFrames;
constexpr int32_t kNewestSlot = kWindow - 1;

// Copies the window's pitches to the frames firstFrame .. firstFrame + 29
// (slot 0 to the first), skipping frames before 0.
void CopyWindow(const CDetectVoice& voice, int16_t* voiceFlags, int32_t firstFrame) {
  for (int32_t k = 0; k < kWindow; ++k) {
    if (firstFrame + k >= 0) voiceFlags[firstFrame + k] = voice.VoicePitch[k];
  }
}

// Voiced slots among 1 .. 29 of the window.
int32_t VoicedInWindowAfterOldest(const CDetectVoice& voice) {
  int32_t voiced = 0;
  for (int32_t k = 1; k < kWindow; ++k) {
    if (voice.VoicePitch[k] > 0) ++voiced;
  }
  return voiced;
}

int32_t CountCandidates(const int16_t* labels, int32_t first, int32_t last) {
  int32_t count = 0;
  for (int32_t i = first; i <= last; ++i) {
    if (labels[i] > 0) ++count;
  }
  return count;
}

// The forward voice test; returns the frame after the one on which it
// ended, or -1 when the candidate is rejected.
int32_t RunVoiceTest(SpeechDetector& detector, const int16_t* data, int32_t first, int32_t last) {
  CDetectVoice& voice = *detector.detectVoice;
  int16_t* voiceFlags = detector.voiceFlags.data();
  const float candidates =
      static_cast<float>(CountCandidates(detector.labels.data(), first, last));
  int32_t voicedLeft = 0;  // voiced frames that have left the window
  voice.ReInit();
  for (int32_t f = first; f <= last; ++f) {
    AnalyseFrame(detector, data, f);
    voice.UpdateBuf(detector.currentPower, true);
    if (f >= first + kNewestSlot) {
      voice.DetectVoice();
      CopyWindow(voice, voiceFlags, f - kNewestSlot);
    }
    if (voice.VoicePitch[0] > 0) ++voicedLeft;
    const int32_t voiced = voicedLeft + VoicedInWindowAfterOldest(voice);
    if (voiced > detector.SpeechSegMinVoiceLen_sec ||
        static_cast<float>(voiced) > candidates * detector.SpeechSegMinVoiceRatio) {
      return f + 1;
    }
  }
  return -1;
}

// Voice flags of frames next .. last, which the voice test did not reach.
void CompleteVoiceFlags(SpeechDetector& detector, const int16_t* data, int32_t first,
                        int32_t next, int32_t last) {
  CDetectVoice& voice = *detector.detectVoice;
  int16_t* voiceFlags = detector.voiceFlags.data();
  if (next < last - kWindow) {
    voice.ReInit();
    for (int32_t g = last; g > next; --g) {
      AnalyseFrame(detector, data, g);
      voice.ReverseUpdateBuf(detector.currentPower, true);
      if (g <= last - kNewestSlot) {
        voice.DetectVoice();
        CopyWindow(voice, voiceFlags, g);
      }
    }
    return;
  }
  for (int32_t g = next; g < last; ++g) {
    AnalyseFrame(detector, data, g);
    voice.UpdateBuf(detector.currentPower, true);
    if (g >= first + kNewestSlot) voice.DetectVoice();
    CopyWindow(voice, voiceFlags, g - kNewestSlot);
  }
}

}  // namespace

void VerifySegment(SpeechDetector& detector, const int16_t* data, int32_t first, int32_t last,
                   float peakLevel) {
  const int32_t next = RunVoiceTest(detector, data, first, last);
  if (next < 0) {
    SetLabels(detector.labels.data(), first, last, kLabelUnvoiced);
    return;
  }
  CompleteVoiceFlags(detector, data, first, next, last);
  RefineCandidate(detector.frameEnergy.data(), detector.labels.data(),
                  detector.voiceFlags.data(), detector.bandVar.data(), detector.frameCount,
                  CandidateEdges{first, last, detector.floorValue, peakLevel,
                                 detector.ExtendSpeechLen_sec});
}
