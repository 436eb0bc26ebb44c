// Recordings for the offline detections, built from pieces whose placement is
// known to the sample: harmonic "vowels" (AddVowel of golden_signals.h: a
// gliding pitch under three formants, loudness dipping at a syllable rate,
// 20 ms edges) laid onto a bed of white noise of a known level.
#ifndef KVD_TESTS_SUPPORT_OFFLINE_SIGNALS_H
#define KVD_TESTS_SUPPORT_OFFLINE_SIGNALS_H

#include <cstdint>
#include <vector>

namespace kvdtest {

// One vowel placed in a recording, in milliseconds from its start; a
// harmonic on a formant peak has the PCM amplitude 4000.
struct Utterance {
  int startMs;
  int durationMs;
  double f0StartHz = 120.0;
  double f0EndHz = 160.0;
};

// A recording of totalMs: uniform white noise of amplitude noiseAmplitude
// (WhiteNoisePcm with the given seed) plus every utterance, added with
// saturation at its exact sample position.
std::vector<int16_t> BuildRecording(int sampleRateHz, int totalMs, double noiseAmplitude,
                                    uint32_t seed, const std::vector<Utterance>& utterances);

// Milliseconds of a sample index, truncated.
int SamplesToMs(int32_t samples, int sampleRateHz);

}  // namespace kvdtest

#endif  // KVD_TESTS_SUPPORT_OFFLINE_SIGNALS_H
