#include "engine/config_values.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <limits>

namespace {

constexpr double kFramesPerSecond = 100.0;  // 10 ms frames

char LowerAscii(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

bool IsBlank(char c) { return c == ' ' || (c >= '\t' && c <= '\r'); }

const char* SkipBlanks(const char* text) {
  while (IsBlank(*text)) {
    ++text;
  }
  return text;
}

const char* SkipDigits(const char* text) {
  while (IsDigit(*text)) {
    ++text;
  }
  return text;
}

// Truncation toward zero, held within the 32-bit range (NaN gives 0).
int32_t TruncateToInt32(double value) {
  if (std::isnan(value)) {
    return 0;
  }
  if (value >= static_cast<double>(std::numeric_limits<int32_t>::max())) {
    return std::numeric_limits<int32_t>::max();
  }
  if (value <= static_cast<double>(std::numeric_limits<int32_t>::min())) {
    return std::numeric_limits<int32_t>::min();
  }
  return static_cast<int32_t>(value);
}

// Optional sign and digits as a 64-bit value; the magnitude is held at
// 2^31 + 1, which is enough to tell every overflow of 32 bits.
int64_t ParseWideInteger(const char* text) {
  const char* p = SkipBlanks(text);
  const bool negative = (*p == '-');
  if (*p == '+' || *p == '-') {
    ++p;
  }
  int64_t magnitude = 0;
  constexpr int64_t kLimit = int64_t{std::numeric_limits<int32_t>::max()} + 2;
  for (; IsDigit(*p); ++p) {
    magnitude = std::min(magnitude * 10 + (*p - '0'), kLimit);
  }
  return negative ? -magnitude : magnitude;
}

// Whether text, past blanks and a sign, starts with word (any case).
bool StartsWithWord(const char* text, const char* word) {
  const char* p = SkipBlanks(text);
  if (*p == '+' || *p == '-') {
    ++p;
  }
  for (; *word != '\0'; ++p, ++word) {
    if (LowerAscii(*p) != *word) {
      return false;
    }
  }
  return true;
}

}  // namespace

bool EqualsIgnoringCase(const char* left, const char* right) {
  for (; *left != '\0' && *right != '\0'; ++left, ++right) {
    if (LowerAscii(*left) != LowerAscii(*right)) {
      return false;
    }
  }
  return *left == *right;
}

int32_t ParseInteger(const char* text) {
  const int64_t value = ParseWideInteger(text);
  return static_cast<int32_t>(
      std::max<int64_t>(std::min<int64_t>(value, std::numeric_limits<int32_t>::max()),
                        std::numeric_limits<int32_t>::min()));
}

bool IntegerFitsInt32(const char* text) {
  const int64_t value = ParseWideInteger(text);
  return value >= std::numeric_limits<int32_t>::min() &&
         value <= std::numeric_limits<int32_t>::max();
}

double ParseReal(const char* text) {
  const char* start = SkipBlanks(text);
  const char* p = start;
  const bool negative = (*p == '-');
  if (*p == '+' || *p == '-') {
    ++p;
  }
  const char* number = p;
  const char* integerEnd = SkipDigits(p);
  const char* end = integerEnd;
  bool hasDigits = integerEnd != p;
  if (*end == '.') {
    const char* fractionEnd = SkipDigits(end + 1);
    hasDigits = hasDigits || fractionEnd != end + 1;
    end = fractionEnd;
  }
  if (!hasDigits) {
    return 0.0;
  }
  bool negativeExponent = false;
  if (*end == 'e' || *end == 'E') {
    const char* exponent = end + 1;
    negativeExponent = (*exponent == '-');
    if (*exponent == '+' || *exponent == '-') {
      ++exponent;
    }
    const char* exponentEnd = SkipDigits(exponent);
    if (exponentEnd != exponent) {
      end = exponentEnd;
    } else {
      negativeExponent = false;
    }
  }
  double value = 0.0;
  if (std::from_chars(number, end, value, std::chars_format::general).ec ==
      std::errc::result_out_of_range) {
    // Beyond the double range: too small a value is 0, too large is infinite.
    value = negativeExponent ? 0.0 : HUGE_VAL;
  }
  return negative ? -value : value;
}

bool RealIsFinite(const char* text) {
  if (StartsWithWord(text, "nan") || StartsWithWord(text, "inf")) {
    return false;
  }
  const double value = ParseReal(text);
  return std::isfinite(value) && std::fabs(value) <= std::numeric_limits<float>::max();
}

int32_t SecondsToFrames(const char* text) {
  return TruncateToInt32(ParseReal(text) * kFramesPerSecond);
}

int32_t HertzToBin(const char* text, float binWidthHz) {
  return TruncateToInt32(ParseReal(text) / static_cast<double>(binWidthHz));
}

bool ParseStrictSwitch(const char* text, int32_t* value) {
  if (EqualsIgnoringCase(text, "0") || EqualsIgnoringCase(text, "false")) {
    *value = 0;
    return true;
  }
  if (EqualsIgnoringCase(text, "1") || EqualsIgnoringCase(text, "true")) {
    *value = 1;
    return true;
  }
  return false;
}

bool ParseYesSwitch(const char* text) {
  return EqualsIgnoringCase(text, "1") || EqualsIgnoringCase(text, "y");
}

bool ParseUnlessOffSwitch(const char* text) {
  return !(EqualsIgnoringCase(text, "0") || EqualsIgnoringCase(text, "false"));
}
