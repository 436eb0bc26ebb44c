// The real FFT against KissFFT: Perm layout, 1/N forward scaling.
#include <gtest/gtest.h>

#include <kiss_fftr.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <random>
#include <vector>

#include "platform/ipps.h"

namespace {

// The engine's spectra were made with KissFFT; the transform must give its
// values bit for bit, zero signs included (scaled by 1/N as the earlier
// wrapper did: each kiss_fftr value times 1/N in float), on full random
// frames and on frames zero padded as the engine's are (200 of 512, 400 of
// 1024 samples), at every order.
TEST(FftBits, EqualKissFftOnEveryOrder) {
  std::mt19937 engine(20261207);
  std::uniform_real_distribution<float> sample(-32768.0f, 32767.0f);
  for (int order = 1; order <= 13; ++order) {
    const size_t n = size_t{1} << order;
    const float scale = 1.0f / static_cast<float>(n);
    IppsFFTSpec_R_32f* spec = nullptr;
    ASSERT_EQ(ippsFFTInitAlloc_R_32f(&spec, order, IPP_FFT_DIV_FWD_BY_N, ippAlgHintNone),
              ippStsNoErr);
    kiss_fftr_cfg plan = kiss_fftr_alloc(static_cast<int>(n), 0, nullptr, nullptr);
    ASSERT_NE(plan, nullptr);
    std::vector<kiss_fft_cpx> bins(n / 2 + 1);
    for (int trial = 0; trial < 8; ++trial) {
      std::vector<float> x(n);
      const size_t used = trial < 4 ? n : std::max<size_t>(1, n * 25 / 64);
      for (size_t i = 0; i < used; ++i) x[i] = std::round(sample(engine));
      kiss_fftr(plan, x.data(), bins.data());
      std::vector<float> expected(n);
      expected[0] = bins[0].r * scale;
      expected[1] = bins[n / 2].r * scale;
      for (size_t k = 1; k < n / 2; ++k) {
        expected[2 * k] = bins[k].r * scale;
        expected[2 * k + 1] = bins[k].i * scale;
      }
      std::vector<float> out = x;  // in place, as the engine calls it
      ASSERT_EQ(ippsFFTFwd_RToPerm_32f(out.data(), out.data(), spec, nullptr), ippStsNoErr);
      for (size_t i = 0; i < n; ++i) {
        uint32_t got = 0;
        uint32_t want = 0;
        std::memcpy(&got, &out[i], sizeof(got));
        std::memcpy(&want, &expected[i], sizeof(want));
        ASSERT_EQ(got, want) << "order " << order << " trial " << trial << " value " << i << ": "
                             << out[i] << " against " << expected[i];
      }
    }
    kiss_fftr_free(plan);
    EXPECT_EQ(ippsFFTFree_R_32f(spec), ippStsNoErr);
  }
}

TEST(FftSpec, RefusesBadArguments) {
  IppsFFTSpec_R_32f* spec = nullptr;
  const int divide = IPP_FFT_DIV_FWD_BY_N;
  EXPECT_EQ(ippsFFTInitAlloc_R_32f(nullptr, 9, divide, ippAlgHintNone), ippStsNullPtrErr);
  for (int order : {0, kMaxFftOrder + 1})
    EXPECT_EQ(ippsFFTInitAlloc_R_32f(&spec, order, divide, ippAlgHintNone), ippStsFftOrderErr);
  EXPECT_EQ(ippsFFTInitAlloc_R_32f(&spec, 9, 2, ippAlgHintNone), ippStsFftFlagErr);
  EXPECT_EQ(spec, nullptr);
  EXPECT_EQ(ippsFFTFree_R_32f(nullptr), ippStsNullPtrErr);
  float x[4] = {};
  EXPECT_EQ(ippsFFTFwd_RToPerm_32f(x, x, nullptr, nullptr), ippStsNullPtrErr);
}

}  // namespace
