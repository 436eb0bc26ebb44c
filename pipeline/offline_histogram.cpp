#include "pipeline/offline_histogram.h"

namespace {

constexpr int32_t kTopBin = kHistogramBins - 1;
// Bin width as a fraction of the energy span (100 bins).
constexpr float kStepFraction = 0.01f;
// The threshold search takes falling bins until half of all frames lie
// below it, rising bins only until a tenth does.
constexpr float kQuietMassLimit = 0.5f;
constexpr float kRisingMassLimit = 0.1f;
// The peak search does not climb beyond this bin.
constexpr int32_t kPeakSearchLastBin = 50;

// Bin 0, moved on to bin 1 when the histogram rises from 0 to 1, and to bin
// 2 when it rises again from there.
int32_t FirstValleyCandidate(const float* hist) {
  int32_t idx = 0;
  if (hist[0] < hist[1]) idx = 1;
  if (hist[idx] < hist[2]) idx = 2;
  return idx;
}

}  // namespace

float BuildEnergyHistogram(const float* frameEnergy, int32_t frameCount, float floorValue,
                           float maxEnergy, float* hist) {
  const float step = (maxEnergy - floorValue) * kStepFraction;
  for (int32_t k = 0; k < kHistogramBins; ++k) hist[k] = 0.0f;
  for (int32_t i = 0; i < frameCount; ++i) {
    float level = floorValue - 1.0f;
    int32_t k = 0;
    while (k < kTopBin && level < frameEnergy[i]) {
      level += step;
      ++k;
    }
    hist[k] += 1.0f;
  }
  for (int32_t k = 0; k < kHistogramBins; ++k) hist[k] /= static_cast<float>(frameCount);
  return step;
}

int32_t MassThresholdBin(const float* hist) {
  float taken = hist[0];
  int32_t idx = 0;
  if (hist[0] < hist[1]) {
    taken += hist[1];
    idx = 1;
    if (hist[1] < hist[2]) {
      taken += hist[2];
      idx = 2;
    }
  } else if (hist[0] < hist[2]) {
    taken += hist[1] + hist[2];
    idx = 2;
  }
  while (idx < kTopBin) {
    const bool rises = hist[idx] < hist[idx + 1];
    const bool take = rises ? taken < kRisingMassLimit : taken < kQuietMassLimit;
    if (!take) break;
    ++idx;
    taken += hist[idx];
  }
  return idx;
}

int32_t ValleyBin(const float* hist) {
  int32_t idx = FirstValleyCandidate(hist);
  while (idx < kTopBin && hist[idx] >= hist[idx + 1]) ++idx;
  return idx;
}

int32_t PeakBin(const float* hist) {
  int32_t idx = ValleyBin(hist);
  while (idx < kPeakSearchLastBin && hist[idx] <= hist[idx + 1]) ++idx;
  return idx;
}
