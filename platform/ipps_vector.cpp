// Vector arithmetic and statistics with IPP's conventions. Sums are
// accumulated in double so that long frames lose no precision.
#include "platform/ipps.h"

#include <cmath>
#include <cstdint>
#include <cstring>

#ifdef __SSE2__
#include <immintrin.h>
#endif

namespace {

#ifdef __SSE2__
// Values i and i + 1 of src as doubles (exact), in lanes 0 and 1.
inline __m128d PairAsDoubles(const Ipp32f* src, int i) {
  return _mm_cvtps_pd(_mm_castsi128_ps(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(src + i))));
}

// Adds lane 0 then lane 1 of pair to sum.
inline double AddPair(double sum, __m128d pair) {
  sum += _mm_cvtsd_f64(pair);
  return sum + _mm_cvtsd_f64(_mm_unpackhi_pd(pair, pair));
}

// The same on lane 0 of a running sum held in a register (lane 1 unused):
// the compiler then keeps the chain in one register, without copies.
inline __m128d AddPairToLane(__m128d sum, __m128d pair) {
  sum = _mm_add_sd(sum, pair);
  return _mm_add_sd(sum, _mm_unpackhi_pd(pair, pair));
}
#endif

#ifdef __SSE2__
// Shorter sums are left to the one chain: its latency is small then.
constexpr int kInterleavedSumMin = 16;
// Longer ones too: the test below bounds the rounding of len terms by a
// relative 2^-40, which holds while (len - 1) 2^-53 is below it.
constexpr int kInterleavedSumMax = 4096;

// What a pass over the values gathers for the exactness test below: the largest and the
// smallest high 16 bits of a magnitude (the biased exponent in bits 7 .. 14),
// whether any sign bit is set, and the total of the chains.
struct InterleavedPass {
  int32_t top;
  int32_t bottom;
  bool negative;
  double total;
};

// Takes src[i .. len) into the pass one by one.
inline void AddValuesLeft(const Ipp32f* src, int i, int len, InterleavedPass& pass) {
  for (; i < len; ++i) {
    uint32_t bits;
    std::memcpy(&bits, src + i, sizeof(bits));
    const int32_t high16 = static_cast<int32_t>((bits & 0x7fffffffu) >> 16);
    pass.top = high16 > pass.top ? high16 : pass.top;
    pass.bottom = high16 < pass.bottom ? high16 : pass.bottom;
    pass.negative = pass.negative || (bits >> 31) != 0;
    pass.total += src[i];
  }
}

// Whether every partial sum of the pass's len values is exact; if so the
// total is the sum.
inline bool TakeExactTotal(const InterleavedPass& pass, int len, double* sum) {
  const int32_t eMax = pass.top >> 7;
  const int32_t eMin = pass.bottom >> 7;
  if (eMax == 0xff || eMin == 0) return false;
  bool exact;
  if (pass.negative) {
    // len 2^(eMax - 126) <= 2^(eMin - 97).
    const int32_t lenBits = 32 - __builtin_clz(static_cast<uint32_t>(len - 1));  // ceil(log2 len)
    exact = lenBits + eMax - 126 <= eMin - 97;
  } else {
    // 2^53 steps of 2^(eMin - 150) = 2^(eMin - 97), a normal double for
    // eMin >= 1, less a margin for the rounding of total.
    const uint64_t powerBits = static_cast<uint64_t>(eMin - 97 + 1023) << 52;
    double power;
    std::memcpy(&power, &powerBits, sizeof(power));
    exact = pass.total < power * (1.0 - 0x1p-40);
  }
  if (exact) *sum = pass.total;
  return exact;
}

// Adds src[0 .. len) in four interleaved chains when that gives the very sum
// of one chain in index order, that is when every partial sum in any order
// is exact in double. It is when all values are normal (no zero, subnormal,
// infinity or NaN), hence each a multiple of the smallest one's step
// 2^(eMin - 150) (eMin its biased exponent), and the magnitudes sum to less
// than 2^53 such steps: then every partial sum is a whole number of steps
// below 2^53 of them. With no value negative the magnitudes' sum is the sum
// itself (taken here within a relative 2^-40, inside the bound); else
// len magnitudes below 2^(eMax - 126) bound it. One chain of double
// additions waits about four cycles an addition; four run side by side.
// Returns false, with *sum untouched, when the values do not allow it.
bool SumInterleaved(const Ipp32f* src, int len, double* sum) {
  const __m128i magnitudeBits = _mm_set1_epi32(0x7fffffff);
  // Per lane the high 16 bits of a magnitude. Any sign bit set shows in
  // signs.
  __m128i highest = _mm_setzero_si128();
  __m128i lowest = _mm_set1_epi16(0x7fff);
  __m128i signs = _mm_setzero_si128();
  __m128d chain0 = _mm_setzero_pd(), chain1 = chain0, chain2 = chain0, chain3 = chain0;
  int i = 0;
  for (; i + 8 <= len; i += 8) {
    const __m128 low = _mm_loadu_ps(src + i);
    const __m128 high = _mm_loadu_ps(src + i + 4);
    const __m128i lowBits = _mm_castps_si128(low);
    const __m128i highBits = _mm_castps_si128(high);
    signs = _mm_or_si128(signs, _mm_or_si128(lowBits, highBits));
    const __m128i tops =
        _mm_packs_epi32(_mm_srli_epi32(_mm_and_si128(lowBits, magnitudeBits), 16),
                        _mm_srli_epi32(_mm_and_si128(highBits, magnitudeBits), 16));
    highest = _mm_max_epi16(highest, tops);
    lowest = _mm_min_epi16(lowest, tops);
    chain0 = _mm_add_pd(chain0, _mm_cvtps_pd(low));
    chain1 = _mm_add_pd(chain1, _mm_cvtps_pd(_mm_movehl_ps(low, low)));
    chain2 = _mm_add_pd(chain2, _mm_cvtps_pd(high));
    chain3 = _mm_add_pd(chain3, _mm_cvtps_pd(_mm_movehl_ps(high, high)));
  }
  // The largest and smallest of the eight lanes: halves folded onto halves.
  highest = _mm_max_epi16(highest, _mm_srli_si128(highest, 8));
  lowest = _mm_min_epi16(lowest, _mm_srli_si128(lowest, 8));
  highest = _mm_max_epi16(highest, _mm_srli_si128(highest, 4));
  lowest = _mm_min_epi16(lowest, _mm_srli_si128(lowest, 4));
  highest = _mm_max_epi16(highest, _mm_srli_si128(highest, 2));
  lowest = _mm_min_epi16(lowest, _mm_srli_si128(lowest, 2));
  const __m128d all = _mm_add_pd(_mm_add_pd(chain0, chain1), _mm_add_pd(chain2, chain3));
  InterleavedPass pass{_mm_extract_epi16(highest, 0), _mm_extract_epi16(lowest, 0),
                       _mm_movemask_ps(_mm_castsi128_ps(signs)) != 0,
                       _mm_cvtsd_f64(all) + _mm_cvtsd_f64(_mm_unpackhi_pd(all, all))};
  AddValuesLeft(src, i, len, pass);
  return TakeExactTotal(pass, len, sum);
}

#if defined(__x86_64__)
#define KVD_AVX2 __attribute__((target("avx2")))

// SumInterleavedAvx2's running bounds and chains, eight lanes each: the
// magnitudes' bits are compared whole (their order is that of their high
// 16 bits), in int32 lanes.
struct EightLanePass {
  __m256i magnitudeBits;
  __m256i highest;
  __m256i lowest;
  __m256i signs;
  __m256d chain0;
  __m256d chain1;

  KVD_AVX2 EightLanePass()
      : magnitudeBits(_mm256_set1_epi32(0x7fffffff)),
        highest(_mm256_setzero_si256()),
        lowest(magnitudeBits),
        signs(_mm256_setzero_si256()),
        chain0(_mm256_setzero_pd()),
        chain1(_mm256_setzero_pd()) {}

  // Eight values into the bounds and the chains; the lanes of `outside`
  // (all ones) are left out of the smallest magnitude.
  KVD_AVX2 void Take(__m256 values, __m256i outside) {
    const __m256i bits = _mm256_castps_si256(values);
    signs = _mm256_or_si256(signs, bits);
    const __m256i magnitudes = _mm256_and_si256(bits, magnitudeBits);
    highest = _mm256_max_epi32(highest, magnitudes);
    lowest = _mm256_min_epi32(lowest, _mm256_or_si256(magnitudes, outside));
    chain0 = _mm256_add_pd(chain0, _mm256_cvtps_pd(_mm256_castps256_ps128(values)));
    chain1 = _mm256_add_pd(chain1, _mm256_cvtps_pd(_mm256_extractf128_ps(values, 1)));
  }
};

// The same with eight values a step in AVX2.
KVD_AVX2 bool SumInterleavedAvx2(const Ipp32f* src, int len, double* sum) {
  EightLanePass lanes;
  int i = 0;
  for (; i + 8 <= len; i += 8) lanes.Take(_mm256_loadu_ps(src + i), _mm256_setzero_si256());
  if (i < len) {
    // The last 1 .. 7 values in the same lanes, the others read as +0 and
    // left out of the bounds. Chains of nonzero values never hold -0, so
    // adding +0 leaves them as they are.
    const __m256i taken =
        _mm256_cmpgt_epi32(_mm256_set1_epi32(len - i), _mm256_setr_epi32(0, 1, 2, 3, 4, 5, 6, 7));
    lanes.Take(_mm256_maskload_ps(src + i, taken),
               _mm256_andnot_si256(taken, lanes.magnitudeBits));
  }
  __m128i top = _mm_max_epi32(_mm256_castsi256_si128(lanes.highest),
                              _mm256_extracti128_si256(lanes.highest, 1));
  __m128i bottom = _mm_min_epi32(_mm256_castsi256_si128(lanes.lowest),
                                 _mm256_extracti128_si256(lanes.lowest, 1));
  top = _mm_max_epi32(top, _mm_srli_si128(top, 8));
  bottom = _mm_min_epi32(bottom, _mm_srli_si128(bottom, 8));
  top = _mm_max_epi32(top, _mm_srli_si128(top, 4));
  bottom = _mm_min_epi32(bottom, _mm_srli_si128(bottom, 4));
  const __m256d chains = _mm256_add_pd(lanes.chain0, lanes.chain1);
  const __m128d pairs =
      _mm_add_pd(_mm256_castpd256_pd128(chains), _mm256_extractf128_pd(chains, 1));
  InterleavedPass pass{_mm_cvtsi128_si32(top) >> 16, _mm_cvtsi128_si32(bottom) >> 16,
                       _mm256_movemask_ps(_mm256_castsi256_ps(lanes.signs)) != 0,
                       _mm_cvtsd_f64(pairs) + _mm_cvtsd_f64(_mm_unpackhi_pd(pairs, pairs))};
  return TakeExactTotal(pass, len, sum);
}
#endif
#endif

// The sum of one chain of additions in index order (the rounding depends on
// it), taken in interleaved chains where they give the same.
inline __attribute__((always_inline)) double SumOf(const Ipp32f* src, int len) {
  double sum = 0.0;
  int i = 0;
#ifdef __SSE2__
  if (len >= kInterleavedSumMin && len <= kInterleavedSumMax) {
#if defined(__x86_64__)
    const bool wide = (ippGetEnabledCpuFeatures() & ippCPUID_AVX2) != 0;
    if (wide ? SumInterleavedAvx2(src, len, &sum) : SumInterleaved(src, len, &sum)) return sum;
#else
    if (SumInterleaved(src, len, &sum)) return sum;
#endif
  }
  // Values converted to double two at a time (exact, as one at a time),
  // then added one by one in the same order.
  if (i + 8 <= len) {
    __m128d running = _mm_setzero_pd();
    for (; i + 8 <= len; i += 8) {
      running = AddPairToLane(running, _mm_cvtps_pd(_mm_loadu_ps(src + i)));  // values i, i + 1
      running = AddPairToLane(running, PairAsDoubles(src, i + 2));
      running = AddPairToLane(running, _mm_cvtps_pd(_mm_loadu_ps(src + i + 4)));
      running = AddPairToLane(running, PairAsDoubles(src, i + 6));
    }
    sum = _mm_cvtsd_f64(running);
  }
  for (; i + 2 <= len; i += 2) sum = AddPair(sum, PairAsDoubles(src, i));
#endif
  for (; i < len; ++i) sum += src[i];
  return sum;
}

}  // namespace

IppStatus ippsMagnitude_32fc(const Ipp32fc* src, Ipp32f* dst, int len) {
  if (src == nullptr || dst == nullptr) return ippStsNullPtrErr;
  if (len <= 0) return ippStsSizeErr;
  int k = 0;
#ifdef __SSE2__
  // Four pairs at a time: the same products, sum and correctly rounded
  // square root as one at a time (SSE2 is part of every x86-64).
  const float* pairs = &src[0].re;
  for (; k + 4 <= len; k += 4) {
    const __m128 lo = _mm_loadu_ps(pairs + 2 * k);      // re0 im0 re1 im1
    const __m128 hi = _mm_loadu_ps(pairs + 2 * k + 4);  // re2 im2 re3 im3
    const __m128 re = _mm_shuffle_ps(lo, hi, _MM_SHUFFLE(2, 0, 2, 0));
    const __m128 im = _mm_shuffle_ps(lo, hi, _MM_SHUFFLE(3, 1, 3, 1));
    _mm_storeu_ps(dst + k, _mm_sqrt_ps(_mm_add_ps(_mm_mul_ps(re, re), _mm_mul_ps(im, im))));
  }
#endif
  for (; k < len; ++k) dst[k] = std::sqrt(src[k].re * src[k].re + src[k].im * src[k].im);
  return ippStsNoErr;
}

IppStatus ippsMul_32f(const Ipp32f* src1, const Ipp32f* src2, Ipp32f* dst, int len) {
  if (src1 == nullptr || src2 == nullptr || dst == nullptr) return ippStsNullPtrErr;
  if (len <= 0) return ippStsSizeErr;
  for (int i = 0; i < len; ++i) dst[i] = src1[i] * src2[i];
  return ippStsNoErr;
}

IppStatus ippsMul_32f_I(const Ipp32f* src, Ipp32f* srcDst, int len) {
  if (src == nullptr || srcDst == nullptr) return ippStsNullPtrErr;
  if (len <= 0) return ippStsSizeErr;
  int i = 0;
#ifdef __SSE2__
  // Eight products a pass, each the same as alone (the engine windows every
  // frame with this).
  for (; i + 8 <= len; i += 8) {
    const __m128 low = _mm_mul_ps(_mm_loadu_ps(srcDst + i), _mm_loadu_ps(src + i));
    const __m128 high = _mm_mul_ps(_mm_loadu_ps(srcDst + i + 4), _mm_loadu_ps(src + i + 4));
    _mm_storeu_ps(srcDst + i, low);
    _mm_storeu_ps(srcDst + i + 4, high);
  }
#endif
  for (; i < len; ++i) srcDst[i] *= src[i];
  return ippStsNoErr;
}

IppStatus ippsZero_32f(Ipp32f* dst, int len) {
  if (dst == nullptr) return ippStsNullPtrErr;
  if (len <= 0) return ippStsSizeErr;
  std::memset(dst, 0, sizeof(Ipp32f) * static_cast<size_t>(len));
  return ippStsNoErr;
}

IppStatus ippsConvert_16s32f(const Ipp16s* src, Ipp32f* dst, int len) {
  if (src == nullptr || dst == nullptr) return ippStsNullPtrErr;
  if (len <= 0) return ippStsSizeErr;
  for (int i = 0; i < len; ++i) dst[i] = static_cast<Ipp32f>(src[i]);
  return ippStsNoErr;
}

IppStatus ippsSum_32f(const Ipp32f* src, int len, Ipp32f* sum, IppHintAlgorithm /*hint*/) {
  if (src == nullptr || sum == nullptr) return ippStsNullPtrErr;
  if (len <= 0) return ippStsSizeErr;
  *sum = static_cast<Ipp32f>(SumOf(src, len));
  return ippStsNoErr;
}

IppStatus ippsMean_32f(const Ipp32f* src, int len, Ipp32f* mean, IppHintAlgorithm /*hint*/) {
  if (src == nullptr || mean == nullptr) return ippStsNullPtrErr;
  if (len <= 0) return ippStsSizeErr;
  *mean = static_cast<Ipp32f>(SumOf(src, len) / len);
  return ippStsNoErr;
}

namespace {

// Sample standard deviation of src[0 .. len-1] (len >= 2) about mean.
inline __attribute__((always_inline)) Ipp32f DeviationAbout(const Ipp32f* src, int len,
                                                            double mean) {
  double squares = 0.0;
  int i = 0;
#ifdef __SSE2__
  // Two deviations and their squares at a time (each lane as alone), added
  // one by one in index order.
  const __m128d means = _mm_set1_pd(mean);
  for (; i + 2 <= len; i += 2) {
    const __m128d deviations = _mm_sub_pd(PairAsDoubles(src, i), means);
    squares = AddPair(squares, _mm_mul_pd(deviations, deviations));
  }
#endif
  for (; i < len; ++i) squares += (src[i] - mean) * (src[i] - mean);
  return static_cast<Ipp32f>(std::sqrt(squares / (len - 1)));
}

}  // namespace

IppStatus ippsStdDev_32f(const Ipp32f* src, int len, Ipp32f* stdDev, IppHintAlgorithm /*hint*/) {
  if (src == nullptr || stdDev == nullptr) return ippStsNullPtrErr;
  if (len <= 0) return ippStsSizeErr;
  *stdDev = len == 1 ? 0.0f : DeviationAbout(src, len, SumOf(src, len) / len);
  return ippStsNoErr;
}

IppStatus ippsMeanStdDev_32f(const Ipp32f* src, int len, Ipp32f* mean, Ipp32f* stdDev,
                             IppHintAlgorithm /*hint*/) {
  if (src == nullptr || mean == nullptr || stdDev == nullptr) return ippStsNullPtrErr;
  if (len <= 0) return ippStsSizeErr;
  const double exactMean = SumOf(src, len) / len;
  *mean = static_cast<Ipp32f>(exactMean);
  *stdDev = len == 1 ? 0.0f : DeviationAbout(src, len, exactMean);
  return ippStsNoErr;
}

IppStatus ippsMaxIndx_32f(const Ipp32f* src, int len, Ipp32f* max, int* index) {
  if (src == nullptr || max == nullptr || index == nullptr) return ippStsNullPtrErr;
  if (len <= 0) return ippStsSizeErr;
  int best = 0;
  for (int i = 1; i < len; ++i)
    if (src[i] > src[best]) best = i;
  *max = src[best];
  *index = best;
  return ippStsNoErr;
}

IppStatus ippsMinIndx_32f(const Ipp32f* src, int len, Ipp32f* min, int* index) {
  if (src == nullptr || min == nullptr || index == nullptr) return ippStsNullPtrErr;
  if (len <= 0) return ippStsSizeErr;
  int best = 0;
  for (int i = 1; i < len; ++i)
    if (src[i] < src[best]) best = i;
  *min = src[best];
  *index = best;
  return ippStsNoErr;
}

IppStatus ippsSet_16s(Ipp16s value, Ipp16s* dst, int len) {
  if (dst == nullptr) return ippStsNullPtrErr;
  if (len <= 0) return ippStsSizeErr;
  for (int i = 0; i < len; ++i) dst[i] = value;
  return ippStsNoErr;
}
