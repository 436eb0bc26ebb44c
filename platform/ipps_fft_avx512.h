// AVX-512 kernels of the real FFT (platform/ipps_fft.cpp), sixteen bins a
// register. Each lane does exactly the operations of the AVX2, SSE2 and
// scalar kernels in the same order, without fused multiply-adds, so the
// values are the same bit for bit; only the width and the shuffles around
// the arithmetic differ. Called only when the CPU has AVX-512F and AVX2 and
// ippSetCpuFeatures has not turned them off.
//
// Only the split is here: on this machine (AMD Zen 4, 512-bit operations
// issued as two 256-bit halves) the butterfly stages, whose cost is in
// their shuffles and scattered stores rather than their arithmetic, were no
// faster in sixteen lanes than in eight, so they stay AVX2. The split gains
// from the two-register permutes that interleave and reverse its bins.
#ifndef KVD_PLATFORM_IPPS_FFT_AVX512_H
#define KVD_PLATFORM_IPPS_FFT_AVX512_H

namespace fft_avx512 {

// The real-input split of bins k and n - k for k = 1 .. n/2 - 1, scaled into
// the Perm layout (dst[2] .. dst[2n - 1] but bin n/2); n/2 - 1 >= 16.
void SplitToPerm(const float* re, const float* im, const float* superRe, const float* superIm,
                 float scale, float* dst, int n);

}  // namespace fft_avx512

#endif  // KVD_PLATFORM_IPPS_FFT_AVX512_H
