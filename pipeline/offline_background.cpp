#include "pipeline/offline_background.h"

#include <algorithm>
#include <cmath>

#include "pipeline/offline_labels.h"
#include "platform/ipps.h"

namespace {

constexpr int32_t kLongWindowFrames = 100;
constexpr int32_t kShortWindowFrames = 60;
// A window varies little when its coefficient of variation is below this.
constexpr float kStationaryCv = 0.1f;
constexpr float kVeryStationaryCv = 0.02f;
// A steady 60-frame dip counts as background below this part of the
// surrounding 100-frame mean.
constexpr float kDipRatio = 0.2f;
// A very steady 60-frame window counts as background below this multiple of
// the background found so far.
constexpr float kSteadyFloorMultiple = 100.0f;

// Coefficient of variation of count energies with a population deviation
// (divisor count), from the sample deviation the vector library gives
// (divisor count - 1); 0 for a mean that is not positive.
float CoefficientOfVariation(const float* energy, int32_t count, float mean) {
  if (mean <= 0.0f) return 0.0f;
  float sampleDeviation = 0.0f;
  ippsStdDev_32f(energy, count, &sampleDeviation, ippAlgHintNone);
  const float toPopulation =
      static_cast<float>(std::sqrt(static_cast<double>(count - 1) / count));
  return toPopulation * sampleDeviation / mean;
}

float Mean(const float* energy, int32_t count) {
  float mean = 0.0f;
  ippsMean_32f(energy, count, &mean, ippAlgHintNone);
  return mean;
}

// Mean and coefficient of variation of the 60-frame windows, by first
// frame. A window is examined for each of the up to 41 100-frame windows
// holding it, and its figures depend on the energies alone: they are
// computed once and kept while 100-frame windows still hold it.
class ShortWindowStats {
 public:
  struct Stats {
    float mean;
    float cv;
  };

  explicit ShortWindowStats(const float* frameEnergy) : frameEnergy_(frameEnergy) {}

  Stats Of(int32_t first) {
    Entry& entry = entries_[first % kEntries];
    if (entry.first != first) {
      const float* energy = frameEnergy_ + first;
      entry.first = first;
      entry.stats.mean = Mean(energy, kShortWindowFrames);
      entry.stats.cv = CoefficientOfVariation(energy, kShortWindowFrames, entry.stats.mean);
    }
    return entry.stats;
  }

 private:
  // At least the 41 windows of one 100-frame window.
  static constexpr int32_t kEntries = 64;
  struct Entry {
    int32_t first = -1;
    Stats stats{};
  };
  const float* frameEnergy_;
  Entry entries_[kEntries];
};

// The 60-frame windows starting at window .. window + 40 inside a 100-frame
// window that is not stationary.
void ExamineShortWindows(ShortWindowStats& shortWindows, int16_t* labels, int32_t window,
                         float longMean, float& floorValue, float& maxEnergy) {
  for (int32_t j = 0; j <= kLongWindowFrames - kShortWindowFrames; ++j) {
    const int32_t first = window + j;
    const ShortWindowStats::Stats stats = shortWindows.Of(first);
    const float mean = stats.mean;
    maxEnergy = std::max(maxEnergy, mean);
    const float cv = stats.cv;
    int16_t code = 0;
    if (cv < kStationaryCv && mean < kDipRatio * longMean) {
      code = kLabelQuietDip60;
    } else if (cv < kVeryStationaryCv && mean < kSteadyFloorMultiple * floorValue) {
      code = kLabelSteady60;
    }
    if (code != 0) {
      floorValue = std::max(floorValue, mean);
      SetLabels(labels, first, first + kShortWindowFrames, code);
    }
  }
}

}  // namespace

void FindBackground(const float* frameEnergy, int16_t* labels, int32_t frameCount,
                    float& floorValue, float& maxEnergy) {
  ShortWindowStats shortWindows(frameEnergy);
  for (int32_t w = 0; w + kLongWindowFrames <= frameCount; ++w) {
    const float longMean = Mean(frameEnergy + w, kLongWindowFrames);
    if (CoefficientOfVariation(frameEnergy + w, kLongWindowFrames, longMean) < kStationaryCv) {
      floorValue = std::max(floorValue, longMean);
      SetLabels(labels, w, w + kLongWindowFrames, kLabelStationary100);
      continue;
    }
    ExamineShortWindows(shortWindows, labels, w, longMean, floorValue, maxEnergy);
  }
  if (frameCount < kShortWindowFrames) {
    maxEnergy = Mean(frameEnergy, frameCount);
  } else if (frameCount < kLongWindowFrames) {
    for (int32_t w = 0; w + kShortWindowFrames <= frameCount; ++w) {
      maxEnergy = std::max(maxEnergy, Mean(frameEnergy + w, kShortWindowFrames));
    }
  }
  for (int32_t i = 0; i < frameCount; ++i) {
    if (frameEnergy[i] < floorValue && labels[i] > 0) labels[i] = kLabelBelowFloor;
  }
}

void DeleteShortSpeech(int16_t* labels, int32_t frameCount, int32_t shortRunFrames,
                       int32_t sideNoiseFrames) {
  for (int32_t i = 1; i < frameCount; ++i) {
    if (labels[i] <= 0 || labels[i - 1] > 0) continue;
    int32_t end = i + 1;
    while (end < frameCount && labels[end] > 0) ++end;
    if (end == frameCount) end = frameCount - 1;  // a run into the last frame
    if (end - i >= shortRunFrames) continue;

    int32_t previous = i - 1;
    while (previous >= 0 && labels[previous] <= 0) --previous;
    const int32_t noiseBefore = previous >= 0 ? i - previous - 1 : i - 1;
    int32_t next = end;
    while (next < frameCount && labels[next] <= 0) ++next;
    const int32_t noiseAfter = next < frameCount ? next - end : frameCount - 1 - end;
    if (noiseBefore > sideNoiseFrames && noiseAfter > sideNoiseFrames) {
      for (int32_t k = i; k < end; ++k) {
        if (labels[k] > 0) labels[k] = kLabelShortRun;
      }
    }
  }
}
