// CheckDTMF: a frame made of one or two narrow peak groups, steady over four
// frames, is a key tone.
#include "classifiers/dtmf_check.h"

#include <algorithm>
#include <cstdlib>

#if defined(__SSE2__)
#include <xmmintrin.h>
#endif

#include "platform/ipps.h"

namespace {

// Frame index modulo a ring length, never negative.
int32_t ToneSlot(int32_t frame, int32_t ringLength) {
  const int32_t slot = frame % ringLength;
  return slot < 0 ? slot + ringLength : slot;
}

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

// Bins are wider than 7.8125 Hz (the FFT doubles only while they are wider
// than 15.625 Hz), so a frame makes at most 150 / 7.8125 + 1 = 20 picks.
constexpr float kNarrowestBinHz = 7.8125f;
constexpr int32_t kMostPicks = static_cast<int32_t>(kGroupSpreadHz / kNarrowestBinHz) + 1;

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

// One pick: a bin and its power.
struct Pick {
  float value;
  int32_t bin;
};

// The picks that repeatedly taking the largest value of spectrum (bins below
// lowPeak counted as 0; the first bin of equal values) and zeroing it would
// make, strongest first, as long as they are positive: at most `most` of
// them, in one pass. Returns their number. Once no positive value is left,
// taking the largest value yields bin 0 (which lowPeak > 0 keeps at 0) with 0
// every time.
int32_t StrongestPicks(const float* spectrum, int32_t lowPeak, int32_t bins, int32_t most,
                       Pick* picks) {
  int32_t count = 0;
  auto take = [&](int32_t bin) {
    const float value = spectrum[bin];
    if (!(value > 0.0f)) return;
    if (count == most && !(value > picks[most - 1].value)) return;
    // After every pick at least as strong: the earlier bin wins a tie.
    int32_t at = count < most ? count++ : most - 1;
    while (at > 0 && value > picks[at - 1].value) {
      picks[at] = picks[at - 1];
      --at;
    }
    picks[at] = {value, bin};
  };
  int32_t bin = lowPeak;
#if defined(__SSE2__)
  // Four bins at a time are skipped when none lies above the floor a value
  // must pass: 0 while fewer than `most` picks are held, then the weakest
  // pick (positive, and it only rises), so each would be skipped one by one.
  for (; bin + 4 <= bins; bin += 4) {
    const float floorValue = count < most ? 0.0f : picks[most - 1].value;
    const __m128 above = _mm_cmpgt_ps(_mm_loadu_ps(spectrum + bin), _mm_set1_ps(floorValue));
    if (_mm_movemask_ps(above) == 0) continue;
    for (int32_t j = 0; j < 4; ++j) take(bin + j);
  }
#endif
  for (; bin < bins; ++bin) take(bin);
  return count;
}

// A quick look at a frame: an estimate of its power from bin lowTotal up
// and its largest value from bin lowPeak up.
struct FrameOutline {
  float power;    // summed in float: within kOutlineError of the exact sum
  float largest;  // 0 for an empty range or where none is positive
};

// A spectrum holds at most 2^15 + 1 values (FFT order 16). Summing that
// many nonnegative floats, even in one chain, each addition rounding by at
// most 2^-24 of its result, ends less than 2^-8 off the exact sum.
constexpr float kOutlineError = 1.0f / 256.0f;

FrameOutline OutlineOf(const float* spectrum, int32_t lowTotal, int32_t lowPeak, int32_t end) {
  FrameOutline outline{0.0f, 0.0f};
  // The peak range normally lies inside the summed one; a peak bin below
  // lowTotal is looked at on its own.
  for (int32_t bin = lowPeak; bin < std::min(lowTotal, end); ++bin)
    outline.largest = std::max(outline.largest, spectrum[bin]);
  int32_t bin = lowTotal;
  float sum = 0.0f;
#if defined(__SSE2__)
  __m128 sums = _mm_setzero_ps();
  __m128 largest = _mm_setzero_ps();
  for (; bin + 4 <= std::min(lowPeak, end); bin += 4)
    sums = _mm_add_ps(sums, _mm_loadu_ps(spectrum + bin));
  for (; bin < std::min(lowPeak, end); ++bin) sum += spectrum[bin];
  // Eight values a pass, in two sets of chains.
  __m128 moreSums = _mm_setzero_ps();
  __m128 moreLargest = _mm_setzero_ps();
  for (; bin + 8 <= end; bin += 8) {
    const __m128 v = _mm_loadu_ps(spectrum + bin);
    const __m128 w = _mm_loadu_ps(spectrum + bin + 4);
    sums = _mm_add_ps(sums, v);
    moreSums = _mm_add_ps(moreSums, w);
    largest = _mm_max_ps(largest, v);
    moreLargest = _mm_max_ps(moreLargest, w);
  }
  sums = _mm_add_ps(sums, moreSums);
  largest = _mm_max_ps(largest, moreLargest);
  for (; bin + 4 <= end; bin += 4) {
    const __m128 v = _mm_loadu_ps(spectrum + bin);
    sums = _mm_add_ps(sums, v);
    largest = _mm_max_ps(largest, v);
  }
  float lanes[4];
  _mm_storeu_ps(lanes, sums);
  sum += (lanes[0] + lanes[1]) + (lanes[2] + lanes[3]);
  _mm_storeu_ps(lanes, largest);
  outline.largest = std::max(outline.largest, std::max(std::max(lanes[0], lanes[1]),
                                                       std::max(lanes[2], lanes[3])));
#endif
  for (; bin < end; ++bin) {
    sum += spectrum[bin];
    if (bin >= lowPeak) outline.largest = std::max(outline.largest, spectrum[bin]);
  }
  outline.power = sum;
  return outline;
}

// Picks the strongest bins until they hold kCollectedShare of the frame's
// power, and stores the frame's groups and collected power in slot.
// Returns false (the slot not tonal) when the peaks do not form at most two
// narrow, well separated groups of comparable strength.
bool AnalysePeaks(const ToneCheckState& rings, int32_t slot, const float* spectrum) {
  const int32_t bins = rings.binCount;
  const ToneBins tone = BinsFor(rings.binWidthHz);

  // Only the first `near` picks can reach the share: the loop below fails at
  // pick near + 1 at the latest. Each pick is at most the largest value, and
  // a float sum only grows with its terms, so near times the largest, added
  // in the same way, bounds what they collect. Below the share, the frame
  // fails whatever its picks are (as noise and most speech do) and the
  // search for them is skipped; a clear miss against the estimated power
  // needs not even the exact power.
  const int32_t lowTotal = std::max(tone.lowTotal, 0);
  const FrameOutline outline = OutlineOf(spectrum, lowTotal, std::max(tone.lowPeak, 0), bins);
  float reachable = 0.0f;
  for (int32_t k = 0; k < tone.near; ++k) reachable += outline.largest;
  if (reachable < kCollectedShare * outline.power * (1.0f - 2.0f * kOutlineError)) return false;

  // The frame's power from bin lowTotal up. (Summing the whole spectrum with
  // the bins below lowTotal zeroed gives the same: the running sum, which
  // starts at 0, stays exactly 0 over them.)
  float total = 0.0f;
  if (bins > lowTotal) ippsSum_32f(spectrum + lowTotal, bins - lowTotal, &total, ippAlgHintFast);
  if (reachable < kCollectedShare * total) return false;

  // The loop below fails at pick near + 1 at the latest.
  Pick strongest[kMostPicks];
  const int32_t positive =
      StrongestPicks(spectrum, tone.lowPeak, bins, std::min(tone.near + 1, kMostPicks), strongest);
  float collected = 0.0f;
  int32_t picks = 0;
  int32_t first = kAbsentPeak;
  int32_t second = kAbsentPeak;
  while (collected < kCollectedShare * total) {
    const Pick pick = picks < positive ? strongest[picks] : Pick{0.0f, 0};
    const float value = pick.value;
    const int32_t bin = pick.bin;
    if (first < 0) first = bin;
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
  rings.energy[slot] = collected;
  rings.flag[slot] = true;
  rings.peak[slot][0] = first;
  rings.peak[slot][1] = second;
  return true;
}

// The groups and power of slot agree with those of the three earlier frames.
bool SteadyTone(const ToneCheckState& rings, int32_t t) {
  const int32_t slot = ToneSlot(t, kToneRingFrames);
  int32_t firstDrift = 0;
  int32_t secondDrift = 0;
  for (int32_t back = 1; back <= kEarlierFrames; ++back) {
    const int32_t earlier = ToneSlot(t - back, kToneRingFrames);
    if (!rings.flag[earlier]) return false;
    firstDrift += std::abs(rings.peak[slot][0] - rings.peak[earlier][0]);
    secondDrift += std::abs(rings.peak[slot][1] - rings.peak[earlier][1]);
    // A frame without collected power gives no ratio.
    if (!(rings.energy[earlier] > 0.0f)) return false;
    const float ratio = rings.energy[slot] / rings.energy[earlier];
    if (!(ratio > kLowestEnergyRatio && ratio < kHighestEnergyRatio)) return false;
  }
  return firstDrift <= 1 && firstDrift + secondDrift <= 2;
}

}  // namespace

bool CheckDTMF(const ToneCheckState& rings, int32_t t, const float* spectrum) {
  const int32_t slot = ToneSlot(t, kToneRingFrames);
  rings.peak[slot][0] = kFailedPeak;
  rings.peak[slot][1] = kFailedPeak;
  rings.energy[slot] = 0.0f;
  if (!AnalysePeaks(rings, slot, spectrum)) {
    rings.flag[slot] = false;
    return false;
  }
  return t >= kEarlierFrames && SteadyTone(rings, t);
}
