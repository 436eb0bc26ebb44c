// Real forward FFT in IPP's Perm layout, computed with KissFFT.
#include "platform/ipps.h"

#include <kiss_fftr.h>

#include <new>
#include <vector>

struct IppsFFTSpec_R_32f {
  int pointCount = 0;         // N = 2^order
  float scale = 1.0f;         // 1/N, applied to the forward transform
  kiss_fftr_cfg plan = nullptr;
  std::vector<kiss_fft_cpx> spectrum;  // N/2 + 1 bins, scratch of one transform
};

IppStatus ippsFFTInitAlloc_R_32f(IppsFFTSpec_R_32f** spec, int order, int flag,
                                 IppHintAlgorithm /*hint*/) {
  if (spec == nullptr) return ippStsNullPtrErr;
  *spec = nullptr;
  // KissFFT's real transform needs an even point count, so order 0 is refused.
  if (order < 1 || order > kMaxFftOrder) return ippStsFftOrderErr;
  if (flag != IPP_FFT_DIV_FWD_BY_N) return ippStsFftFlagErr;

  auto* created = new (std::nothrow) IppsFFTSpec_R_32f;
  if (created == nullptr) return ippStsMemAllocErr;
  created->pointCount = 1 << order;
  created->scale = 1.0f / static_cast<float>(created->pointCount);
  created->plan = kiss_fftr_alloc(created->pointCount, 0, nullptr, nullptr);
  try {
    created->spectrum.resize(static_cast<size_t>(created->pointCount / 2 + 1));
  } catch (const std::bad_alloc&) {
    kiss_fftr_free(created->plan);
    created->plan = nullptr;
  }
  if (created->plan == nullptr) {
    delete created;
    return ippStsMemAllocErr;
  }
  *spec = created;
  return ippStsNoErr;
}

IppStatus ippsFFTFree_R_32f(IppsFFTSpec_R_32f* spec) {
  if (spec == nullptr) return ippStsNullPtrErr;
  kiss_fftr_free(spec->plan);
  delete spec;
  return ippStsNoErr;
}

IppStatus ippsFFTFwd_RToPerm_32f(const Ipp32f* src, Ipp32f* dst, const IppsFFTSpec_R_32f* spec,
                                 Ipp8u* /*buffer*/) {
  if (src == nullptr || dst == nullptr || spec == nullptr) return ippStsNullPtrErr;
  // The plan's scratch is written; a plan serves one thread at a time.
  auto& scratch = const_cast<IppsFFTSpec_R_32f*>(spec)->spectrum;
  kiss_fftr(spec->plan, src, scratch.data());

  const int half = spec->pointCount / 2;
  const float scale = spec->scale;
  dst[0] = scratch[0].r * scale;
  dst[1] = scratch[static_cast<size_t>(half)].r * scale;
  for (int k = 1; k < half; ++k) {
    dst[2 * k] = scratch[static_cast<size_t>(k)].r * scale;
    dst[2 * k + 1] = scratch[static_cast<size_t>(k)].i * scale;
  }
  return ippStsNoErr;
}
