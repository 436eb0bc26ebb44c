// The wave reader on files written by the test: header handling by file name,
// odd sizes, empty wave files, and the failures that end the process.
#include <gtest/gtest.h>

#include <sys/wait.h>

#include <array>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "entry/wave_reader.h"

namespace {

namespace fs = std::filesystem;

class WaveReader : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::temp_directory_path() /
           ("kvd_wave_reader_" + std::to_string(::getpid()) + "_" +
            ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::create_directories(dir_);
  }
  void TearDown() override { fs::remove_all(dir_); }

  // Writes byteCount bytes; byte i is i mod 256, so the first 16-bit sample
  // after an offset of b bytes is b + 256 * (b + 1) (for b < 255).
  std::string WriteFile(const std::string& name, size_t byteCount) {
    const fs::path path = dir_ / name;
    std::ofstream file(path, std::ios::binary);
    for (size_t i = 0; i < byteCount; ++i) file.put(static_cast<char>(i % 256));
    return path.string();
  }

  fs::path dir_;
};

struct ProbeResult {
  int exitStatus = -1;
  std::string output;
};

ProbeResult RunProbe(const std::string& path) {
  ProbeResult result;
  const std::string command = std::string(WAVE_READER_PROBE) + " '" + path + "'";
  std::FILE* pipe = ::popen(command.c_str(), "r");
  if (pipe == nullptr) return result;
  std::array<char, 256> chunk{};
  while (std::fgets(chunk.data(), chunk.size(), pipe) != nullptr) result.output += chunk.data();
  const int status = ::pclose(pipe);
  result.exitStatus = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return result;
}

int32_t FirstSampleAfter(int offsetBytes) { return offsetBytes + 256 * (offsetBytes + 1); }

TEST_F(WaveReader, WaveExtensionInAnyCaseSkipsTheHeader) {
  for (const char* name : {"a.wav", "a.WAV", "b.Wav"}) {
    WaveTable table;
    ASSERT_EQ(ReadWaveList(WriteFile(name, 144).c_str(), table), 0);
    ASSERT_EQ(table.entryCount, 1) << name;
    EXPECT_EQ(table.entries[0].sampleCount, 50) << name;  // (144 - 44) / 2
    EXPECT_EQ(table.entries[0].samples[0], FirstSampleAfter(44)) << name;
    EXPECT_EQ(table.totalSamples, 50);
    ReleaseWaveTable(table);
  }
}

TEST_F(WaveReader, OtherNamesAreRawFromTheFirstByte) {
  for (const char* name : {"a.wav.pcm", "a.pcm", "no_extension", "a.wave"}) {
    WaveTable table;
    ASSERT_EQ(ReadWaveList(WriteFile(name, 1001).c_str(), table), 0);
    EXPECT_EQ(table.entries[0].sampleCount, 500) << name;  // the odd byte is ignored
    EXPECT_EQ(table.entries[0].samples[0], FirstSampleAfter(0)) << name;
    EXPECT_EQ(table.entries[0].samples[499], static_cast<int16_t>(998 % 256 + 256 * (999 % 256)));
    ReleaseWaveTable(table);
  }
}

TEST_F(WaveReader, WaveFilesOfAHeaderOrLessHoldNoSamples) {
  for (size_t bytes : {44u, 20u, 0u}) {
    WaveTable table;
    ASSERT_EQ(ReadWaveList(WriteFile("short.wav", bytes).c_str(), table), 0);
    ASSERT_EQ(table.entryCount, 1) << bytes;
    EXPECT_EQ(table.entries[0].sampleCount, 0) << bytes;
    EXPECT_EQ(table.totalSamples, 0);
    ReleaseWaveTable(table);
  }
}

TEST_F(WaveReader, RecordingAboveTheSampleCapIsDropped) {
  // A sparse file: 500,000,001 samples take no disk space.
  const fs::path path = dir_ / "huge.pcm";
  std::ofstream(path, std::ios::binary).put('\0');
  fs::resize_file(path, 2ull * (kMaxTotalSamples + 1));
  const ProbeResult result = RunProbe(path.string());
  EXPECT_EQ(result.exitStatus, 0);
  EXPECT_NE(result.output.find("0 files will be processed.\n"), std::string::npos);
  EXPECT_NE(result.output.find("entries=0 total=0\n"), std::string::npos);
}

TEST_F(WaveReader, ReleasedTableIsEmpty) {
  WaveTable table;
  ReadWaveList(WriteFile("x.pcm", 10).c_str(), table);
  ReleaseWaveTable(table);
  EXPECT_EQ(table.entryCount, 0);
  EXPECT_EQ(table.entries, nullptr);
  EXPECT_EQ(table.sampleBuffer, nullptr);
}

TEST_F(WaveReader, ProgressLinesOnStandardOutput) {
  const ProbeResult result = RunProbe(WriteFile("p.wav", 48));
  EXPECT_EQ(result.exitStatus, 0);
  EXPECT_EQ(result.output,
            "Reading wave file information...\n"
            "1 files will be processed.\n"
            "Reading wave file data...\n"
            "entries=1 total=2\n"
            "count=2 first=" + std::to_string(FirstSampleAfter(44)) + "\n");
}

TEST_F(WaveReader, UnopenableFileEndsTheProcessWithFailure) {
  const ProbeResult result = RunProbe((dir_ / "missing.wav").string());
  EXPECT_NE(result.exitStatus, 0);
  EXPECT_EQ(result.output, "Reading wave file information...\n\nError in open " +
                               (dir_ / "missing.wav").string() + "! Abort.\n");
}

TEST_F(WaveReader, PathLongerThanTheTableHoldsEndsTheProcess) {
  const std::string longPath = (dir_ / std::string(300, 'x')).string();
  const ProbeResult result = RunProbe(longPath);
  EXPECT_NE(result.exitStatus, 0);
  EXPECT_NE(result.output.find("longer than 255 characters"), std::string::npos);
  EXPECT_EQ(result.output.find("entries="), std::string::npos);
}

}  // namespace
