// CDetectVoice: the tests that accept or reject a harmonic set:
// GetHarmoArea, CompareAbsArea, TestTrueFullHarmo and Connect4's
// TestTrueHarmo (TestTrueHarmo itself and the comparisons of two sets are in
// detect_voice_track_checks.h, TestEven, the spacing spread, in
// detect_voice_sets.h). Rejections answer -1, acceptances a positive value.
#include <algorithm>
#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "classifiers/detect_voice_sets.h"
#include "classifiers/detect_voice_track_checks.h"
#include "classifiers/detect_voice_tuning.h"
#include "kvd/detect_voice.h"

using namespace kvd_voice;

// Looks up the peaks a[0 .. 3] of a set among the kept peaks of the frame,
// copying their areas into HarmoArea[frame] / HarmoAbsArea[frame]; returns
// the mean relative area of the found peaks (0 when none).
int16_t CDetectVoice::GetHarmoArea(const int16_t* a, int16_t frame) {
  const int16_t* peaks = PeakBins(frame);
  const int16_t* peakAreas = PeakAreas(frame);
  const int32_t peakCount = MaxNum[frame];
  int32_t index = 0;
  int32_t sum = 0;
  int32_t found = 0;
  for (int32_t h = 0; h < kSetSize; ++h) {
    HarmoArea[frame][h] = 0;
    HarmoAbsArea[frame][h] = 0.0f;
    if (a[h] < 1) continue;
    while (index < peakCount && peaks[index] < a[h]) ++index;
    if (index >= peakCount) {
      ++found;  // beyond the last kept peak: found, with no area
    } else if (peaks[index] == a[h]) {
      HarmoArea[frame][h] = peakAreas[index];
      HarmoAbsArea[frame][h] = PeakAbsAreas(frame)[index];
      sum = std::min(sum + peakAreas[index], kAreaSumCap);
      ++found;
    } else if (index > 0) {
      // Between two kept peaks: not found. A bin below the first kept peak
      // (a virtual peak of Connect3 / Connect4) is not found either, and the
      // index stays on the row.
      --index;
    }
  }
  return found > 0 ? static_cast<int16_t>(sum / found) : 0;
}

int16_t CDetectVoice::CompareAbsArea(const float* a, const float* b, float pitch) {
  return AbsAreaAgreement(a, b, pitch, Bin157);
}

// Checks the set just searched in `frame` against the track first .. last
// (which includes frame). The caller has checked the set itself: a set
// whose every relative area is below kWeakHarmonicArea carries no harmonic.
// The neighbour tests of the pairs of slots before `pairsFrom` are not
// repeated either: the caller knows they pass.
int16_t CDetectVoice::TestTrueFullHarmo(int16_t frame, int16_t first, int16_t last,
                                        int16_t pairsFrom) {
  if (first >= last) return 1;

  for (int32_t j = std::max(first, pairsFrom); j < last; ++j) {
    if (MovesBothWays(HarmoPeak[j], HarmoPeak[j + 1])) return -1;
    if (CompareArea(HarmoArea[j], HarmoArea[j + 1]) >= 2) return -1;
    if (AbsAreaAgreement(HarmoAbsArea[j], HarmoAbsArea[j + 1], FramePitch[j], Bin157) < 0) {
      return -1;
    }
  }

  // Each harmonic of a fully harmonic band would hold pitch / MaxHarmoBin of
  // the frame's area: E in units of 1/10000.
  int32_t sum = 0;
  int32_t count = 0;
  const int32_t slots = last - first + 1;
#if defined(__SSE2__)
  if (slots <= 3) {
    // A seed's two or three slots in place, as AddPositiveAreas adds them
    // (its third row on its own, the count of a lane at most 2).
    const int16_t* entry = HarmoArea[first];
    const __m128i zero = _mm_setzero_si128();
    const __m128i ones = _mm_set1_epi16(1);
    const __m128i rows = _mm_loadu_si128(reinterpret_cast<const __m128i*>(entry));
    const __m128i third = slots == 3 ? _mm_loadl_epi64(reinterpret_cast<const __m128i*>(
                                           entry + 2 * kSetSize))
                                     : zero;
    const __m128i rowsPositive = _mm_cmpgt_epi16(rows, zero);
    const __m128i thirdPositive = _mm_cmpgt_epi16(third, zero);
    __m128i sums = _mm_add_epi32(_mm_madd_epi16(_mm_and_si128(rows, rowsPositive), ones),
                                 _mm_madd_epi16(_mm_and_si128(third, thirdPositive), ones));
    __m128i counts = _mm_madd_epi16(_mm_add_epi16(rowsPositive, thirdPositive), ones);
    sums = _mm_add_epi32(sums, _mm_shuffle_epi32(sums, _MM_SHUFFLE(1, 0, 3, 2)));
    sums = _mm_add_epi32(sums, _mm_shuffle_epi32(sums, _MM_SHUFFLE(2, 3, 0, 1)));
    counts = _mm_add_epi32(counts, _mm_shuffle_epi32(counts, _MM_SHUFFLE(1, 0, 3, 2)));
    counts = _mm_add_epi32(counts, _mm_shuffle_epi32(counts, _MM_SHUFFLE(2, 3, 0, 1)));
    sum = _mm_cvtsi128_si32(sums);
    count = -_mm_cvtsi128_si32(counts);
  } else {
    AddPositiveAreas(HarmoArea + first, slots, sum, count);
  }
#else
  AddPositiveAreas(HarmoArea + first, slots, sum, count);
#endif
  // Held at kAreaSumCap. Every term is positive, so holding the running sum
  // after each one gives the same as holding the total.
  sum = std::min(sum, kAreaSumCap);
  const float expected = FramePitch[frame] * kAreaUnitsPerWhole / static_cast<float>(MaxHarmoBin);
  const float total = static_cast<float>(count) * expected;
  if (static_cast<float>(sum) < kExpectedShareFloor * total) return -1;

  if (FramePitch[frame] >= static_cast<float>(Bin157)) {
    for (int32_t h = 0; h < kSetSize; ++h) {
      if (static_cast<float>(HarmoArea[frame][h]) > expected) return 1;
    }
    return -1;
  }
  return static_cast<float>(sum) >= total ? 1 : -1;
}

// Connect4's test of a set with a virtual peak, made while it has changed
// the reference row: the areas of the track are those grown (or, before
// any step, summed over its rows) less the entry taken out of the reference.
int16_t CDetectVoice::TestTrueHarmo(int16_t s, int16_t e, int16_t k, int16_t removedArea) {
  TrackSums track{};
  if (grownAreasLive && grownAreas != kAreasUnsummed) {
    const bool positive = removedArea > 0;
    track.areaSum = static_cast<int32_t>(grownAreas >> 7) - (positive ? removedArea : 0);
    track.areaCount = static_cast<int32_t>(grownAreas & 127u) - (positive ? 1 : 0);
  } else {
    AddPositiveAreas(HarmoArea + s, e - s + 1, track.areaSum, track.areaCount);
  }
  track.areasSummed = true;
  return TestTrueHarmo(track, s, e, k);
}
