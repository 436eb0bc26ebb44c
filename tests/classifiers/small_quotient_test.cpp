// SmallQuotient against the division it replaces: at every boundary of a
// quotient (a = k b - 1, k b, k b + 1) for every tabled divisor, over the
// whole range of every small divisor, and outside the table's range.
#include "classifiers/small_quotient.h"

#include <gtest/gtest.h>

#include <cstdint>

namespace {

using kvd_voice::kTabledDivisors;
using kvd_voice::SmallQuotient;

TEST(SmallQuotient, EqualsTheDivisionAtEveryQuotientBoundary) {
  for (int32_t b = 1; b < kTabledDivisors; ++b) {
    for (int32_t k = 0; k * b <= (1 << 16); ++k) {
      for (int32_t a = k * b - 1; a <= k * b + 1; ++a) {
        if (a < 0 || a >= (1 << 16)) continue;
        ASSERT_EQ(SmallQuotient(a, b), a / b) << a << " / " << b;
      }
    }
  }
}

TEST(SmallQuotient, EqualsTheDivisionOverTheWholeRangeOfSmallDivisors) {
  for (int32_t b = 1; b <= 40; ++b) {
    for (int32_t a = 0; a < (1 << 16); ++a) {
      ASSERT_EQ(SmallQuotient(a, b), a / b) << a << " / " << b;
    }
  }
}

TEST(SmallQuotient, DividesOutsideTheTable) {
  EXPECT_EQ(SmallQuotient(-7, 2), -3);  // truncated towards zero, as C++ divides
  EXPECT_EQ(SmallQuotient(70000, 3), 23333);
  EXPECT_EQ(SmallQuotient(65535, kTabledDivisors), 65535 / kTabledDivisors);
  EXPECT_EQ(SmallQuotient(100, -7), -14);
  EXPECT_EQ(SmallQuotient(65535, 1), 65535);
  EXPECT_EQ(SmallQuotient(65535, kTabledDivisors - 1), 65535 / (kTabledDivisors - 1));
}

}  // namespace
