// The harmonic-by-harmonic match of candidate bins for each instruction set:
// SSE2 keeps the 16 lanes in two registers, AVX2 in one. Every standard
// header is included before the bodies, so that no inline function of
// theirs is built with AVX2 here and then shared with the baseline code.
#include "classifiers/detect_voice_match_bins.h"

#include <cstddef>
#include <cstdint>
#if defined(__SSE2__)
#include <immintrin.h>
#endif

#include "classifiers/detect_voice_tuning.h"

namespace kvd_voice {

#if defined(__SSE2__)
namespace {
namespace sse2 {

#define KVD_LANES

// Lanes 0 .. 7 in low, 8 .. 15 in high.
struct Lanes {
  __m128i low;
  __m128i high;
};
constexpr int32_t kBitsPerLane = 1;

inline Lanes Splat(int16_t value) {
  const __m128i v = _mm_set1_epi16(value);
  return {v, v};
}
// base + lane.
inline Lanes Ramp(int16_t base) {
  const __m128i low = _mm_add_epi16(_mm_set1_epi16(base), _mm_setr_epi16(0, 1, 2, 3, 4, 5, 6, 7));
  return {low, _mm_add_epi16(low, _mm_set1_epi16(8))};
}
inline Lanes Load16(const int16_t* p) {
  return {_mm_loadu_si128(reinterpret_cast<const __m128i*>(p)),
          _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 8))};
}
// op on the low halves and on the high halves.
template <typename Op>
inline Lanes EachHalf(Lanes a, Lanes b, Op op) {
  return {op(a.low, b.low), op(a.high, b.high)};
}
inline Lanes Add(Lanes a, Lanes b) {
  return EachHalf(a, b, [](__m128i x, __m128i y) { return _mm_add_epi16(x, y); });
}
inline Lanes Sub(Lanes a, Lanes b) {
  return EachHalf(a, b, [](__m128i x, __m128i y) { return _mm_sub_epi16(x, y); });
}
inline Lanes MulLo(Lanes a, Lanes b) {
  return EachHalf(a, b, [](__m128i x, __m128i y) { return _mm_mullo_epi16(x, y); });
}
inline Lanes Max(Lanes a, Lanes b) {
  return EachHalf(a, b, [](__m128i x, __m128i y) { return _mm_max_epi16(x, y); });
}
inline Lanes And(Lanes a, Lanes b) {
  return EachHalf(a, b, [](__m128i x, __m128i y) { return _mm_and_si128(x, y); });
}
// All ones in the lanes where a > b (signed).
inline Lanes Greater(Lanes a, Lanes b) {
  return EachHalf(a, b, [](__m128i x, __m128i y) { return _mm_cmpgt_epi16(x, y); });
}
// Bit t: lane t of a mask set.
inline uint32_t Bits(Lanes mask) {
  return static_cast<uint32_t>(_mm_movemask_epi8(_mm_packs_epi16(mask.low, mask.high)));
}
#include "classifiers/detect_voice_match_bins.inc"

#undef KVD_LANES

}  // namespace sse2
}  // namespace

void MatchBinsSse2(const BinMatchJob& job) { sse2::MatchBinsByHarmonics(job); }
#endif

#if defined(KVD_MATCH_BINS_AVX2)
namespace {
namespace avx2 {

#define KVD_LANES __attribute__((target("avx2")))

using Lanes = __m256i;
// A byte mask: two bits a lane.
constexpr int32_t kBitsPerLane = 2;

KVD_LANES inline Lanes Splat(int16_t value) { return _mm256_set1_epi16(value); }
KVD_LANES inline Lanes Ramp(int16_t base) {
  return _mm256_add_epi16(_mm256_set1_epi16(base), _mm256_setr_epi16(0, 1, 2, 3, 4, 5, 6, 7, 8,
                                                                     9, 10, 11, 12, 13, 14, 15));
}
KVD_LANES inline Lanes Load16(const int16_t* p) {
  return _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p));
}
KVD_LANES inline Lanes Add(Lanes a, Lanes b) { return _mm256_add_epi16(a, b); }
KVD_LANES inline Lanes Sub(Lanes a, Lanes b) { return _mm256_sub_epi16(a, b); }
KVD_LANES inline Lanes MulLo(Lanes a, Lanes b) { return _mm256_mullo_epi16(a, b); }
KVD_LANES inline Lanes Max(Lanes a, Lanes b) { return _mm256_max_epi16(a, b); }
KVD_LANES inline Lanes And(Lanes a, Lanes b) { return _mm256_and_si256(a, b); }
KVD_LANES inline Lanes Greater(Lanes a, Lanes b) { return _mm256_cmpgt_epi16(a, b); }
// Bits 2 t and 2 t + 1: lane t of a mask set.
KVD_LANES inline uint32_t Bits(Lanes mask) {
  return static_cast<uint32_t>(_mm256_movemask_epi8(mask));
}
#include "classifiers/detect_voice_match_bins.inc"

#undef KVD_LANES

}  // namespace avx2
}  // namespace

__attribute__((target("avx2"))) void MatchBinsAvx2(const BinMatchJob& job) {
  avx2::MatchBinsByHarmonics(job);
}
#endif

}  // namespace kvd_voice
