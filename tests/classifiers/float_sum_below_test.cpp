// A float sum compared with a limit: the same verdict as adding the values
// one by one in float, far from the limit and at it.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <limits>
#include <random>
#include <vector>

#include "classifiers/float_sum_below.h"

namespace {

using kvd_voice::FloatSumBelow;

float SumOneByOne(const std::vector<float>& x) {
  float sum = 0.0f;
  for (const float v : x) sum += v;
  return sum;
}

TEST(FloatSumBelow, GivesTheVerdictOfTheFloatSumAtAndAroundTheLimit) {
  std::mt19937 random(7);
  std::uniform_real_distribution<float> exponent(-20.0f, 20.0f);
  for (int trial = 0; trial < 2000; ++trial) {
    const int32_t n = 1 + static_cast<int32_t>(random() % 300);
    std::vector<float> x(static_cast<size_t>(n));
    for (float& v : x) v = std::exp2(exponent(random));
    const float sum = SumOneByOne(x);
    // The float sum itself and its neighbours, where the double sums cannot
    // decide, and limits far away, where they do.
    for (const float limit : {sum, std::nextafter(sum, 0.0f), std::nextafter(sum, HUGE_VALF),
                              sum * 0.999f, sum * 1.001f, sum * 0.5f, sum * 2.0f}) {
      ASSERT_EQ(FloatSumBelow(x.data(), n, limit), sum < limit) << "n " << n << " limit " << limit;
    }
  }
}

TEST(FloatSumBelow, NoValuesAndValuesThatAreNotNumbersOrOverflow) {
  EXPECT_TRUE(FloatSumBelow(nullptr, 0, 1.0f));  // 0 < 1
  EXPECT_FALSE(FloatSumBelow(nullptr, 0, 0.0f));
  std::vector<float> x(64, 1.0f);
  x[17] = std::numeric_limits<float>::quiet_NaN();
  EXPECT_FALSE(FloatSumBelow(x.data(), 64, HUGE_VALF));  // NaN is below nothing
  x[17] = HUGE_VALF;
  EXPECT_FALSE(FloatSumBelow(x.data(), 64, HUGE_VALF));
  // Finite values whose float sum overflows to infinity: below no finite limit.
  std::vector<float> large(16, std::numeric_limits<float>::max() / 4.0f);
  EXPECT_FALSE(FloatSumBelow(large.data(), 16, std::numeric_limits<float>::max()));
  // Values that cancel: the sum is 0 (after rounding: 1e8 + 1 is 1e8 in float).
  const std::vector<float> cancelling = {1e8f, 1.0f, -1e8f, 0.5f, 0.25f, 0.125f, 1.0f, 2.0f};
  const float sum = SumOneByOne(cancelling);
  for (const float limit : {sum, std::nextafter(sum, HUGE_VALF), 3.0f, 4.0f, 5.0f}) {
    EXPECT_EQ(FloatSumBelow(cancelling.data(), 8, limit), sum < limit) << limit;
  }
}

}  // namespace
