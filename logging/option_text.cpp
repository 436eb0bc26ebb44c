#include "logging/option_text.h"

#include <cctype>
#include <cstdlib>

namespace kvd::logging {

namespace {

constexpr int64_t kBytesPerKb = 1024;
constexpr int64_t kBytesPerMb = 1024 * kBytesPerKb;
constexpr int64_t kBytesPerGb = 1024 * kBytesPerMb;

}  // namespace

std::string Trim(const std::string& text) {
  const char* const blanks = " \t\r\n";
  const size_t first = text.find_first_not_of(blanks);
  if (first == std::string::npos) {
    return std::string();
  }
  const size_t last = text.find_last_not_of(blanks);
  return text.substr(first, last - first + 1);
}

std::string ToLower(const std::string& text) {
  std::string lower = text;
  for (char& c : lower) {
    c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  }
  return lower;
}

bool EqualsIgnoreCase(const std::string& a, const std::string& b) {
  return ToLower(a) == ToLower(b);
}

bool ParseBoolean(const std::string& text, bool fallback) {
  const std::string word = ToLower(Trim(text));
  if (word == "true") {
    return true;
  }
  if (word == "false") {
    return false;
  }
  return fallback;
}

int64_t ParseInteger(const std::string& text) {
  const std::string trimmed = Trim(text);
  const long long value = std::strtoll(trimmed.c_str(), nullptr, 10);
  return static_cast<int64_t>(value);
}

int64_t ParseFileSize(const std::string& text, int64_t fallback) {
  const std::string lower = ToLower(Trim(text));
  const struct {
    const char* unit;
    int64_t bytes;
  } units[] = {{"kb", kBytesPerKb}, {"mb", kBytesPerMb}, {"gb", kBytesPerGb}};

  std::string number = lower;
  int64_t multiplier = 1;
  for (const auto& unit : units) {
    const size_t at = lower.find(unit.unit);
    if (at != std::string::npos) {
      number = lower.substr(0, at);
      multiplier = unit.bytes;
      break;
    }
  }
  number = Trim(number);
  if (number.empty()) {
    return fallback;
  }
  if (!std::isdigit(static_cast<unsigned char>(number[0]))) {
    return 0;
  }
  const int64_t value = ParseInteger(number);
  if (value > INT64_MAX / multiplier) {
    return INT64_MAX;
  }
  return value * multiplier;
}

}  // namespace kvd::logging
