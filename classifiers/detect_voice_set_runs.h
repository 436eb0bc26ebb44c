// The sets a search over a range of pitches meets, each visited once.
// Internal to classifiers/.
#ifndef KVD_CLASSIFIERS_DETECT_VOICE_SET_RUNS_H
#define KVD_CLASSIFIERS_DETECT_VOICE_SET_RUNS_H

#include <cstdint>
#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "classifiers/detect_voice_sets.h"

namespace kvd_voice {

// The search q by q, for q = qFirst .. qLast: ForEachSet with the first
// member in [series q - tol, series (q + 1) + tol) (series: 1 for the sets
// from the first harmonic, m + 1 for those from harmonic m + 1; the whole
// products converted to float) and the spacings in [q - tol, q + tol).
// Every one of those bounds rises with q, so a set lies in the
// windows of a run of consecutive q, and that search meets it at each of
// them. Here the sets are found in one pass over the union of the windows,
// each kept with the first q whose windows hold it, and visited once: by that
// q, and within one q in ForEachSet's order, which is the order in which the
// search by q first meets them. visit(const int32_t* idx) as for ForEachSet.
//
// False, with nothing visited, when the range holds more than kRunPitches
// pitches or the sets are more than kRunSets: the caller then searches q by
// q.
constexpr int32_t kRunPitches = 32;
constexpr int32_t kRunSets = 32;

template <typename Visit>
bool ForEachSetOfPitchRun(const int16_t* peaks, int32_t count, int32_t members, int32_t qFirst,
                          int32_t qLast, float tol, int32_t series, Visit& visit) {
  const int32_t pitches = qLast - qFirst + 1;
  if (pitches <= 0) return true;  // no q: the search meets no set
  if (pitches > kRunPitches) return false;
  // The whole bounds of each q, as ForEachSet compares them.
  int32_t firstFrom[kRunPitches];
  int32_t firstTo[kRunPitches];
  int32_t stepFrom[kRunPitches];
  int32_t stepTo[kRunPitches];
#if defined(__SSE2__)
  // The bounds of four q at once: the same whole products, conversions,
  // subtractions, additions and CeilToInt per lane (the lanes past the last
  // q are not read).
  const __m128 tols = _mm_set1_ps(tol);
  auto ceiled = [](__m128 v) {
    const __m128i truncated = _mm_cvttps_epi32(v);
    return _mm_sub_epi32(truncated, _mm_castps_si128(_mm_cmplt_ps(_mm_cvtepi32_ps(truncated), v)));
  };
  const __m128i seriesLanes = _mm_setr_epi32(0, series, 2 * series, 3 * series);
  const __m128i seriesStep = _mm_set1_epi32(series);
  for (int32_t i = 0; i < pitches; i += 4) {
    const int32_t q = qFirst + i;
    const __m128 qf = _mm_cvtepi32_ps(_mm_add_epi32(_mm_set1_epi32(q), _mm_setr_epi32(0, 1, 2, 3)));
    const __m128i start = _mm_add_epi32(_mm_set1_epi32(series * q), seriesLanes);
    const __m128 lo = _mm_sub_ps(_mm_cvtepi32_ps(start), tols);
    const __m128 hi = _mm_add_ps(_mm_cvtepi32_ps(_mm_add_epi32(start, seriesStep)), tols);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(firstFrom + i), ceiled(lo));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(firstTo + i), ceiled(hi));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(stepFrom + i), ceiled(_mm_sub_ps(qf, tols)));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(stepTo + i), ceiled(_mm_add_ps(qf, tols)));
  }
#else
  for (int32_t i = 0; i < pitches; ++i) {
    const int32_t q = qFirst + i;
    const float qf = static_cast<float>(q);
    firstFrom[i] = CeilToInt(static_cast<float>(series * q) - tol);
    firstTo[i] = CeilToInt(static_cast<float>(series * (q + 1)) + tol);
    stepFrom[i] = CeilToInt(qf - tol);
    stepTo[i] = CeilToInt(qf + tol);
  }
#endif

  struct FoundSet {
    int32_t idx[kSetSize];
    int32_t pitch;  // index of the first q holding the set
  };
  FoundSet found[kRunSets];
  int32_t sets = 0;
  uint32_t pitchesMet = 0;  // bit i: some set is first held by qFirst + i
  bool tooMany = false;
  // The first q whose first window does not end at or below the first
  // member: it does not fall as ForEachSet moves the first member up.
  int32_t unended = 0;
  auto keep = [&](const int32_t* idx) {
    if (tooMany) return;
    const int32_t first = peaks[idx[0]];
    while (unended < pitches && firstTo[unended] <= first) ++unended;
    for (int32_t i = unended; i < pitches; ++i) {
      // The first windows of the q from i on start above the first member.
      if (first < firstFrom[i]) return;
      if (first >= firstTo[i]) continue;
      bool inStep = true;
      for (int32_t j = 1; j < members && inStep; ++j) {
        const int32_t step = peaks[idx[j]] - peaks[idx[j - 1]];
        inStep = step >= stepFrom[i] && step < stepTo[i];
      }
      if (!inStep) continue;
      if (sets == kRunSets) {
        tooMany = true;
        return;
      }
      for (int32_t j = 0; j < kSetSize; ++j) found[sets].idx[j] = idx[j];
      found[sets].pitch = i;
      pitchesMet |= uint32_t{1} << i;
      ++sets;
      return;
    }
  };
  ForEachSet(peaks, count, members, static_cast<float>(series * qFirst) - tol,
             static_cast<float>(series * (qLast + 1)) + tol, static_cast<float>(qFirst) - tol,
             static_cast<float>(qLast) + tol, keep);
  if (tooMany) return false;
  for (; pitchesMet != 0; pitchesMet &= pitchesMet - 1u) {
    const int32_t pitch = __builtin_ctz(pitchesMet);
    for (int32_t i = 0; i < sets; ++i) {
      if (found[i].pitch == pitch) visit(static_cast<const int32_t*>(found[i].idx));
    }
  }
  return true;
}

}  // namespace kvd_voice

#endif  // KVD_CLASSIFIERS_DETECT_VOICE_SET_RUNS_H
