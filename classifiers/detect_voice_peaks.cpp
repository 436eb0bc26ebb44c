// CDetectVoice: spectral peaks of the entering frame (GetMax) and the
// harmonic-series test of every pitch candidate against them (MatchPitch).
#include <algorithm>
#include <cmath>
#include <cstring>
#include <type_traits>
#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "classifiers/detect_voice_match_bins.h"
#include "classifiers/detect_voice_tuning.h"
#include "classifiers/natural_log.h"
#include "classifiers/ordered_sum.h"
#include "kvd/detect_voice.h"
#include "platform/ipps.h"

using namespace kvd_voice;

namespace {

// Energy gate: the mean power over 300 Hz .. the harmonic limit must reach
// EnergyFloor x 1000 (30 dB above the floor).
constexpr float kGateLowHz = 300.0f;
constexpr float kGateFloorFactor = 1000.0f;
// A peak must stand 20 times (13 dB) above the frame's floor.
constexpr float kPeakFloorFactor = 20.0f;
// At most 75 valleys (a peak needs a valley on each side: 3 x 25 peaks).
constexpr int32_t kMaxValleys = 75;
// Widening merges a peak with a neighbour only if its width is above the
// neighbour's or below 4 bins.
constexpr int32_t kNarrowPeakBins = 4;
// A peak is kept when its area exceeds 1 % of the frame's total peak area.
constexpr float kKeptAreaShare = 0.01f;

// Sets table[from .. to] to value; may also write up to kFillSlack entries
// after `to`, which the caller fills in later runs or keeps as slack.
constexpr int32_t kFillSlack = 7;
inline void FillRun(int16_t* table, int32_t from, int32_t to, int16_t value) {
#if defined(__SSE2__)
  const __m128i values = _mm_set1_epi16(value);
  for (int32_t t = from; t <= to; t += 8) {
    _mm_storeu_si128(reinterpret_cast<__m128i*>(table + t), values);
  }
#else
  std::fill(table + from, table + to + 1, value);
#endif
}

#if defined(__SSE2__)
// Two int32 lanes as the int64 element holding them.
constexpr long long LanePair(int32_t low, int32_t high) {
  return static_cast<long long>(static_cast<uint64_t>(static_cast<uint32_t>(high)) << 32 |
                                static_cast<uint32_t>(low));
}
// Per 4-bit mask: the lanes of its set bits in ascending order, then the
// others (whose entries are past the count and never read).
constexpr __m128i LanesOf(int32_t mask) {
  int32_t lanes[4] = {0, 0, 0, 0};
  int32_t n = 0;
  for (int32_t lane = 0; lane < 4; ++lane) {
    if ((mask >> lane & 1) != 0) lanes[n++] = lane;
  }
  return __m128i{LanePair(lanes[0], lanes[1]), LanePair(lanes[2], lanes[3])};
}
alignas(16) constexpr __m128i kLanesOfBits[16] = {
    LanesOf(0),  LanesOf(1),  LanesOf(2),  LanesOf(3), LanesOf(4),  LanesOf(5),
    LanesOf(6),  LanesOf(7),  LanesOf(8),  LanesOf(9), LanesOf(10), LanesOf(11),
    LanesOf(12), LanesOf(13), LanesOf(14), LanesOf(15)};
constexpr int32_t kBitsSet[16] = {0, 1, 1, 2, 1, 2, 2, 3, 1, 2, 2, 3, 2, 3, 3, 4};
#endif

}  // namespace

// Peak picking on the power values x[k] of one frame into slot s.
//
//   x (power)        ^        p0           p1
//                    |       /\           /\          edges: valleys
//                    |  /\  /  \  /\     /  \         L(p) .. R(p), widened
//                    |_/  \/    \/  \___/    \__      over lower neighbours
//                      PeakStartBin            MaxHarmoBin - 1
//
// Areas are measured on ln x above the chord from (L, ln x[L]) to
// (R, ln x[R]).
void CDetectVoice::GetMax(float* x, int32_t s) {
  // 1. Energy gate.
  const int32_t gateStart = static_cast<int32_t>(kGateLowHz / BinWidth);
  const float gateLimit =
      static_cast<float>(MaxHarmoBin - gateStart) * EnergyFloor * kGateFloorFactor;
  if (kvd_voice::OrderedFloatSumBelow(x + gateStart, MaxHarmoBin - gateStart, gateLimit)) {
    return;
  }
  PeakBins(s)[0] = 0;  // analysed: an empty row now reads 0, not -1

  // 2. Floor: the smallest power in the searched band, at least EnergyFloor.
  float floorPower = x[PeakStartBin];
  int32_t from = PeakStartBin + 1;
#if defined(__SSE2__)
  // Four running minima, each taking x only when below it, as the loop
  // below does (so a NaN never enters, and a NaN first value stays): the
  // least of them is the least of all. Of +0 and -0 either may remain,
  // which the floor of EnergyFloor and the uses below do not tell apart.
  if (from + 3 < MaxHarmoBin) {
    __m128 least = _mm_set1_ps(floorPower);
    for (; from + 3 < MaxHarmoBin; from += 4) least = _mm_min_ps(_mm_loadu_ps(x + from), least);
    alignas(16) float lanes[4];
    _mm_store_ps(lanes, least);
    for (const float lane : lanes) {
      if (lane < floorPower) floorPower = lane;
    }
  }
#endif
  for (int32_t k = from; k < MaxHarmoBin; ++k) {
    if (x[k] < floorPower) floorPower = x[k];
  }
  if (floorPower < EnergyFloor) floorPower = EnergyFloor;

  // 3. Peaks, ascending, at most kMaxPeaks: bins PeakStartBin ..
  // MaxHarmoBin - 2 above both neighbours and above peakLevel.
  // 4. Valleys, ascending, at most kMaxValleys: PeakStartBin, the local
  // minima of PeakStartBin + 1 .. MaxHarmoBin - 2, MaxHarmoBin - 1.
  // Four entries of slack each: four bins are stored at once, also when
  // the list is full.
  int32_t peak[kMaxPeaks + 4];
  int32_t peakCount = 0;
  int32_t valley[kMaxValleys + 4];
  int32_t valleyCount = 0;
  valley[valleyCount++] = PeakStartBin;
  const float peakLevel = kPeakFloorFactor * floorPower;
  const int32_t lastBin = MaxHarmoBin - 2;
  int32_t bin = PeakStartBin;
#if defined(__SSE2__)
  // Bins bin .. bin + 3 at once (their neighbours lie within x[PeakStartBin - 1
  // .. MaxHarmoBin - 1], as in the loop below), with the same comparisons,
  // false for NaN as theirs; the bits are taken in ascending order.
  const __m128 level = _mm_set1_ps(peakLevel);
  for (; bin + 3 <= lastBin; bin += 4) {
    const __m128 c = _mm_loadu_ps(x + bin);
    const __m128 l = _mm_loadu_ps(x + bin - 1);
    const __m128 r = _mm_loadu_ps(x + bin + 1);
    int peaks = _mm_movemask_ps(
        _mm_and_ps(_mm_and_ps(_mm_cmpgt_ps(c, l), _mm_cmpgt_ps(c, r)), _mm_cmpgt_ps(c, level)));
    int valleys = _mm_movemask_ps(_mm_or_ps(_mm_and_ps(_mm_cmple_ps(c, l), _mm_cmplt_ps(c, r)),
                                            _mm_and_ps(_mm_cmplt_ps(c, l), _mm_cmple_ps(c, r))));
    if (bin == PeakStartBin) valleys &= ~1;  // PeakStartBin is a valley already
    // All four lanes' bins stored, those of the mask's bits first in
    // ascending order; the count keeps the first ones up to the limit.
    const __m128i bins = _mm_set1_epi32(bin);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(peak + peakCount),
                     _mm_add_epi32(bins, _mm_load_si128(kLanesOfBits + peaks)));
    peakCount = std::min(peakCount + kBitsSet[peaks], kMaxPeaks);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(valley + valleyCount),
                     _mm_add_epi32(bins, _mm_load_si128(kLanesOfBits + valleys)));
    valleyCount = std::min(valleyCount + kBitsSet[valleys], kMaxValleys);
  }
#endif
  for (; bin <= lastBin; ++bin) {
    if (peakCount < kMaxPeaks && x[bin] > x[bin - 1] && x[bin] > x[bin + 1] && x[bin] > peakLevel) {
      peak[peakCount++] = bin;
    }
    if (bin > PeakStartBin && valleyCount < kMaxValleys &&
        ((x[bin] <= x[bin - 1] && x[bin] < x[bin + 1]) ||
         (x[bin] < x[bin - 1] && x[bin] <= x[bin + 1]))) {
      valley[valleyCount++] = bin;
    }
  }
  if (valleyCount < kMaxValleys) {
    valley[valleyCount++] = MaxHarmoBin - 1;
  }

  // 5. Edges: the nearest valley on each side (the first / last valley when
  // there is none on that side). Peaks and valleys both ascend, so one sweep
  // keeps below = the number of valleys below the peak; the valley above it
  // is the next one, or the one after when that valley is the peak's own bin
  // (only PeakStartBin can be both).
  int32_t left[kMaxPeaks];
  int32_t right[kMaxPeaks];
  int32_t below = 0;
  for (int32_t i = 0; i < peakCount; ++i) {
    while (below < valleyCount && valley[below] < peak[i]) ++below;
    left[i] = valley[below > 0 ? below - 1 : 0];
    int32_t above = below;
    if (above < valleyCount && valley[above] == peak[i]) ++above;
    right[i] = valley[above < valleyCount ? above : valleyCount - 1];
  }

  // 6. Widening over lower neighbours, peaks from left to right, each step
  // seeing the edges as already widened. In the absorbing chains the span
  // compared with twice a further peak's width is the span after the first
  // merge: from the left neighbour's L to this peak's R (left chain), from
  // this peak's L to the right neighbour's R (right chain).
  for (int32_t i = 0; i < peakCount; ++i) {
    if (i > 0) {
      const int32_t j = i - 1;
      const int32_t width = right[i] - left[i];
      if (x[peak[i]] > x[peak[j]] && x[left[i]] >= x[right[j]] && x[right[j]] >= x[left[j]] &&
          (width > right[j] - left[j] || width < kNarrowPeakBins)) {
        const int32_t span = right[i] - left[j];
        left[i] = left[j];
        for (int32_t n = j - 1; n >= 0; --n) {
          if (x[peak[n]] < x[peak[n + 1]] && x[right[n]] >= x[left[n + 1]] &&
              x[right[n]] >= x[left[n]] && span > 2 * (right[n] - left[n])) {
            left[i] = left[n];
          } else {
            break;
          }
        }
      }
    }
    if (i + 1 < peakCount) {
      const int32_t j = i + 1;
      const int32_t width = right[i] - left[i];
      if (x[peak[i]] > x[peak[j]] && x[right[i]] >= x[left[j]] && x[left[j]] > x[right[j]] &&
          (width > right[j] - left[j] || width < kNarrowPeakBins)) {
        const int32_t span = right[j] - left[i];
        right[i] = right[j];
        for (int32_t n = j + 1; n < peakCount; ++n) {
          if (x[peak[n]] < x[peak[n - 1]] && x[right[n - 1]] >= x[left[n]] &&
              x[left[n]] > x[right[n]] && span > 2 * (right[n] - left[n])) {
            right[i] = right[n];
          } else {
            break;
          }
        }
      }
    }
  }

  // 7. Areas on the natural logarithm of the power, needed only between the
  // edges: valleys of PeakStartBin .. MaxHarmoBin - 1.
  float* const lnPower = tmpBinEnergy;
  kvd_voice::LnOfPositives(x + PeakStartBin, lnPower + PeakStartBin, MaxHarmoBin - PeakStartBin);
  float absArea[kMaxPeaks];
  float totalArea = 0.0f;
  for (int32_t i = 0; i < peakCount; ++i) {
    absArea[i] = 0.0f;
    const int32_t l = left[i];
    const int32_t r = right[i];
    if (r - l < 2) continue;  // no bin strictly inside the edges
    const float lnL = lnPower[l];
    const float slope = (lnPower[r] - lnL) / static_cast<float>(r - l);
    // The sum starts at +0 and only grows, so adding +0 for a bin not above
    // the chord leaves it as skipping the bin does.
    float area = 0.0f;
    int32_t b = l + 1;
#if defined(__SSE2__)
    // Four bins' heights above the chord at once, with the same operations;
    // still added one by one in bin order.
    const __m128 lnLs = _mm_set1_ps(lnL);
    const __m128 slopes = _mm_set1_ps(slope);
    __m128i steps = _mm_setr_epi32(1, 2, 3, 4);  // b - l
    alignas(16) float above[4];
    for (; b + 3 < r; b += 4) {
      const __m128 chord = _mm_add_ps(lnLs, _mm_mul_ps(slopes, _mm_cvtepi32_ps(steps)));
      const __m128 height = _mm_sub_ps(_mm_loadu_ps(lnPower + b), chord);
      _mm_store_ps(above, _mm_and_ps(height, _mm_cmpgt_ps(height, _mm_setzero_ps())));
      area += above[0];
      area += above[1];
      area += above[2];
      area += above[3];
      steps = _mm_add_epi32(steps, _mm_set1_epi32(4));
    }
#endif
    for (; b < r; ++b) {
      const float height = lnPower[b] - (lnL + slope * static_cast<float>(b - l));
      if (height > 0.0f) area += height;
    }
    absArea[i] = area;
    totalArea += absArea[i];
  }

  // 8. Keep the peaks above 1 % of the total area, ascending.
  int16_t kept = 0;
  int16_t* const keptBins = PeakBins(s);
  int16_t* const keptAreas = PeakAreas(s);
  float* const keptAbsAreas = PeakAbsAreas(s);
  if (totalArea > 0.0f) {
    for (int32_t i = 0; i < peakCount; ++i) {
      const float share = absArea[i] / totalArea;
      if (share > kKeptAreaShare && peak[i] > 0) {
        keptBins[kept] = static_cast<int16_t>(peak[i]);
        MaxZoom[kept] = static_cast<int16_t>(peak[i] * kTenthsPerBin);
        keptAreas[kept] = static_cast<int16_t>(share * kAreaUnitsPerWhole);
        keptAbsAreas[kept] = absArea[i];
        ++kept;
      }
    }
  }
  MaxNum[s] = kept;
}

// Bit c of entry g: a spacing of g bins (10 g tenths) lies in the span
// [F0 - d0, F9 + d9] of candidate bin c (F0, F9 its lowest and highest F in
// tenths, d their tolerances), for g = 0 .. gapBins < kMaxGapBins and at most
// 64 candidates. Both ends of the spans rise with c, so the bins of g are a
// run from below (the first span ending at or above 10 g) to above (the last
// starting at or below it), found in one sweep over g. The table depends on
// the geometry alone: it is worked out at the first frame that needs it and
// kept.
const uint64_t* CDetectVoice::SpanBinsOfGap(int32_t gapBins) {
  if (spanBinsCount == gapBins + 1) return spanBinsOfGap;
  const int32_t firstF = MinPitchBin * kTenthsPerBin;
  const int32_t candidates = MaxPitchBin - MinPitchBin;
  int32_t below = 0;
  int32_t above = 0;
  for (int32_t g = 0; g <= gapBins; ++g) {
    const int32_t t = g * kTenthsPerBin;
    while (below < candidates &&
           firstF + below * kTenthsPerBin + kTenthsPerBin - 1 +
                   MostDifTabZoom[below * kTenthsPerBin + kTenthsPerBin - 1] <
               t) {
      ++below;
    }
    while (above < candidates &&
           firstF + above * kTenthsPerBin - MostDifTabZoom[above * kTenthsPerBin] <= t) {
      ++above;
    }
    // Bins below .. above - 1 (none when above <= below).
    const uint64_t upTo = above >= 64 ? ~uint64_t{0} : (uint64_t{1} << above) - 1u;
    spanBinsOfGap[g] = above > below ? upTo & ~((uint64_t{1} << below) - 1u) : 0u;
  }
  spanBinsCount = gapBins + 1;
  return spanBinsOfGap;
}

// Harmonic-series test of every pitch candidate F (tenths of a bin) against
// the peaks MaxZoom[0 .. n-1] of slot s, filling AllMatchPitch[s][c][m] and
// CanMatchPitch[s][c] for candidate c = F / 10 - MinPitchBin.
//
// Harmonic h of F is found when a peak lies in [h * F - d, h * F + d]; its
// peak is the first one at or above h * F - d. Harmonic h is "in step" when
// h and h - 1 are both found and their peaks lie F - d .. F + d apart (open
// interval). Series position m >= 1 matches when harmonics m + 2 .. m + 4
// are all in step ((m + 4) * F below 10 MaxHarmoBin tenths, m below
// HarmoNum); position 0 when harmonics 1 .. 3 are found and the first peak
// and the two spacings after it lie in the closed interval. Two harmonics
// may share a peak when their windows overlap (F <= 2 d: a lowest pitch
// under three bins).
//
// The rows hold, per candidate bin c, the positions matched by any of its
// ten F = 10 (MinPitchBin + c) + 0 .. 9; the last bin (MaxPitchBin) is not
// tried. h * F - d and h * F + d grow with F, so the windows of harmonic h
// of the ten lie inside [h * Fa - da, h * Fb + db] (Fa, Fb the lowest and
// highest F): when no peak lies there, no F of the bin finds harmonic h.
//
// With SSE2 and the table by tenths (the engine's geometries) the ten F of
// a bin are worked together in int16 lanes, harmonic by harmonic, only
// over the harmonics where chains of kept peaks allow a match (see
// matchByBins). Otherwise F by F: harmonics m + 1 .. m + 4 hold exactly one
// multiple q of 4, and a position matches only if harmonic q is found, so
// the multiples of 4 are looked up first, and only around a found one the
// harmonics in step with it: a to the left (q, q - 1, .. in step) and b to
// the right (q + 1, ..), at most three each. Positions q - a - 1 .. q + b - 4
// then match: their three steps m + 2 .. m + 4 lie in the run q - a + 1 ..
// q + b.
void CDetectVoice::MatchPitch(int32_t s) {
  const int32_t n = MaxNum[s];
  if (n < 3) {
    return;
  }
  uint64_t* matchSlot = MatchRow(s);
  char* canSlot = CanRow(s);
  const int32_t firstF = MinPitchBin * kTenthsPerBin;
  const int32_t topTenths = MaxHarmoBin * kTenthsPerBin;

  // The first kept peak (tenths) at or above a window start, or kNoPeakAbove.
  // Window starts h * F - d run from -1 (F = 10, d = 11, h = 1; every other
  // start is positive: F >= 10, d <= 11 up to F = 73, d <= 0.15 F above) to
  // topTenths (every window looked up starts at or below the limit).
  // Up to kTenthsTable tenths (MaxHarmoBin 409; the engine's geometries need
  // 1280 to 2560) the entry of every tenth is kept on the stack: one load a
  // look-up. Wider geometries keep one entry per bin, in tmpBinEnergy
  // (scratch of GetMax that is free once the peaks are kept: MaxHarmoBin + 1
  // int16 fit its BinNum floats); peaks lie on whole bins, so the first peak
  // at or above t tenths is the entry of bin ceil(t / 10).
  constexpr int32_t kTenthsTable = 4096;
  int16_t tenthsTable[1 + kTenthsTable + 1 + kFillSlack];
  int16_t* firstPeakAt = tenthsTable + 1;                             // tenths -1 .. topTenths
  int16_t* firstPeakFrom = reinterpret_cast<int16_t*>(tmpBinEnergy);  // bins 0 .. MaxHarmoBin
  const bool byTenths = topTenths <= kTenthsTable;
  if (byTenths) {
    int32_t t = -1;
    for (int32_t i = 0; i < n; ++i) {
      const int32_t last = std::min<int32_t>(MaxZoom[i], topTenths);
      if (last >= t) {
        FillRun(firstPeakAt, t, last, MaxZoom[i]);
        t = last + 1;
      }
    }
    if (t <= topTenths) FillRun(firstPeakAt, t, topTenths, kNoPeakAbove);
  } else {
    int32_t bin = 0;
    for (int32_t i = 0; i < n; ++i) {
      const int32_t peakBin = std::min<int32_t>(MaxZoom[i] / kTenthsPerBin, MaxHarmoBin);
      for (; bin <= peakBin; ++bin) firstPeakFrom[bin] = MaxZoom[i];
    }
    for (; bin <= MaxHarmoBin; ++bin) firstPeakFrom[bin] = kNoPeakAbove;
  }

  const int32_t lastQ = HarmoNum - 1 + 4;  // harmonic m + 4 of the last position
  const int32_t lastPosition = HarmoNum - 1;
  const int32_t candidates = MaxPitchBin - MinPitchBin;  // the last candidate is never tried
  constexpr uint32_t kAllTenths = (1u << kTenthsPerBin) - 1u;

#if defined(__SSE2__)
  // Harmonic by harmonic, the ten F of a candidate bin in int16 lanes 0 .. 9
  // (lanes 10 .. 15 hold the next bin's F and are dropped), for windows
  // looked up in the table by tenths (detect_voice_match_bins.inc), with
  // AVX2 where the CPU has it.
  auto matchByBins = [&]() {
    // Chains of kept peaks, per candidate bin as one bit of a mask. All the
    // spacings a match needs (three in step after harmonic m + 1's peak for
    // m >= 1; two after harmonic 1's peak, itself in [F - d, F + d], for
    // position 0) lie in the bin's span [F0 - d0, F9 + d9] (F0, F9 its lowest
    // and highest F), and harmonic m + 1's peak p in the union of its ten
    // windows, [(m + 1) F0 - d0, (m + 1) F9 + d9]. So only the harmonics
    // around the peaks that start three spacings in the span are worked, and
    // 1 .. 3 only with a peak in the span starting two. Spacings (whole bins,
    // as the peaks) up to the widest span are kept; masks for at most 64
    // candidates, else every harmonic is worked.
    const int32_t lastSpan = candidates > 0 ? (candidates - 1) * kTenthsPerBin + kTenthsPerBin - 1
                                            : 0;  // tenths above firstF of the last F tried
    const int32_t gapBins = (firstF + lastSpan + MostDifTabZoom[lastSpan]) / kTenthsPerBin;
    // With F - d at or below 0 (a lowest pitch of one bin) two harmonics may
    // share a peak: a spacing of 0, which no two kept peaks have.
    const bool chainTest =
        candidates <= 64 && gapBins < kMaxGapBins && firstF - MostDifTabZoom[0] > 0;
    uint64_t pos0Bins = 0;   // with chainTest, bit c: position 0 may match
    uint64_t chainBins = 0;  // and some m >= 1 may
    int8_t firstChain[64];              // of bin c: the lowest and highest peak
    int8_t lastChain[64];               // starting three spacings in its span
    if (chainTest) {
      const uint64_t* const binsOfGap = SpanBinsOfGap(gapBins);
      // Bit c of after[k][i]: k + 1 spacings in bin c's span follow peak i.
      // The kept peaks in whole bins (MaxZoom holds them in tenths).
      uint64_t after[3][kMaxPeaks];
      const int16_t* const peakBins = PeakBins(s);
      pos0Bins = 0;
      for (int32_t i = n - 1; i >= 0; --i) {
        uint64_t one = 0, two = 0, three = 0;
        for (int32_t j = i + 1; j < n; ++j) {
          const int32_t gap = peakBins[j] - peakBins[i];
          if (gap > gapBins) break;  // peaks ascend: so do the later gaps
          const uint64_t spans = binsOfGap[gap];
          one |= spans;
          two |= spans & after[0][j];
          three |= spans & after[1][j];
        }
        after[0][i] = one;
        after[1][i] = two;
        after[2][i] = three;
        // A peak p lies in bin c's span exactly when p / 10 bins do.
        const int32_t bin = peakBins[i];
        if (bin <= gapBins) pos0Bins |= two & binsOfGap[bin];
      }
      chainBins = 0;
      for (int32_t i = 0; i < n; ++i) {
        for (uint64_t rest = after[2][i] & ~chainBins; rest != 0; rest &= rest - 1) {
          firstChain[__builtin_ctzll(rest)] = static_cast<int8_t>(i);
        }
        chainBins |= after[2][i];
      }
      uint64_t seen = 0;
      for (int32_t i = n - 1; i >= 0; --i) {
        for (uint64_t rest = after[2][i] & ~seen; rest != 0; rest &= rest - 1) {
          lastChain[__builtin_ctzll(rest)] = static_cast<int8_t>(i);
        }
        seen |= after[2][i];
      }
    }

    static_assert(kPositionsPerWord == kSeriesPerWord, "one layout of the match rows");
    BinMatchJob job;
    job.firstPeakAt = firstPeakAt;
    job.tolerance = MostDifTabZoom;
    job.peakTenths = MaxZoom;
    job.firstF = firstF;
    job.candidates = candidates;
    job.topTenths = topTenths;
    job.lastQ = lastQ;
    job.chainTest = chainTest;
    job.pos0Bins = pos0Bins;
    job.chainBins = chainBins;
    job.firstChain = firstChain;
    job.lastChain = lastChain;
    job.matchRows = matchSlot;
    job.matchWords = matchWords;
    job.canRow = canSlot;
#if defined(KVD_MATCH_BINS_AVX2)
    if ((ippGetEnabledCpuFeatures() & ippCPUID_AVX2) != 0) {
      MatchBinsAvx2(job);
      return;
    }
#endif
    MatchBinsSse2(job);
  };
  if (byTenths) {
    matchByBins();
    return;
  }
#endif

  // Spacings of kept peaks: bit k of spacingBits for a spacing of k bins
  // (peaks lie on whole bins, so spacings are whole bins too). Every match
  // needs two kept peaks whose spacing lies in [F - d, F + d] tenths (an
  // in-step pair for m >= 1, harmonics 1 and 2 for position 0), so a
  // candidate without one is skipped. Only spacings up to the widest window,
  // F + d < 10 MaxPitchBin + 30 tenths, are kept; a geometry with wider
  // windows than kSpacingTenths goes without the test.
  constexpr int32_t kSpacingTenths = 1024;
  constexpr int32_t kSpacingWords = (kSpacingTenths / kTenthsPerBin + 63) / 64 + 1;  // one spare
  const int32_t spacingTop = (MaxPitchBin + 3) * kTenthsPerBin;  // tenths, > F + d
  // With F - d at or below 0 (a lowest pitch of one bin) two harmonics may
  // share a peak, at a spacing of 0: no test.
  const bool spacingTest = spacingTop < kSpacingTenths && firstF - MostDifTabZoom[0] > 0;
  uint64_t spacingBits[kSpacingWords] = {};
  if (spacingTest) {
    const int32_t topBin = spacingTop / kTenthsPerBin;
    for (int32_t i = 0; i < n; ++i) {
      for (int32_t j = i + 1; j < n; ++j) {
        const int32_t gap = (MaxZoom[j] - MaxZoom[i]) / kTenthsPerBin;
        if (gap >= topBin) break;  // peaks ascend: so do the later gaps
        spacingBits[gap / 64] |= uint64_t{1} << (gap % 64);
      }
    }
  }
  // Bit i: a spacing of k + i bins, for the multiples of 10 k tenths in
  // [lo, hi] (at most 8: hi - lo <= 9 + 2 x 30 here; 0 < lo, hi < spacingTop).
  auto spacingsIn = [&](int32_t lo, int32_t hi, int32_t* k) {
    const int32_t first = (lo + kTenthsPerBin - 1) / kTenthsPerBin;
    const int32_t count = hi / kTenthsPerBin - first + 1;
    *k = first;
    if (count <= 0) return 0u;
    const int32_t word = first / 64;
    const int32_t shift = first % 64;
    uint64_t bits = spacingBits[word] >> shift;
    if (shift != 0) bits |= spacingBits[word + 1] << (64 - shift);
    return static_cast<uint32_t>(bits) & ((1u << count) - 1u);
  };

  // Candidate by candidate, F by F: for geometries wider than the table by
  // tenths, and without SSE2. narrow (std::true_type): every window looked
  // up ends below kTenthsTable + 60, so below kNoPeakAbove (a peak at or
  // below its end is a peak).
  auto matchAll = [&](auto peakFrom, auto narrow) {
    // Stands for the peak of a harmonic not found: no spacing from or to it
    // is in step.
    constexpr int32_t kNotFound = -(1 << 20);
    // A peak v at or below the window end `end`.
    auto inWindow = [](int32_t v, int32_t end) {
      return (decltype(narrow)::value || v != kNoPeakAbove) && v <= end;
    };
    for (int32_t c = 0; c < candidates; ++c) {
      const int32_t F0 = firstF + c * kTenthsPerBin;
      const int16_t* dOf = MostDifTabZoom + c * kTenthsPerBin;  // d of F0 + tenth
      // Bit t: F0 + t has a spacing in its window (the ten windows together
      // first).
      uint32_t tried = kAllTenths;
      // The windows [F - d, F + d] of the ten lie in [windowsStart, windowsEnd].
      const int32_t windowsStart = F0 - dOf[0];
      const int32_t windowsEnd = F0 + kTenthsPerBin - 1 + dOf[kTenthsPerBin - 1];
      int32_t firstSpacing = 0;  // bins, of bit 0 of spacings
      const uint32_t spacings =
          spacingTest ? spacingsIn(windowsStart, windowsEnd, &firstSpacing) : 0u;
      if (spacingTest && spacings == 0) continue;
      if (spacingTest) {
        tried = 0;
        for (int32_t tenth = 0; tenth < kTenthsPerBin; ++tenth) {
          const int32_t F = F0 + tenth;
          int32_t k;
          if (spacingsIn(F - dOf[tenth], F + dOf[tenth], &k) != 0) tried |= 1u << tenth;
        }
        if (tried == 0) continue;
      }

      bool matched = false;
      uint64_t matchedLow = 0;  // series positions 0 .. 63 matched
      const int32_t lowTenth = __builtin_ctz(tried);
      const int32_t highTenth = 31 - __builtin_clz(tried);
      const int32_t Fa = F0 + lowTenth;
      const int32_t da = dOf[lowTenth];
      const int32_t Fb = F0 + highTenth;
      const int32_t db = dOf[highTenth];
      // Position 0 for F0 + tenth whose harmonic 1 is found at p1: harmonics
      // 2 and 3 found, the spacings in [F - d, F + d].
      auto matchesPosition0 = [&](int32_t tenth, int32_t p1) {
        const int32_t F = F0 + tenth;
        const int32_t d = dOf[tenth];
        auto peakOf = [&](int32_t h) {
          const int32_t target = h * F;
          const int32_t v = peakFrom(target - d);
          return inWindow(v, target + d) ? v : kNotFound;
        };
        auto inClosed = [&](int32_t v) { return v >= F - d && v <= F + d; };
        const int32_t p2 = peakOf(2);
        if (p2 == kNotFound || !inClosed(p2 - p1)) return false;
        const int32_t p3 = peakOf(3);
        return p3 != kNotFound && inClosed(p3 - p2);
      };
      // Position 0. Harmonic 3 may lie past the limit: its window is looked up
      // only while it starts at or below the limit (3 F - d grows with F).
      // The first peak at or above the lowest window start of harmonic 1
      // tells which F may find harmonic 1 (the windows lie in [Fa - da,
      // Fb + db]; a found peak lies in its window, [F - d, F + d]).
      const int32_t first1 = 3 * Fa - da <= topTenths ? peakFrom(Fa - da) : kNoPeakAbove;
      if (first1 <= Fb + db) {
        bool done = false;
        {
          for (uint32_t rest = tried; rest != 0 && !done; rest &= rest - 1) {
            const int32_t tenth = __builtin_ctz(rest);
            const int32_t F = F0 + tenth;
            const int32_t d = dOf[tenth];
            if (3 * F - d > topTenths) break;
            const int32_t p1 = peakFrom(F - d);
            done = inWindow(p1, F + d) && matchesPosition0(tenth, p1);
          }
        }
        if (done) {  // the other F add nothing to position 0
          matchedLow = 1u;
          matched = true;
        }
      }

      // Harmonic q of F0 + tenth found at peak v: the harmonics in step with
      // it and the positions they match.
      auto matchAround = [&](int32_t q, int32_t tenth, int32_t v) {
        const int32_t F = F0 + tenth;
        const int32_t d = dOf[tenth];
        const int32_t target = q * F;
        // The peak of harmonic h, or kNotFound; any h whose window starts at
        // or below the limit (every h * F < topTenths does).
        auto peakOf = [&](int32_t h) {
          const int32_t at = h * F;
          const int32_t w = peakFrom(at - d);
          return inWindow(w, at + d) ? w : kNotFound;
        };
        // w in (F - d, F + d); d >= 11.
        const uint32_t openLow = static_cast<uint32_t>(F - d + 1);
        const uint32_t openWidth = static_cast<uint32_t>(2 * d - 1);
        auto inStep = [&](int32_t w, int32_t previous) {
          return static_cast<uint32_t>(w - previous) - openLow < openWidth;
        };
        int32_t a = 0;  // harmonics q, q - 1, q - 2 in step, as long as all are
        for (int32_t peak = v; a < 3;) {
          const int32_t below = peakOf(q - a - 1);
          if (!inStep(peak, below)) break;
          peak = below;
          ++a;
        }
        int32_t b = 0;  // harmonics q + 1, q + 2, q + 3 in step
        for (int32_t peak = v; b < 3 && target + (b + 1) * F < topTenths;) {
          const int32_t above = peakOf(q + b + 1);
          if (!inStep(above, peak)) break;
          peak = above;
          ++b;
        }
        if (a + b < 3) return;  // no three steps in a row
        const int32_t mFirst = std::max(q - a - 1, 1);
        const int32_t mLast = std::min(q + b - 4, lastPosition);
        if (mFirst > mLast) return;
        // q - 4 .. q - 1 lie in one word (q and the word size are multiples
        // of 4).
        const uint64_t bits = ((uint64_t{2} << (mLast - mFirst)) - 1u) << (mFirst % kSeriesPerWord);
        matched = true;
        if (mFirst < kSeriesPerWord) {
          matchedLow |= bits;
        } else {
          matchSlot[static_cast<size_t>(c) * matchWords + mFirst / kSeriesPerWord] |= bits;
        }
      };

      // Positions 1 .. lastPosition with harmonic m + 4 below the limit.
      for (int32_t q = 4; q <= lastQ && q * Fa < topTenths; q += 4) {
        const int32_t first = peakFrom(q * Fa - da);
        if (first == kNoPeakAbove) break;  // no peak for q or any later harmonic
        const int32_t highEnd = q * Fb + db;
        if (first > highEnd) continue;  // no F of the bin finds harmonic q
        for (uint32_t rest = tried; rest != 0; rest &= rest - 1) {
          const int32_t tenth = __builtin_ctz(rest);
          const int32_t target = q * (F0 + tenth);
          if (target >= topTenths) break;  // nor for the higher F
          const int32_t v = peakFrom(target - dOf[tenth]);
          if (inWindow(v, target + dOf[tenth])) matchAround(q, tenth, v);
        }
      }
      if (matched) {
        matchSlot[static_cast<size_t>(c) * matchWords] |= matchedLow;
        canSlot[c] = 1;
      }
    }
  };

  if (byTenths) {
    // Windows end below topTenths + 60 <= kTenthsTable + 60.
    static_assert(kTenthsTable + 60 < kNoPeakAbove, "a window end reaches kNoPeakAbove");
    matchAll([firstPeakAt](int32_t t) -> int32_t { return firstPeakAt[t]; }, std::true_type{});
  } else {
    // ceil(t / 10) for t >= -1: the unsigned division maps -1 to bin 0.
    matchAll(
        [firstPeakFrom](int32_t t) -> int32_t {
          return firstPeakFrom[static_cast<uint32_t>(t + kTenthsPerBin - 1) /
                               static_cast<uint32_t>(kTenthsPerBin)];
        },
        std::false_type{});
  }
}
