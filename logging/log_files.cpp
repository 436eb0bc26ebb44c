#include "logging/log_files.h"

#include <sys/stat.h>

namespace kvd::logging {

namespace {

constexpr mode_t kDirectoryMode = 0777;  // narrowed by the process umask

}  // namespace

void CreateMissingDirectories(const std::string& path) {
  for (size_t at = path.find_first_of("/\\"); at != std::string::npos;
       at = path.find_first_of("/\\", at + 1)) {
    if (at == 0) {
      continue;
    }
    mkdir(path.substr(0, at).c_str(), kDirectoryMode);
  }
}

bool FileExists(const std::string& name) {
  struct stat info {};
  return stat(name.c_str(), &info) == 0;
}

}  // namespace kvd::logging
