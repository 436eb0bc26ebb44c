// Log file names: the split into base and extension and the name a file
// appender really opens.
#ifndef KVD_LOGGING_FILE_NAME_H
#define KVD_LOGGING_FILE_NAME_H

#include <string>

namespace kvd::logging {

struct BaseAndExtension {
  std::string base;       // path up to the last "." of the file-name part
  std::string extension;  // after that "."; "log" when the file name has none
};

// Splits at the last "." after the last "/" or "\", so that a "." in a
// folder name is never taken for the extension: "my.logs/app" gives
// {"my.logs/app", "log"}.
BaseAndExtension SplitBaseAndExtension(const std::string& path);

// base + "-" + suffix (only when suffix is not empty) + "." + extension:
// "logs/VOLA2.log" with suffix "12-05-26-06-44-31" gives
// "logs/VOLA2-12-05-26-06-44-31.log"; "logs/app" gives "logs/app.log".
std::string EffectiveFileName(const std::string& configuredName, const std::string& suffix);

}  // namespace kvd::logging

#endif  // KVD_LOGGING_FILE_NAME_H
