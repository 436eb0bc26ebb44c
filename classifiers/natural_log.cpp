// The natural logarithm of a run of power values, eight at a time by the
// method of the C library's logf (glibc 2.28 on, from Arm's optimized
// routines), so that each value comes out exactly as std::log gives it.
// Every standard header is included before the AVX2 body, so that no inline
// function of theirs is built with AVX2 here and shared with baseline code.
#include "classifiers/natural_log.h"

#include <cmath>
#include <cstdint>
#include <cstring>
#if defined(__x86_64__)
#include <immintrin.h>
#endif

#include "platform/ipps.h"

namespace kvd_voice {

namespace {

inline float LnOrZero(float value) { return value > 0.0f ? std::log(value) : 0.0f; }

void LnValueByValue(const float* x, float* out, int32_t count) {
  for (int32_t k = 0; k < count; ++k) out[k] = LnOrZero(x[k]);
}

#if defined(__x86_64__)

// The method: with t = bits(x) - bits(0x1.66p-1), k = t >> 23 (arithmetic)
// and the interval i = bits 19 .. 22 of t, x = 2^k z with z in
// [0x1.66p-1, 0x1.66p0) and its bits those of x less k in the exponent.
// Then ln x = log1p(r) + logc_i + k ln 2 with r = z invc_i - 1, invc_i near
// 1 / z over interval i and logc_i = -ln invc_i, and log1p(r) is the cubic
// r + r^2 (A2 + A1 r + A0 r^2), all in double with fused multiply-adds in
// the library's order, rounded once to float at the end.
// Entry i of each column is interval i's.
alignas(64) constexpr double kInvc[16] = {
    0x1.661ec79f8f3bep+0, 0x1.571ed4aaf883dp+0, 0x1.49539f0f010b0p+0, 0x1.3c995b0b80385p+0,
    0x1.30d190c8864a5p+0, 0x1.25e227b0b8ea0p+0, 0x1.1bb4a4a1a343fp+0, 0x1.12358f08ae5bap+0,
    0x1.0953f419900a7p+0, 0x1.0p+0,             0x1.e608cfd9a47acp-1, 0x1.ca4b31f026aa0p-1,
    0x1.b2036576afce6p-1, 0x1.9c2d163a1aa2dp-1, 0x1.886e6037841edp-1, 0x1.767dcf5534862p-1,
};
alignas(64) constexpr double kLogc[16] = {
    -0x1.57bf7808caadep-2, -0x1.2bef0a7c06ddbp-2, -0x1.01eae7f513a67p-2, -0x1.b31d8a68224e9p-3,
    -0x1.6574f0ac07758p-3, -0x1.1aa2bc79c8100p-3, -0x1.a4e76ce8c0e5ep-4, -0x1.1973c5a611cccp-4,
    -0x1.252f438e10c1ep-5, 0x0.0p+0,              0x1.aa5aa5df25984p-5,  0x1.c5e53aa362eb4p-4,
    0x1.526e57720db08p-3,  0x1.bc2860d224770p-3,  0x1.1058bc8a07ee1p-2,  0x1.4043057b6ee09p-2,
};
constexpr double kLn2 = 0x1.62e42fefa39efp-1;
constexpr double kA0 = -0x1.00ea348b88334p-2;
constexpr double kA1 = 0x1.5575b0be00b6ap-2;
constexpr double kA2 = -0x1.ffffef20a4123p-2;
constexpr int32_t kIntervalBase = 0x3f330000;  // bits of 0x1.66p-1

#define KVD_AVX2_FMA __attribute__((target("avx2,fma")))
#define KVD_AVX512 __attribute__((target("avx512f,avx2,fma")))

// Eight values taken apart as int32 lanes: their exponents k, the bits of
// their z and their intervals i, and which of them are normal.
struct EightApart {
  __m256i normal;
  __m256i k;
  __m256i zBits;
  __m256i i;
};

// False when one value is positive but not a normal finite number
// (subnormal, infinite or NaN): the library takes another way for those.
KVD_AVX2_FMA inline bool TakeApart(const float* x, EightApart& apart) {
  const __m256i bits = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(x));
  // Normal finite and positive: bits - bits(FLT_MIN) below 0x7f000000,
  // unsigned. Not positive: bits <= 0 as int32 (zeros, negatives).
  const __m256i fromMin = _mm256_sub_epi32(bits, _mm256_set1_epi32(0x00800000));
  apart.normal =
      _mm256_cmpeq_epi32(_mm256_min_epu32(fromMin, _mm256_set1_epi32(0x7effffff)), fromMin);
  const __m256i notPositive = _mm256_cmpgt_epi32(_mm256_set1_epi32(1), bits);
  if (_mm256_movemask_epi8(_mm256_or_si256(apart.normal, notPositive)) != -1) return false;
  const __m256i t = _mm256_sub_epi32(bits, _mm256_set1_epi32(kIntervalBase));
  apart.k = _mm256_srai_epi32(t, 23);
  apart.i = _mm256_and_si256(_mm256_srli_epi32(t, 19), _mm256_set1_epi32(15));
  const __m256i exponentOfT = _mm256_set1_epi32(static_cast<int32_t>(0xff800000u));
  apart.zBits = _mm256_sub_epi32(bits, _mm256_and_si256(t, exponentOfT));
  return true;
}

// ln of four values taken apart.
KVD_AVX2_FMA inline __m128 LnOfFour(__m128i k, __m128i zBits, __m128i i) {
  // Every lane gathered (the masked form: the plain one reads an undefined
  // register in this compiler's header).
  const __m256d all = _mm256_castsi256_pd(_mm256_set1_epi64x(-1));
  const __m256d invc = _mm256_mask_i32gather_pd(_mm256_setzero_pd(), kInvc, i, all, 8);
  const __m256d logc = _mm256_mask_i32gather_pd(_mm256_setzero_pd(), kLogc, i, all, 8);
  const __m256d y0 = _mm256_fmadd_pd(_mm256_cvtepi32_pd(k), _mm256_set1_pd(kLn2), logc);
  const __m256d z = _mm256_cvtps_pd(_mm_castsi128_ps(zBits));
  const __m256d r = _mm256_fmadd_pd(z, invc, _mm256_set1_pd(-1.0));
  __m256d y = _mm256_fmadd_pd(r, _mm256_set1_pd(kA1), _mm256_set1_pd(kA2));
  const __m256d r2 = _mm256_mul_pd(r, r);
  const __m256d sum = _mm256_add_pd(r, y0);
  y = _mm256_fmadd_pd(r2, _mm256_set1_pd(kA0), y);
  return _mm256_cvtpd_ps(_mm256_fmadd_pd(r2, y, sum));
}

// Values x .. x + 7 into out, four at a time. False, with nothing written,
// as TakeApart.
KVD_AVX2_FMA inline bool LnOfEightAvx2(const float* x, float* out) {
  EightApart apart;
  if (!TakeApart(x, apart)) return false;
  const __m128 low = LnOfFour(_mm256_castsi256_si128(apart.k), _mm256_castsi256_si128(apart.zBits),
                              _mm256_castsi256_si128(apart.i));
  const __m128 high =
      LnOfFour(_mm256_extracti128_si256(apart.k, 1), _mm256_extracti128_si256(apart.zBits, 1),
               _mm256_extracti128_si256(apart.i, 1));
  const __m256 ln = _mm256_insertf128_ps(_mm256_castps128_ps256(low), high, 1);
  _mm256_storeu_ps(out, _mm256_and_ps(ln, _mm256_castsi256_ps(apart.normal)));
  return true;
}

// The same with all eight in one register of doubles, each column's 16
// entries in two registers picked by one permute instead of gathered. The
// conversions are the zero-masked forms with every lane set: the plain ones
// read an undefined register in this compiler's header.
KVD_AVX512 inline bool LnOfEightAvx512(const float* x, float* out) {
  constexpr __mmask8 kEvery = 0xff;
  EightApart apart;
  if (!TakeApart(x, apart)) return false;
  const __m512i i = _mm512_maskz_cvtepi32_epi64(kEvery, apart.i);
  const __m512d invc = _mm512_permutex2var_pd(_mm512_load_pd(kInvc), i, _mm512_load_pd(kInvc + 8));
  const __m512d logc = _mm512_permutex2var_pd(_mm512_load_pd(kLogc), i, _mm512_load_pd(kLogc + 8));
  const __m512d y0 =
      _mm512_fmadd_pd(_mm512_maskz_cvtepi32_pd(kEvery, apart.k), _mm512_set1_pd(kLn2), logc);
  const __m512d z = _mm512_maskz_cvtps_pd(kEvery, _mm256_castsi256_ps(apart.zBits));
  const __m512d r = _mm512_fmadd_pd(z, invc, _mm512_set1_pd(-1.0));
  __m512d y = _mm512_fmadd_pd(r, _mm512_set1_pd(kA1), _mm512_set1_pd(kA2));
  const __m512d r2 = _mm512_mul_pd(r, r);
  const __m512d sum = _mm512_add_pd(r, y0);
  y = _mm512_fmadd_pd(r2, _mm512_set1_pd(kA0), y);
  const __m256 ln = _mm512_maskz_cvtpd_ps(kEvery, _mm512_fmadd_pd(r2, y, sum));
  _mm256_storeu_ps(out, _mm256_and_ps(ln, _mm256_castsi256_ps(apart.normal)));
  return true;
}

// A run by blocks of eight, each by Eight or, when it declines, value by
// value. The last block ends at count: it may work some values of the one
// before it again, from x, to the same results.
template <bool (*Eight)(const float*, float*)>
inline void ByBlocksOfEight(const float* x, float* out, int32_t count) {
  if (count < 8) {
    LnValueByValue(x, out, count);
    return;
  }
  for (int32_t at = 0;; at += 8) {
    if (at > count - 8) at = count - 8;
    if (!Eight(x + at, out + at)) LnValueByValue(x + at, out + at, 8);
    if (at == count - 8) return;
  }
}

KVD_AVX2_FMA void LnEightByEightAvx2(const float* x, float* out, int32_t count) {
  ByBlocksOfEight<LnOfEightAvx2>(x, out, count);
}

KVD_AVX512 void LnEightByEightAvx512(const float* x, float* out, int32_t count) {
  ByBlocksOfEight<LnOfEightAvx512>(x, out, count);
}

using LnOfRun = void (*)(const float* x, float* out, int32_t count);

// The method, as eightByEight works it, gives the library's results:
// checked once, on the edges of the range and of the intervals and on
// values spread over every exponent, in case the C library at hand works
// another way. A block at a time, so that the check takes little of the
// caller's stack (it runs on a host's thread).
bool MethodMatchesLibrary(LnOfRun eightByEight) {
  constexpr int32_t kBlock = 64;
  constexpr int32_t kSpreadBlocks = 64;  // 4096 values
  constexpr uint32_t kEdges[] = {0x00800000u, 0x7f7fffffu, 0x3f800000u, 0x3f7fffffu,
                                 0x3f800001u, 0x3f330000u, 0x3f32ffffu, 0x3fb2ffffu};
  constexpr int32_t kEdgeCount = static_cast<int32_t>(sizeof(kEdges) / sizeof(kEdges[0]));
  float probe[kBlock];
  float fast[kBlock];
  float exact[kBlock];
  uint32_t state = 0x9e3779b9u;
  for (int32_t block = 0; block <= kSpreadBlocks; ++block) {
    const int32_t count = block < kSpreadBlocks ? kBlock : kEdgeCount;
    for (int32_t n = 0; n < count; ++n) {
      uint32_t bits;
      if (block < kSpreadBlocks) {
        state = state * 1664525u + 1013904223u;  // a fixed sequence over every exponent
        bits = 0x00800000u + state % 0x7f000000u;
      } else {
        bits = kEdges[n];
      }
      std::memcpy(&probe[n], &bits, sizeof(bits));
    }
    eightByEight(probe, fast, count);
    LnValueByValue(probe, exact, count);
    if (std::memcmp(fast, exact, sizeof(float) * static_cast<size_t>(count)) != 0) return false;
  }
  return true;
}

#endif  // __x86_64__

}  // namespace

bool LnEightAtATimeAvailable() {
#if defined(__x86_64__)
  static const bool usable = __builtin_cpu_supports("avx2") && __builtin_cpu_supports("fma") &&
                             MethodMatchesLibrary(LnEightByEightAvx2);
  return usable;
#else
  return false;
#endif
}

bool LnEightInOneRegisterAvailable() {
#if defined(__x86_64__)
  static const bool usable = __builtin_cpu_supports("avx512f") && LnEightAtATimeAvailable() &&
                             MethodMatchesLibrary(LnEightByEightAvx512);
  return usable;
#else
  return false;
#endif
}

void LnOfPositives(const float* x, float* out, int32_t count) {
#if defined(__x86_64__)
  const Ipp64u features = ippGetEnabledCpuFeatures();
  if ((features & ippCPUID_AVX512F) != 0 && LnEightInOneRegisterAvailable()) {
    LnEightByEightAvx512(x, out, count);
    return;
  }
  if ((features & ippCPUID_AVX2) != 0 && LnEightAtATimeAvailable()) {
    LnEightByEightAvx2(x, out, count);
    return;
  }
#endif
  LnValueByValue(x, out, count);
}

}  // namespace kvd_voice
