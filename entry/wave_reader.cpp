#include "entry/wave_reader.h"

#include <sys/stat.h>

#include <cstdio>
#include <cstring>
#include <new>
#include <string>
#include <strings.h>
#include <vector>

#include "entry/riff_wave_image.h"
#include "kvd/tprintf.h"

namespace {

constexpr int32_t kBytesPerSample = 2;

bool HasWaveExtension(const char* path) {
  const char* dot = std::strrchr(path, '.');
  return dot != nullptr && strcasecmp(dot, ".wav") == 0;
}

bool IsFolder(const char* path) {
  struct stat status {};
  return ::stat(path, &status) == 0 && S_ISDIR(status.st_mode);
}

// Prints and logs why the recording at path cannot be analysed; gives code.
int32_t Refuse(int32_t code, const char* path, const std::string& reason) {
  std::printf("\nError: %s %s! Abort.\n", path, reason.c_str());
  tprintf7("Error: %s %s! Abort.\n", path, reason.c_str());
  return code;
}

std::FILE* OpenOrSay(const char* path) {
  std::FILE* file = std::fopen(path, "rb");
  if (file == nullptr) {
    std::printf("\nError in open %s! Abort.\n", path);
    tprintf7("Error in open %s! Abort.\n", path);
  }
  return file;
}

// Samples of a raw recording (a trailing odd byte is not a sample), or -1
// when it cannot be opened.
long CountRawSamples(const char* path) {
  std::FILE* file = OpenOrSay(path);
  if (file == nullptr) return -1;
  std::fseek(file, 0, SEEK_END);
  const long sizeBytes = std::ftell(file);
  std::fclose(file);
  return sizeBytes < 0 ? 0 : sizeBytes / kBytesPerSample;
}

// Reads a raw entry's samples into place. A file that shrank since it was
// sized leaves zeros, never stale memory, in the rest of its stretch.
bool ReadRawSamples(WaveEntry& entry, int16_t* destination) {
  std::FILE* file = OpenOrSay(entry.path);
  if (file == nullptr) return false;
  const size_t wanted = static_cast<size_t>(entry.sampleCount);
  const size_t got = std::fread(destination, kBytesPerSample, wanted, file);
  if (got < wanted) std::memset(destination + got, 0, (wanted - got) * kBytesPerSample);
  std::fclose(file);
  entry.samples = destination;
  return true;
}

// The whole file, or false (with the open message printed).
bool ReadWholeFile(const char* path, std::vector<uint8_t>& bytes) {
  std::FILE* file = OpenOrSay(path);
  if (file == nullptr) return false;
  uint8_t block[65536];
  for (size_t got; (got = std::fread(block, 1, sizeof block, file)) > 0;)
    bytes.insert(bytes.end(), block, block + got);
  std::fclose(file);
  return true;
}

// A ".wav" recording checked and decoded: 0, or the code after its message.
int32_t ReadWaveFile(const char* path, int32_t waveRate, PcmRecording& recording) {
  std::vector<uint8_t> bytes;
  if (!ReadWholeFile(path, bytes)) return KVD_MUTE_END_NO_RECORDING;
  const std::string problem = ParseRiffWaveImage(bytes, recording);
  if (!problem.empty()) return Refuse(KVD_MUTE_END_BAD_FORMAT, path, problem);
  if (waveRate != 0 && recording.rate != waveRate)
    return Refuse(KVD_MUTE_END_BAD_FORMAT, path,
                  "has a sample rate of " + std::to_string(recording.rate) +
                      " Hz; the configuration's SampleRate is " + std::to_string(waveRate) + " Hz");
  return 0;
}

int32_t Fail(WaveTable& table, int32_t code) {
  ReleaseWaveTable(table);
  return code;
}

}  // namespace

int32_t ReadWaveList(const char* waveFile, WaveTable& table, int32_t waveRate) {
  ReleaseWaveTable(table);
  if (waveFile == nullptr) {
    std::printf("\nError: no recording path given! Abort.\n");
    tprintf7("Error: no recording path given! Abort.\n");
    return KVD_MUTE_END_NO_RECORDING;
  }
  if (std::strlen(waveFile) > static_cast<size_t>(kMaxWavePathChars)) {
    std::printf("\nError: the recording path is longer than %d characters! Abort.\n",
                kMaxWavePathChars);
    tprintf7("Error: the recording path is longer than %d characters! Abort.\n",
             kMaxWavePathChars);
    return KVD_MUTE_END_NO_RECORDING;
  }
  table.entries = new (std::nothrow) WaveEntry[1];
  if (table.entries == nullptr) {
    std::printf("Cannot alloc so much memory! EXIT.\n");
    return KVD_MUTE_END_TOO_LONG;
  }
  table.entryCount = 1;
  WaveEntry& entry = table.entries[0];
  std::strcpy(entry.path, waveFile);

  std::printf("Reading wave file information...\n");
  if (IsFolder(entry.path))
    return Fail(table, Refuse(KVD_MUTE_END_NO_RECORDING, entry.path, "is a folder, not a recording"));
  const bool isWave = HasWaveExtension(entry.path);
  PcmRecording wave;
  long sampleCount = 0;
  if (isWave) {
    const int32_t result = ReadWaveFile(entry.path, waveRate, wave);
    if (result != 0) return Fail(table, result);
    sampleCount = static_cast<long>(wave.samples.size());
  } else {
    sampleCount = CountRawSamples(entry.path);
    if (sampleCount < 0) return Fail(table, KVD_MUTE_END_NO_RECORDING);
  }
  if (sampleCount == 0)
    return Fail(table, Refuse(KVD_MUTE_END_NO_SAMPLES, entry.path, "holds no samples"));
  if (sampleCount > kMaxTotalSamples)
    return Fail(table, Refuse(KVD_MUTE_END_TOO_LONG, entry.path,
                              "holds more than " + std::to_string(kMaxTotalSamples) + " samples"));
  entry.sampleCount = static_cast<int32_t>(sampleCount);
  table.totalSamples = entry.sampleCount;
  std::printf("%d files will be processed.\n", table.entryCount);

  table.sampleBuffer = new (std::nothrow) int16_t[static_cast<size_t>(table.totalSamples)];
  if (table.sampleBuffer == nullptr) {
    std::printf("Cannot alloc so much memory! EXIT.\n");
    return Fail(table, KVD_MUTE_END_TOO_LONG);
  }
  std::printf("Reading wave file data...\n");
  if (isWave) {
    std::memcpy(table.sampleBuffer, wave.samples.data(), wave.samples.size() * kBytesPerSample);
    entry.samples = table.sampleBuffer;
  } else if (!ReadRawSamples(entry, table.sampleBuffer)) {
    return Fail(table, KVD_MUTE_END_NO_RECORDING);
  }
  return 0;
}

void ReleaseWaveTable(WaveTable& table) {
  delete[] table.entries;
  delete[] table.sampleBuffer;
  table = WaveTable{};
}
