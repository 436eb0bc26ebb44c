// A float sum compared with a limit, without waiting for the one chain of
// additions that makes the sum. Internal to classifiers/.
#ifndef KVD_CLASSIFIERS_FLOAT_SUM_BELOW_H
#define KVD_CLASSIFIERS_FLOAT_SUM_BELOW_H

#include <cmath>
#include <cstdint>
#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace kvd_voice {

// Whether x[0] + x[1] + .. + x[n - 1], added one by one in float, ends
// below limit. One chain of float additions waits for each sum; the sum is
// mostly far enough from the limit that four chains in double decide it:
// the float sum lies within n 2^-24 |x| summed of the exact one (n - 1
// roundings of at most 2^-24 of a partial sum each), and the double sums
// within far less, so a gap of n 2^-23 |x| summed leaves no doubt. Closer
// than that, or with a NaN or an infinity, the float sum is made.
inline bool FloatSumBelow(const float* x, int32_t n, float limit) {
  int32_t k = 0;
#if defined(__SSE2__)
  const __m128 magnitudeBits = _mm_castsi128_ps(_mm_set1_epi32(0x7fffffff));
  __m128d sum0 = _mm_setzero_pd(), sum1 = sum0, size0 = sum0, size1 = sum0;
  for (; k + 4 <= n; k += 4) {
    const __m128 four = _mm_loadu_ps(x + k);
    const __m128 magnitudes = _mm_and_ps(four, magnitudeBits);
    sum0 = _mm_add_pd(sum0, _mm_cvtps_pd(four));
    sum1 = _mm_add_pd(sum1, _mm_cvtps_pd(_mm_movehl_ps(four, four)));
    size0 = _mm_add_pd(size0, _mm_cvtps_pd(magnitudes));
    size1 = _mm_add_pd(size1, _mm_cvtps_pd(_mm_movehl_ps(magnitudes, magnitudes)));
  }
  const __m128d sums = _mm_add_pd(sum0, sum1);
  const __m128d sizes = _mm_add_pd(size0, size1);
  double sum = _mm_cvtsd_f64(sums) + _mm_cvtsd_f64(_mm_unpackhi_pd(sums, sums));
  double size = _mm_cvtsd_f64(sizes) + _mm_cvtsd_f64(_mm_unpackhi_pd(sizes, sizes));
  for (int32_t i = k; i < n; ++i) {
    sum += x[i];
    size += std::fabs(static_cast<double>(x[i]));
  }
  const double doubt = static_cast<double>(n) * 0x1p-23 * size;
  if (sum + doubt < limit) return true;
  if (sum - doubt >= limit) return false;
#endif
  float floatSum = 0.0f;
  for (k = 0; k < n; ++k) floatSum += x[k];
  return floatSum < limit;
}

}  // namespace kvd_voice

#endif  // KVD_CLASSIFIERS_FLOAT_SUM_BELOW_H
