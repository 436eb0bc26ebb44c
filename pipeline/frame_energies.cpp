// ComputeFrameEnergies: the detection-band energy of every frame of a whole
// signal, for the offline modes.
#include <algorithm>

#include "pipeline/frame_front_end.h"
#include "platform/ipps.h"

void ComputeFrameEnergies(SpeechDetector& detector, const int16_t* signal) {
  const int32_t frames = detector.frameCount;
  float* energy = detector.frameEnergy.data();
  const float background = detector.BackgroundEnergyOffline;
  // Every frame reuses the first power row.
  detector.currentPower = detector.AllFramesBinEnergy;
  ippsZero_32f(energy, frames);
  // The configured band, limited to the bins a spectrum has.
  const int32_t firstBin = std::clamp(detector.DetectSpecLowBorder_Hz, 0, detector.binCount);
  const int32_t endBin = std::clamp(detector.DetectSpecHighBorder_Hz, 0, detector.binCount);
  for (int32_t i = 0; i < frames; ++i) {
    detector.frameIndex = i;
    ippsConvert_16s32f(signal + i * detector.frameShift, detector.ffts, detector.frameLength);
    const bool dead = IsDeadFrame(detector);
    ComputeSpectrum(detector, dead, i, detector.currentPower, detector.magnitude);
    float bandEnergy = 0.0f;
    if (endBin > firstBin)
      ippsSum_32f(detector.currentPower + firstBin, endBin - firstBin, &bandEnergy, ippAlgHintFast);
    energy[i] = std::max(bandEnergy, background);
  }
  float mean = 0.0f;
  ippsMean_32f(energy, frames, &mean, ippAlgHintFast);
  float level = mean * detector.BakgroundEnergyRelativeOffline;
  if (level <= background) level = background;
  detector.floorValue = level;
  if (level > background)
    for (int32_t i = 0; i < frames; ++i) energy[i] = std::max(energy[i], level);
}
