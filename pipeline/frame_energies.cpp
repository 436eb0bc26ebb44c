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
  const int32_t bins = detector.binCount;
  // The spectra and band variances are kept for the later passes when room
  // was made for them. The band variance needs the band's power sum, which
  // is the band energy before the background floor.
  const bool keep = detector.framePowers.size() == static_cast<size_t>(frames) * bins &&
                    detector.frameBandVar.size() == static_cast<size_t>(frames);
  for (int32_t i = 0; i < frames; ++i) {
    detector.frameIndex = i;
    ippsConvert_16s32f(signal + i * detector.frameShift, detector.ffts, detector.frameLength);
    const bool dead = IsDeadFrame(detector);
    ComputeSpectrum(detector, dead, i, detector.currentPower, detector.magnitude);
    float bandEnergy = 0.0f;
    if (endBin > firstBin)
      ippsSum_32f(detector.currentPower + firstBin, endBin - firstBin, &bandEnergy, ippAlgHintFast);
    energy[i] = std::max(bandEnergy, background);
    if (keep) {
      std::copy_n(detector.currentPower, bins, detector.framePowers.data() + static_cast<size_t>(i) * bins);
      detector.frameBandVar[static_cast<size_t>(i)] =
          GetBandVarianceOfPowerSum(bandEnergy, detector.magnitude, firstBin, endBin, true);
    }
  }
  float mean = 0.0f;
  ippsMean_32f(energy, frames, &mean, ippAlgHintFast);
  float level = mean * detector.BakgroundEnergyRelativeOffline;
  if (level <= background) level = background;
  detector.floorValue = level;
  if (level > background)
    for (int32_t i = 0; i < frames; ++i) energy[i] = std::max(energy[i], level);
}
