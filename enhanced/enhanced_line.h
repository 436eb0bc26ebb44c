// The enhanced decision mode's part of one line: the feature tracker, the
// last frame's features and speech probability, and the online endpointer's
// memory. A line owns one while its configuration selects the enhanced mode
// (DecisionMode = enhanced); otherwise it has none and nothing of this runs.
#ifndef KVD_ENHANCED_ENHANCED_LINE_H
#define KVD_ENHANCED_ENHANCED_LINE_H

#include <cstdint>

#include "enhanced/frame_features.h"

// Frames the online start looks back over, and how many of them must be
// confident speech: half of the last 100 ms.
constexpr int32_t kStartWindowFrames = 10;
constexpr int32_t kStartSpeechFrames = 5;

class EnhancedLine {
 public:
  EnhancedLine(int32_t fftSize, int32_t sampleRate)
      : features_(fftSize, sampleRate) {}

  // Forgets the recording: the next frame is frame 0.
  void Reset();

  // Features and speech probability of the next frame from its spectra
  // (fftSize / 2 bins each). A dual-tone frame is never speech.
  float Score(const float* power, const float* magnitude, bool dead, bool dualTone);

  const float* Features() const { return vector_; }
  float Probability() const { return probability_; }

  // --- online endpointer, frames ---
  // Speech verdicts of the last kStartWindowFrames frames, slot = frame mod
  // the window.
  bool recentSpeech[kStartWindowFrames] = {};
  int32_t lastSpeechFrame = -1;  // last frame of the utterance judged speech
  float smoothed = 0.0f;         // speech probability smoothed over a few frames

 private:
  FrameFeatures features_;
  float vector_[kFeatureCount] = {};
  float probability_ = 0.0f;
};

#endif  // KVD_ENHANCED_ENHANCED_LINE_H
