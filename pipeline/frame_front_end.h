// Frame front end of a line: turns 16-bit PCM into 25 ms frames every 10 ms
// and each frame into its spectra.
//
// Usage, per frame of a stream (online):
//   detector.newData = samples; detector.newDataLength = count;
//   GetOneFrame(detector);                  // frame into ffts when frameReady
//   while (detector.frameReady) {
//     const bool dead = IsDeadFrame(detector);
//     ComputeSpectrum(detector, dead, frame, power, magnitude);
//     ...
//     GetOneFrame(detector);                // next frame of the pending samples
//   }
//
// Spectra are on the scale of a forward FFT divided by fftSize, of the
// Hamming-windowed frame zero padded to fftSize: magnitude[k] = |X(k)| for
// k = 1 .. binCount-1, magnitude[0] = sqrt(X(0)^2 + X(fftSize/2)^2) (the DC
// and Nyquist terms share the first packed pair), power = magnitude^2.
//
// Every operation works on one line's record only and takes no lock.
#ifndef KVD_PIPELINE_FRAME_FRONT_END_H
#define KVD_PIPELINE_FRAME_FRONT_END_H

#include <cstdint>

#include "engine/speech_detector.h"

// Cuts the next frame out of the samples kept from earlier calls
// (DataBuffer, historyLength) followed by the pending ones (newData,
// newDataLength). When a whole frame is there, it is converted to float into
// ffts[0 .. frameLength-1] and frameReady is set; the samples that begin the
// following frames stay pending or kept. Returns 0, or the line's sticky
// error (-90 for a negative length, which is recorded in errorStatus).
int32_t GetOneFrame(SpeechDetector& detector);

// True for a frame without usable signal: its first frameLength values of
// ffts are constant (standard deviation below 1e-6, hence a peak-to-peak
// range below deadRange as well). A quiet but varying frame is not dead: it
// is the background the energy detector has to learn.
bool IsDeadFrame(const SpeechDetector& detector);

// Spectra of the frame in ffts (consumed: windowed and transformed in place).
//   dead      [in]  the frame is dead: power, magnitude and its ring row are
//                   zeroed without a transform
//   frame     [in]  frame number; row frame mod 500 of spectrumRing receives
//                   128 magnitudes, value j = magnitude[j * fftSize / 256]
//   power     [out] binCount power values
//   magnitude [out] binCount magnitudes
// Returns 0.
int32_t ComputeSpectrum(SpeechDetector& detector, bool dead, int32_t frame, float* power,
                        float* magnitude);

// Variance of the magnitudes inside bins firstBin .. endBin-1:
// (m * sum(power) - sum(magnitude)^2) / m^2 with m = endBin - firstBin.
// 0 when usable is false or the range is empty.
float GetBandVariance(const float* power, const float* magnitude, int32_t firstBin, int32_t endBin,
                      bool usable);
// The same with the power sum over the range already made (ippsSum_32f of
// power[firstBin .. endBin-1], as the energy detector's band energy of a
// usable frame is): the result is GetBandVariance's, bit for bit.
float GetBandVarianceOfPowerSum(float powerSum, const float* magnitude, int32_t firstBin,
                                int32_t endBin, bool usable);

// Offline: the band energy of every frame of a whole signal into frameEnergy
// (frameCount entries): the power summed over the detection band
// (DetectSpecLowBorder_Hz .. DetectSpecHighBorder_Hz, bins, end excluded,
// limited to the spectrum), at least BackgroundEnergyOffline. floorValue
// becomes BakgroundEnergyRelativeOffline x the mean energy, at least
// BackgroundEnergyOffline, and no energy stays below it.
void ComputeFrameEnergies(SpeechDetector& detector, const int16_t* signal);

// Hands the caller the ring rows (128 floats each) of frames firstFrame ..
// lastFrame as at most two contiguous blocks (the ring wraps after row 499).
// Counts are numbers of rows and accumulate within one detection call: a
// single frame (firstFrame = lastFrame) is appended, a range needs empty
// counts. A request beyond 500 rows in all, or a range after rows were
// handed out, is refused with a message and changes nothing.
void SendSpectrum(SpeechDetector& detector, int32_t firstFrame, int32_t lastFrame, float** block1,
                  int32_t* count1, float** block2, int32_t* count2);

#endif  // KVD_PIPELINE_FRAME_FRONT_END_H
