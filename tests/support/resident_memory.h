// Resident memory of the calling process, as the kernel reports it.
#ifndef KVD_TESTS_SUPPORT_RESIDENT_MEMORY_H
#define KVD_TESTS_SUPPORT_RESIDENT_MEMORY_H

#include <cstdio>

namespace kvdtest {

// VmRSS of /proc/self/status in kB, -1 when it cannot be read.
inline long ResidentKilobytes() {
  std::FILE* status = std::fopen("/proc/self/status", "r");
  if (status == nullptr) return -1;
  long kilobytes = -1;
  char line[256];
  while (std::fgets(line, sizeof line, status) != nullptr)
    if (std::sscanf(line, "VmRSS: %ld kB", &kilobytes) == 1) break;
  std::fclose(status);
  return kilobytes;
}

}  // namespace kvdtest

#endif  // KVD_TESTS_SUPPORT_RESIDENT_MEMORY_H
