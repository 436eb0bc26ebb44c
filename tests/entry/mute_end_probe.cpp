// A host of GetMuteEnd: mute_end_probe <libkvd.so> <item> ... loads the
// library with dlopen and, for each item, calls GetMuteEnd on a recording
// and prints "result=<r> samples=<s> ms=<m>", or with --config=<file> copies
// the file over the kvd.cfg beside the library, or with --rss prints
// "rss_kB <VmRSS of this process>".
#include <dlfcn.h>

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <string>

#include "resident_memory.h"

int main(int argc, char** argv) {
  void* library = dlopen(argv[1], RTLD_NOW);
  if (library == nullptr) {
    std::printf("dlopen failed: %s\n", dlerror());
    return 3;
  }
  using GetMuteEndFunction = int32_t (*)(const char*, int32_t*, int32_t*);
  auto getMuteEnd = reinterpret_cast<GetMuteEndFunction>(dlsym(library, "GetMuteEnd"));
  const auto besideLibrary = std::filesystem::path(argv[1]).parent_path() / "kvd.cfg";
  const std::string configOption = "--config=";
  for (int i = 2; i < argc; ++i) {
    const std::string item = argv[i];
    if (item == "--rss") {
      std::printf("\nrss_kB %ld\n", kvdtest::ResidentKilobytes());
    } else if (item.rfind(configOption, 0) == 0) {
      std::filesystem::copy_file(item.substr(configOption.size()), besideLibrary,
                                 std::filesystem::copy_options::overwrite_existing);
    } else {
      int32_t samples = -7, ms = -7;  // kept by the modes that write nothing back
      const int32_t result = getMuteEnd(item.c_str(), &samples, &ms);
      std::printf("result=%d samples=%d ms=%d\n", result, samples, ms);
    }
    std::fflush(stdout);
  }
  dlclose(library);
  return 0;
}
