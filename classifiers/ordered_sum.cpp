#include "classifiers/ordered_sum.h"

#include <cmath>
#include <cstdint>
#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace kvd_voice {

namespace {

bool AddedInOrderBelow(const float* x, int32_t count, float limit) {
  float sum = 0.0f;
  for (int32_t k = 0; k < count; ++k) sum += x[k];
  return sum < limit;
}

// Below this sum of magnitudes no partial float sum overflows (FLT_MAX is
// about 2^128), and the error bound below holds.
constexpr double kLargestSafeMagnitude = 0x1p126;
// Runs longer than this take the ordered way: the bound is for n 2^-23 < 1.
constexpr int32_t kLongestRun = 1 << 20;

}  // namespace

bool OrderedFloatSumBelow(const float* x, int32_t count, float limit) {
  if (count <= 0) return 0.0f < limit;
  if (count > kLongestRun) return AddedInOrderBelow(x, count, limit);
  double total = 0.0;
  double totalMagnitude = 0.0;
  int32_t k = 0;
#if defined(__SSE2__)
  // The lanes of sum01 add values 4 j and 4 j + 1, those of sum23 4 j + 2
  // and 4 j + 3; the magnitudes likewise.
  __m128d sum01 = _mm_setzero_pd();
  __m128d sum23 = _mm_setzero_pd();
  __m128d magnitude01 = _mm_setzero_pd();
  __m128d magnitude23 = _mm_setzero_pd();
  const __m128d noSign = _mm_castsi128_pd(_mm_set1_epi64x(INT64_MAX));
  for (; k + 3 < count; k += 4) {
    const __m128 four = _mm_loadu_ps(x + k);
    const __m128d low = _mm_cvtps_pd(four);
    const __m128d high = _mm_cvtps_pd(_mm_movehl_ps(four, four));
    sum01 = _mm_add_pd(sum01, low);
    sum23 = _mm_add_pd(sum23, high);
    magnitude01 = _mm_add_pd(magnitude01, _mm_and_pd(low, noSign));
    magnitude23 = _mm_add_pd(magnitude23, _mm_and_pd(high, noSign));
  }
  alignas(16) double lanes[2];
  _mm_store_pd(lanes, _mm_add_pd(sum01, sum23));
  total = lanes[0] + lanes[1];
  _mm_store_pd(lanes, _mm_add_pd(magnitude01, magnitude23));
  totalMagnitude = lanes[0] + lanes[1];
#endif
  for (; k < count; ++k) {
    total += x[k];
    totalMagnitude += std::fabs(static_cast<double>(x[k]));
  }
  // NaN, infinite or near overflow: only the ordered sum tells.
  if (!(totalMagnitude < kLargestSafeMagnitude)) return AddedInOrderBelow(x, count, limit);
  // Of the magnitudes' sum, the float sum added in order lies within
  // (n - 1) 2^-24 / (1 - 2^-4) of the exact sum (n <= 2^20), and the double
  // sums within n 2^-53 / (1 - 2^-33) of theirs: n 2^-23 of the computed
  // magnitude covers both, and the roundings of the two tests below.
  const double bound = static_cast<double>(count) * 0x1p-23 * totalMagnitude;
  if (total - bound >= limit) return false;
  if (total + bound < limit) return true;
  return AddedInOrderBelow(x, count, limit);
}

}  // namespace kvd_voice
