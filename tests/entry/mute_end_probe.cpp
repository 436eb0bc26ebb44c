// Loads a copy of libkvd.so with dlopen, as a host would, and calls
// GetMuteEnd: mute_end_probe <libkvd.so> <item> ... where an item is a
// recording (GetMuteEnd is called on it) or --config=<file> (the file is
// copied over the kvd.cfg beside the library before the next call) or --rss
// (prints "rss_kB <VmRSS of this process>"). After each call it prints
// "result=<r> samples=<s> ms=<m>".
#include <dlfcn.h>

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <string>

#include "resident_memory.h"

using GetMuteEndFunction = int32_t (*)(const char*, int32_t*, int32_t*);

int main(int argc, char** argv) {
  if (argc < 3) return 2;
  void* library = dlopen(argv[1], RTLD_NOW);
  if (library == nullptr) {
    std::printf("dlopen failed: %s\n", dlerror());
    return 3;
  }
  auto getMuteEnd = reinterpret_cast<GetMuteEndFunction>(dlsym(library, "GetMuteEnd"));
  if (getMuteEnd == nullptr) return 4;
  const std::filesystem::path besideLibrary =
      std::filesystem::path(argv[1]).parent_path() / "kvd.cfg";
  const std::string configOption = "--config=";
  for (int i = 2; i < argc; ++i) {
    const std::string item = argv[i];
    if (item == "--rss") {
      std::printf("\nrss_kB %ld\n", kvdtest::ResidentKilobytes());
      std::fflush(stdout);
      continue;
    }
    if (item.rfind(configOption, 0) == 0) {
      std::filesystem::copy_file(item.substr(configOption.size()), besideLibrary,
                                 std::filesystem::copy_options::overwrite_existing);
      continue;
    }
    int32_t samples = -7;  // the caller's values, kept by the modes that write nothing
    int32_t ms = -7;
    const int32_t result = getMuteEnd(item.c_str(), &samples, &ms);
    std::printf("result=%d samples=%d ms=%d\n", result, samples, ms);
    std::fflush(stdout);
  }
  dlclose(library);
  return 0;
}
