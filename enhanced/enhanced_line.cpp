#include "enhanced/enhanced_line.h"

#include <algorithm>

#include "enhanced/speech_model.h"

void EnhancedLine::Reset() {
  features_.Reset();
  std::fill(std::begin(vector_), std::end(vector_), 0.0f);
  probability_ = 0.0f;
  std::fill(std::begin(recentSpeech), std::end(recentSpeech), false);
  lastSpeechFrame = -1;
  smoothed = 0.0f;
}

float EnhancedLine::Score(const float* power, const float* magnitude, bool dead, bool dualTone) {
  features_.Compute(power, magnitude, dead, dualTone, vector_);
  probability_ = (dead || dualTone) ? 0.0f : SpeechProbability(vector_);
  return probability_;
}
