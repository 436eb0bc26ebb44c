// Turns the "Kestrin." vocabulary of LogClt.cfg into the property keys of
// log4cxx's configurator:
//   - "Kestrin.<key>" becomes "log4j.<key>"; keys without the prefix are
//     dropped, so the file speaks one vocabulary only;
//   - appender and layout class names are resolved by their last
//     dot-separated part in any letter case; "FileAppender",
//     "RollingFileAppender" and "SimpleLayout" name this library's classes,
//     which log4cxx knows under names of their own;
//   - the added level names (DETAIL, FLOW, STATUS, USER_ERROR) in logger
//     and threshold values are written as "NAME#KvdLevel", log4cxx's syntax
//     for a level of another class. log4cxx reads an appender's Threshold
//     option with its own names only, so such thresholds are returned to be
//     set after configuring.
#ifndef KVD_LOGGING_CONFIG_TRANSLATION_H
#define KVD_LOGGING_CONFIG_TRANSLATION_H

#include <string>
#include <utility>
#include <vector>

namespace kvd::logging {

using ConfigEntries = std::vector<std::pair<std::string, std::string>>;

struct AppenderThreshold {
  std::string appenderName;
  std::string levelName;  // one of the added levels
};

struct TranslatedConfig {
  ConfigEntries entries;  // log4cxx property keys and values
  std::vector<AppenderThreshold> addedLevelThresholds;
  bool debug = false;  // "Kestrin.debug"
};

TranslatedConfig TranslateConfig(const ConfigEntries& entries);

}  // namespace kvd::logging

#endif  // KVD_LOGGING_CONFIG_TRANSLATION_H
