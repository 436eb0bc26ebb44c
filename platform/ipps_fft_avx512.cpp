#include "platform/ipps_fft_avx512.h"

#include <immintrin.h>

#include <cstring>

namespace fft_avx512 {

namespace {

#define KVD_AVX512 __attribute__((target("avx512f,avx512vl,avx512dq,avx512bw,avx2")))

// Every lane of a register of sixteen floats.
constexpr __mmask16 kAll = 0xFFFF;

// Four points of sixteen radix-4 butterflies, one butterfly a lane.
struct Lanes16 {
  __m512 r[4];
  __m512 i[4];
};

// The twiddles of points 1 .. 3, one butterfly a lane.
struct Twiddles16 {
  __m512 re[3];
  __m512 im[3];
};

// The radix-4 butterfly of every lane: inputs x, twiddles t. The operations
// and their order are those of the AVX2, SSE2 and scalar butterflies
// (KissFFT's forward radix-4).
KVD_AVX512 inline Lanes16 Radix4Lanes(const Lanes16& x, const Twiddles16& t) {
  const __m512 t1r = t.re[0], t1i = t.im[0];
  const __m512 t2r = t.re[1], t2i = t.im[1];
  const __m512 t3r = t.re[2], t3i = t.im[2];
  const __m512 s0r = _mm512_sub_ps(_mm512_mul_ps(x.r[1], t1r), _mm512_mul_ps(x.i[1], t1i));
  const __m512 s0i = _mm512_add_ps(_mm512_mul_ps(x.r[1], t1i), _mm512_mul_ps(x.i[1], t1r));
  const __m512 s1i = _mm512_add_ps(_mm512_mul_ps(x.r[2], t2i), _mm512_mul_ps(x.i[2], t2r));
  const __m512 s2i = _mm512_add_ps(_mm512_mul_ps(x.r[3], t3i), _mm512_mul_ps(x.i[3], t3r));
  const __m512 a = _mm512_mul_ps(x.r[2], t2r);
  const __m512 b = _mm512_mul_ps(x.i[2], t2i);
  const __m512 c = _mm512_mul_ps(x.r[3], t3r);
  const __m512 e = _mm512_mul_ps(x.i[3], t3i);
  const __m512 s5r = _mm512_sub_ps(_mm512_add_ps(x.r[0], b), a);
  const __m512 s5i = _mm512_sub_ps(x.i[0], s1i);
  const __m512 f0r = _mm512_sub_ps(_mm512_add_ps(x.r[0], a), b);
  const __m512 f0i = _mm512_add_ps(x.i[0], s1i);
  const __m512 s3r = _mm512_add_ps(_mm512_sub_ps(s0r, e), c);
  const __m512 s3i = _mm512_add_ps(s0i, s2i);
  const __m512 s4r = _mm512_add_ps(_mm512_sub_ps(s0r, c), e);
  const __m512 s4i = _mm512_sub_ps(s0i, s2i);
  Lanes16 y;
  y.r[0] = _mm512_add_ps(s3r, f0r);
  y.i[0] = _mm512_add_ps(s3i, f0i);
  y.r[1] = _mm512_add_ps(s4i, s5r);
  y.i[1] = _mm512_sub_ps(s5i, s4r);
  y.r[2] = _mm512_sub_ps(f0r, s3r);
  y.i[2] = _mm512_sub_ps(f0i, s3i);
  y.r[3] = _mm512_add_ps(_mm512_sub_ps(s2i, s0i), s5r);
  y.i[3] = _mm512_add_ps(s4r, s5i);
  return y;
}

// The real and imaginary parts of the complex points p .. p + 15 of the
// interleaved src. Quarter q (128 bits) of each holds the points p + 2q,
// p + 2q + 1, p + 2q + 8, p + 2q + 9: one in-quarter shuffle per part, no
// crossing.
KVD_AVX512 inline void LoadPoints(const float* src, int p, __m512* re, __m512* im) {
  const __m512 low = _mm512_loadu_ps(src + 2 * p);        // points p .. p + 7
  const __m512 high = _mm512_loadu_ps(src + 2 * p + 16);  // points p + 8 .. p + 15
  *re = _mm512_maskz_shuffle_ps(kAll, low, high, _MM_SHUFFLE(2, 0, 2, 0));
  *im = _mm512_maskz_shuffle_ps(kAll, low, high, _MM_SHUFFLE(3, 1, 3, 1));
}

// Transposes the four rows within each quarter: afterwards quarter q of row
// l holds element l of quarter q of the four rows.
KVD_AVX512 inline void TransposeQuarters(__m512* v) {
  const __m512 t0 = _mm512_maskz_unpacklo_ps(kAll, v[0], v[1]);
  const __m512 t1 = _mm512_maskz_unpackhi_ps(kAll, v[0], v[1]);
  const __m512 t2 = _mm512_maskz_unpacklo_ps(kAll, v[2], v[3]);
  const __m512 t3 = _mm512_maskz_unpackhi_ps(kAll, v[2], v[3]);
  v[0] = _mm512_maskz_shuffle_ps(kAll, t0, t2, _MM_SHUFFLE(1, 0, 1, 0));
  v[1] = _mm512_maskz_shuffle_ps(kAll, t0, t2, _MM_SHUFFLE(3, 2, 3, 2));
  v[2] = _mm512_maskz_shuffle_ps(kAll, t1, t3, _MM_SHUFFLE(1, 0, 1, 0));
  v[3] = _mm512_maskz_shuffle_ps(kAll, t1, t3, _MM_SHUFFLE(3, 2, 3, 2));
}

// Quarter q of v.
template <int q>
KVD_AVX512 inline __m128 Quarter(__m512 v) {
  return _mm512_maskz_extractf32x4_ps(0xF, v, q);
}

// The four quarters of v to d[0] .. d[3].
KVD_AVX512 inline void StoreQuarters(float* d0, float* d1, float* d2, float* d3, __m512 v) {
  _mm_storeu_ps(d0, Quarter<0>(v));
  _mm_storeu_ps(d1, Quarter<1>(v));
  _mm_storeu_ps(d2, Quarter<2>(v));
  _mm_storeu_ps(d3, Quarter<3>(v));
}

// Transposes four rows of four quarters: afterwards row j holds quarter j of
// each former row. Its own inverse.
KVD_AVX512 inline void TransposeBlocks(__m512* v) {
  const __m512 t0 = _mm512_maskz_shuffle_f32x4(kAll, v[0], v[1], _MM_SHUFFLE(1, 0, 1, 0));
  const __m512 t1 = _mm512_maskz_shuffle_f32x4(kAll, v[0], v[1], _MM_SHUFFLE(3, 2, 3, 2));
  const __m512 t2 = _mm512_maskz_shuffle_f32x4(kAll, v[2], v[3], _MM_SHUFFLE(1, 0, 1, 0));
  const __m512 t3 = _mm512_maskz_shuffle_f32x4(kAll, v[2], v[3], _MM_SHUFFLE(3, 2, 3, 2));
  v[0] = _mm512_maskz_shuffle_f32x4(kAll, t0, t2, _MM_SHUFFLE(2, 0, 2, 0));
  v[1] = _mm512_maskz_shuffle_f32x4(kAll, t0, t2, _MM_SHUFFLE(3, 1, 3, 1));
  v[2] = _mm512_maskz_shuffle_f32x4(kAll, t1, t3, _MM_SHUFFLE(2, 0, 2, 0));
  v[3] = _mm512_maskz_shuffle_f32x4(kAll, t1, t3, _MM_SHUFFLE(3, 1, 3, 1));
}

// Four rows of eight pairs of floats, each half (four pairs) of a row being
// one block: afterwards half h of row j holds pair j of half h of the four
// former rows. Its own inverse.
KVD_AVX512 inline void TransposePairs(__m512* v) {
  const __m512d a0 = _mm512_castps_pd(v[0]);
  const __m512d a1 = _mm512_castps_pd(v[1]);
  const __m512d a2 = _mm512_castps_pd(v[2]);
  const __m512d a3 = _mm512_castps_pd(v[3]);
  // Quarter q: pair 2q (unpacklo) or 2q + 1 (unpackhi) of two rows.
  const __m512d t0 = _mm512_maskz_unpacklo_pd(0xFF, a0, a1);
  const __m512d t1 = _mm512_maskz_unpackhi_pd(0xFF, a0, a1);
  const __m512d t2 = _mm512_maskz_unpacklo_pd(0xFF, a2, a3);
  const __m512d t3 = _mm512_maskz_unpackhi_pd(0xFF, a2, a3);
  // Quarters 0, 2 (pairs 0 and 4) or 1, 3 (pairs 2 and 6) of t0, t2 each
  // beside its fellow.
  const __m512i even = _mm512_setr_epi64(0, 1, 8, 9, 4, 5, 12, 13);
  const __m512i odd = _mm512_setr_epi64(2, 3, 10, 11, 6, 7, 14, 15);
  v[0] = _mm512_castpd_ps(_mm512_permutex2var_pd(t0, even, t2));
  v[1] = _mm512_castpd_ps(_mm512_permutex2var_pd(t1, even, t3));
  v[2] = _mm512_castpd_ps(_mm512_permutex2var_pd(t0, odd, t2));
  v[3] = _mm512_castpd_ps(_mm512_permutex2var_pd(t1, odd, t3));
}

// Four values in every quarter.
KVD_AVX512 inline __m512 EveryQuarter(const float* v) {
  return _mm512_maskz_broadcast_f32x4(kAll, _mm_loadu_ps(v));
}

// Two values in every pair of lanes.
KVD_AVX512 inline __m512 EveryPair(const float* v) {
  double pair;
  std::memcpy(&pair, v, sizeof pair);
  return _mm512_castpd_ps(_mm512_set1_pd(pair));
}

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

KVD_AVX512 void InnermostRadix4(const float* src, const ptrdiff_t* blockAt, int quarter,
                                float w0r, float w0i, float* re, float* im) {
  const __m512 wr = _mm512_set1_ps(w0r);
  const __m512 wi = _mm512_set1_ps(w0i);
  const Twiddles16 phase0 = {{wr, wr, wr}, {wi, wi, wi}};
  for (int base = 0; base < quarter; base += 16) {
    Lanes16 x;
    for (int j = 0; j < 4; ++j) LoadPoints(src, base + j * quarter, &x.r[j], &x.i[j]);
    Lanes16 y = Radix4Lanes(x, phase0);
    TransposeQuarters(y.r);
    TransposeQuarters(y.i);
    // Quarter q of row l is the block of the lane l of quarter q, which
    // holds the point base + 2q + {0, 1, 8, 9}[l].
    const ptrdiff_t* at = blockAt + base;
    constexpr int kFirstPoint[4] = {0, 1, 8, 9};
    for (int l = 0; l < 4; ++l) {
      const ptrdiff_t* of = at + kFirstPoint[l];
      StoreQuarters(re + of[0], re + of[2], re + of[4], re + of[6], y.r[l]);
      StoreQuarters(im + of[0], im + of[2], im + of[4], im + of[6], y.i[l]);
    }
  }
}

KVD_AVX512 void InnermostRadix2(const float* src, const ptrdiff_t* blockAt, int halfCount,
                                float w0r, float w0i, float* re, float* im) {
  const __m512 wr = _mm512_set1_ps(w0r);
  const __m512 wi = _mm512_set1_ps(w0i);
  for (int base = 0; base < halfCount; base += 16) {
    __m512 x0r, x0i, x1r, x1i;
    LoadPoints(src, base, &x0r, &x0i);
    LoadPoints(src, base + halfCount, &x1r, &x1i);
    const __m512 a = _mm512_mul_ps(x1r, wr);
    const __m512 b = _mm512_mul_ps(x1i, wi);
    const __m512 ti = _mm512_add_ps(_mm512_mul_ps(x1r, wi), _mm512_mul_ps(x1i, wr));
    const __m512 r1 = _mm512_sub_ps(_mm512_add_ps(x0r, b), a);
    const __m512 i1 = _mm512_sub_ps(x0i, ti);
    const __m512 r0 = _mm512_sub_ps(_mm512_add_ps(a, x0r), b);
    const __m512 i0 = _mm512_add_ps(x0i, ti);
    // Each pair (output 0, output 1) of a lane goes to its block. Quarter q
    // of the unpacklo holds the pairs of points base + 2q, 2q + 1, of the
    // unpackhi those of base + 2q + 8, 2q + 9.
    const __m512 pairs[4] = {
        _mm512_maskz_unpacklo_ps(kAll, r0, r1), _mm512_maskz_unpackhi_ps(kAll, r0, r1),
        _mm512_maskz_unpacklo_ps(kAll, i0, i1), _mm512_maskz_unpackhi_ps(kAll, i0, i1)};
    const ptrdiff_t* at = blockAt + base;
    for (int part = 0; part < 2; ++part) {
      float* out = part == 0 ? re : im;
      for (int h = 0; h < 2; ++h) {
        const __m512 v = pairs[2 * part + h];
        const ptrdiff_t* of = at + 8 * h;
        const __m128 quarters[4] = {Quarter<0>(v), Quarter<1>(v), Quarter<2>(v),
                                    Quarter<3>(v)};
        for (int q = 0; q < 4; ++q) {
          _mm_storel_pi(reinterpret_cast<__m64*>(out + of[2 * q]), quarters[q]);
          _mm_storeh_pi(reinterpret_cast<__m64*>(out + of[2 * q + 1]), quarters[q]);
        }
      }
    }
  }
}

KVD_AVX512 void Radix4StageSpan2(float* re, float* im, const Radix4Twiddles& tw, int n) {
  constexpr int kBlock = 8;  // 4 inputs of 2 butterflies
  // The twiddles of butterflies 0, 1 in every block's pair of lanes.
  const Twiddles16 t = {{EveryPair(tw.re[0]), EveryPair(tw.re[1]), EveryPair(tw.re[2])},
                        {EveryPair(tw.im[0]), EveryPair(tw.im[1]), EveryPair(tw.im[2])}};
  for (int first = 0; first + 8 * kBlock <= n; first += 8 * kBlock) {
    // Row v is blocks 2v and 2v + 1 whole; the transpose makes row j input
    // j of the eight blocks.
    Lanes16 x;
    for (int v = 0; v < 4; ++v) {
      x.r[v] = _mm512_loadu_ps(re + first + 2 * v * kBlock);
      x.i[v] = _mm512_loadu_ps(im + first + 2 * v * kBlock);
    }
    TransposePairs(x.r);
    TransposePairs(x.i);
    Lanes16 y = Radix4Lanes(x, t);
    TransposePairs(y.r);
    TransposePairs(y.i);
    for (int v = 0; v < 4; ++v) {
      _mm512_storeu_ps(re + first + 2 * v * kBlock, y.r[v]);
      _mm512_storeu_ps(im + first + 2 * v * kBlock, y.i[v]);
    }
  }
}

KVD_AVX512 void Radix4Stage(float* re, float* im, const Radix4Twiddles& tw, int span, int n) {
  const int block = 4 * span;
  for (int k = 0; k < span; k += 16) {
    const Twiddles16 t = {{_mm512_loadu_ps(tw.re[0] + k), _mm512_loadu_ps(tw.re[1] + k),
                           _mm512_loadu_ps(tw.re[2] + k)},
                          {_mm512_loadu_ps(tw.im[0] + k), _mm512_loadu_ps(tw.im[1] + k),
                           _mm512_loadu_ps(tw.im[2] + k)}};
    for (int first = k; first < n; first += block) {
      float* r = re + first;
      float* i = im + first;
      Lanes16 x;
      for (int j = 0; j < 4; ++j) {
        x.r[j] = _mm512_loadu_ps(r + j * span);
        x.i[j] = _mm512_loadu_ps(i + j * span);
      }
      const Lanes16 y = Radix4Lanes(x, t);
      for (int j = 0; j < 4; ++j) {
        _mm512_storeu_ps(r + j * span, y.r[j]);
        _mm512_storeu_ps(i + j * span, y.i[j]);
      }
    }
  }
}

KVD_AVX512 void Radix4StageSpan4(float* re, float* im, const Radix4Twiddles& tw, int n) {
  constexpr int kBlock = 16;  // 4 inputs of 4 butterflies
  const Twiddles16 t = {
      {EveryQuarter(tw.re[0]), EveryQuarter(tw.re[1]), EveryQuarter(tw.re[2])},
      {EveryQuarter(tw.im[0]), EveryQuarter(tw.im[1]), EveryQuarter(tw.im[2])}};
  for (int first = 0; first + 4 * kBlock <= n; first += 4 * kBlock) {
    // Row b is block b whole; the transpose makes row j input j of the four
    // blocks, quarter b from block b.
    float* r = re + first;
    float* i = im + first;
    Lanes16 x;
    for (int b = 0; b < 4; ++b) {
      x.r[b] = _mm512_loadu_ps(r + b * kBlock);
      x.i[b] = _mm512_loadu_ps(i + b * kBlock);
    }
    TransposeBlocks(x.r);
    TransposeBlocks(x.i);
    Lanes16 y = Radix4Lanes(x, t);
    TransposeBlocks(y.r);
    TransposeBlocks(y.i);
    for (int b = 0; b < 4; ++b) {
      _mm512_storeu_ps(r + b * kBlock, y.r[b]);
      _mm512_storeu_ps(i + b * kBlock, y.i[b]);
    }
  }
}

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
