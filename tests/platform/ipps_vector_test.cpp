// Vector primitives on hand-computed values.
#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "platform/ipps.h"

namespace {

// Standard deviation over length - 1; max and min report the first occurrence.
TEST(VectorStatistics, StdDevSumMeanMaxAndMin) {
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
  EXPECT_EQ(value, 8.0f);
  EXPECT_EQ(index, 3);
  ASSERT_EQ(ippsMinIndx_32f(y, 6, &value, &index), ippStsNoErr);
  EXPECT_EQ(value, -2.0f);
  EXPECT_EQ(index, 1);
}

TEST(VectorArithmetic, ElementWiseProductsZeroFillConversionMagnitudeAndSet) {
  const float a[] = {1, 2, 3};
  const float b[] = {4, 5, -6};
  float product[3];
  ASSERT_EQ(ippsMul_32f(a, b, product, 3), ippStsNoErr);
  EXPECT_EQ(product[2], -18.0f);
  float inPlace[] = {2, 2, 2};
  ASSERT_EQ(ippsMul_32f_I(b, inPlace, 3), ippStsNoErr);
  EXPECT_EQ(inPlace[1], 10.0f);
  ASSERT_EQ(ippsZero_32f(inPlace, 2), ippStsNoErr);
  EXPECT_EQ(inPlace[0], 0.0f);
  EXPECT_EQ(inPlace[2], -12.0f);  // beyond len: untouched

  const Ipp16s pcm[] = {-32768, -1, 0, 32767};
  float converted[4];
  ASSERT_EQ(ippsConvert_16s32f(pcm, converted, 4), ippStsNoErr);
  EXPECT_EQ(converted[0], -32768.0f);
  EXPECT_EQ(converted[3], 32767.0f);

  const Ipp32fc pairs[] = {{3, 4}, {-5, 12}};
  ASSERT_EQ(ippsMagnitude_32fc(pairs, converted, 2), ippStsNoErr);
  EXPECT_FLOAT_EQ(converted[0], 5.0f);
  EXPECT_FLOAT_EQ(converted[1], 13.0f);

  Ipp16s labels[4] = {9, 9, 9, 9};
  ASSERT_EQ(ippsSet_16s(-2, labels, 3), ippStsNoErr);
  EXPECT_EQ(labels[2], -2);
  EXPECT_EQ(labels[3], 9);
}

TEST(VectorArithmetic, RefusesNullPointersAndEmptyLengths) {
  float x[2] = {1, 2};
  float out = 0;
  EXPECT_EQ(ippsSum_32f(nullptr, 2, &out, ippAlgHintNone), ippStsNullPtrErr);
  EXPECT_EQ(ippsSum_32f(x, 0, &out, ippAlgHintNone), ippStsSizeErr);
  EXPECT_EQ(ippsStdDev_32f(x, -1, &out, ippAlgHintNone), ippStsSizeErr);
  EXPECT_EQ(ippsMaxIndx_32f(x, 2, &out, nullptr), ippStsNullPtrErr);
  EXPECT_EQ(ippsZero_32f(x, 0), ippStsSizeErr);
  EXPECT_EQ(ippsMagnitude_32fc(nullptr, x, 1), ippStsNullPtrErr);
  EXPECT_EQ(x[0], 1.0f);
}

}  // namespace
