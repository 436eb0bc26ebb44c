#include "enhanced/speech_model.h"

#include <algorithm>
#include <cmath>

float SpeechProbability(const float* features) {
  const SpeechModelWeights& m = kSpeechModel;
  float input[kFeatureCount];
  for (int32_t i = 0; i < kFeatureCount; ++i) input[i] = (features[i] - m.mean[i]) * m.scale[i];
  float sum = m.outputBias;
  for (int32_t h = 0; h < kHiddenUnits; ++h) {
    float unit = m.hiddenBias[h];
    for (int32_t i = 0; i < kFeatureCount; ++i) unit += m.hidden[h][i] * input[i];
    sum += m.output[h] * std::max(unit, 0.0f);
  }
  return 1.0f / (1.0f + std::exp(-sum));
}
