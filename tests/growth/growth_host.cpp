// Loads a copy of libkvd.so with dlopen, as a host would, and calls
// GetMuteEnd on one recording again and again, printing the resident memory
// of the process:
//   growth_host <libkvd.so> <recording> <warm-up calls> <calls> <batch>
// The warm-up calls, then "rss_kB 0 <VmRSS>", then after every batch of calls
// "rss_kB <calls so far> <VmRSS>". Everything else on standard output is the
// library's own report. Exit status 0 when every call returned 0.
#include <dlfcn.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>

#include "resident_memory.h"

namespace {

using GetMuteEndFunction = int32_t (*)(const char*, int32_t*, int32_t*);

void PrintResident(int calls) {
  std::printf("\nrss_kB %d %ld\n", calls, kvdtest::ResidentKilobytes());
  std::fflush(stdout);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 6) return 2;
  const int warmUps = std::atoi(argv[3]);
  const int calls = std::atoi(argv[4]);
  const int batch = std::atoi(argv[5]);
  if (warmUps < 0 || calls < 1 || batch < 1) return 2;
  void* library = dlopen(argv[1], RTLD_NOW);
  if (library == nullptr) {
    std::printf("dlopen failed: %s\n", dlerror());
    return 3;
  }
  auto getMuteEnd = reinterpret_cast<GetMuteEndFunction>(dlsym(library, "GetMuteEnd"));
  if (getMuteEnd == nullptr) return 4;
  int32_t samples = 0;
  int32_t ms = 0;
  int failures = 0;
  for (int call = 0; call < warmUps; ++call)
    if (getMuteEnd(argv[2], &samples, &ms) != 0) ++failures;
  PrintResident(0);
  for (int call = 1; call <= calls; ++call) {
    if (getMuteEnd(argv[2], &samples, &ms) != 0) ++failures;
    if (call % batch == 0 || call == calls) PrintResident(call);
  }
  dlclose(library);
  return failures == 0 ? 0 : 1;
}
