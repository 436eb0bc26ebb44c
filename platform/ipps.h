// Signal-processing primitives with the names, argument order and status
// conventions of the Intel IPP signal domain ("ipps"), so that the engine's
// callers read as they would against the real library. Only the functions
// the engine uses are provided.
//
// Status: ippStsNoErr (0) on success; a negative code for a null pointer,
// a length <= 0, an FFT order outside 1 .. kMaxFftOrder or an FFT flag other
// than IPP_FFT_DIV_FWD_BY_N.
//
// Real FFT, N = 2^order points, "Perm" packed output of N floats:
//
//   index:  0    1       2      3      4      5     ...  N-2         N-1
//   value:  R0   R(N/2)  Re(1)  Im(1)  Re(2)  Im(2) ...  Re(N/2-1)   Im(N/2-1)
//
// The forward transform is divided by N: a cosine of amplitude A at bin k
// (0 < k < N/2) gives Re(k) = A/2; a constant A gives R0 = A.
#ifndef KVD_PLATFORM_IPPS_H
#define KVD_PLATFORM_IPPS_H

#include <cstdint>

using Ipp8u = uint8_t;
using Ipp16s = int16_t;
using Ipp32f = float;
using Ipp64u = uint64_t;
using IppStatus = int;

struct Ipp32fc {
  Ipp32f re;
  Ipp32f im;
};

enum IppHintAlgorithm { ippAlgHintNone = 0, ippAlgHintFast = 1, ippAlgHintAccurate = 2 };

constexpr IppStatus ippStsNoErr = 0;
constexpr IppStatus ippStsSizeErr = -6;
constexpr IppStatus ippStsNullPtrErr = -8;
constexpr IppStatus ippStsMemAllocErr = -9;
constexpr IppStatus ippStsFftOrderErr = -15;
constexpr IppStatus ippStsFftFlagErr = -16;

// Scaling flag: the forward transform is divided by N, the inverse is not.
constexpr int IPP_FFT_DIV_FWD_BY_N = 1;

// Largest supported order: 2^16 points covers 25 ms frames up to 2.6 MHz.
constexpr int kMaxFftOrder = 16;

// Opaque plan of a real FFT. A plan keeps its own scratch, so one plan serves
// one thread at a time (the engine gives every line its own plan).
struct IppsFFTSpec_R_32f;

IppStatus ippsFFTInitAlloc_R_32f(IppsFFTSpec_R_32f** spec, int order, int flag,
                                 IppHintAlgorithm hint);
IppStatus ippsFFTFree_R_32f(IppsFFTSpec_R_32f* spec);
// src and dst may be the same buffer (in place); buffer is unused (may be null).
IppStatus ippsFFTFwd_RToPerm_32f(const Ipp32f* src, Ipp32f* dst, const IppsFFTSpec_R_32f* spec,
                                 Ipp8u* buffer);

// dst[k] = sqrt(re^2 + im^2) of pair k. Applied to a Perm buffer, pair 0 is
// (R0, R(N/2)), so element 0 combines the DC and Nyquist terms.
IppStatus ippsMagnitude_32fc(const Ipp32fc* src, Ipp32f* dst, int len);
IppStatus ippsMul_32f(const Ipp32f* src1, const Ipp32f* src2, Ipp32f* dst, int len);
IppStatus ippsMul_32f_I(const Ipp32f* src, Ipp32f* srcDst, int len);
IppStatus ippsZero_32f(Ipp32f* dst, int len);
IppStatus ippsConvert_16s32f(const Ipp16s* src, Ipp32f* dst, int len);
IppStatus ippsSum_32f(const Ipp32f* src, int len, Ipp32f* sum, IppHintAlgorithm hint);
IppStatus ippsMean_32f(const Ipp32f* src, int len, Ipp32f* mean, IppHintAlgorithm hint);
// Sample standard deviation: the sum of squared deviations divided by len - 1
// (0 for a single value).
IppStatus ippsStdDev_32f(const Ipp32f* src, int len, Ipp32f* stdDev, IppHintAlgorithm hint);
// Both of the above in one pass over the sum: the same two values, bit for bit.
IppStatus ippsMeanStdDev_32f(const Ipp32f* src, int len, Ipp32f* mean, Ipp32f* stdDev,
                             IppHintAlgorithm hint);
// Largest / smallest value and the index of its first occurrence.
IppStatus ippsMaxIndx_32f(const Ipp32f* src, int len, Ipp32f* max, int* index);
IppStatus ippsMinIndx_32f(const Ipp32f* src, int len, Ipp32f* min, int* index);
IppStatus ippsSet_16s(Ipp16s value, Ipp16s* dst, int len);

// Code paths. The layer uses the widest one the CPU has; a host or a test may
// narrow the choice for the whole process. Every path gives the same values,
// bit for bit. The flag values are this layer's own.
constexpr Ipp64u ippCPUID_SSE2 = Ipp64u{1} << 2;   // the x86-64 baseline, always on
constexpr Ipp64u ippCPUID_AVX2 = Ipp64u{1} << 15;
constexpr Ipp64u ippCPUID_AVX512F = Ipp64u{1} << 16;  // only with AVX2
// Enables the paths in `features` that the CPU has (SSE2 stays on).
IppStatus ippSetCpuFeatures(Ipp64u features);
// The paths in use.
Ipp64u ippGetEnabledCpuFeatures();

#endif  // KVD_PLATFORM_IPPS_H
