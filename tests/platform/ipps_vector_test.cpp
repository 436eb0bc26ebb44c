// Vector primitives on hand-computed values.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <utility>
#include <vector>

#include "platform/ipps.h"

namespace {

// Standard deviation over length - 1 (0 for one value); max and min report
// the first occurrence. The element-wise primitives run in every frame of
// the engine, which the golden outputs pin; the magnitude is tried here on
// fewer pairs than the four its vector loop takes at a time.
TEST(VectorPrimitives, HandComputedValues) {
  const float x[] = {2, 4, 4, 4, 5, 5, 7, 9};  // mean 5, squared deviations sum to 32
  float value = 0;
  ASSERT_EQ(ippsStdDev_32f(x, 8, &value, ippAlgHintNone), ippStsNoErr);
  EXPECT_NEAR(value, std::sqrt(32.0 / 7.0), 1e-6);
  ASSERT_EQ(ippsStdDev_32f(x, 1, &value, ippAlgHintNone), ippStsNoErr);
  EXPECT_EQ(value, 0.0f);
  const float y[] = {1.5f, -2.0f, 4.5f, 8.0f, -2.0f, 8.0f};
  ASSERT_EQ(ippsSum_32f(y, 4, &value, ippAlgHintNone), ippStsNoErr);
  EXPECT_FLOAT_EQ(value, 12.0f);
  ASSERT_EQ(ippsMean_32f(y, 4, &value, ippAlgHintNone), ippStsNoErr);
  EXPECT_FLOAT_EQ(value, 3.0f);
  int index = -1;
  ASSERT_EQ(ippsMaxIndx_32f(y, 6, &value, &index), ippStsNoErr);
  EXPECT_EQ(std::make_pair(value, index), std::make_pair(8.0f, 3));
  ASSERT_EQ(ippsMinIndx_32f(y, 6, &value, &index), ippStsNoErr);
  EXPECT_EQ(std::make_pair(value, index), std::make_pair(-2.0f, 1));
  const Ipp32fc pairs[] = {{3, 4}, {-5, 12}};
  float magnitude[2];
  ASSERT_EQ(ippsMagnitude_32fc(pairs, magnitude, 2), ippStsNoErr);
  EXPECT_EQ(std::make_pair(magnitude[0], magnitude[1]), std::make_pair(5.0f, 13.0f));

  // Sums and squared deviations are one chain of double additions in index
  // order at every length, whatever the vector loops take at a time: next to
  // +-2^60 (a double's step there is 256) two values near 150 added one by
  // one round otherwise than their sum added at once.
  float mixed[19];
  for (int i = 0; i < 19; ++i)
    mixed[i] = i % 3 == 0 ? std::ldexp(i % 2 ? -1.0f : 1.0f, 60) : 150.0f + i;
  for (int len = 2; len <= 19; ++len) {
    double sum = 0.0, squares = 0.0;
    for (int i = 0; i < len; ++i) sum += mixed[i];
    for (int i = 0; i < len; ++i) squares += (mixed[i] - sum / len) * (mixed[i] - sum / len);
    ASSERT_EQ(ippsSum_32f(mixed, len, &value, ippAlgHintNone), ippStsNoErr);
    EXPECT_EQ(value, static_cast<float>(sum)) << len;
    ASSERT_EQ(ippsStdDev_32f(mixed, len, &value, ippAlgHintNone), ippStsNoErr);
    EXPECT_EQ(value, static_cast<float>(std::sqrt(squares / (len - 1)))) << len;
    float mean = 0.0f;
    ASSERT_EQ(ippsMeanStdDev_32f(mixed, len, &mean, &value, ippAlgHintNone), ippStsNoErr);
    EXPECT_EQ(mean, static_cast<float>(sum / len)) << len;
    EXPECT_EQ(value, static_cast<float>(std::sqrt(squares / (len - 1)))) << len;
  }
  float mean = 0.0f;
  ASSERT_EQ(ippsMeanStdDev_32f(y, 1, &mean, &value, ippAlgHintNone), ippStsNoErr);
  EXPECT_EQ(std::make_pair(mean, value), std::make_pair(1.5f, 0.0f));

  // Null pointers and empty lengths are refused.
  EXPECT_EQ(ippsSum_32f(nullptr, 2, &value, ippAlgHintNone), ippStsNullPtrErr);
  EXPECT_EQ(ippsSum_32f(x, 0, &value, ippAlgHintNone), ippStsSizeErr);
  EXPECT_EQ(ippsStdDev_32f(x, -1, &value, ippAlgHintNone), ippStsSizeErr);
  EXPECT_EQ(ippsMeanStdDev_32f(x, 2, &mean, nullptr, ippAlgHintNone), ippStsNullPtrErr);
  EXPECT_EQ(ippsMaxIndx_32f(x, 2, &value, nullptr), ippStsNullPtrErr);
  EXPECT_EQ(ippsZero_32f(magnitude, 0), ippStsSizeErr);
  EXPECT_EQ(ippsMagnitude_32fc(nullptr, magnitude, 1), ippStsNullPtrErr);
}

// Sums and means equal one chain of double additions in index order bit for
// bit, at every range of values: where the library adds in interleaved
// chains (every partial sum exact) and where it must not (wide ranges,
// signs, zeros, subnormals, infinities, NaN). A few large values sit among
// many small ones with low bits set, at random places.
TEST(VectorPrimitives, SumsAreOneChainInIndexOrderAtEveryRange) {
  uint32_t seed = 2024;
  auto next = [&seed](uint32_t n) {
    seed = seed * 1664525u + 1013904223u;
    return (seed >> 8) % n;
  };
  auto bits = [](float v) {
    uint32_t b;
    std::memcpy(&b, &v, sizeof(b));
    return b;
  };
  // Exponents of the large values over the small (1 + steps of 2^-23)
  // ones: inside the exact range, at its edge, past it.
  const int spans[] = {0, 8, 20, 21, 22, 28, 29, 30, 40};
  const float specials[] = {0.0f, -0.0f, 1e-40f, -3.0f, INFINITY, NAN};
  const Ipp64u widest = ippGetEnabledCpuFeatures();
  for (int trial = 0; trial < 4000; ++trial) {
    // Every other trial on the baseline instruction set.
    ippSetCpuFeatures(trial % 2 == 0 ? widest : 0);
    const int len = 16 + static_cast<int>(next(285));
    const int span = spans[next(9)];
    std::vector<float> x(static_cast<size_t>(len));
    for (float& v : x) v = 1.0f + std::ldexp(static_cast<float>(next(1 << 20)), -23);
    for (int k = 0; k < 3; ++k) x[next(static_cast<uint32_t>(len))] = std::ldexp(1.0f, span);
    if (trial % 4 == 3) x[next(static_cast<uint32_t>(len))] = specials[next(6)];
    double chain = 0.0;
    for (float v : x) chain += v;
    float value = 0.0f;
    float mean = 0.0f;
    ASSERT_EQ(ippsSum_32f(x.data(), len, &value, ippAlgHintNone), ippStsNoErr);
    ASSERT_EQ(bits(value), bits(static_cast<float>(chain))) << "trial " << trial;
    ASSERT_EQ(ippsMeanStdDev_32f(x.data(), len, &mean, &value, ippAlgHintNone), ippStsNoErr);
    ASSERT_EQ(bits(mean), bits(static_cast<float>(chain / len))) << "trial " << trial;
  }
  ippSetCpuFeatures(widest);
}

}  // namespace
