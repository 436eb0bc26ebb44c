// Fuzz target: the wave reader (ReadWaveList) on arbitrary file contents,
// read once as a ".wav" (a RIFF/WAVE image, or refused) and once as raw PCM.
#include <cstdlib>
#include <cstring>

#include <vector>

#include "entry/riff_wave_image.h"
#include "entry/wave_reader.h"
#include "fuzz/fuzz_support.h"

namespace {

// Loaded samples must be the expected ones; a refusal must leave the table
// empty, and only a recording without samples may be refused as raw.
void CheckLoaded(const char* path, const std::vector<int16_t>* expected) {
  WaveTable table;
  const int32_t result = ReadWaveList(path, table);
  if (result != 0) {
    if (table.entryCount != 0 || table.sampleBuffer != nullptr) std::abort();
    if (expected != nullptr && !expected->empty()) std::abort();
    return;
  }
  if (expected == nullptr || table.entryCount != 1 ||
      static_cast<size_t>(table.entries[0].sampleCount) != expected->size() ||
      std::memcmp(table.entries[0].samples, expected->data(), expected->size() * 2) != 0)
    std::abort();
  ReleaseWaveTable(table);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  kvdfuzz::EnterScratchFolder();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::vector<uint8_t> bytes(data, data + size);
  PcmRecording wave;
  const bool waveUsable = ParseRiffWaveImage(bytes, wave).empty();
  kvdfuzz::WriteFileOrAbort("input.wav", data, size);
  CheckLoaded("input.wav", waveUsable ? &wave.samples : nullptr);
  PcmRecording raw;
  TakePcmSamples(data, size - size % 2, raw);
  kvdfuzz::WriteFileOrAbort("input.raw", data, size);
  CheckLoaded("input.raw", &raw.samples);
  return 0;
}
