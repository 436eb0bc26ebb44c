// Vector primitives on hand-computed values.
#include <gtest/gtest.h>

#include <cmath>
#include <utility>

#include "platform/ipps.h"

namespace {

// Standard deviation over length - 1 (0 for one value); max and min report
// the first occurrence; a length past the end leaves the rest untouched.
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

  const float a[] = {1, 2, 3};
  float b[] = {4, 5, -6};
  float product[3];
  ASSERT_EQ(ippsMul_32f(a, b, product, 3), ippStsNoErr);
  EXPECT_EQ(product[2], -18.0f);
  ASSERT_EQ(ippsMul_32f_I(a, b, 3), ippStsNoErr);
  ASSERT_EQ(ippsZero_32f(b, 2), ippStsNoErr);
  EXPECT_EQ(b[0] + b[1], 0.0f);
  EXPECT_EQ(b[2], -18.0f);
  const Ipp16s pcm[] = {-32768, 32767};
  ASSERT_EQ(ippsConvert_16s32f(pcm, product, 2), ippStsNoErr);
  EXPECT_EQ(product[0], -32768.0f);
  EXPECT_EQ(product[1], 32767.0f);
  const Ipp32fc pairs[] = {{3, 4}, {-5, 12}};
  ASSERT_EQ(ippsMagnitude_32fc(pairs, product, 2), ippStsNoErr);
  EXPECT_FLOAT_EQ(product[0], 5.0f);
  EXPECT_FLOAT_EQ(product[1], 13.0f);
  Ipp16s labels[4] = {9, 9, 9, 9};
  ASSERT_EQ(ippsSet_16s(-2, labels, 3), ippStsNoErr);
  EXPECT_EQ(std::make_pair(labels[2], labels[3]), std::make_pair(Ipp16s{-2}, Ipp16s{9}));

  // Null pointers and empty lengths are refused, the data left alone.
  EXPECT_EQ(ippsSum_32f(nullptr, 2, &value, ippAlgHintNone), ippStsNullPtrErr);
  EXPECT_EQ(ippsSum_32f(a, 0, &value, ippAlgHintNone), ippStsSizeErr);
  EXPECT_EQ(ippsStdDev_32f(a, -1, &value, ippAlgHintNone), ippStsSizeErr);
  EXPECT_EQ(ippsMaxIndx_32f(a, 2, &value, nullptr), ippStsNullPtrErr);
  EXPECT_EQ(ippsZero_32f(b, 0), ippStsSizeErr);
  EXPECT_EQ(ippsMagnitude_32fc(nullptr, b, 1), ippStsNullPtrErr);
  EXPECT_EQ(b[2], -18.0f);
}

}  // namespace
