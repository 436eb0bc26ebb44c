// Resident memory of the calling process, as the kernel reports it.
#ifndef KVD_TESTS_SUPPORT_RESIDENT_MEMORY_H
#define KVD_TESTS_SUPPORT_RESIDENT_MEMORY_H

#include <fcntl.h>
#include <unistd.h>

#include <cstdio>

namespace kvdtest {

// The resident pages of /proc/self/statm in kB, -1 when it cannot be read.
// Read without the heap (no stdio stream), so that measuring leaves the
// allocator as it found it.
inline long ResidentKilobytes() {
  const int statm = open("/proc/self/statm", O_RDONLY);
  if (statm < 0) return -1;
  char text[128];
  const ssize_t length = read(statm, text, sizeof(text) - 1);
  close(statm);
  if (length <= 0) return -1;
  text[length] = '\0';
  long pages = 0;
  long resident = -1;
  if (std::sscanf(text, "%ld %ld", &pages, &resident) != 2) return -1;
  return resident * (sysconf(_SC_PAGESIZE) / 1024);
}

}  // namespace kvdtest

#endif  // KVD_TESTS_SUPPORT_RESIDENT_MEMORY_H
