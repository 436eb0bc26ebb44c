// The analysis front end of the voice detector's tests: PCM to the power
// spectra the detector is fed, on the scale of the engine: |X(k)|^2 with X
// the forward FFT of the Hamming-windowed 25 ms frame (frames every 10 ms),
// zero padded to the FFT size (256 points, doubled while a bin is wider than
// 15.625 Hz) and divided by it.
#ifndef KVD_TESTS_SUPPORT_VOICE_SIGNALS_H
#define KVD_TESTS_SUPPORT_VOICE_SIGNALS_H

#include <cstdint>
#include <vector>

namespace kvdtest {

// One power spectrum (FFT size / 2 values) per complete frame of pcm: frame
// k covers samples k * shift .. k * shift + frameSamples - 1. Made of the
// signal layer (platform/ipps.h): window, zero padding, forward real FFT
// divided by N, magnitude of the Perm pairs, squared.
std::vector<std::vector<float>> PowerFrames(const std::vector<int16_t>& pcm, int sampleRateHz);

}  // namespace kvdtest

#endif  // KVD_TESTS_SUPPORT_VOICE_SIGNALS_H
