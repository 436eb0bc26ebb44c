#include "entry/wave_reader.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>
#include <strings.h>

namespace {

constexpr int32_t kWaveHeaderBytes = 44;
constexpr int32_t kBytesPerSample = 2;
// Status the process ends with when a recording cannot be loaded: the host's
// parent must not read the failure as success.
constexpr int kLoadFailureExitStatus = EXIT_FAILURE;

[[noreturn]] void EndProcess() { std::exit(kLoadFailureExitStatus); }

bool HasWaveExtension(const char* path) {
  const char* dot = std::strrchr(path, '.');
  return dot != nullptr && strcasecmp(dot, ".wav") == 0;
}

std::FILE* OpenOrEnd(const char* path) {
  std::FILE* file = std::fopen(path, "rb");
  if (file == nullptr) {
    std::printf("\nError in open %s! Abort.\n", path);
    EndProcess();
  }
  return file;
}

// Samples of a recording after any header; never negative (a ".wav" file
// shorter than its header holds no samples).
int32_t CountSamples(const char* path) {
  std::FILE* file = OpenOrEnd(path);
  std::rewind(file);
  std::fseek(file, 0, SEEK_END);
  const long sizeBytes = std::ftell(file);
  std::fclose(file);
  long dataBytes = sizeBytes < 0 ? 0 : sizeBytes;
  if (HasWaveExtension(path)) dataBytes = dataBytes > kWaveHeaderBytes ? dataBytes - kWaveHeaderBytes : 0;
  const long sampleCount = dataBytes / kBytesPerSample;
  // Anything above the cap is dropped by the caller; keep the value in range.
  return sampleCount > kMaxTotalSamples ? kMaxTotalSamples + 1 : static_cast<int32_t>(sampleCount);
}

// Reads an entry's samples into place. A file that shrank since it was sized
// leaves zeros, never stale memory, in the rest of its stretch.
void ReadSamples(WaveEntry& entry, int16_t* destination) {
  std::FILE* file = OpenOrEnd(entry.path);
  std::rewind(file);
  if (HasWaveExtension(entry.path)) std::fseek(file, kWaveHeaderBytes, SEEK_SET);
  const size_t wanted = static_cast<size_t>(entry.sampleCount);
  const size_t got = std::fread(destination, kBytesPerSample, wanted, file);
  if (got < wanted) std::memset(destination + got, 0, (wanted - got) * kBytesPerSample);
  std::fclose(file);
  entry.samples = destination;
}

}  // namespace

int32_t ReadWaveList(const char* waveFile, WaveTable& table) {
  ReleaseWaveTable(table);
  if (waveFile == nullptr) {
    std::printf("\nError: no recording path given! Abort.\n");
    EndProcess();
  }
  if (std::strlen(waveFile) > static_cast<size_t>(kMaxWavePathChars)) {
    std::printf("\nError: the recording path is longer than %d characters! Abort.\n",
                kMaxWavePathChars);
    EndProcess();
  }
  table.entries = new (std::nothrow) WaveEntry[1];
  if (table.entries == nullptr) {
    std::printf("Cannot alloc so much memory! EXIT.\n");
    EndProcess();
  }
  table.entryCount = 1;
  std::strcpy(table.entries[0].path, waveFile);

  std::printf("Reading wave file information...\n");
  table.totalSamples = 0;
  for (int32_t i = 0; i < table.entryCount; ++i) {
    WaveEntry& entry = table.entries[i];
    entry.sampleCount = CountSamples(entry.path);
    if (entry.sampleCount > kMaxTotalSamples - table.totalSamples) {
      table.entryCount = i;  // this entry and all after it are dropped
      break;
    }
    table.totalSamples += entry.sampleCount;
  }
  std::printf("%d files will be processed.\n", table.entryCount);

  // One sample more than needed, so that an empty table still owns a buffer.
  table.sampleBuffer = new (std::nothrow) int16_t[static_cast<size_t>(table.totalSamples) + 1];
  if (table.sampleBuffer == nullptr) {
    std::printf("Cannot alloc so much memory! EXIT.\n");
    EndProcess();
  }
  std::printf("Reading wave file data...\n");
  int32_t offset = 0;
  for (int32_t i = 0; i < table.entryCount; ++i) {
    ReadSamples(table.entries[i], table.sampleBuffer + offset);
    offset += table.entries[i].sampleCount;
  }
  return 0;
}

void ReleaseWaveTable(WaveTable& table) {
  delete[] table.entries;
  delete[] table.sampleBuffer;
  table = WaveTable{};
}
