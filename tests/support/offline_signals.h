// Recordings for the offline detections, built from pieces whose placement is
// known to the sample: harmonic "vowels" with a pitch contour and a
// formant-like envelope, laid onto a bed of white noise of a known level.
#ifndef KVD_TESTS_SUPPORT_OFFLINE_SIGNALS_H
#define KVD_TESTS_SUPPORT_OFFLINE_SIGNALS_H

#include <cstdint>
#include <vector>

namespace kvdtest {

// A voiced sound: harmonics of a pitch that glides linearly from f0StartHz to
// f0EndHz, each weighted by the resonances of three formants, up to the
// telephone band edge; its loudness swells and dips at a syllable rate (as
// speech does, so that no second of it is as steady as background noise);
// raised-cosine fade in and out.
struct VowelShape {
  double f0StartHz = 120.0;
  double f0EndHz = 160.0;
  double formantHz[3] = {700.0, 1200.0, 2600.0};
  double formantBandwidthHz = 150.0;
  double peakAmplitude = 4000.0;  // PCM amplitude of a harmonic on a formant peak
  double fadeMs = 20.0;
  double syllableRateHz = 4.0;  // loudness dips per second
  double dipDepth = 0.7;        // amplitude lost at the bottom of a dip, 0 .. 1
};

// sampleCount samples of the vowel at sampleRateHz (no noise).
std::vector<int16_t> VowelPcm(const VowelShape& shape, int sampleRateHz, int sampleCount);

// One vowel placed in a recording, in milliseconds from its start.
struct Utterance {
  int startMs;
  int durationMs;
  VowelShape shape;
};

// A recording of totalMs: uniform white noise of amplitude noiseAmplitude
// (std::mt19937 with the given seed) plus every utterance, added with
// saturation at its exact sample position.
std::vector<int16_t> BuildRecording(int sampleRateHz, int totalMs, double noiseAmplitude,
                                    uint32_t seed, const std::vector<Utterance>& utterances);

// Sample index of a time in milliseconds.
int MsToSamples(int ms, int sampleRateHz);

// Milliseconds of a sample index, truncated.
int SamplesToMs(int32_t samples, int sampleRateHz);

}  // namespace kvdtest

#endif  // KVD_TESTS_SUPPORT_OFFLINE_SIGNALS_H
