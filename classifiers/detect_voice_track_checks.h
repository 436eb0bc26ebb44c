// CDetectVoice: the tests of a frame against the track it would extend,
// made by TestTrueHarmo, and the helpers they share with TestTrueFullHarmo.
// In a header so that ConnectHarmo4Full, which tries a track test for
// each set it meets, has them inline (calls to the members of the exported
// class are not inlined unless the member is inline). Internal to
// classifiers/.
#ifndef KVD_CLASSIFIERS_DETECT_VOICE_TRACK_CHECKS_H
#define KVD_CLASSIFIERS_DETECT_VOICE_TRACK_CHECKS_H

#include <algorithm>
#include <cstdint>
#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "classifiers/detect_voice_tuning.h"
#include "kvd/detect_voice.h"

namespace kvd_voice {

// A set whose every relative area is below 1 % carries no harmonic.
inline constexpr int16_t kWeakHarmonicArea = 100;
// CompareArea: areas differing by more than a factor 5.
inline constexpr int32_t kAreaRatio = 5;
inline constexpr float kAreaInverseRatio = 0.2f;
// CompareAbsArea: absolute areas differing by more than a factor 10.
inline constexpr float kAbsAreaRatio = 10.0f;
inline constexpr float kAbsAreaInverseRatio = 0.1f;
// The harmonic areas of a track must reach half their expected share (and
// all of it below 157 Hz).
inline constexpr float kExpectedShareFloor = 0.5f;
// Zig-zag: pitch steps above 10 % of the pitch, at most one bin, count; the
// track is rejected when rises and falls both exceed 1 and reach 30 % of its
// frames.
inline constexpr float kZigZagStepShare = 0.1f;
inline constexpr float kZigZagMaxStepBins = 1.0f;
inline constexpr float kZigZagFrameShare = 0.3f;

// True when some harmonic of `earlier` lies more than one bin above the one
// of `later` (that one present) while another lies more than one bin below
// it: the set moved up and down at once.
inline bool MovesBothWays(const int16_t* earlier, const int16_t* later) {
#if defined(__SSE2__)
  // The four entries at once, widened to int32 so that after + 1 and
  // after - 1 cannot wrap.
  auto widen = [](const int16_t* v) {
    const __m128i four = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(v));
    return _mm_srai_epi32(_mm_unpacklo_epi16(four, four), 16);
  };
  const __m128i before = widen(earlier);
  const __m128i after = widen(later);
  const __m128i one = _mm_set1_epi32(1);
  const __m128i down = _mm_and_si128(_mm_cmpgt_epi32(after, _mm_setzero_si128()),
                                     _mm_cmpgt_epi32(before, _mm_add_epi32(after, one)));
  const __m128i up = _mm_cmplt_epi32(before, _mm_sub_epi32(after, one));
  return _mm_movemask_epi8(down) != 0 && _mm_movemask_epi8(up) != 0;
#else
  // Branch-free over the four entries (the compiler compares them at once).
  int32_t down = 0;
  int32_t up = 0;
  for (int32_t h = 0; h < kSetSize; ++h) {
    const int32_t before = earlier[h];
    const int32_t after = later[h];
    down |= static_cast<int32_t>(after > 0) & static_cast<int32_t>(before > after + 1);
    up |= static_cast<int32_t>(before < after - 1);
  }
  return (down & up) != 0;
#endif
}

// Adds the positive relative areas of the sets of consecutive slots
// (`slots` rows from `areas`) to sum and counts them. With SSE2 eight
// entries (two rows) at a time: the count of each 16-bit lane stays below
// the 30 rows of the window, and each pair of areas (below 32768 each) sums
// to an exact int32.
inline void AddPositiveAreas(const int16_t (*areas)[kSetSize], int32_t slots, int32_t& sum,
                      int32_t& count) {
  const int16_t* entry = areas[0];
  const int32_t entries = slots * kSetSize;
  int32_t i = 0;
#if defined(__SSE2__)
  const __m128i zero = _mm_setzero_si128();
  const __m128i ones = _mm_set1_epi16(1);
  __m128i sums = zero;    // int32 lanes
  __m128i counts = zero;  // int16 lanes
  auto add = [&](__m128i v) {
    const __m128i positive = _mm_cmpgt_epi16(v, zero);  // all ones where > 0
    sums = _mm_add_epi32(sums, _mm_madd_epi16(_mm_and_si128(v, positive), ones));
    counts = _mm_sub_epi16(counts, positive);
  };
  for (; i + 2 * kSetSize <= entries; i += 2 * kSetSize) {
    add(_mm_loadu_si128(reinterpret_cast<const __m128i*>(entry + i)));
  }
  if (i + kSetSize <= entries) {
    add(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(entry + i)));
    i += kSetSize;
  }
  auto total = [](__m128i v) {
    v = _mm_add_epi32(v, _mm_shuffle_epi32(v, _MM_SHUFFLE(1, 0, 3, 2)));
    v = _mm_add_epi32(v, _mm_shuffle_epi32(v, _MM_SHUFFLE(2, 3, 0, 1)));
    return _mm_cvtsi128_si32(v);
  };
  sum += total(sums);
  count += total(_mm_madd_epi16(counts, ones));
#endif
  for (; i < entries; ++i) {
    const int32_t area = entry[i];
    sum += area > 0 ? area : 0;
    count += area > 0 ? 1 : 0;
  }
}

// Set bits of a 4-bit mask (no population-count instruction in the x86-64
// baseline).
inline constexpr int8_t kBitsOf[16] = {0, 1, 1, 2, 1, 2, 2, 3, 1, 2, 2, 3, 2, 3, 3, 4};

// Number of entries whose relative areas differ by more than a factor 5,
// in either direction.
inline int16_t CompareArea(const int16_t* a, const int16_t* b) {
#if defined(__SSE2__)
  // The four entries at once in single precision: int16 areas and their
  // products by 5 (below 2^24) are exact there, so a > 5 b compares as in
  // int32.
  auto widen = [](const int16_t* v) {
    const __m128i four = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(v));
    return _mm_cvtepi32_ps(_mm_srai_epi32(_mm_unpacklo_epi16(four, four), 16));
  };
  const __m128 va = widen(a);
  const __m128 vb = widen(b);
  const __m128 ratio = _mm_set1_ps(static_cast<float>(kAreaRatio));
  const int32_t above = _mm_movemask_ps(_mm_cmpgt_ps(va, _mm_mul_ps(ratio, vb)));
  const int32_t below =
      _mm_movemask_ps(_mm_cmplt_ps(va, _mm_mul_ps(_mm_set1_ps(kAreaInverseRatio), vb)));
  return static_cast<int16_t>(kBitsOf[above] + kBitsOf[below]);
#else
  // Branch-free over the four entries (the compiler compares them at once).
  int32_t mismatches = 0;
  for (int32_t i = 0; i < kSetSize; ++i) {
    mismatches += static_cast<int32_t>(a[i] > kAreaRatio * b[i]);
    mismatches += static_cast<int32_t>(static_cast<float>(a[i]) <
                                       kAreaInverseRatio * static_cast<float>(b[i]));
  }
  return static_cast<int16_t>(mismatches);
#endif
}

// 1 when the absolute areas of the entries present in both sets agree within
// a factor 10 closely enough: from the pitch Bin157 up no entry may differ;
// below it one may, as long as fewer than half of the shared entries differ
// (real half: one of three shared entries is tolerated). -1 otherwise, and
// when no entry is shared.
inline int16_t AbsAreaAgreement(const float* a, const float* b, float pitch, int16_t bin157) {
  // Flags of the shared entries and of those differing, all four at once:
  // the same single-precision products and comparisons as entry by entry,
  // and an answer that does not depend on which entry differs first.
  int32_t sharedMask = 0;
  int32_t differingMask = 0;
#if defined(__SSE2__)
  const __m128 va = _mm_loadu_ps(a);
  const __m128 vb = _mm_loadu_ps(b);
  const __m128 zero = _mm_setzero_ps();
  const __m128 sharedLanes = _mm_and_ps(_mm_cmpgt_ps(va, zero), _mm_cmpgt_ps(vb, zero));
  const __m128 apart =
      _mm_or_ps(_mm_cmpgt_ps(va, _mm_mul_ps(_mm_set1_ps(kAbsAreaRatio), vb)),
                _mm_cmplt_ps(va, _mm_mul_ps(_mm_set1_ps(kAbsAreaInverseRatio), vb)));
  sharedMask = _mm_movemask_ps(sharedLanes);
  differingMask = _mm_movemask_ps(_mm_and_ps(sharedLanes, apart));
#else
  for (int32_t i = 0; i < kSetSize; ++i) {
    if (a[i] > 0.0f && b[i] > 0.0f) {
      sharedMask |= 1 << i;
      if (a[i] > kAbsAreaRatio * b[i] || a[i] < kAbsAreaInverseRatio * b[i]) {
        differingMask |= 1 << i;
      }
    }
  }
#endif
  const int32_t shared = kBitsOf[sharedMask];
  const int32_t differing = kBitsOf[differingMask];
  if (differing >= 2 || (differing == 1 && static_cast<float>(bin157) <= pitch)) return -1;
  return 2 * differing < shared ? 1 : -1;
}

// Zig-zag step of a track whose reference frame has this pitch: above 10 %
// of the pitch, at most one bin.
inline float ZigZagStep(float pitch) {
  return std::min(kZigZagStepShare * pitch, kZigZagMaxStepBins);
}

// Counts a pitch step from `before` to `after` as a rise or a fall.
inline void CountStep(float before, float after, float step, int32_t& rises, int32_t& falls) {
  if (after > before + step) {
    ++rises;
  } else if (after < before - step) {
    ++falls;
  }
}

// Counts the pitch rises and falls of s .. e by more than `step` (bins).
inline void CountSteps(const float* pitch, int32_t s, int32_t e, float step, int32_t& rises,
                int32_t& falls) {
  int32_t j = s;
#if defined(__SSE2__)
  // Four steps at a time: the same sums and comparisons per lane.
  const __m128 up = _mm_set1_ps(step);
  for (; j + 4 <= e; j += 4) {
    const __m128 before = _mm_loadu_ps(pitch + j);
    const __m128 after = _mm_loadu_ps(pitch + j + 1);
    const __m128 rise = _mm_cmpgt_ps(after, _mm_add_ps(before, up));
    const __m128 fall = _mm_andnot_ps(rise, _mm_cmplt_ps(after, _mm_sub_ps(before, up)));
    rises += kBitsOf[_mm_movemask_ps(rise)];
    falls += kBitsOf[_mm_movemask_ps(fall)];
  }
#endif
  for (; j < e; ++j) CountStep(pitch[j], pitch[j + 1], step, rises, falls);
}

}  // namespace kvd_voice

// Checks frame k (its set already written) against the track s .. e, whose
// frame next to k (s when k < s, else e) is the reference r. Every test
// rejects on its own, so their order does not change the answer: those of
// k against r come first, then those that read the whole track, summed into
// `track` as they are first reached.
inline int16_t CDetectVoice::TestTrueHarmo(TrackSums& track, int16_t s, int16_t e, int16_t k) {
  using namespace kvd_voice;
  const int32_t r = k < s ? s : e;
  const float pitch = FramePitch[r];
  const bool lowPitch = pitch < static_cast<float>(Bin157);

  if (MovesBothWays(HarmoPeak[k], HarmoPeak[r])) return -1;

  if (!lowPitch) {
    int32_t weak = 0;
    for (int32_t h = 0; h < kSetSize; ++h) {
      if (HarmoPeak[k][h] > 0 && HarmoArea[k][h] < kWeakHarmonicArea) ++weak;
    }
    if (weak >= 2) return -1;
  }

  if (CompareArea(HarmoArea[r], HarmoArea[k]) >= 2) return -1;

  if (AbsAreaAgreement(HarmoAbsArea[r], HarmoAbsArea[k], pitch, Bin157) < 0) return -1;

  // The mean harmonic area over the whole track and k against the share of
  // a harmonic in a fully harmonic band. The sum is not held at 32765 here
  // (int32 cannot overflow: at most 30 frames x 10000). Held, it turns the
  // mean test into a length limit: T grows by 3 E per frame, so a track below
  // Bin157 stops after 32765 / (3 E) frames (about 22 at 100 Hz, 15 at
  // 150 Hz). Measured on steady and vibrato vowels of 100 .. 150 Hz and on
  // the bundled sample, the held sum gave no more voiced frames, more octave
  // errors (42 against 28 frames over the vibrato vowels) and a 1.3 to 2
  // times dearer DetectVoice (the failed growth steps search every pitch).
  if (!track.areasSummed) {
    if (grownAreasLive) {
      if (grownAreas == kAreasUnsummed) {
        // No step replayed or added yet: the seed's rows.
        AddPositiveAreas(HarmoArea + grownSeed, kSeedFrames, track.areaSum, track.areaCount);
        grownAreas = static_cast<uint32_t>(track.areaSum) << 7 |
                     static_cast<uint32_t>(track.areaCount);
      } else {
        track.areaSum = static_cast<int32_t>(grownAreas >> 7);
        track.areaCount = static_cast<int32_t>(grownAreas & 127u);
      }
    } else {
      AddPositiveAreas(HarmoArea + s, e - s + 1, track.areaSum, track.areaCount);
    }
    track.areasSummed = true;
  }
  int32_t sum = track.areaSum;
  int32_t count = track.areaCount;
  AddPositiveAreas(HarmoArea + k, 1, sum, count);
  const float expected = pitch * kAreaUnitsPerWhole / static_cast<float>(MaxHarmoBin);
  const float total = static_cast<float>(count) * expected;
  if (static_cast<float>(sum) < kExpectedShareFloor * total) return -1;
  if (lowPitch && static_cast<float>(sum) < total) return -1;

  // Zig-zag of the pitch along the track, k included in time order.
  const float step = ZigZagStep(pitch);
  if (!track.stepsCounted) {
    CountSteps(FramePitch, s, e, step, track.rises, track.falls);
    track.stepsCounted = true;
  }
  int32_t rises = track.rises;
  int32_t falls = track.falls;
  if (k < s) {
    CountStep(FramePitch[k], FramePitch[s], step, rises, falls);
  } else {
    CountStep(FramePitch[e], FramePitch[k], step, rises, falls);
  }
  const int32_t fewer = std::min(rises, falls);
  if (fewer > 1 && static_cast<float>(fewer) >= kZigZagFrameShare * static_cast<float>(e - s + 1)) {
    return -1;
  }
  return 1;
}

#endif  // KVD_CLASSIFIERS_DETECT_VOICE_TRACK_CHECKS_H
