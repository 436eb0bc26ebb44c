// The real FFT against KissFFT: Perm layout, 1/N forward scaling.
#include <gtest/gtest.h>

#include <kiss_fftr.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <random>
#include <thread>
#include <vector>

#include "platform/ipps.h"

namespace {

// kiss_fftr's values times 1/N against the plan's at every order 1 .. 13.
void ExpectKissFftBits() {
  IppsFFTSpec_R_32f* spec = nullptr;
  const int divide = IPP_FFT_DIV_FWD_BY_N;
  std::mt19937 engine(20261207);
  std::uniform_real_distribution<float> sample(-32768.0f, 32767.0f);
  for (int order = 1; order <= 13; ++order) {
    const size_t n = size_t{1} << order;
    const float scale = 1.0f / static_cast<float>(n);
    ASSERT_EQ(ippsFFTInitAlloc_R_32f(&spec, order, divide, ippAlgHintNone), ippStsNoErr);
    kiss_fftr_cfg plan = kiss_fftr_alloc(static_cast<int>(n), 0, nullptr, nullptr);
    ASSERT_NE(plan, nullptr);
    std::vector<kiss_fft_cpx> bins(n / 2 + 1);
    for (int trial = 0; trial < 8; ++trial) {
      std::vector<float> x(n);
      const size_t used = trial < 4 ? n : std::max<size_t>(1, n * 25 / 64);
      for (size_t i = 0; i < used; ++i) x[i] = std::round(sample(engine));
      kiss_fftr(plan, x.data(), bins.data());
      std::vector<float> expected(n);  // Perm: r0, r(n/2), then r1 i1 r2 i2 ...
      for (size_t k = 0; k < n / 2; ++k) {
        expected[2 * k] = bins[k].r * scale;
        expected[2 * k + 1] = (k == 0 ? bins[n / 2].r : bins[k].i) * scale;
      }
      std::vector<float> out = x;  // in place, as the engine calls it
      ASSERT_EQ(ippsFFTFwd_RToPerm_32f(out.data(), out.data(), spec, nullptr), ippStsNoErr);
      ASSERT_EQ(std::memcmp(out.data(), expected.data(), n * sizeof(float)), 0)
          << "order " << order << " trial " << trial << ": "
          << ::testing::PrintToString(out) << " against " << ::testing::PrintToString(expected);
    }
    kiss_fftr_free(plan);
    EXPECT_EQ(ippsFFTFree_R_32f(spec), ippStsNoErr);
  }
}

// The engine's spectra were made with KissFFT: bit for bit, zero signs
// included, each kiss_fftr value times 1/N in float, at every order, on full
// random frames and on frames zero padded as the engine's (200 of 512), on
// every path: the baseline, the widest one this CPU has, and the widest
// without AVX-512 (AVX2 where the CPU has it).
TEST(FftBits, EqualKissFftOnEveryOrderAndPath) {
  IppsFFTSpec_R_32f* spec = nullptr;  // bad arguments first: no plan
  const int divide = IPP_FFT_DIV_FWD_BY_N;
  EXPECT_EQ(ippsFFTInitAlloc_R_32f(nullptr, 9, divide, ippAlgHintNone), ippStsNullPtrErr);
  for (int order : {0, kMaxFftOrder + 1})
    EXPECT_EQ(ippsFFTInitAlloc_R_32f(&spec, order, divide, ippAlgHintNone), ippStsFftOrderErr);
  EXPECT_EQ(ippsFFTInitAlloc_R_32f(&spec, 9, 2, ippAlgHintNone), ippStsFftFlagErr);
  EXPECT_EQ(spec, nullptr);
  EXPECT_EQ(ippsFFTFree_R_32f(nullptr), ippStsNullPtrErr);
  float zeros[4] = {};
  EXPECT_EQ(ippsFFTFwd_RToPerm_32f(zeros, zeros, nullptr, nullptr), ippStsNullPtrErr);

  const Ipp64u widest = ippGetEnabledCpuFeatures();
  ASSERT_EQ(ippSetCpuFeatures(0), ippStsNoErr);
  EXPECT_EQ(ippGetEnabledCpuFeatures(), ippCPUID_SSE2);  // the baseline stays on
  {
    SCOPED_TRACE("baseline path");
    ExpectKissFftBits();
  }
  ASSERT_EQ(ippSetCpuFeatures(widest & ~ippCPUID_AVX512F), ippStsNoErr);
  {
    SCOPED_TRACE("widest path without AVX-512");
    ExpectKissFftBits();
  }
  ASSERT_EQ(ippSetCpuFeatures(~Ipp64u{0}), ippStsNoErr);
  EXPECT_EQ(ippGetEnabledCpuFeatures(), widest);  // nothing the CPU lacks
  SCOPED_TRACE("widest path");
  ExpectKissFftBits();
}

// Plans of one order share what they only read: each must transform alike
// whichever other plans exist, are being built or were freed, on any thread.
TEST(FftPlans, PlansOfOneOrderBuiltAndFreedOnSeveralThreadsTransformAlike) {
  const int divide = IPP_FFT_DIV_FWD_BY_N;
  std::mt19937 engine(20261208);
  std::uniform_real_distribution<float> sample(-32768.0f, 32767.0f);
  std::vector<std::vector<float>> frames(2), expected(2);
  for (int o = 0; o < 2; ++o) {
    const size_t n = size_t{512} << o;
    for (size_t i = 0; i < n; ++i) frames[o].push_back(std::round(sample(engine)));
    IppsFFTSpec_R_32f* spec = nullptr;
    ASSERT_EQ(ippsFFTInitAlloc_R_32f(&spec, 9 + o, divide, ippAlgHintNone), ippStsNoErr);
    expected[o].resize(n);
    ASSERT_EQ(ippsFFTFwd_RToPerm_32f(frames[o].data(), expected[o].data(), spec, nullptr),
              ippStsNoErr);
    // The last plan of its order freed: the next one is built anew.
    EXPECT_EQ(ippsFFTFree_R_32f(spec), ippStsNoErr);
  }

  // One plan outlives the other of its order.
  IppsFFTSpec_R_32f* first = nullptr;
  IppsFFTSpec_R_32f* second = nullptr;
  ASSERT_EQ(ippsFFTInitAlloc_R_32f(&first, 9, divide, ippAlgHintNone), ippStsNoErr);
  ASSERT_EQ(ippsFFTInitAlloc_R_32f(&second, 9, divide, ippAlgHintNone), ippStsNoErr);
  EXPECT_EQ(ippsFFTFree_R_32f(first), ippStsNoErr);
  std::vector<float> out(512);
  ASSERT_EQ(ippsFFTFwd_RToPerm_32f(frames[0].data(), out.data(), second, nullptr), ippStsNoErr);
  EXPECT_EQ(std::memcmp(out.data(), expected[0].data(), out.size() * sizeof(float)), 0);

  // Threads building, using and freeing plans of both orders while `second`
  // stays in use on this one.
  std::vector<int> mismatches(4, 0);
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&, t] {
      for (int round = 0; round < 100; ++round) {
        const int o = (t + round) % 2;
        IppsFFTSpec_R_32f* spec = nullptr;
        if (ippsFFTInitAlloc_R_32f(&spec, 9 + o, divide, ippAlgHintNone) != ippStsNoErr) {
          ++mismatches[t];
          continue;
        }
        std::vector<float> mine(expected[o].size());
        ippsFFTFwd_RToPerm_32f(frames[o].data(), mine.data(), spec, nullptr);
        if (std::memcmp(mine.data(), expected[o].data(), mine.size() * sizeof(float)) != 0) {
          ++mismatches[t];
        }
        ippsFFTFree_R_32f(spec);
      }
    });
  }
  for (int round = 0; round < 100; ++round) {
    ippsFFTFwd_RToPerm_32f(frames[0].data(), out.data(), second, nullptr);
    EXPECT_EQ(std::memcmp(out.data(), expected[0].data(), out.size() * sizeof(float)), 0);
  }
  for (std::thread& thread : threads) thread.join();
  EXPECT_EQ(mismatches, std::vector<int>(4, 0));
  EXPECT_EQ(ippsFFTFree_R_32f(second), ippStsNoErr);
}

}  // namespace
