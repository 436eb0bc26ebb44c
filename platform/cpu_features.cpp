#include <atomic>

#include "platform/ipps.h"

namespace {

Ipp64u Available() {
  Ipp64u features = ippCPUID_SSE2;
#if defined(__x86_64__) || defined(__i386__)
  // Checks the operating system's support of the wide registers too.
  if (__builtin_cpu_supports("avx2")) {
    features |= ippCPUID_AVX2;
    if (__builtin_cpu_supports("avx512f")) features |= ippCPUID_AVX512F;
  }
#endif
  return features;
}

std::atomic<Ipp64u>& Enabled() {
  static std::atomic<Ipp64u> enabled{Available()};
  return enabled;
}

}  // namespace

IppStatus ippSetCpuFeatures(Ipp64u features) {
  Enabled().store((features & Available()) | ippCPUID_SSE2, std::memory_order_relaxed);
  return ippStsNoErr;
}

Ipp64u ippGetEnabledCpuFeatures() { return Enabled().load(std::memory_order_relaxed); }
