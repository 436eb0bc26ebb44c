// Harmonic sets of CDetectVoice: their layout by series position
// and the enumeration of candidate sets among a frame's ascending peaks.
// Internal to classifiers/.
#ifndef KVD_CLASSIFIERS_DETECT_VOICE_SETS_H
#define KVD_CLASSIFIERS_DETECT_VOICE_SETS_H

#include <cstdint>
#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "classifiers/detect_voice_tuning.h"

namespace kvd_voice {

// Where the harmonics of a track of series position m sit in a set:
//
//   entry:            0        1        2        3
//   m = 0:            0        h1       h2       h3      (three members)
//   m >= 1:         h(m+1)   h(m+2)   h(m+3)   h(m+4)    (four members)
struct SetLayout {
  int32_t firstEntry;         // entry of the lowest member
  int32_t members;            // 3 or 4
  int16_t numbers[kSetSize];  // harmonic number of each entry (0: unused)
};

inline SetLayout LayoutOf(int32_t m) {
  if (m == 0) {
    return SetLayout{1, 3, {0, 1, 2, 3}};
  }
  return SetLayout{0, kSetSize,
                   {static_cast<int16_t>(m + 1), static_cast<int16_t>(m + 2),
                    static_cast<int16_t>(m + 3), static_cast<int16_t>(m + 4)}};
}

// Pitch of a set in bins, single precision with real divisions:
// m = 0: (h1 + h2 / 2 + h3 / 3) / 3; m >= 1: the mean of entry / number.
inline float SetPitch(const int16_t* set, int32_t m) {
#if defined(__SSE2__)
  // The four quotients at once (the same single-precision divisions), added
  // in entry order as below.
  const __m128i four = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(set));
  const __m128 bins = _mm_cvtepi32_ps(_mm_srai_epi32(_mm_unpacklo_epi16(four, four), 16));
  // m = 0: entry 0 is unused, divided by 1 and left out of the sum.
  const __m128 numbers =
      m == 0 ? _mm_setr_ps(1.0f, 1.0f, 2.0f, 3.0f)
             : _mm_cvtepi32_ps(_mm_add_epi32(_mm_set1_epi32(m), _mm_setr_epi32(1, 2, 3, 4)));
  alignas(16) float quotient[kSetSize];
  _mm_store_ps(quotient, _mm_div_ps(bins, numbers));
  if (m == 0) return (quotient[1] + quotient[2] + quotient[3]) / 3.0f;
  return (quotient[0] + quotient[1] + quotient[2] + quotient[3]) / 4.0f;
#else
  const SetLayout layout = LayoutOf(m);
  float sum = 0.0f;
  for (int32_t i = layout.firstEntry; i < kSetSize; ++i) {
    sum += static_cast<float>(set[i]) / static_cast<float>(layout.numbers[i]);
  }
  return sum / static_cast<float>(layout.members);
#endif
}

// The smallest integer at or above v (|v| well inside the int32 range): an
// integer bin b lies below v exactly when b < CeilToInt(v).
inline int32_t CeilToInt(float v) {
  const int32_t t = static_cast<int32_t>(v);  // towards zero
  return static_cast<float>(t) < v ? t + 1 : t;
}

// The first index from i on (i <= count) whose peak lies at or above bin,
// or count when none does.
inline int32_t FirstAtOrAbove(const int16_t* peaks, int32_t i, int32_t count, int32_t bin) {
#if defined(__SSE2__)
  // Eight peaks at a time while eight are left: the first not below bin is
  // the lowest lane of the comparison's mask left clear.
  if (bin > INT16_MAX) return count;
  const __m128i limit = _mm_set1_epi16(static_cast<int16_t>(bin < INT16_MIN ? INT16_MIN : bin));
  for (; i + 8 <= count; i += 8) {
    const __m128i eight = _mm_loadu_si128(reinterpret_cast<const __m128i*>(peaks + i));
    const uint32_t below = static_cast<uint32_t>(_mm_movemask_epi8(_mm_cmplt_epi16(eight, limit)));
    if (below != 0xFFFFu) return i + __builtin_ctz(~below) / 2;
  }
#endif
  while (i < count && peaks[i] < bin) ++i;
  return i;
}

// Visits every ascending index tuple idx[0] < idx[1] < ... < idx[members-1]
// of peaks[0 .. count-1] (ascending bins) whose first peak lies in
// [firstLo, firstHi) and whose every next peak lies at a spacing in
// [stepLo, stepHi) from the previous member. Each loop stops as soon as a
// peak lies beyond its window. Bins and spacings are whole, so every bound
// is compared as the integer CeilToInt gives. visit(const int32_t* idx).
//
// ExtendSet places member kDepth after `last`, the index of member
// kDepth - 1 (`earlier` those of the members before it): one loop per
// member, nested at compile time (members <= kSetSize). The indices travel
// as arguments and make an array only for visit, so that each loop keeps
// its own in a register.
template <int32_t kDepth, typename Visit, typename... Earlier>
void ExtendSet(const int16_t* peaks, int32_t count, int32_t members, int32_t stepLo,
               int32_t stepHi, Visit& visit, int32_t last, Earlier... earlier) {
  static_assert(sizeof...(Earlier) + 1 == kDepth, "one index per member placed");
  if constexpr (kDepth >= kSetSize) {
    const int32_t idx[kSetSize] = {earlier..., last};
    visit(static_cast<const int32_t*>(idx));
  } else {
    if (kDepth >= members) {
      const int32_t idx[kSetSize] = {earlier..., last};  // the entries past members 0
      visit(static_cast<const int32_t*>(idx));
      return;
    }
    const int32_t previous = peaks[last];
    for (int32_t i = last + 1; i < count; ++i) {
      const int32_t step = peaks[i] - previous;
      if (step < stepLo) continue;
      if (step >= stepHi) break;
      ExtendSet<kDepth + 1>(peaks, count, members, stepLo, stepHi, visit, i, earlier..., last);
    }
  }
}

// `start` (in / out): no peak before index start lies at or above firstLo.
// 0 always holds; on return it is the first peak at or above firstLo, which
// holds for a later call whose firstLo is not lower.
template <typename Visit>
void ForEachSet(const int16_t* peaks, int32_t count, int32_t members, float firstLo,
                float firstHi, float stepLo, float stepHi, int32_t& start, Visit visit) {
#if defined(__SSE2__)
  // The four CeilToInt at once: the same truncation, conversion back and
  // comparison per lane.
  const __m128 bounds = _mm_setr_ps(stepLo, stepHi, firstLo, firstHi);
  const __m128i truncated = _mm_cvttps_epi32(bounds);
  const __m128i below = _mm_castps_si128(_mm_cmplt_ps(_mm_cvtepi32_ps(truncated), bounds));
  const __m128i ceiled = _mm_sub_epi32(truncated, below);  // + 1 where below
  const int32_t stepFrom = _mm_cvtsi128_si32(ceiled);
  const int32_t stepTo = _mm_cvtsi128_si32(_mm_shuffle_epi32(ceiled, _MM_SHUFFLE(1, 1, 1, 1)));
  const int32_t firstFrom = _mm_cvtsi128_si32(_mm_shuffle_epi32(ceiled, _MM_SHUFFLE(2, 2, 2, 2)));
  const int32_t firstTo = _mm_cvtsi128_si32(_mm_shuffle_epi32(ceiled, _MM_SHUFFLE(3, 3, 3, 3)));
#else
  const int32_t stepFrom = CeilToInt(stepLo);
  const int32_t stepTo = CeilToInt(stepHi);
  const int32_t firstFrom = CeilToInt(firstLo);
  const int32_t firstTo = CeilToInt(firstHi);
#endif
  int32_t i = FirstAtOrAbove(peaks, start, count, firstFrom);
  start = i;
  for (; i < count && peaks[i] < firstTo; ++i) {
    ExtendSet<1>(peaks, count, members, stepFrom, stepTo, visit, i);
  }
}

template <typename Visit>
void ForEachSet(const int16_t* peaks, int32_t count, int32_t members, float firstLo,
                float firstHi, float stepLo, float stepHi, Visit visit) {
  int32_t start = 0;
  ForEachSet(peaks, count, members, firstLo, firstHi, stepLo, stepHi, start, visit);
}

// GetHarmoArea for a set whose members are the kept peaks idx[0 ..
// members - 1] of their frame (set entries firstEntry ..): kept peaks lie on
// distinct ascending bins, so the lookup of each member lands on its own
// index. Writes the entries' relative areas (1/10000) and absolute areas
// into area / absArea (0 for unused entries) and returns the mean relative
// area of the members, their running sum held at kAreaSumCap.
inline int16_t MemberAreas(const int16_t* bins, const int16_t* peakArea,
                           const float* peakAbsArea, const int32_t* idx, int32_t firstEntry,
                           int16_t* area, float* absArea) {
  int32_t sum = 0;
  int32_t found = 0;
  // Every entry written once: 0 where unused or below bin 1.
  for (int32_t h = 0; h < firstEntry; ++h) {
    area[h] = 0;
    absArea[h] = 0.0f;
  }
  for (int32_t h = firstEntry; h < kSetSize; ++h) {
    const int32_t i = idx[h - firstEntry];
    if (bins[i] < 1) {  // no set entry below bin 1
      area[h] = 0;
      absArea[h] = 0.0f;
      continue;
    }
    area[h] = peakArea[i];
    absArea[h] = peakAbsArea[i];
    sum = sum + peakArea[i] < kAreaSumCap ? sum + peakArea[i] : kAreaSumCap;
    ++found;
  }
  return found > 0 ? static_cast<int16_t>(sum / found) : 0;
}

// Spread (largest minus smallest) of the spacings of a set a whose entries
// have the harmonic numbers n: with n[0] = 0 the spacings are a[1],
// a[2] - a[1], a[3] - a[2]; otherwise a[0] / n[0] (integer division) and the
// three differences.
inline int16_t TestEven(const int16_t* a, const int16_t* n) {
  const int32_t second = a[2] - a[1];
  const int32_t third = a[3] - a[2];
  int32_t lo = second < third ? second : third;
  int32_t hi = second < third ? third : second;
  if (n[0] == 0) {
    lo = lo < a[1] ? lo : a[1];
    hi = hi > a[1] ? hi : a[1];
  } else {
    const int32_t first = a[0] / n[0];
    const int32_t step = a[1] - a[0];
    const int32_t low = first < step ? first : step;
    const int32_t high = first < step ? step : first;
    lo = lo < low ? lo : low;
    hi = hi > high ? hi : high;
  }
  return static_cast<int16_t>(hi - lo);
}

inline float Clamp(float v, float lo, float hi) { return v < lo ? lo : (v > hi ? hi : v); }

}  // namespace kvd_voice

#endif  // KVD_CLASSIFIERS_DETECT_VOICE_SETS_H
