#include "energy_signals.h"

#include <cstddef>

namespace kvdtest {

namespace {

// A power spectrum of detector.BinNum bins that is zero except for the first
// bin of each band, which holds that band's energy: the band sums are exact.
std::vector<float> BandSpectrum(const CDetectEnergy& detector, const BandLevels& energies) {
  std::vector<float> spectrum(static_cast<std::size_t>(detector.BinNum), 0.0f);
  for (int32_t band = 0; band < CDetectEnergy::kBandCount; ++band) {
    spectrum[static_cast<std::size_t>(detector.BandEdge[band][0])] = energies[band];
  }
  return spectrum;
}

}  // namespace

void LoadDefaultSettings(CDetectEnergy& detector, int32_t maxSilenceFrames) {
  detector.SpreadFactor = 1000.0f;
  detector.MaxSilence = maxSilenceFrames;
  detector.NoiseFloor = 0.4f;
  for (int32_t band = 0; band < CDetectEnergy::kBandCount; ++band) {
    detector.BandThdCap[band] = 1000000.0f;
    detector.BandThdInit[band] = 500000.0f;
    detector.BandThdFloor[band] = 5000.0f;
    detector.BandThd[band] = detector.BandThdInit[band];
  }
  detector.ReInit();
}

EnergyFeeder::EnergyFeeder(CDetectEnergy& detector) : detector_(detector) {}

int32_t EnergyFeeder::Feed(int32_t t, const BandLevels& energies, bool usable) {
  usable_[t % CDetectEnergy::kUsableRingFrames] = usable;
  const std::vector<float> spectrum = BandSpectrum(detector_, energies);
  return detector_.UpdateBandEnergy(spectrum.data(), t, usable_);
}

void EnergyFeeder::FeedConstant(int32_t first, int32_t last, const BandLevels& energies) {
  for (int32_t t = first; t <= last; ++t) {
    Feed(t, energies);
  }
}

}  // namespace kvdtest
