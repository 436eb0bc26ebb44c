// Recordings of the golden-output regression set: the bundled sample and
// synthetic recordings generated at test time. The generators are kept apart
// from the other test signals so that the set never changes when those do;
// every random value comes from std::mt19937 with a fixed seed, converted
// here, so the samples are the same with every standard library.
#ifndef KVD_TESTS_SUPPORT_GOLDEN_SIGNALS_H
#define KVD_TESTS_SUPPORT_GOLDEN_SIGNALS_H

#include <cstdint>
#include <string>
#include <vector>

namespace kvdtest {

struct GoldenRecording {
  std::string name;  // also the stem of its data file
  int sampleRate;    // Hz
  std::vector<int16_t> pcm;
};

// Uniform white noise in [-amplitude, amplitude), count samples.
std::vector<int16_t> GoldenNoise(double amplitude, uint32_t seed, int count);

// Adds a harmonic vowel of durationMs from startMs: harmonics of a pitch
// gliding from f0StartHz to f0EndHz up to 3400 Hz, weighted by formant
// resonances at 700, 1200 and 2600 Hz, loudness dipping four times a second,
// with 20 ms raised-cosine edges;
// peakAmplitude is the PCM amplitude of a harmonic on a formant peak.
void AddVowel(std::vector<int16_t>& pcm, int sampleRate, int startMs, int durationMs,
              double f0StartHz, double f0EndHz, double peakAmplitude);

// Adds a keypad tone: the two frequencies, each of the given amplitude.
void AddKeyTone(std::vector<int16_t>& pcm, int sampleRate, int startMs, int durationMs,
                double lowHz, double highHz, double amplitude);

// The whole set: the bundled sample (8000 Hz) and, at 8000 and 16000 Hz, a
// vowel in noise, silence (faint noise only), a run of keypad tones,
// several utterances with pauses between them, and 40 s of talk (many vowels
// of varied pitch and length, noise of four levels, one keypad digit).
std::vector<GoldenRecording> GoldenRecordings();

}  // namespace kvdtest

#endif  // KVD_TESTS_SUPPORT_GOLDEN_SIGNALS_H
