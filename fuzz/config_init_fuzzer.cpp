// Fuzz target: the configuration reader and KVD_Init on arbitrary kvd.cfg
// and kvd_offline.cfg text, then a little audio through a line in the mode
// the text configures, then KVD_Exit.
//
// Input: the text of kvd.cfg, a NUL byte, the text of kvd_offline.cfg (no
// NUL: the companion file is empty). A line "OpenAllLines=0" is put first in
// kvd.cfg (the first line with a key wins), so that one line is built per
// input rather than all 1024.
#include <cstring>
#include <string>

#include "engine/kvd_api.h"
#include "engine/speech_detector.h"
#include "fuzz/engine_driver.h"
#include "fuzz/fuzz_support.h"

namespace {

constexpr char kOneLineOnly[] = "OpenAllLines=0\n";
constexpr size_t kStreamChunk = 160;

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  kvdfuzz::EnterQuietScratchFolder();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const char* text = reinterpret_cast<const char*>(data);
  const char* separator = static_cast<const char*>(std::memchr(text, '\0', size));
  const size_t mainLength = separator ? static_cast<size_t>(separator - text) : size;
  const std::string mainText = kOneLineOnly + std::string(text, mainLength);
  const std::string offlineText =
      separator ? std::string(separator + 1, size - mainLength - 1) : std::string();
  kvdfuzz::WriteFileOrAbort("kvd.cfg", mainText.data(), mainText.size());
  kvdfuzz::WriteFileOrAbort("kvd_offline.cfg", offlineText.data(), offlineText.size());

  if (KVD_Init("kvd.cfg", 1) == KVD_OK) {
    size_t sampleCount = 0;
    const int16_t* samples = kvdfuzz::SyntheticUtterance(&sampleCount);
    // Streamed in 20 ms chunks online; one recording offline.
    const SpeechDetector* line = GetLine(0);
    const bool streamed = line && line->IsOnline == 1 && line->IsOneSeg == 1;
    kvdfuzz::RunLine(samples, sampleCount,
                     [&]() -> size_t { return streamed ? kStreamChunk : sampleCount; });
  }
  KVD_Exit();
  return 0;
}
