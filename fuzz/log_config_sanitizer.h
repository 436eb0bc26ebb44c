// Makes an arbitrary LogClt.cfg text safe to apply inside a scratch folder:
// every file name ends up under "out/" and only the appender and layout
// classes that write to the console or to files can be named.
#ifndef KVD_FUZZ_LOG_CONFIG_SANITIZER_H
#define KVD_FUZZ_LOG_CONFIG_SANITIZER_H

#include <optional>
#include <string>

namespace kvdfuzz {

// Folder (relative to the scratch folder) that every file option names.
constexpr char kLogOutputFolder[] = "out";

// Parses text as log4cxx properties (the parser LogClt.cfg is read with),
// then keeps, of the "Kestrin." keys, the logger, additivity, threshold and
// debug keys and the appender keys with a known option, and rewrites
//   - File / FileName values to "out/" + their letters, digits, "_", "-" and
//     "." (at most 40), so no path leaves the folder;
//   - appender classes other than ConsoleAppender, FileAppender and
//     RollingFileAppender to ConsoleAppender, and layout classes other than
//     SimpleLayout, PatternLayout and TTCCLayout to SimpleLayout (no socket,
//     database or mail output is ever built).
// Returns the properties as text that parses back to exactly the kept
// entries, or nothing when such text cannot be written with plain
// "key=value" lines (the input is then skipped).
std::optional<std::string> SanitizeLogConfig(const std::string& text);

}  // namespace kvdfuzz

#endif  // KVD_FUZZ_LOG_CONFIG_SANITIZER_H
