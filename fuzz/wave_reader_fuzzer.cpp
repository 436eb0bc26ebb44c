// Fuzz target: the wave reader (ReadWaveList) on arbitrary file contents,
// read once as a ".wav" (44-byte header skipped) and once as raw PCM.
#include <cstdlib>
#include <cstring>

#include "entry/wave_reader.h"
#include "fuzz/fuzz_support.h"

namespace {

// The loaded samples must be the file's bytes after any header.
void CheckLoaded(const char* path, const uint8_t* data, size_t size, size_t headerBytes) {
  WaveTable table;
  ReadWaveList(path, table);
  const size_t dataBytes = size > headerBytes ? size - headerBytes : 0;
  const size_t expected = dataBytes / 2;
  if (table.entryCount != 1 || static_cast<size_t>(table.entries[0].sampleCount) != expected ||
      static_cast<size_t>(table.totalSamples) != expected ||
      (expected > 0 && std::memcmp(table.entries[0].samples, data + headerBytes, expected * 2) != 0))
    std::abort();
  ReleaseWaveTable(table);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  kvdfuzz::EnterScratchFolder();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  kvdfuzz::WriteFileOrAbort("input.wav", data, size);
  CheckLoaded("input.wav", data, size, 44);
  kvdfuzz::WriteFileOrAbort("input.raw", data, size);
  CheckLoaded("input.raw", data, size, 0);
  return 0;
}
