// OrderedFloatSumBelow against the float sum added in order: the same
// answer for limits at the sum itself and at its neighbours, where only the
// ordered sum's own roundings decide.
#include "classifiers/ordered_sum.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <limits>
#include <random>
#include <vector>

namespace {

float InOrder(const std::vector<float>& x) {
  float sum = 0.0f;
  for (const float value : x) sum += value;
  return sum;
}

bool Below(const std::vector<float>& x, float limit) {
  return kvd_voice::OrderedFloatSumBelow(x.data(), static_cast<int32_t>(x.size()), limit);
}

// The limits where an answer from any other order of adding would differ.
void ExpectAsInOrderAroundItsSum(const std::vector<float>& x) {
  const float sum = InOrder(x);
  const float inf = std::numeric_limits<float>::infinity();
  float limits[] = {sum,
                    std::nextafter(sum, inf),
                    std::nextafter(std::nextafter(sum, inf), inf),
                    std::nextafter(sum, -inf),
                    std::nextafter(std::nextafter(sum, -inf), -inf),
                    sum * 1.001f,
                    sum * 0.999f,
                    0.0f,
                    inf,
                    -inf,
                    std::numeric_limits<float>::quiet_NaN()};
  for (const float limit : limits) {
    ASSERT_EQ(Below(x, limit), sum < limit) << "sum " << sum << " limit " << limit << " of "
                                            << x.size() << " values";
  }
}

TEST(OrderedSum, AgreesWithTheOrderedSumOnSpectraOfWideRange) {
  std::mt19937 random(17);
  std::uniform_real_distribution<float> exponent(-30.0f, 30.0f);
  for (int32_t run = 0; run < 2000; ++run) {
    std::vector<float> x(static_cast<size_t>(run % 300));
    for (float& value : x) value = std::exp2(exponent(random));
    ExpectAsInOrderAroundItsSum(x);
  }
}

TEST(OrderedSum, AgreesWhereTheOrderedSumLosesToCancellation) {
  // 1e8 + 1 rounds back to 1e8 in float: in order the sum is 0, exactly 1.
  ExpectAsInOrderAroundItsSum({1e8f, 1.0f, -1e8f});
  EXPECT_TRUE(Below({1e8f, 1.0f, -1e8f}, 0.5f));
  std::mt19937 random(5);
  std::normal_distribution<float> value(0.0f, 1e6f);
  for (int32_t run = 0; run < 500; ++run) {
    std::vector<float> x(static_cast<size_t>(1 + run % 97));
    for (float& v : x) v = value(random);
    x.push_back(-InOrder(x));  // in order near 0, exactly anything near it
    ExpectAsInOrderAroundItsSum(x);
  }
}

TEST(OrderedSum, AgreesOnEmptyNonFiniteAndOverflowingRuns) {
  const float inf = std::numeric_limits<float>::infinity();
  const float nan = std::numeric_limits<float>::quiet_NaN();
  const float big = std::numeric_limits<float>::max();
  ExpectAsInOrderAroundItsSum({});
  EXPECT_TRUE(kvd_voice::OrderedFloatSumBelow(nullptr, 0, 1.0f));
  EXPECT_FALSE(kvd_voice::OrderedFloatSumBelow(nullptr, -3, 0.0f));
  ExpectAsInOrderAroundItsSum({1.0f, nan, 2.0f});
  ExpectAsInOrderAroundItsSum({1.0f, inf, 2.0f});
  ExpectAsInOrderAroundItsSum({inf, -inf});
  // In order big + big overflows to inf and stays there; exactly it is big.
  ExpectAsInOrderAroundItsSum({big, big, -big});
  EXPECT_FALSE(Below({big, big, -big}, inf));
  ExpectAsInOrderAroundItsSum({1e-45f, 1e-45f, 3e-45f});  // subnormals
}

}  // namespace
