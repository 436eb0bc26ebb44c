#include "offline_signals.h"

#include "golden_signals.h"
#include "test_signals.h"

namespace kvdtest {

namespace {
constexpr double kPeakAmplitude = 4000.0;
}  // namespace

std::vector<int16_t> BuildRecording(int sampleRateHz, int totalMs, double noiseAmplitude,
                                    uint32_t seed, const std::vector<Utterance>& utterances) {
  std::vector<int16_t> recording = WhiteNoisePcm(
      noiseAmplitude, seed, static_cast<int>(static_cast<int64_t>(totalMs) * sampleRateHz / 1000));
  for (const Utterance& u : utterances)
    AddVowel(recording, sampleRateHz, u.startMs, u.durationMs, u.f0StartHz, u.f0EndHz, kPeakAmplitude);
  return recording;
}

int SamplesToMs(int32_t samples, int sampleRateHz) {
  return static_cast<int>(static_cast<int64_t>(samples) * 1000 / sampleRateHz);
}

}  // namespace kvdtest
