// Deterministic test signals in closed form, and the bundled sample.
#ifndef KVD_TESTS_SUPPORT_TEST_SIGNALS_H
#define KVD_TESTS_SUPPORT_TEST_SIGNALS_H

#include <cstdint>
#include <string>
#include <vector>

namespace kvdtest {

// amplitude * cos(2 pi hz n / rate), n = 0 .. count-1, as 16-bit PCM rounded
// to nearest and clipped to the 16-bit range.
std::vector<int16_t> CosinePcm(double hz, double amplitude, int sampleRate, int count);

// Uniform white noise in [-amplitude, amplitude] from std::mt19937 with the
// given seed; the conversion of the raw output is done here, so the sequence
// is the same with every standard library.
std::vector<int16_t> WhiteNoisePcm(double amplitude, uint32_t seed, int count);

// Samples of a 16-bit mono recording: a ".wav" file loses its 44-byte header,
// any other file is read whole as raw PCM. Empty when the file cannot be read.
std::vector<int16_t> ReadPcmFile(const std::string& path);

// samples at fromRate Hz resampled to toRate Hz by linear interpolation:
// what lies below both Nyquist limits stays where it was in time.
std::vector<int16_t> ResampledLinear(const std::vector<int16_t>& samples, int fromRate, int toRate);

// Path of a file in samples/.
std::string SamplePath(const std::string& fileName);

}  // namespace kvdtest

#endif  // KVD_TESTS_SUPPORT_TEST_SIGNALS_H
