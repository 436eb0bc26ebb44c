// Resident memory of the calling process, as the kernel reports it.
#ifndef KVD_TESTS_SUPPORT_RESIDENT_MEMORY_H
#define KVD_TESTS_SUPPORT_RESIDENT_MEMORY_H

#include <unistd.h>

#include <cstdio>

namespace kvdtest {

// The resident pages of /proc/self/statm in kB, -1 when it cannot be read.
inline long ResidentKilobytes() {
  std::FILE* statm = std::fopen("/proc/self/statm", "r");
  if (statm == nullptr) return -1;
  long pages = 0;
  long resident = -1;
  const bool read = std::fscanf(statm, "%ld %ld", &pages, &resident) == 2;
  std::fclose(statm);
  return read ? resident * (sysconf(_SC_PAGESIZE) / 1024) : -1;
}

}  // namespace kvdtest

#endif  // KVD_TESTS_SUPPORT_RESIDENT_MEMORY_H
