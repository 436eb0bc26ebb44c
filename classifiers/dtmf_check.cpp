// CheckDTMF: a frame made of one or two narrow peak groups, steady over four
// frames, is a key tone.
#include "classifiers/dtmf_check.h"

#include <algorithm>
#include <cstdlib>

#include "platform/ipps.h"

namespace {

// Frequencies the bin counts of the peak analysis derive from, in Hz.
constexpr float kGroupSpreadHz = 150.0f;  // widest peak group; also the most picks
constexpr float kGroupGapHz = 268.0f;     // closest distance of two groups (+1 bin)
constexpr float kLowestPeakHz = 400.0f;   // no peak is searched below
constexpr float kLowestTotalHz = 100.0f;  // no power is counted below
// Share of the frame's power the picked peaks must collect.
constexpr float kCollectedShare = 0.8f;
// A second group weaker than this share of the first group's peak is not a tone.
constexpr float kWeakestSecondGroup = 0.1f;
// Bounds (exclusive) of the collected power against each earlier frame.
constexpr float kLowestEnergyRatio = 0.99f;
constexpr float kHighestEnergyRatio = 1.02f;
constexpr int32_t kFailedPeak = -1000;
constexpr int32_t kAbsentPeak = -1;
// Frames before the current one that must hold the same tone.
constexpr int32_t kEarlierFrames = 3;

struct ToneBins {
  int32_t near;      // largest spread of one group and largest number of picks
  int32_t gap;       // smallest distance between the two groups
  int32_t lowPeak;   // bins below are not searched for peaks
  int32_t lowTotal;  // bins below are not counted in the frame's power
};

ToneBins BinsFor(float binWidthHz) {
  return {static_cast<int32_t>(kGroupSpreadHz / binWidthHz),
          static_cast<int32_t>(kGroupGapHz / binWidthHz - 1.0f),
          static_cast<int32_t>(kLowestPeakHz / binWidthHz),
          static_cast<int32_t>(kLowestTotalHz / binWidthHz)};
}

// Picks the strongest bins until they hold kCollectedShare of the frame's
// power, and stores the frame's groups and collected power in slot.
// Returns false (the slot not tonal) when the peaks do not form at most two
// narrow, well separated groups of comparable strength.
bool AnalysePeaks(SpeechDetector& detector, int32_t slot, const float* spectrum) {
  const int32_t bins = detector.binCount;
  const ToneBins tone = BinsFor(detector.binWidthHz);
  float* work = detector.ToneWork;

  std::copy_n(spectrum, bins, work);
  ippsZero_32f(work, tone.lowTotal);
  float total = 0.0f;
  ippsSum_32f(work, bins, &total, ippAlgHintFast);

  std::copy_n(spectrum, bins, work);
  ippsZero_32f(work, tone.lowPeak);
  float collected = 0.0f;
  int32_t picks = 0;
  int32_t first = kAbsentPeak;
  int32_t second = kAbsentPeak;
  while (collected < kCollectedShare * total) {
    float value = 0.0f;
    int bin = 0;
    ippsMaxIndx_32f(work, bins, &value, &bin);
    if (first < 0) first = bin;
    work[bin] = 0.0f;
    collected += value;
    const int32_t distance = std::abs(bin - first);
    if (distance > tone.near && distance < tone.gap) return false;  // too close to be a second tone
    if (distance > tone.near) {
      if (kWeakestSecondGroup * spectrum[first] > value) return false;
      if (second > 0 && std::abs(bin - second) > tone.near) return false;  // a third group
      if (second < 0) second = bin;
    }
    if (++picks > tone.near) return false;
  }
  detector.ToneEnergy[slot] = collected;
  detector.ToneFlag[slot] = true;
  detector.TonePeak[slot][0] = first;
  detector.TonePeak[slot][1] = second;
  return true;
}

// The groups and power of slot agree with those of the three earlier frames.
bool SteadyTone(const SpeechDetector& detector, int32_t t) {
  const int32_t slot = RingSlot(t, kToneRingFrames);
  int32_t firstDrift = 0;
  int32_t secondDrift = 0;
  for (int32_t back = 1; back <= kEarlierFrames; ++back) {
    const int32_t earlier = RingSlot(t - back, kToneRingFrames);
    if (!detector.ToneFlag[earlier]) return false;
    firstDrift += std::abs(detector.TonePeak[slot][0] - detector.TonePeak[earlier][0]);
    secondDrift += std::abs(detector.TonePeak[slot][1] - detector.TonePeak[earlier][1]);
    // A frame without collected power gives no ratio.
    if (!(detector.ToneEnergy[earlier] > 0.0f)) return false;
    const float ratio = detector.ToneEnergy[slot] / detector.ToneEnergy[earlier];
    if (!(ratio > kLowestEnergyRatio && ratio < kHighestEnergyRatio)) return false;
  }
  return firstDrift <= 1 && firstDrift + secondDrift <= 2;
}

}  // namespace

bool CheckDTMF(SpeechDetector& detector, int32_t t, const float* spectrum) {
  const int32_t slot = RingSlot(t, kToneRingFrames);
  detector.TonePeak[slot][0] = kFailedPeak;
  detector.TonePeak[slot][1] = kFailedPeak;
  detector.ToneEnergy[slot] = 0.0f;
  if (!AnalysePeaks(detector, slot, spectrum)) {
    detector.ToneFlag[slot] = false;
    return false;
  }
  return t >= kEarlierFrames && SteadyTone(detector, t);
}
