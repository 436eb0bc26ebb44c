// Parsing of option values as the log configuration file writes them.
#ifndef KVD_LOGGING_OPTION_TEXT_H
#define KVD_LOGGING_OPTION_TEXT_H

#include <cstdint>
#include <string>

namespace kvd::logging {

std::string Trim(const std::string& text);
std::string ToLower(const std::string& text);
bool EqualsIgnoreCase(const std::string& a, const std::string& b);

// "true" or "false" in any case, blanks around allowed; anything else gives
// fallback.
bool ParseBoolean(const std::string& text, bool fallback);

// A size in bytes: trimmed, lower-cased; a "kb", "mb" or "gb" (looked for in
// this order) multiplies the decimal number before it by 1024, 1048576 or
// 1073741824. Text before the unit that does not start with a digit gives 0;
// no text at all before the unit (or an empty value) gives fallback. The
// result is 64-bit so that "3gb" does not wrap.
int64_t ParseFileSize(const std::string& text, int64_t fallback);

// Leading decimal integer (optional sign) of the trimmed text, 0 without one;
// saturates at the 64-bit range.
int64_t ParseInteger(const std::string& text);

}  // namespace kvd::logging

#endif  // KVD_LOGGING_OPTION_TEXT_H
