// Synthetic band energies for the energy detector: power spectra whose band
// sums are known exactly, and a detector loaded as its owner would load it.
#ifndef KVD_TESTS_SUPPORT_ENERGY_SIGNALS_H
#define KVD_TESTS_SUPPORT_ENERGY_SIGNALS_H

#include <array>
#include <cstdint>
#include <vector>

#include "classifiers/detect_energy.h"

namespace kvdtest {

using BandLevels = std::array<float, CDetectEnergy::kBandCount>;

// A detector at 8000 Hz (512-point FFT) loaded with the owner's settings at
// Sensitivity 0.5 and AverageGain 0 dB: SpreadFactor 1000, cap 1e6,
// initial threshold 5e5, floor 5e3, NoiseFloor 0.4; thresholds at their
// initial value, histories cleared.
void LoadDefaultSettings(CDetectEnergy& detector, int32_t maxSilenceFrames);

// Feeds frames to UpdateBandEnergy with their own usable-frame ring, as the
// online loop does.
class EnergyFeeder {
 public:
  explicit EnergyFeeder(CDetectEnergy& detector);
  // Frame t with the given band energies; an unusable frame is stored as 0.
  int32_t Feed(int32_t t, const BandLevels& energies, bool usable = true);
  // Frames first .. last with the same band energies.
  void FeedConstant(int32_t first, int32_t last, const BandLevels& energies);

 private:
  CDetectEnergy& detector_;
  bool usable_[CDetectEnergy::kUsableRingFrames] = {};
};

}  // namespace kvdtest

#endif  // KVD_TESTS_SUPPORT_ENERGY_SIGNALS_H
