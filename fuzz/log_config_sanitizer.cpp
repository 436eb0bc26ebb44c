#include "fuzz/log_config_sanitizer.h"

#include <log4cxx/helpers/bytearrayinputstream.h>
#include <log4cxx/helpers/properties.h>

#include <algorithm>
#include <cctype>
#include <map>
#include <memory>
#include <set>

namespace kvdfuzz {

namespace {

using Entries = std::map<std::string, std::string>;

constexpr char kPrefix[] = "Kestrin.";
constexpr char kAppenderPrefix[] = "Kestrin.appender.";
constexpr size_t kLongestFileName = 40;

const std::set<std::string> kAppenderClasses = {"consoleappender", "fileappender",
                                                "rollingfileappender"};
const std::set<std::string> kLayoutClasses = {"simplelayout", "patternlayout", "ttcclayout"};
// Options of the appenders and layouts above that name no object to build.
const std::set<std::string> kAppenderOptions = {
    "threshold",      "file",         "filename",        "append",
    "bufferedio",     "immediateflush", "buffersize",    "maxfilesize",
    "maximumfilesize", "maxbackupindex", "maximumbackupindex", "renametype",
    "target",         "encoding",     "follow"};
const std::set<std::string> kLayoutOptions = {"withtimestamp", "conversionpattern"};

std::string Lower(std::string text) {
  std::transform(text.begin(), text.end(), text.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return text;
}

bool StartsWith(const std::string& text, const std::string& prefix) {
  return text.compare(0, prefix.size(), prefix) == 0;
}

std::string LastPart(const std::string& text) {
  const size_t dot = text.rfind('.');
  return dot == std::string::npos ? text : text.substr(dot + 1);
}

std::string Trimmed(const std::string& text) {
  const size_t first = text.find_first_not_of(" \t");
  if (first == std::string::npos) return std::string();
  return text.substr(first, text.find_last_not_of(" \t") - first + 1);
}

std::string SafeFileName(const std::string& value) {
  std::string name;
  for (const char c : value)
    if ((std::isalnum(static_cast<unsigned char>(c)) || c == '_' || c == '-' || c == '.') &&
        name.size() < kLongestFileName)
      name += c;
  return std::string(kLogOutputFolder) + "/" + name;
}

std::string SafeClass(const std::string& value, const std::set<std::string>& allowed,
                      const char* fallback) {
  return allowed.count(Lower(LastPart(Trimmed(value)))) ? value : fallback;
}

// The kept value of one "Kestrin.appender." key, or false to drop the key.
bool SanitizeAppenderEntry(const std::string& rest, std::string& value) {
  const size_t dot = rest.find('.');
  if (dot == std::string::npos) {
    value = SafeClass(value, kAppenderClasses, "Kestrin.ConsoleAppender");
    return true;
  }
  const std::string option = Lower(rest.substr(dot + 1));
  if (option == "layout") {
    value = SafeClass(value, kLayoutClasses, "Kestrin.SimpleLayout");
    return true;
  }
  if (StartsWith(option, "layout.")) return kLayoutOptions.count(option.substr(7)) > 0;
  if (!kAppenderOptions.count(option)) return false;
  if (option == "file" || option == "filename") value = SafeFileName(value);
  return true;
}

bool KeepEntry(const std::string& key, std::string& value) {
  if (StartsWith(key, kAppenderPrefix))
    return SanitizeAppenderEntry(key.substr(sizeof kAppenderPrefix - 1), value);
  if (!StartsWith(key, kPrefix)) return false;
  const std::string rest = key.substr(sizeof kPrefix - 1);
  return rest == "rootCategory" || rest == "rootLogger" || rest == "debug" ||
         rest == "threshold" || StartsWith(rest, "category.") || StartsWith(rest, "logger.") ||
         StartsWith(rest, "additivity.");
}

Entries Parse(const std::string& text) {
  std::vector<unsigned char> bytes(text.begin(), text.end());
  log4cxx::helpers::Properties properties;
  properties.load(std::make_shared<log4cxx::helpers::ByteArrayInputStream>(bytes));
  Entries entries;
  for (const std::string& key : properties.propertyNames())
    entries[key] = properties.getProperty(key);
  return entries;
}

// key=value lines; characters that the parser treats specially are left
// out by the caller's check rather than escaped.
std::string Write(const Entries& entries) {
  std::string text;
  for (const auto& [key, value] : entries) text += key + "=" + value + "\n";
  return text;
}

}  // namespace

std::optional<std::string> SanitizeLogConfig(const std::string& text) {
  Entries kept;
  for (auto [key, value] : Parse(text))
    if (KeepEntry(key, value)) kept[key] = value;
  const std::string written = Write(kept);
  if (Parse(written) != kept) return std::nullopt;
  return written;
}

}  // namespace kvdfuzz
