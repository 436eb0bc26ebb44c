// Real forward FFT in IPP's Perm layout.
//
// The values are those of KissFFT as Debian builds it (libkissfft-float
// 131, kiss_fftr), bit for bit: the engine's band energies, thresholds and
// golden outputs were made with it. The transform reads the real input as
// N/2 complex points, runs KissFFT's mixed-radix decimation-in-time complex
// FFT (radix 4 stages, one radix-2 stage when N/2 is not a power of 4) with
// KissFFT's twiddles (double cos / sin of the same double phases, rounded to
// float), then kiss_fftr's split into the N/2 + 1 bins of a real input.
//
// Debian compiles KissFFT with reassociating float optimisations, so its
// butterflies do not add in the order of its C source: a real part of a
// twiddled point is never formed alone, each of its two products is added to
// or taken from the other operand in turn. The expressions below are those
// of the library's machine code (the same in its stride-1 and strided
// loops), operation for operation; tests/platform/ipps_fft_test.cpp checks
// every value's bits against the library itself.
//
// Only the schedule is changed: each butterfly's arithmetic is separate from
// every other's, so a stage's butterflies run side by side on real and
// imaginary parts kept in separate arrays, four a lane with SSE2 (a baseline
// x86-64 build has no fused multiply-add), with the twiddles of a stage laid
// out in the order they are used; the split's bins, likewise four a lane,
// go straight into the Perm layout. N = 2 (one complex point) goes through
// KissFFT itself.
#include "platform/ipps.h"

#include <kiss_fftr.h>

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <new>
#include <utility>
#include <vector>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#if defined(KVD_FFT_AVX2)
#include "platform/ipps_fft_avx2.h"
#include "platform/ipps_fft_avx512.h"
#endif

namespace {

// KissFFT's value of pi, as a double.
constexpr double kKissPi = 3.14159265358979323846264338327;

// One stage of the complex transform: `radix`-point butterflies, `span`
// (KissFFT's m) of them per block of radix * span points; the twiddles of
// butterfly k, for its inputs 1 .. radix-1, are tw*[j - 1][k].
struct Stage {
  int radix = 4;
  int span = 1;
  std::vector<float> twRe[3];
  std::vector<float> twIm[3];
};

// What a transform of N/2 = n complex points reads and never writes. It is
// the same for every plan of one order: the plans share one copy (a host
// gives each of its lines a plan, and one copy stays in the caches where a
// copy a line would be fetched again for every frame).
struct FftTables {
  std::vector<int32_t> inputOf;  // position before the stages -> complex input point
  // Innermost block (radix r, span 1) whose inputs are the points b, b + n/r,
  // ..., b + (r - 1) n/r -> its position; n/r entries.
  std::vector<ptrdiff_t> blockAt;
  std::vector<Stage> stages;            // innermost (applied first) to outermost
  std::vector<float> superRe, superIm;  // n/2 twiddles of the real-input split
};

}  // namespace

struct IppsFFTSpec_R_32f {
  int pointCount = 0;  // N = 2^order
  float scale = 1.0f;  // 1/N, applied to the forward transform
  // N = 2 only.
  kiss_fftr_cfg plan = nullptr;
  std::vector<kiss_fft_cpx> spectrum;

  int complexCount = 0;  // N/2
  int order = 0;
  const FftTables* tables = nullptr;  // shared with the other plans of the order
  std::vector<float> re, im;  // N/2 values: scratch of one transform
};

namespace {

// KissFFT's factors of n (a power of two): radix 4 while 4 divides, then 2.
// (radix, span) from the outermost stage in.
std::vector<std::pair<int, int>> Factor(int n) {
  std::vector<std::pair<int, int>> factors;
  while (n > 1) {
    const int radix = n % 4 == 0 ? 4 : 2;
    n /= radix;
    factors.emplace_back(radix, n);
  }
  return factors;
}

// KissFFT's kf_work: where each input point lands before the butterflies.
void MapInputs(const std::vector<std::pair<int, int>>& factors, size_t level, int out, int in,
               int stride, std::vector<int32_t>& inputOf) {
  const int radix = factors[level].first;
  const int span = factors[level].second;
  if (span == 1) {
    for (int j = 0; j < radix; ++j) inputOf[static_cast<size_t>(out + j)] = in + j * stride;
    return;
  }
  for (int j = 0; j < radix; ++j) {
    MapInputs(factors, level + 1, out + j * span, in + j * stride, stride * radix, inputOf);
  }
}

// The tables of n complex points (n >= 2).
void Build(int n, FftTables& tables) {
  // KissFFT's twiddles of the complex transform: phase -2 pi i / n.
  std::vector<float> twRe(static_cast<size_t>(n));
  std::vector<float> twIm(static_cast<size_t>(n));
  for (int i = 0; i < n; ++i) {
    const double phase = -2 * kKissPi * i / n;
    twRe[static_cast<size_t>(i)] = static_cast<float>(std::cos(phase));
    twIm[static_cast<size_t>(i)] = static_cast<float>(std::sin(phase));
  }
  const std::vector<std::pair<int, int>> factors = Factor(n);
  tables.inputOf.assign(static_cast<size_t>(n), 0);
  MapInputs(factors, 0, 0, 0, 1, tables.inputOf);
  const int innerRadix = factors.back().first;
  tables.blockAt.assign(static_cast<size_t>(n / innerRadix), 0);
  for (int first = 0; first < n; first += innerRadix) {
    tables.blockAt[static_cast<size_t>(tables.inputOf[static_cast<size_t>(first)])] = first;
  }

  // A stage's twiddle stride is the product of the radixes outside it.
  int stride = 1;
  std::vector<Stage> outerFirst;
  for (const auto& [radix, span] : factors) {
    Stage stage;
    stage.radix = radix;
    stage.span = span;
    for (int j = 1; j < radix; ++j) {
      stage.twRe[j - 1].resize(static_cast<size_t>(span));
      stage.twIm[j - 1].resize(static_cast<size_t>(span));
      for (int k = 0; k < span; ++k) {
        const auto index = static_cast<size_t>(j * k * stride);
        stage.twRe[j - 1][static_cast<size_t>(k)] = twRe[index];
        stage.twIm[j - 1][static_cast<size_t>(k)] = twIm[index];
      }
    }
    outerFirst.push_back(std::move(stage));
    stride *= radix;
  }
  tables.stages.assign(outerFirst.rbegin(), outerFirst.rend());

  // kiss_fftr's split twiddles: phase -pi ((i + 1) / n + 1/2).
  tables.superRe.resize(static_cast<size_t>(n / 2));
  tables.superIm.resize(static_cast<size_t>(n / 2));
  for (int i = 0; i < n / 2; ++i) {
    const double phase = -kKissPi * (static_cast<double>(i + 1) / n + .5);
    tables.superRe[static_cast<size_t>(i)] = static_cast<float>(std::cos(phase));
    tables.superIm[static_cast<size_t>(i)] = static_cast<float>(std::sin(phase));
  }
}

// The plans' shared tables by order: built by the first plan that needs
// them and freed with the last one.
struct SharedTables {
  std::mutex guard;
  const FftTables* tables[kMaxFftOrder + 1] = {};
  int users[kMaxFftOrder + 1] = {};

  static SharedTables& Instance() {
    static SharedTables instance;
    return instance;
  }

  // The tables of `order` (n = 2^(order - 1) complex points, n >= 2), or
  // null when they cannot be allocated.
  const FftTables* Acquire(int order) {
    std::lock_guard<std::mutex> lock(guard);
    if (tables[order] == nullptr) {
      auto* built = new (std::nothrow) FftTables;
      if (built == nullptr) return nullptr;
      try {
        Build(1 << (order - 1), *built);
      } catch (const std::bad_alloc&) {
        delete built;
        return nullptr;
      }
      tables[order] = built;
    }
    ++users[order];
    return tables[order];
  }

  void Release(int order) {
    std::lock_guard<std::mutex> lock(guard);
    if (--users[order] == 0) {
      delete tables[order];
      tables[order] = nullptr;
    }
  }
};

// KissFFT's forward radix-4 butterflies of one block: points k, k + m,
// k + 2m, k + 3m (the four quarters q0 .. q3 of the block) for
// k = 0 .. m - 1, twiddled by tw1[k], tw2[k], tw3[k]. The quarters do not
// overlap, which the compiler is told so that it vectorises over k.
void Radix4Quarters(float* __restrict r0, float* __restrict i0, float* __restrict r1,
                    float* __restrict i1, float* __restrict r2, float* __restrict i2,
                    float* __restrict r3, float* __restrict i3, const float* __restrict t1r,
                    const float* __restrict t1i, const float* __restrict t2r,
                    const float* __restrict t2i, const float* __restrict t3r,
                    const float* __restrict t3i, int m) {
  for (int k = 0; k < m; ++k) {
    const float x0r = r0[k];
    const float x0i = i0[k];
    const float x1r = r1[k];
    const float x1i = i1[k];
    const float x2r = r2[k];
    const float x2i = i2[k];
    const float x3r = r3[k];
    const float x3i = i3[k];
    // Point 1 twiddled (s0), the imaginary parts of points 2 and 3 twiddled
    // (s1i, s2i), and the four products of their real parts.
    const float s0r = x1r * t1r[k] - x1i * t1i[k];
    const float s0i = x1r * t1i[k] + x1i * t1r[k];
    const float s1i = x2r * t2i[k] + x2i * t2r[k];
    const float s2i = x3r * t3i[k] + x3i * t3r[k];
    const float a = x2r * t2r[k];
    const float b = x2i * t2i[k];
    const float c = x3r * t3r[k];
    const float e = x3i * t3i[k];
    const float s5r = (x0r + b) - a;  // x0 - s1
    const float s5i = x0i - s1i;
    const float f0r = (x0r + a) - b;  // x0 + s1
    const float f0i = x0i + s1i;
    const float s3r = (s0r - e) + c;  // s0 + s2
    const float s3i = s0i + s2i;
    const float s4r = (s0r - c) + e;  // s0 - s2
    const float s4i = s0i - s2i;
    r2[k] = f0r - s3r;
    i2[k] = f0i - s3i;
    r0[k] = s3r + f0r;
    i0[k] = s3i + f0i;
    r1[k] = s4i + s5r;
    i1[k] = s5i - s4r;
    r3[k] = (s2i - s0i) + s5r;
    i3[k] = s4r + s5i;
  }
}

void Radix4(float* re, float* im, const Stage& stage) {
  const int m = stage.span;
  Radix4Quarters(re, im, re + m, im + m, re + 2 * m, im + 2 * m, re + 3 * m, im + 3 * m,
                 stage.twRe[0].data(), stage.twIm[0].data(), stage.twRe[1].data(),
                 stage.twIm[1].data(), stage.twRe[2].data(), stage.twIm[2].data(), m);
}

// KissFFT's radix-2 butterflies of one block (outside the innermost stage
// only for N/2 = 2: the radix-2 stage is the innermost one).
void Radix2(float* re, float* im, const Stage& stage) {
  const int m = stage.span;
  const float* twr = stage.twRe[0].data();
  const float* twi = stage.twIm[0].data();
  for (int k = 0; k < m; ++k) {
    const float x0r = re[k];
    const float x0i = im[k];
    const float x1r = re[k + m];
    const float x1i = im[k + m];
    const float a = x1r * twr[k];
    const float b = x1i * twi[k];
    const float ti = x1r * twi[k] + x1i * twr[k];
    re[k + m] = (x0r + b) - a;
    im[k + m] = x0i - ti;
    re[k] = (a + x0r) - b;
    im[k] = x0i + ti;
  }
}

// kiss_fftr's split of bins k and n - k (0 < k < n / 2) of the real input
// from points k and n - k of the complex transform of the N/2 = n points, in
// the library's order of operations, scaled into the Perm layout: the
// library's value (halved) times 1/N.
inline void SplitPair(const float* re, const float* im, const float* superRe,
                      const float* superIm, float scale, float* dst, int n, int k) {
  const float pr = re[k];
  const float pi = im[k];
  const float qr = re[n - k];
  const float qi = im[n - k];
  const float f1r = qr + pr;
  const float f1i = pi - qi;
  const float f2r = pr - qr;
  const float f2i = qi + pi;
  const float sr = superRe[k - 1];
  const float si = superIm[k - 1];
  const float twi = f2i * sr + f2r * si;
  dst[2 * k] = (((f1r + f2r * sr) - f2i * si) * 0.5f) * scale;
  dst[2 * k + 1] = ((f1i + twi) * 0.5f) * scale;
  dst[2 * (n - k)] = (((f1r + f2i * si) - f2r * sr) * 0.5f) * scale;
  dst[2 * (n - k) + 1] = (((qi - pi) + twi) * 0.5f) * scale;
}

#if defined(__SSE2__)
inline __m128 Reversed(__m128 v) { return _mm_shuffle_ps(v, v, _MM_SHUFFLE(0, 1, 2, 3)); }

// SplitPair for k .. k + 3, one k a lane (points n - k - 3 .. n - k are
// loaded and stored with their lanes reversed).
inline void SplitPairs4(const float* re, const float* im, const float* superRe,
                        const float* superIm, __m128 scale, float* dst, int n, int k) {
  const __m128 half = _mm_set1_ps(0.5f);
  const __m128 pr = _mm_loadu_ps(re + k);
  const __m128 pi = _mm_loadu_ps(im + k);
  const __m128 qr = Reversed(_mm_loadu_ps(re + n - k - 3));
  const __m128 qi = Reversed(_mm_loadu_ps(im + n - k - 3));
  const __m128 f1r = _mm_add_ps(qr, pr);
  const __m128 f1i = _mm_sub_ps(pi, qi);
  const __m128 f2r = _mm_sub_ps(pr, qr);
  const __m128 f2i = _mm_add_ps(qi, pi);
  const __m128 sr = _mm_loadu_ps(superRe + k - 1);
  const __m128 si = _mm_loadu_ps(superIm + k - 1);
  const __m128 twi = _mm_add_ps(_mm_mul_ps(f2i, sr), _mm_mul_ps(f2r, si));
  const __m128 lowRe = _mm_mul_ps(
      _mm_mul_ps(_mm_sub_ps(_mm_add_ps(f1r, _mm_mul_ps(f2r, sr)), _mm_mul_ps(f2i, si)), half),
      scale);
  const __m128 lowIm = _mm_mul_ps(_mm_mul_ps(_mm_add_ps(f1i, twi), half), scale);
  const __m128 highRe = _mm_mul_ps(
      _mm_mul_ps(_mm_sub_ps(_mm_add_ps(f1r, _mm_mul_ps(f2i, si)), _mm_mul_ps(f2r, sr)), half),
      scale);
  const __m128 highIm =
      _mm_mul_ps(_mm_mul_ps(_mm_add_ps(_mm_sub_ps(qi, pi), twi), half), scale);
  _mm_storeu_ps(dst + 2 * k, _mm_unpacklo_ps(lowRe, lowIm));
  _mm_storeu_ps(dst + 2 * k + 4, _mm_unpackhi_ps(lowRe, lowIm));
  const __m128 upRe = Reversed(highRe);  // bins n - k - 3 .. n - k
  const __m128 upIm = Reversed(highIm);
  _mm_storeu_ps(dst + 2 * (n - k - 3), _mm_unpacklo_ps(upRe, upIm));
  _mm_storeu_ps(dst + 2 * (n - k - 3) + 4, _mm_unpackhi_ps(upRe, upIm));
}
#endif

// kiss_fftr's split into bins 1 .. n - 1, scaled into the Perm layout
// (dst[2] .. dst[2n - 1]). Bin n / 2 is written twice by the library, the
// second value kept. avx2, avx512: the AVX2 or AVX-512 kernel may be used.
void SplitToPerm(const float* re, const float* im, const float* superRe, const float* superIm,
                 float scale, float* dst, int n, bool avx2, bool avx512) {
  const int half = n / 2;
  int k = 1;
#if defined(KVD_FFT_AVX2)
  if (avx512 && half > 16) {
    fft_avx512::SplitToPerm(re, im, superRe, superIm, scale, dst, n);
    k = half;
  } else if (avx2 && half > 8) {
    fft_avx2::SplitToPerm(re, im, superRe, superIm, scale, dst, n);
    k = half;
  }
#endif
#if defined(__SSE2__)
  const __m128 scales = _mm_set1_ps(scale);
  for (; k + 4 <= half; k += 4) SplitPairs4(re, im, superRe, superIm, scales, dst, n, k);
  // The last one to three pairs with the three before them: those are
  // written again with the same values.
  if (k < half && half - 4 >= 1) {
    SplitPairs4(re, im, superRe, superIm, scales, dst, n, half - 4);
    k = half;
  }
#endif
  for (; k < half; ++k) SplitPair(re, im, superRe, superIm, scale, dst, n, k);
  const float pr = re[half];
  const float pi = im[half];
  const float f1r = pr + pr;
  const float f2r = pr - pr;
  const float f2i = pi + pi;
  const float sr = superRe[half - 1];
  const float si = superIm[half - 1];
  const float twi = f2i * sr + f2r * si;
  dst[2 * half] = (((f1r + f2i * si) - f2r * sr) * 0.5f) * scale;
  dst[2 * half + 1] = (((pi - pi) + twi) * 0.5f) * scale;
}

#if defined(__SSE2__)
// Four points of four radix-4 butterflies, one butterfly a lane.
struct Lanes4 {
  __m128 r[4];
  __m128 i[4];
};

// Radix4Quarters' butterfly on every lane: inputs x, twiddles t1 .. t3 of
// points 1 .. 3; the same operations in the same order.
inline Lanes4 Radix4Lanes(const Lanes4& x, __m128 t1r, __m128 t1i, __m128 t2r, __m128 t2i,
                          __m128 t3r, __m128 t3i) {
  const __m128 s0r = _mm_sub_ps(_mm_mul_ps(x.r[1], t1r), _mm_mul_ps(x.i[1], t1i));
  const __m128 s0i = _mm_add_ps(_mm_mul_ps(x.r[1], t1i), _mm_mul_ps(x.i[1], t1r));
  const __m128 s1i = _mm_add_ps(_mm_mul_ps(x.r[2], t2i), _mm_mul_ps(x.i[2], t2r));
  const __m128 s2i = _mm_add_ps(_mm_mul_ps(x.r[3], t3i), _mm_mul_ps(x.i[3], t3r));
  const __m128 a = _mm_mul_ps(x.r[2], t2r);
  const __m128 b = _mm_mul_ps(x.i[2], t2i);
  const __m128 c = _mm_mul_ps(x.r[3], t3r);
  const __m128 e = _mm_mul_ps(x.i[3], t3i);
  const __m128 s5r = _mm_sub_ps(_mm_add_ps(x.r[0], b), a);
  const __m128 s5i = _mm_sub_ps(x.i[0], s1i);
  const __m128 f0r = _mm_sub_ps(_mm_add_ps(x.r[0], a), b);
  const __m128 f0i = _mm_add_ps(x.i[0], s1i);
  const __m128 s3r = _mm_add_ps(_mm_sub_ps(s0r, e), c);
  const __m128 s3i = _mm_add_ps(s0i, s2i);
  const __m128 s4r = _mm_add_ps(_mm_sub_ps(s0r, c), e);
  const __m128 s4i = _mm_sub_ps(s0i, s2i);
  Lanes4 y;
  y.r[0] = _mm_add_ps(s3r, f0r);
  y.i[0] = _mm_add_ps(s3i, f0i);
  y.r[1] = _mm_add_ps(s4i, s5r);
  y.i[1] = _mm_sub_ps(s5i, s4r);
  y.r[2] = _mm_sub_ps(f0r, s3r);
  y.i[2] = _mm_sub_ps(f0i, s3i);
  y.r[3] = _mm_add_ps(_mm_sub_ps(s2i, s0i), s5r);
  y.i[3] = _mm_add_ps(s4r, s5i);
  return y;
}

// The real and imaginary parts of the complex points p .. p + 3 of the
// interleaved src, one point a lane.
inline void LoadPoints(const float* src, int p, __m128* re, __m128* im) {
  const __m128 low = _mm_loadu_ps(src + 2 * p);       // r0 i0 r1 i1
  const __m128 high = _mm_loadu_ps(src + 2 * p + 4);  // r2 i2 r3 i3
  *re = _mm_shuffle_ps(low, high, _MM_SHUFFLE(2, 0, 2, 0));
  *im = _mm_shuffle_ps(low, high, _MM_SHUFFLE(3, 1, 3, 1));
}

// The innermost radix-4 stage for the four blocks whose inputs start at
// points base .. base + 3 (their input j is point base + lane + j n/4, so
// each is one load), one butterfly a lane, with the operations of the scalar
// loop below; each butterfly's four outputs are transposed into its block.
void InnermostRadix4x4(const float* src, const ptrdiff_t* blockAt, int quarter, float w0r,
                       float w0i, float* re, float* im, int base) {
  const __m128 wr = _mm_set1_ps(w0r);
  const __m128 wi = _mm_set1_ps(w0i);
  Lanes4 x;
  for (int j = 0; j < 4; ++j) LoadPoints(src, base + j * quarter, &x.r[j], &x.i[j]);
  const Lanes4 y = Radix4Lanes(x, wr, wi, wr, wi, wr, wi);
  __m128 r0 = y.r[0], r1 = y.r[1], r2 = y.r[2], r3 = y.r[3];
  __m128 i0 = y.i[0], i1 = y.i[1], i2 = y.i[2], i3 = y.i[3];
  _MM_TRANSPOSE4_PS(r0, r1, r2, r3);
  _MM_TRANSPOSE4_PS(i0, i1, i2, i3);
  const ptrdiff_t* at = blockAt + base;
  _mm_storeu_ps(re + at[0], r0);
  _mm_storeu_ps(re + at[1], r1);
  _mm_storeu_ps(re + at[2], r2);
  _mm_storeu_ps(re + at[3], r3);
  _mm_storeu_ps(im + at[0], i0);
  _mm_storeu_ps(im + at[1], i1);
  _mm_storeu_ps(im + at[2], i2);
  _mm_storeu_ps(im + at[3], i3);
}

// The innermost radix-2 stage for the four blocks whose inputs start at
// points base .. base + 3 (input j at base + lane + j n/2), one butterfly a
// lane, as the scalar loop below.
void InnermostRadix2x4(const float* src, const ptrdiff_t* blockAt, int halfCount, float w0r,
                       float w0i, float* re, float* im, int base) {
  const __m128 wr = _mm_set1_ps(w0r);
  const __m128 wi = _mm_set1_ps(w0i);
  __m128 x0r, x0i, x1r, x1i;
  LoadPoints(src, base, &x0r, &x0i);
  LoadPoints(src, base + halfCount, &x1r, &x1i);
  const __m128 a = _mm_mul_ps(x1r, wr);
  const __m128 b = _mm_mul_ps(x1i, wi);
  const __m128 ti = _mm_add_ps(_mm_mul_ps(x1r, wi), _mm_mul_ps(x1i, wr));
  const __m128 r1 = _mm_sub_ps(_mm_add_ps(x0r, b), a);
  const __m128 i1 = _mm_sub_ps(x0i, ti);
  const __m128 r0 = _mm_sub_ps(_mm_add_ps(a, x0r), b);
  const __m128 i0 = _mm_add_ps(x0i, ti);
  // Lane l's two outputs go to its block, blockAt[base + l] and the next.
  const __m128 lowRe = _mm_unpacklo_ps(r0, r1);  // lanes 0, 1
  const __m128 highRe = _mm_unpackhi_ps(r0, r1);  // lanes 2, 3
  const __m128 lowIm = _mm_unpacklo_ps(i0, i1);
  const __m128 highIm = _mm_unpackhi_ps(i0, i1);
  const ptrdiff_t* at = blockAt + base;
  _mm_storel_pi(reinterpret_cast<__m64*>(re + at[0]), lowRe);
  _mm_storeh_pi(reinterpret_cast<__m64*>(re + at[1]), lowRe);
  _mm_storel_pi(reinterpret_cast<__m64*>(re + at[2]), highRe);
  _mm_storeh_pi(reinterpret_cast<__m64*>(re + at[3]), highRe);
  _mm_storel_pi(reinterpret_cast<__m64*>(im + at[0]), lowIm);
  _mm_storeh_pi(reinterpret_cast<__m64*>(im + at[1]), lowIm);
  _mm_storel_pi(reinterpret_cast<__m64*>(im + at[2]), highIm);
  _mm_storeh_pi(reinterpret_cast<__m64*>(im + at[3]), highIm);
}

// Two blocks of a radix-4 stage of span 2 (points first .. first + 15): the
// butterflies k = 0, 1 of each block, one a lane, as Radix4Quarters does
// them one by one.
void Radix4Span2TwoBlocks(float* re, float* im, const Stage& stage, int first) {
  auto pairs = [](const float* lower, const float* upper) {
    return _mm_loadh_pi(_mm_loadl_pi(_mm_setzero_ps(), reinterpret_cast<const __m64*>(lower)),
                        reinterpret_cast<const __m64*>(upper));
  };
  auto put = [](float* lower, float* upper, __m128 v) {
    _mm_storel_pi(reinterpret_cast<__m64*>(lower), v);
    _mm_storeh_pi(reinterpret_cast<__m64*>(upper), v);
  };
  auto twiddles = [&](const std::vector<float>& t) { return pairs(t.data(), t.data()); };
  const __m128 t1r = twiddles(stage.twRe[0]);
  const __m128 t1i = twiddles(stage.twIm[0]);
  const __m128 t2r = twiddles(stage.twRe[1]);
  const __m128 t2i = twiddles(stage.twIm[1]);
  const __m128 t3r = twiddles(stage.twRe[2]);
  const __m128 t3i = twiddles(stage.twIm[2]);
  float* r = re + first;
  float* i = im + first;
  Lanes4 x;
  for (int j = 0; j < 4; ++j) {
    x.r[j] = pairs(r + 2 * j, r + 8 + 2 * j);
    x.i[j] = pairs(i + 2 * j, i + 8 + 2 * j);
  }
  const Lanes4 y = Radix4Lanes(x, t1r, t1i, t2r, t2i, t3r, t3i);
  for (int j = 0; j < 4; ++j) {
    put(r + 2 * j, r + 8 + 2 * j, y.r[j]);
    put(i + 2 * j, i + 8 + 2 * j, y.i[j]);
  }
}

// A whole radix-4 stage whose span is a multiple of 4: butterflies k .. k + 3
// of a block one a lane, as Radix4Quarters does them one by one; each group
// of four twiddles is loaded once for all the blocks.
void Radix4StageBy4(float* re, float* im, const Stage& stage, int n) {
  const int m = stage.span;
  const int block = 4 * m;
  for (int k = 0; k < m; k += 4) {
    const __m128 t1r = _mm_loadu_ps(stage.twRe[0].data() + k);
    const __m128 t1i = _mm_loadu_ps(stage.twIm[0].data() + k);
    const __m128 t2r = _mm_loadu_ps(stage.twRe[1].data() + k);
    const __m128 t2i = _mm_loadu_ps(stage.twIm[1].data() + k);
    const __m128 t3r = _mm_loadu_ps(stage.twRe[2].data() + k);
    const __m128 t3i = _mm_loadu_ps(stage.twIm[2].data() + k);
    for (int first = k; first < n; first += block) {
      float* r = re + first;
      float* i = im + first;
      Lanes4 x;
      for (int j = 0; j < 4; ++j) {
        x.r[j] = _mm_loadu_ps(r + j * m);
        x.i[j] = _mm_loadu_ps(i + j * m);
      }
      const Lanes4 y = Radix4Lanes(x, t1r, t1i, t2r, t2i, t3r, t3i);
      for (int j = 0; j < 4; ++j) {
        _mm_storeu_ps(r + j * m, y.r[j]);
        _mm_storeu_ps(i + j * m, y.i[j]);
      }
    }
  }
}
#endif

void Transform(const IppsFFTSpec_R_32f& spec, const float* src, float* dst) {
  const int n = spec.complexCount;
  // Scratch of the plan; a plan serves one thread at a time.
  float* re = const_cast<float*>(spec.re.data());
  float* im = const_cast<float*>(spec.im.data());
  const FftTables& tables = *spec.tables;
  const int32_t* inputOf = tables.inputOf.data();
  const Ipp64u features = ippGetEnabledCpuFeatures();
  const bool avx2 = (features & ippCPUID_AVX2) != 0;
  const bool avx512 = avx2 && (features & ippCPUID_AVX512F) != 0;

  // The innermost stage (span 1: one butterfly per block, every twiddle
  // that of phase 0) straight from the input points.
  const Stage& innermost = tables.stages.front();
  const float w0r = innermost.twRe[0][0];
  const float w0i = innermost.twIm[0][0];
  if (innermost.radix == 4) {
    int first = 0;
#if defined(__SSE2__)
    const int quarter = n / 4;
#if defined(KVD_FFT_AVX2)
    if (avx2 && quarter % 8 == 0) {
      fft_avx2::InnermostRadix4(src, tables.blockAt.data(), quarter, w0r, w0i, re, im);
      first = n;
    } else
#endif
    if (quarter % 4 == 0) {
      const ptrdiff_t* blockAt = tables.blockAt.data();
      for (int base = 0; base < quarter; base += 4) {
        InnermostRadix4x4(src, blockAt, quarter, w0r, w0i, re, im, base);
      }
      first = n;
    }
#endif
    for (; first < n; first += 4) {
      const int32_t* from = inputOf + first;
      const float x0r = src[2 * from[0]];
      const float x0i = src[2 * from[0] + 1];
      const float x1r = src[2 * from[1]];
      const float x1i = src[2 * from[1] + 1];
      const float x2r = src[2 * from[2]];
      const float x2i = src[2 * from[2] + 1];
      const float x3r = src[2 * from[3]];
      const float x3i = src[2 * from[3] + 1];
      const float s0r = x1r * w0r - x1i * w0i;
      const float s0i = x1r * w0i + x1i * w0r;
      const float s1i = x2r * w0i + x2i * w0r;
      const float s2i = x3r * w0i + x3i * w0r;
      const float a = x2r * w0r;
      const float b = x2i * w0i;
      const float c = x3r * w0r;
      const float e = x3i * w0i;
      const float s5r = (x0r + b) - a;
      const float s5i = x0i - s1i;
      const float f0r = (x0r + a) - b;
      const float f0i = x0i + s1i;
      const float s3r = (s0r - e) + c;
      const float s3i = s0i + s2i;
      const float s4r = (s0r - c) + e;
      const float s4i = s0i - s2i;
      re[first + 2] = f0r - s3r;
      im[first + 2] = f0i - s3i;
      re[first] = s3r + f0r;
      im[first] = s3i + f0i;
      re[first + 1] = s4i + s5r;
      im[first + 1] = s5i - s4r;
      re[first + 3] = (s2i - s0i) + s5r;
      im[first + 3] = s4r + s5i;
    }
  } else {
    int first = 0;
#if defined(__SSE2__)
    const int halfCount = n / 2;
#if defined(KVD_FFT_AVX2)
    if (avx2 && halfCount % 8 == 0) {
      fft_avx2::InnermostRadix2(src, tables.blockAt.data(), halfCount, w0r, w0i, re, im);
      first = n;
    } else
#endif
    if (halfCount % 4 == 0) {
      const ptrdiff_t* blockAt = tables.blockAt.data();
      for (int base = 0; base < halfCount; base += 4) {
        InnermostRadix2x4(src, blockAt, halfCount, w0r, w0i, re, im, base);
      }
      first = n;
    }
#endif
    for (; first < n; first += 2) {
      const int32_t* from = inputOf + first;
      const float x0r = src[2 * from[0]];
      const float x0i = src[2 * from[0] + 1];
      const float x1r = src[2 * from[1]];
      const float x1i = src[2 * from[1] + 1];
      const float a = x1r * w0r;
      const float b = x1i * w0i;
      const float ti = x1r * w0i + x1i * w0r;
      re[first + 1] = (x0r + b) - a;
      im[first + 1] = x0i - ti;
      re[first] = (a + x0r) - b;
      im[first] = x0i + ti;
    }
  }
  for (size_t l = 1; l < tables.stages.size(); ++l) {
    const Stage& stage = tables.stages[l];
    const int block = stage.radix * stage.span;
    int first = 0;
#if defined(KVD_FFT_AVX2)
    const bool narrow = stage.span == 2 || stage.span == 4;
    if (avx2 && stage.radix == 4 && (stage.span % 8 == 0 || (narrow && n % 32 == 0))) {
      const fft_avx2::Radix4Twiddles tw = {
          {stage.twRe[0].data(), stage.twRe[1].data(), stage.twRe[2].data()},
          {stage.twIm[0].data(), stage.twIm[1].data(), stage.twIm[2].data()}};
      if (stage.span == 2) {
        fft_avx2::Radix4StageSpan2(re, im, tw, n);
      } else if (stage.span == 4) {
        fft_avx2::Radix4StageSpan4(re, im, tw, n);
      } else {
        fft_avx2::Radix4Stage(re, im, tw, stage.span, n);
      }
      continue;
    }
#endif
#if defined(__SSE2__)
    if (stage.radix == 4 && stage.span % 4 == 0) {
      Radix4StageBy4(re, im, stage, n);
      continue;
    }
    if (stage.radix == 4 && stage.span == 2) {
      for (; first + 2 * block <= n; first += 2 * block) {
        Radix4Span2TwoBlocks(re, im, stage, first);
      }
    }
#endif
    for (; first < n; first += block) {
      if (stage.radix == 4) {
        Radix4(re + first, im + first, stage);
      } else {
        Radix2(re + first, im + first, stage);
      }
    }
  }

  // kiss_fftr's split (in the library's order of operations), scaled into
  // the Perm layout.
  const float scale = spec.scale;
  dst[0] = (re[0] + im[0]) * scale;
  dst[1] = (re[0] - im[0]) * scale;
  SplitToPerm(re, im, tables.superRe.data(), tables.superIm.data(), scale, dst, n, avx2,
              avx512);
}

}  // namespace

IppStatus ippsFFTInitAlloc_R_32f(IppsFFTSpec_R_32f** spec, int order, int flag,
                                 IppHintAlgorithm /*hint*/) {
  if (spec == nullptr) return ippStsNullPtrErr;
  *spec = nullptr;
  // The real transform needs an even point count, so order 0 is refused.
  if (order < 1 || order > kMaxFftOrder) return ippStsFftOrderErr;
  if (flag != IPP_FFT_DIV_FWD_BY_N) return ippStsFftFlagErr;

  auto* created = new (std::nothrow) IppsFFTSpec_R_32f;
  if (created == nullptr) return ippStsMemAllocErr;
  created->pointCount = 1 << order;
  created->scale = 1.0f / static_cast<float>(created->pointCount);
  created->complexCount = created->pointCount / 2;
  bool built = false;
  try {
    if (created->complexCount == 1) {
      created->plan = kiss_fftr_alloc(created->pointCount, 0, nullptr, nullptr);
      created->spectrum.resize(static_cast<size_t>(created->pointCount / 2 + 1));
      built = created->plan != nullptr;
    } else {
      created->re.assign(static_cast<size_t>(created->complexCount), 0.0f);
      created->im.assign(static_cast<size_t>(created->complexCount), 0.0f);
      created->order = order;
      created->tables = SharedTables::Instance().Acquire(order);
      built = created->tables != nullptr;
    }
  } catch (const std::bad_alloc&) {
    built = false;
  }
  if (!built) {
    if (created->plan != nullptr) kiss_fftr_free(created->plan);
    delete created;
    return ippStsMemAllocErr;
  }
  *spec = created;
  return ippStsNoErr;
}

IppStatus ippsFFTFree_R_32f(IppsFFTSpec_R_32f* spec) {
  if (spec == nullptr) return ippStsNullPtrErr;
  if (spec->plan != nullptr) kiss_fftr_free(spec->plan);
  if (spec->tables != nullptr) SharedTables::Instance().Release(spec->order);
  delete spec;
  return ippStsNoErr;
}

IppStatus ippsFFTFwd_RToPerm_32f(const Ipp32f* src, Ipp32f* dst, const IppsFFTSpec_R_32f* spec,
                                 Ipp8u* /*buffer*/) {
  if (src == nullptr || dst == nullptr || spec == nullptr) return ippStsNullPtrErr;
  if (spec->plan == nullptr) {
    // src is read whole into the scratch before dst is written: in place is
    // fine.
    Transform(*spec, src, dst);
    return ippStsNoErr;
  }
  // The plan's scratch is written; a plan serves one thread at a time.
  auto& scratch = const_cast<IppsFFTSpec_R_32f*>(spec)->spectrum;
  kiss_fftr(spec->plan, src, scratch.data());
  dst[0] = scratch[0].r * spec->scale;
  dst[1] = scratch[1].r * spec->scale;
  return ippStsNoErr;
}
