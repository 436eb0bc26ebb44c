#include "logging/file_name.h"

namespace kvd::logging {

namespace {

constexpr char kDefaultExtension[] = "log";

}  // namespace

BaseAndExtension SplitBaseAndExtension(const std::string& path) {
  const size_t separator = path.find_last_of("/\\");
  const size_t nameStart = separator == std::string::npos ? 0 : separator + 1;
  const size_t dot = path.rfind('.');
  if (dot == std::string::npos || dot < nameStart) {
    return {path, kDefaultExtension};
  }
  return {path.substr(0, dot), path.substr(dot + 1)};
}

std::string EffectiveFileName(const std::string& configuredName, const std::string& suffix) {
  const BaseAndExtension parts = SplitBaseAndExtension(configuredName);
  std::string name = parts.base;
  if (!suffix.empty()) {
    name += "-" + suffix;
  }
  return name + "." + parts.extension;
}

}  // namespace kvd::logging
