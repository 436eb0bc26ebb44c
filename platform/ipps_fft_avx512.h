// AVX-512 kernels of the real FFT (platform/ipps_fft.cpp), sixteen
// butterflies or bins a register. Each lane does exactly the operations of
// the AVX2, SSE2 and scalar kernels in the same order, without fused
// multiply-adds, so the values are the same bit for bit; only the width and
// the shuffles around the arithmetic differ. Called only when the CPU has
// AVX-512F and AVX2 and ippSetCpuFeatures has not turned them off.
#ifndef KVD_PLATFORM_IPPS_FFT_AVX512_H
#define KVD_PLATFORM_IPPS_FFT_AVX512_H

#include <cstddef>

#include "platform/ipps_fft_avx2.h"

namespace fft_avx512 {

using fft_avx2::Radix4Twiddles;

// The innermost radix-4 stage (one butterfly per block, every twiddle w0)
// from the interleaved complex input: the block whose inputs start at point
// b (b, b + quarter, b + 2 quarter, b + 3 quarter) goes to re/im from
// blockAt[b]. quarter is a multiple of 16.
void InnermostRadix4(const float* src, const ptrdiff_t* blockAt, int quarter, float w0r,
                     float w0i, float* re, float* im);

// The innermost radix-2 stage likewise: the block of points b and
// b + halfCount goes to blockAt[b]. halfCount is a multiple of 16.
void InnermostRadix2(const float* src, const ptrdiff_t* blockAt, int halfCount, float w0r,
                     float w0i, float* re, float* im);

// A whole radix-4 stage of n points of span 2, eight blocks a register; n
// is a multiple of 64.
void Radix4StageSpan2(float* re, float* im, const Radix4Twiddles& tw, int n);

// A whole radix-4 stage of n points whose span is a multiple of 16.
void Radix4Stage(float* re, float* im, const Radix4Twiddles& tw, int span, int n);

// A whole radix-4 stage of n points of span 4, four blocks a register; n is
// a multiple of 64.
void Radix4StageSpan4(float* re, float* im, const Radix4Twiddles& tw, int n);

// The real-input split of bins k and n - k for k = 1 .. n/2 - 1, scaled into
// the Perm layout (dst[2] .. dst[2n - 1] but bin n/2); n/2 - 1 >= 16.
void SplitToPerm(const float* re, const float* im, const float* superRe, const float* superIm,
                 float scale, float* dst, int n);

}  // namespace fft_avx512

#endif  // KVD_PLATFORM_IPPS_FFT_AVX512_H
