#include "platform/module_path.h"

#include <dlfcn.h>

std::string OwnModuleDirectory() {
  Dl_info info{};
  if (dladdr(reinterpret_cast<void*>(&OwnModuleDirectory), &info) == 0 || info.dli_fname == nullptr)
    return {};
  const std::string modulePath = info.dli_fname;
  const size_t lastSlash = modulePath.rfind('/');
  if (lastSlash == std::string::npos) return ".";
  return modulePath.substr(0, lastSlash);
}
