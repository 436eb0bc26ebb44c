// Test signals of the voice detector: synthetic power spectra of a known
// pitch, and the analysis front end that turns PCM into the power spectra
// the detector is fed.
//
// Power spectra are on the scale of the engine: |X(k)|^2 with X the forward
// FFT of the Hamming-windowed 25 ms frame (frames every 10 ms), zero padded
// to the FFT size (256 points, doubled while a bin is wider than 15.625 Hz)
// and divided by it. A cosine of amplitude A (PCM units) at a bin centre
// therefore peaks at (A / 2 * sum(w) / N)^2, about 4.4e4 for A = 2000 at
// 8000 Hz (sum(w) = 107.5 over 200 samples, N = 512).
#ifndef KVD_TESTS_SUPPORT_VOICE_SIGNALS_H
#define KVD_TESTS_SUPPORT_VOICE_SIGNALS_H

#include <cstdint>
#include <vector>

namespace kvdtest {

// One power spectrum (binCount values) per complete frame of pcm: frame k
// covers samples k * shift .. k * shift + frameSamples - 1. Made of the
// signal layer (platform/ipps.h): window, zero padding, forward real FFT
// divided by N, magnitude of the Perm pairs, squared.
std::vector<std::vector<float>> PowerFrames(const std::vector<int16_t>& pcm, int sampleRateHz);

// Shape of a synthetic voiced spectrum.
struct HarmonicShape {
  int harmonicCount = 10;      // harmonics 1 .. harmonicCount of the pitch
  double amplitude = 2000.0;   // PCM amplitude of harmonic 1
  double tiltPerHarmonic = 0.85;  // amplitude ratio of harmonic h + 1 to h
  double floorPower = 1.0;     // noise floor added to every bin (power units)
};

// Power spectrum of a steady voiced frame of pitch f0Hz built directly in the
// frequency domain: every harmonic contributes the closed-form main and side
// lobes of the Hamming window (continuous-sinc form, 25 ms frame, the engine
// scale above) at h * f0Hz, the contributions add in power, over a flat
// floor. Independent of the FFT layer.
std::vector<float> HarmonicSpectrum(double f0Hz, const HarmonicShape& shape, int sampleRateHz);

// A flat spectrum (every bin the same power).
std::vector<float> FlatSpectrum(double power, int sampleRateHz);

}  // namespace kvdtest

#endif  // KVD_TESTS_SUPPORT_VOICE_SIGNALS_H
