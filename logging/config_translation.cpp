#include "logging/config_translation.h"

#include "logging/log_levels.h"
#include "logging/option_text.h"

namespace kvd::logging {

namespace {

constexpr char kOwnPrefix[] = "Kestrin.";
constexpr char kLog4cxxPrefix[] = "log4j.";
constexpr char kAppenderKey[] = "appender.";
constexpr char kLayoutSuffix[] = ".layout";

bool StartsWith(const std::string& text, const std::string& prefix) {
  return text.compare(0, prefix.size(), prefix) == 0;
}

std::string TranslateClassName(const std::string& value) {
  const std::string trimmed = Trim(value);
  const size_t dot = trimmed.rfind('.');
  const std::string shortName = dot == std::string::npos ? trimmed : trimmed.substr(dot + 1);
  const struct {
    const char* configName;
    const char* registeredName;
  } ownClasses[] = {{"fileappender", "KvdFileAppender"},
                    {"rollingfileappender", "KvdRollingFileAppender"},
                    {"simplelayout", "KvdSimpleLayout"}};
  const std::string lower = ToLower(shortName);
  for (const auto& own : ownClasses) {
    if (lower == own.configName) {
      return own.registeredName;
    }
  }
  return shortName;
}

std::string TranslateLevelName(const std::string& value) {
  const std::string trimmed = Trim(value);
  if (AddedLevelByName(trimmed)) {
    return trimmed + "#" + kLevelClassName;
  }
  // "name#class" names a level class; log4cxx crashes on a class that is not
  // one (a null level is set), so only this library's class is passed on
  // and, for any other, the name alone (a standard level, or log4cxx's
  // default for an unknown name).
  const size_t hash = trimmed.find('#');
  if (hash != std::string::npos && trimmed.substr(hash + 1) != kLevelClassName) {
    return Trim(trimmed.substr(0, hash));
  }
  return value;
}

// "<level>, <appender>, ..." with the level translated.
std::string TranslateLevelList(const std::string& value) {
  const size_t comma = value.find(',');
  if (comma == std::string::npos) {
    return TranslateLevelName(value);
  }
  return TranslateLevelName(value.substr(0, comma)) + value.substr(comma);
}

bool NamesLogger(const std::string& key) {
  return key == "rootCategory" || key == "rootLogger" || StartsWith(key, "category.") ||
         StartsWith(key, "logger.");
}

}  // namespace

TranslatedConfig TranslateConfig(const ConfigEntries& entries) {
  TranslatedConfig translated;
  for (const auto& [fullKey, value] : entries) {
    if (!StartsWith(fullKey, kOwnPrefix)) {
      continue;
    }
    const std::string key = fullKey.substr(sizeof kOwnPrefix - 1);
    std::string newValue = value;
    if (NamesLogger(key)) {
      newValue = TranslateLevelList(value);
    } else if (key == "threshold") {
      newValue = TranslateLevelName(value);
    } else if (key == "debug") {
      translated.debug = ParseBoolean(value, false);
    } else if (StartsWith(key, kAppenderKey)) {
      const std::string appenderPart = key.substr(sizeof kAppenderKey - 1);
      const size_t dot = appenderPart.find('.');
      const bool namesClass = dot == std::string::npos;
      const bool namesLayoutClass = !namesClass && appenderPart.substr(dot) == kLayoutSuffix;
      if (namesClass || namesLayoutClass) {
        newValue = TranslateClassName(value);
      } else if (EqualsIgnoreCase(appenderPart.substr(dot + 1), "threshold") &&
                 AddedLevelByName(value)) {
        translated.addedLevelThresholds.push_back({appenderPart.substr(0, dot), Trim(value)});
      }
    }
    translated.entries.emplace_back(kLog4cxxPrefix + key, newValue);
  }
  return translated;
}

}  // namespace kvd::logging
