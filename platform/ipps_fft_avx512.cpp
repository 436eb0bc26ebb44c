#include "platform/ipps_fft_avx512.h"

#include <immintrin.h>

namespace fft_avx512 {

namespace {

#define KVD_AVX512 __attribute__((target("avx512f,avx2")))

// Every lane of a register of sixteen floats.
constexpr __mmask16 kAll = 0xFFFF;

KVD_AVX512 inline __m512 Reversed(__m512 v) {
  return _mm512_maskz_permutexvar_ps(
      kAll, _mm512_setr_epi32(15, 14, 13, 12, 11, 10, 9, 8, 7, 6, 5, 4, 3, 2, 1, 0), v);
}

// The split of bins k .. k + 15 and n - k - 15 .. n - k, one k a lane, with
// the operations of ipps_fft.cpp's SplitPair.
KVD_AVX512 inline void SplitPairs16(const float* re, const float* im, const float* superRe,
                                    const float* superIm, __m512 scale, float* dst, int n,
                                    int k) {
  const __m512 half = _mm512_set1_ps(0.5f);
  const __m512 pr = _mm512_loadu_ps(re + k);
  const __m512 pi = _mm512_loadu_ps(im + k);
  const __m512 qr = Reversed(_mm512_loadu_ps(re + n - k - 15));
  const __m512 qi = Reversed(_mm512_loadu_ps(im + n - k - 15));
  const __m512 f1r = _mm512_add_ps(qr, pr);
  const __m512 f1i = _mm512_sub_ps(pi, qi);
  const __m512 f2r = _mm512_sub_ps(pr, qr);
  const __m512 f2i = _mm512_add_ps(qi, pi);
  const __m512 sr = _mm512_loadu_ps(superRe + k - 1);
  const __m512 si = _mm512_loadu_ps(superIm + k - 1);
  const __m512 twi = _mm512_add_ps(_mm512_mul_ps(f2i, sr), _mm512_mul_ps(f2r, si));
  const __m512 lowRe = _mm512_mul_ps(
      _mm512_mul_ps(
          _mm512_sub_ps(_mm512_add_ps(f1r, _mm512_mul_ps(f2r, sr)), _mm512_mul_ps(f2i, si)),
          half),
      scale);
  const __m512 lowIm = _mm512_mul_ps(_mm512_mul_ps(_mm512_add_ps(f1i, twi), half), scale);
  const __m512 highRe = _mm512_mul_ps(
      _mm512_mul_ps(
          _mm512_sub_ps(_mm512_add_ps(f1r, _mm512_mul_ps(f2i, si)), _mm512_mul_ps(f2r, sr)),
          half),
      scale);
  const __m512 highIm =
      _mm512_mul_ps(_mm512_mul_ps(_mm512_add_ps(_mm512_sub_ps(qi, pi), twi), half), scale);
  // Lane l of the low bins is bin k + l, of the high ones bin n - k - l:
  // each permute interleaves eight bins' real and imaginary parts (the high
  // ones reversed) into dst.
  float* low = dst + 2 * k;
  _mm512_storeu_ps(low, _mm512_permutex2var_ps(
                            lowRe,
                            _mm512_setr_epi32(0, 16, 1, 17, 2, 18, 3, 19, 4, 20, 5, 21, 6, 22,
                                              7, 23),
                            lowIm));
  _mm512_storeu_ps(low + 16, _mm512_permutex2var_ps(
                                 lowRe,
                                 _mm512_setr_epi32(8, 24, 9, 25, 10, 26, 11, 27, 12, 28, 13, 29,
                                                   14, 30, 15, 31),
                                 lowIm));
  float* high = dst + 2 * (n - k - 15);
  _mm512_storeu_ps(high, _mm512_permutex2var_ps(
                             highRe,
                             _mm512_setr_epi32(15, 31, 14, 30, 13, 29, 12, 28, 11, 27, 10, 26,
                                               9, 25, 8, 24),
                             highIm));
  _mm512_storeu_ps(high + 16, _mm512_permutex2var_ps(
                                  highRe,
                                  _mm512_setr_epi32(7, 23, 6, 22, 5, 21, 4, 20, 3, 19, 2, 18, 1,
                                                    17, 0, 16),
                                  highIm));
}

}  // namespace

KVD_AVX512 void SplitToPerm(const float* re, const float* im, const float* superRe,
                            const float* superIm, float scale, float* dst, int n) {
  const int half = n / 2;
  const __m512 scales = _mm512_set1_ps(scale);
  int k = 1;
  for (; k + 16 <= half; k += 16) SplitPairs16(re, im, superRe, superIm, scales, dst, n, k);
  // The last one to fifteen pairs with those before them: these are written
  // again with the same values.
  if (k < half) SplitPairs16(re, im, superRe, superIm, scales, dst, n, half - 16);
}

}  // namespace fft_avx512
