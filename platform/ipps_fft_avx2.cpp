#include "platform/ipps_fft_avx2.h"

#include <immintrin.h>

namespace fft_avx2 {

namespace {

#define KVD_AVX2 __attribute__((target("avx2")))

// Four points of eight radix-4 butterflies, one butterfly a lane.
struct Lanes8 {
  __m256 r[4];
  __m256 i[4];
};

// The twiddles of points 1 .. 3, one butterfly a lane.
struct Twiddles8 {
  __m256 re[3];
  __m256 im[3];
};

// The radix-4 butterfly of every lane: inputs x, twiddles t. The operations
// and their order are those of the SSE2 and scalar butterflies of
// ipps_fft.cpp (KissFFT's forward radix-4).

KVD_AVX2 inline Lanes8 Radix4Lanes(const Lanes8& x, const Twiddles8& t) {
  const __m256 t1r = t.re[0], t1i = t.im[0];
  const __m256 t2r = t.re[1], t2i = t.im[1];
  const __m256 t3r = t.re[2], t3i = t.im[2];
  const __m256 s0r = _mm256_sub_ps(_mm256_mul_ps(x.r[1], t1r), _mm256_mul_ps(x.i[1], t1i));
  const __m256 s0i = _mm256_add_ps(_mm256_mul_ps(x.r[1], t1i), _mm256_mul_ps(x.i[1], t1r));
  const __m256 s1i = _mm256_add_ps(_mm256_mul_ps(x.r[2], t2i), _mm256_mul_ps(x.i[2], t2r));
  const __m256 s2i = _mm256_add_ps(_mm256_mul_ps(x.r[3], t3i), _mm256_mul_ps(x.i[3], t3r));
  const __m256 a = _mm256_mul_ps(x.r[2], t2r);
  const __m256 b = _mm256_mul_ps(x.i[2], t2i);
  const __m256 c = _mm256_mul_ps(x.r[3], t3r);
  const __m256 e = _mm256_mul_ps(x.i[3], t3i);
  const __m256 s5r = _mm256_sub_ps(_mm256_add_ps(x.r[0], b), a);
  const __m256 s5i = _mm256_sub_ps(x.i[0], s1i);
  const __m256 f0r = _mm256_sub_ps(_mm256_add_ps(x.r[0], a), b);
  const __m256 f0i = _mm256_add_ps(x.i[0], s1i);
  const __m256 s3r = _mm256_add_ps(_mm256_sub_ps(s0r, e), c);
  const __m256 s3i = _mm256_add_ps(s0i, s2i);
  const __m256 s4r = _mm256_add_ps(_mm256_sub_ps(s0r, c), e);
  const __m256 s4i = _mm256_sub_ps(s0i, s2i);
  Lanes8 y;
  y.r[0] = _mm256_add_ps(s3r, f0r);
  y.i[0] = _mm256_add_ps(s3i, f0i);
  y.r[1] = _mm256_add_ps(s4i, s5r);
  y.i[1] = _mm256_sub_ps(s5i, s4r);
  y.r[2] = _mm256_sub_ps(f0r, s3r);
  y.i[2] = _mm256_sub_ps(f0i, s3i);
  y.r[3] = _mm256_add_ps(_mm256_sub_ps(s2i, s0i), s5r);
  y.i[3] = _mm256_add_ps(s4r, s5i);
  return y;
}

// The real and imaginary parts of the complex points p .. p + 7 of the
// interleaved src, in the lane order p, p + 1, p + 4, p + 5 | p + 2, p + 3,
// p + 6, p + 7 (one in-lane shuffle per part, no lane crossing).
KVD_AVX2 inline void LoadPoints(const float* src, int p, __m256* re, __m256* im) {
  const __m256 low = _mm256_loadu_ps(src + 2 * p);       // points p .. p + 3
  const __m256 high = _mm256_loadu_ps(src + 2 * p + 8);  // points p + 4 .. p + 7
  *re = _mm256_shuffle_ps(low, high, _MM_SHUFFLE(2, 0, 2, 0));
  *im = _mm256_shuffle_ps(low, high, _MM_SHUFFLE(3, 1, 3, 1));
}

// Transposes the four rows within each 128-bit half: afterwards row l holds,
// in its low half, element l of the four low halves, and in its high half,
// element l of the four high halves.
KVD_AVX2 inline void TransposeHalves(__m256* v) {
  const __m256 t0 = _mm256_unpacklo_ps(v[0], v[1]);
  const __m256 t1 = _mm256_unpackhi_ps(v[0], v[1]);
  const __m256 t2 = _mm256_unpacklo_ps(v[2], v[3]);
  const __m256 t3 = _mm256_unpackhi_ps(v[2], v[3]);
  v[0] = _mm256_shuffle_ps(t0, t2, _MM_SHUFFLE(1, 0, 1, 0));
  v[1] = _mm256_shuffle_ps(t0, t2, _MM_SHUFFLE(3, 2, 3, 2));
  v[2] = _mm256_shuffle_ps(t1, t3, _MM_SHUFFLE(1, 0, 1, 0));
  v[3] = _mm256_shuffle_ps(t1, t3, _MM_SHUFFLE(3, 2, 3, 2));
}

KVD_AVX2 inline void StoreHalves(float* low, float* high, __m256 v) {
  _mm_storeu_ps(low, _mm256_castps256_ps128(v));
  _mm_storeu_ps(high, _mm256_extractf128_ps(v, 1));
}

KVD_AVX2 inline __m256 LoadHalves(const float* low, const float* high) {
  return _mm256_insertf128_ps(_mm256_castps128_ps256(_mm_loadu_ps(low)), _mm_loadu_ps(high), 1);
}

// Four values in both halves.
KVD_AVX2 inline __m256 BothHalves(const float* v) {
  return _mm256_broadcast_ps(reinterpret_cast<const __m128*>(v));
}

KVD_AVX2 inline __m256 Reversed(__m256 v) {
  return _mm256_permutevar8x32_ps(v, _mm256_setr_epi32(7, 6, 5, 4, 3, 2, 1, 0));
}

// Bins with real parts re and imaginary parts im, interleaved into dst[0 .. 15].
KVD_AVX2 inline void StoreInterleaved(float* dst, __m256 re, __m256 im) {
  const __m256 low = _mm256_unpacklo_ps(re, im);   // bins 0, 1 | 4, 5
  const __m256 high = _mm256_unpackhi_ps(re, im);  // bins 2, 3 | 6, 7
  _mm256_storeu_ps(dst, _mm256_permute2f128_ps(low, high, 0x20));
  _mm256_storeu_ps(dst + 8, _mm256_permute2f128_ps(low, high, 0x31));
}

// The split of bins k .. k + 7 and n - k - 7 .. n - k, one k a lane, with
// the operations of ipps_fft.cpp's SplitPair.
KVD_AVX2 inline void SplitPairs8(const float* re, const float* im, const float* superRe,
                                 const float* superIm, __m256 scale, float* dst, int n, int k) {
  const __m256 half = _mm256_set1_ps(0.5f);
  const __m256 pr = _mm256_loadu_ps(re + k);
  const __m256 pi = _mm256_loadu_ps(im + k);
  const __m256 qr = Reversed(_mm256_loadu_ps(re + n - k - 7));
  const __m256 qi = Reversed(_mm256_loadu_ps(im + n - k - 7));
  const __m256 f1r = _mm256_add_ps(qr, pr);
  const __m256 f1i = _mm256_sub_ps(pi, qi);
  const __m256 f2r = _mm256_sub_ps(pr, qr);
  const __m256 f2i = _mm256_add_ps(qi, pi);
  const __m256 sr = _mm256_loadu_ps(superRe + k - 1);
  const __m256 si = _mm256_loadu_ps(superIm + k - 1);
  const __m256 twi = _mm256_add_ps(_mm256_mul_ps(f2i, sr), _mm256_mul_ps(f2r, si));
  const __m256 lowRe = _mm256_mul_ps(
      _mm256_mul_ps(
          _mm256_sub_ps(_mm256_add_ps(f1r, _mm256_mul_ps(f2r, sr)), _mm256_mul_ps(f2i, si)), half),
      scale);
  const __m256 lowIm = _mm256_mul_ps(_mm256_mul_ps(_mm256_add_ps(f1i, twi), half), scale);
  const __m256 highRe = _mm256_mul_ps(
      _mm256_mul_ps(
          _mm256_sub_ps(_mm256_add_ps(f1r, _mm256_mul_ps(f2i, si)), _mm256_mul_ps(f2r, sr)), half),
      scale);
  const __m256 highIm =
      _mm256_mul_ps(_mm256_mul_ps(_mm256_add_ps(_mm256_sub_ps(qi, pi), twi), half), scale);
  StoreInterleaved(dst + 2 * k, lowRe, lowIm);
  StoreInterleaved(dst + 2 * (n - k - 7), Reversed(highRe), Reversed(highIm));
}

}  // namespace

KVD_AVX2 void InnermostRadix4(const float* src, const ptrdiff_t* blockAt, int quarter, float w0r,
                              float w0i, float* re, float* im) {
  const __m256 wr = _mm256_set1_ps(w0r);
  const __m256 wi = _mm256_set1_ps(w0i);
  const Twiddles8 phase0 = {{wr, wr, wr}, {wi, wi, wi}};
  for (int base = 0; base < quarter; base += 8) {
    Lanes8 x;
    for (int j = 0; j < 4; ++j) LoadPoints(src, base + j * quarter, &x.r[j], &x.i[j]);
    Lanes8 y = Radix4Lanes(x, phase0);
    TransposeHalves(y.r);
    TransposeHalves(y.i);
    // Row l's halves are the blocks of lanes l and l + 4, which hold the
    // points base + {0, 2}, {1, 3}, {4, 6}, {5, 7}.
    const ptrdiff_t* at = blockAt + base;
    constexpr int kLowPoint[4] = {0, 1, 4, 5};
    for (int l = 0; l < 4; ++l) {
      const ptrdiff_t low = at[kLowPoint[l]];
      const ptrdiff_t high = at[kLowPoint[l] + 2];
      StoreHalves(re + low, re + high, y.r[l]);
      StoreHalves(im + low, im + high, y.i[l]);
    }
  }
}

KVD_AVX2 void InnermostRadix2(const float* src, const ptrdiff_t* blockAt, int halfCount, float w0r,
                              float w0i, float* re, float* im) {
  const __m256 wr = _mm256_set1_ps(w0r);
  const __m256 wi = _mm256_set1_ps(w0i);
  for (int base = 0; base < halfCount; base += 8) {
    __m256 x0r, x0i, x1r, x1i;
    LoadPoints(src, base, &x0r, &x0i);
    LoadPoints(src, base + halfCount, &x1r, &x1i);
    const __m256 a = _mm256_mul_ps(x1r, wr);
    const __m256 b = _mm256_mul_ps(x1i, wi);
    const __m256 ti = _mm256_add_ps(_mm256_mul_ps(x1r, wi), _mm256_mul_ps(x1i, wr));
    const __m256 r1 = _mm256_sub_ps(_mm256_add_ps(x0r, b), a);
    const __m256 i1 = _mm256_sub_ps(x0i, ti);
    const __m256 r0 = _mm256_sub_ps(_mm256_add_ps(a, x0r), b);
    const __m256 i0 = _mm256_add_ps(x0i, ti);
    // Each pair (output 0, output 1) of a lane goes to its block; the lanes
    // hold the points base + 0, 1, 4, 5 | 2, 3, 6, 7.
    const __m256 pairs[4] = {_mm256_unpacklo_ps(r0, r1), _mm256_unpackhi_ps(r0, r1),
                             _mm256_unpacklo_ps(i0, i1), _mm256_unpackhi_ps(i0, i1)};
    const ptrdiff_t* at = blockAt + base;
    for (int part = 0; part < 2; ++part) {
      float* out = part == 0 ? re : im;
      const __m256 low = pairs[2 * part];       // points 0, 1 | 2, 3
      const __m256 high = pairs[2 * part + 1];  // points 4, 5 | 6, 7
      const __m128 quarters[4] = {_mm256_castps256_ps128(low), _mm256_extractf128_ps(low, 1),
                                  _mm256_castps256_ps128(high), _mm256_extractf128_ps(high, 1)};
      for (int q = 0; q < 4; ++q) {
        _mm_storel_pi(reinterpret_cast<__m64*>(out + at[2 * q]), quarters[q]);
        _mm_storeh_pi(reinterpret_cast<__m64*>(out + at[2 * q + 1]), quarters[q]);
      }
    }
  }
}

// Transposes four rows of four pairs of floats: afterwards row j holds pair j
// of each former row.
KVD_AVX2 inline void TransposePairs(__m256* v) {
  const __m256d a0 = _mm256_castps_pd(v[0]);
  const __m256d a1 = _mm256_castps_pd(v[1]);
  const __m256d a2 = _mm256_castps_pd(v[2]);
  const __m256d a3 = _mm256_castps_pd(v[3]);
  const __m256d t0 = _mm256_unpacklo_pd(a0, a1);  // pairs 0 | 2 of rows 0, 1
  const __m256d t1 = _mm256_unpackhi_pd(a0, a1);  // pairs 1 | 3
  const __m256d t2 = _mm256_unpacklo_pd(a2, a3);
  const __m256d t3 = _mm256_unpackhi_pd(a2, a3);
  v[0] = _mm256_castpd_ps(_mm256_permute2f128_pd(t0, t2, 0x20));
  v[1] = _mm256_castpd_ps(_mm256_permute2f128_pd(t1, t3, 0x20));
  v[2] = _mm256_castpd_ps(_mm256_permute2f128_pd(t0, t2, 0x31));
  v[3] = _mm256_castpd_ps(_mm256_permute2f128_pd(t1, t3, 0x31));
}

// Two values in each of the four pairs of lanes.
KVD_AVX2 inline __m256 EveryPair(const float* v) {
  return _mm256_castpd_ps(_mm256_broadcast_sd(reinterpret_cast<const double*>(v)));
}

KVD_AVX2 void Radix4StageSpan2(float* re, float* im, const Radix4Twiddles& tw, int n) {
  constexpr int kBlock = 8;  // 4 inputs of 2 butterflies
  // The twiddles of butterflies 0, 1 in every block's pair of lanes.
  const Twiddles8 t = {{EveryPair(tw.re[0]), EveryPair(tw.re[1]), EveryPair(tw.re[2])},
                       {EveryPair(tw.im[0]), EveryPair(tw.im[1]), EveryPair(tw.im[2])}};
  for (int first = 0; first + 4 * kBlock <= n; first += 4 * kBlock) {
    // Row b is block b whole (inputs 0 .. 3, butterflies 0, 1 each); the
    // transpose makes row j input j of the four blocks.
    Lanes8 x;
    for (int b = 0; b < 4; ++b) {
      x.r[b] = _mm256_loadu_ps(re + first + b * kBlock);
      x.i[b] = _mm256_loadu_ps(im + first + b * kBlock);
    }
    TransposePairs(x.r);
    TransposePairs(x.i);
    Lanes8 y = Radix4Lanes(x, t);
    TransposePairs(y.r);
    TransposePairs(y.i);
    for (int b = 0; b < 4; ++b) {
      _mm256_storeu_ps(re + first + b * kBlock, y.r[b]);
      _mm256_storeu_ps(im + first + b * kBlock, y.i[b]);
    }
  }
}

KVD_AVX2 void Radix4Stage(float* re, float* im, const Radix4Twiddles& tw, int span, int n) {
  const int block = 4 * span;
  for (int k = 0; k < span; k += 8) {
    const Twiddles8 t = {{_mm256_loadu_ps(tw.re[0] + k), _mm256_loadu_ps(tw.re[1] + k),
                          _mm256_loadu_ps(tw.re[2] + k)},
                         {_mm256_loadu_ps(tw.im[0] + k), _mm256_loadu_ps(tw.im[1] + k),
                          _mm256_loadu_ps(tw.im[2] + k)}};
    for (int first = k; first < n; first += block) {
      float* r = re + first;
      float* i = im + first;
      Lanes8 x;
      for (int j = 0; j < 4; ++j) {
        x.r[j] = _mm256_loadu_ps(r + j * span);
        x.i[j] = _mm256_loadu_ps(i + j * span);
      }
      const Lanes8 y = Radix4Lanes(x, t);
      for (int j = 0; j < 4; ++j) {
        _mm256_storeu_ps(r + j * span, y.r[j]);
        _mm256_storeu_ps(i + j * span, y.i[j]);
      }
    }
  }
}

KVD_AVX2 void Radix4StageSpan4(float* re, float* im, const Radix4Twiddles& tw, int n) {
  constexpr int kSpan = 4;
  constexpr int kBlock = 4 * kSpan;
  const Twiddles8 t = {{BothHalves(tw.re[0]), BothHalves(tw.re[1]), BothHalves(tw.re[2])},
                       {BothHalves(tw.im[0]), BothHalves(tw.im[1]), BothHalves(tw.im[2])}};
  // The low half holds block `first`, the high half the block after it.
  for (int first = 0; first + 2 * kBlock <= n; first += 2 * kBlock) {
    float* r = re + first;
    float* i = im + first;
    Lanes8 x;
    for (int j = 0; j < 4; ++j) {
      x.r[j] = LoadHalves(r + j * kSpan, r + kBlock + j * kSpan);
      x.i[j] = LoadHalves(i + j * kSpan, i + kBlock + j * kSpan);
    }
    const Lanes8 y = Radix4Lanes(x, t);
    for (int j = 0; j < 4; ++j) {
      StoreHalves(r + j * kSpan, r + kBlock + j * kSpan, y.r[j]);
      StoreHalves(i + j * kSpan, i + kBlock + j * kSpan, y.i[j]);
    }
  }
}

KVD_AVX2 void SplitToPerm(const float* re, const float* im, const float* superRe,
                          const float* superIm, float scale, float* dst, int n) {
  const int half = n / 2;
  const __m256 scales = _mm256_set1_ps(scale);
  int k = 1;
  for (; k + 8 <= half; k += 8) SplitPairs8(re, im, superRe, superIm, scales, dst, n, k);
  // The last one to seven pairs with those before them: these are written
  // again with the same values.
  if (k < half) SplitPairs8(re, im, superRe, superIm, scales, dst, n, half - 8);
}

}  // namespace fft_avx2
