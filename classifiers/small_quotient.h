// Quotients of small non-negative integers by a multiply instead of a
// division, which takes this CPU a dozen cycles or more. Internal to
// classifiers/.
#ifndef KVD_CLASSIFIERS_SMALL_QUOTIENT_H
#define KVD_CLASSIFIERS_SMALL_QUOTIENT_H

#include <cstdint>

namespace kvd_voice {

// Divisors below this have their multiplier in the table.
constexpr int32_t kTabledDivisors = 2048;

// m = ceil(2^32 / b) of each divisor b (entry 0 unused). For 0 <= a < 2^16,
// a m / 2^32 exceeds a / b by less than a / 2^32 < 2^-16, while a / b is a
// whole number or lies at least 1 / b > 2^-16 below the next one: both have
// the same integer part.
struct QuotientMultipliers {
  uint64_t of[kTabledDivisors];
  constexpr QuotientMultipliers() : of() {
    for (int32_t b = 1; b < kTabledDivisors; ++b) {
      of[b] = ((uint64_t{1} << 32) + static_cast<uint64_t>(b) - 1) / static_cast<uint64_t>(b);
    }
  }
};
inline constexpr QuotientMultipliers kQuotientMultipliers{};

// a / b as C++ gives it (b != 0); by the table when 0 <= a < 2^16 and
// 1 <= b < kTabledDivisors.
inline int32_t SmallQuotient(int32_t a, int32_t b) {
  if (a < 0 || a >= (1 << 16) || b < 1 || b >= kTabledDivisors) return a / b;
  return static_cast<int32_t>((static_cast<uint64_t>(a) * kQuotientMultipliers.of[b]) >> 32);
}

}  // namespace kvd_voice

#endif  // KVD_CLASSIFIERS_SMALL_QUOTIENT_H
