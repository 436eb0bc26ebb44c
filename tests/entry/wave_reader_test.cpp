// The wave reader on files written by the test: header handling by file name,
// odd sizes, the refusals of unusable recordings and their messages.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "entry/wave_reader.h"
#include "engine_fixtures.h"
#include "wave_bytes.h"

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

kvdtest::ShellRun RunProbe(const std::string& path) {
  return kvdtest::RunShell(std::string(WAVE_READER_PROBE) + " '" + path + "'");
}

int32_t FirstSampleAfter(int offsetBytes) { return offsetBytes + 256 * (offsetBytes + 1); }

TEST_F(WaveReader, WaveFilesAreReadFromTheirDataChunk) {
  const std::vector<int16_t> samples = {1, -2, 300, -32768, 32767};
  using kvdtest::Chunk;
  const kvdtest::Bytes listChunk = Chunk("LIST", kvdtest::Bytes(7, 'x'));  // odd: padded
  const kvdtest::Bytes moved = kvdtest::RiffWave({Chunk("fmt ", kvdtest::PcmFormat(1, 8000, 16)),
                                                  listChunk,
                                                  Chunk("data", kvdtest::SampleBytes(samples))});
  const std::vector<std::pair<std::string, kvdtest::Bytes>> files = {
      {"a.wav", kvdtest::CanonicalWave(samples, 8000)},
      {"b.WAV", kvdtest::CanonicalWave(samples, 8000)},
      {"moved.Wav", moved}};
  for (const auto& [name, bytes] : files) {
    kvdtest::WriteBytes((dir_ / name).string(), bytes);
    WaveTable table;
    ASSERT_EQ(ReadWaveList((dir_ / name).c_str(), table, 8000), 0) << name;
    ASSERT_EQ(table.entryCount, 1) << name;
    EXPECT_EQ(std::vector<int16_t>(table.entries[0].samples, table.entries[0].samples + 5), samples)
        << name;
    EXPECT_EQ(table.totalSamples, 5);
    ReleaseWaveTable(table);
  }
}

// Each refusal leaves the table empty and says why on standard output.
TEST_F(WaveReader, UnusableRecordingsAreRefusedWithTheirReason) {
  const std::vector<int16_t> tone(800, 1000);
  using kvdtest::Chunk;
  const auto format = [&](uint16_t channels, uint32_t rate, uint16_t bits) {
    return kvdtest::RiffWave({Chunk("fmt ", kvdtest::PcmFormat(channels, rate, bits)),
                              Chunk("data", kvdtest::SampleBytes(tone))});
  };
  const kvdtest::Bytes floatFormat = kvdtest::FloatFormat(8000);
  struct Case {
    std::string name;
    kvdtest::Bytes bytes;
    int32_t code;
    std::string reason;
  };
  const std::vector<Case> cases = {
      {"noise.wav", kvdtest::Bytes(1000, 0x5a), KVD_MUTE_END_BAD_FORMAT, "is not a RIFF/WAVE file"},
      {"header.wav", kvdtest::CanonicalWave({}, 8000), KVD_MUTE_END_NO_SAMPLES, "holds no samples"},
      {"empty.wav", {}, KVD_MUTE_END_BAD_FORMAT, "is not a RIFF/WAVE file"},
      {"empty.pcm", {}, KVD_MUTE_END_NO_SAMPLES, "holds no samples"},
      {"one_byte.pcm", {7}, KVD_MUTE_END_NO_SAMPLES, "holds no samples"},
      {"stereo.wav", format(2, 8000, 16), KVD_MUTE_END_BAD_FORMAT, "needs mono"},
      {"bits8.wav", format(1, 8000, 8), KVD_MUTE_END_BAD_FORMAT, "needs 16-bit"},
      {"float.wav",
       kvdtest::RiffWave({Chunk("fmt ", floatFormat), Chunk("data", kvdtest::SampleBytes(tone))}),
       KVD_MUTE_END_BAD_FORMAT, "is not PCM"},
      {"rate.wav", format(1, 16000, 16), KVD_MUTE_END_BAD_FORMAT,
       "has a sample rate of 16000 Hz; the configuration's SampleRate is 8000 Hz"},
      {"nodata.wav", kvdtest::RiffWave({Chunk("fmt ", kvdtest::PcmFormat(1, 8000, 16))}),
       KVD_MUTE_END_BAD_FORMAT, "without a data chunk"},
  };
  for (const Case& c : cases) {
    const std::string path = (dir_ / c.name).string();
    kvdtest::WriteBytes(path, c.bytes);
    ::testing::internal::CaptureStdout();
    WaveTable table;
    EXPECT_EQ(ReadWaveList(path.c_str(), table, 8000), c.code) << c.name;
    const std::string printed = ::testing::internal::GetCapturedStdout();
    EXPECT_NE(printed.find("\nError: " + path + " "), std::string::npos) << printed;
    EXPECT_NE(printed.find(c.reason), std::string::npos) << printed;
    EXPECT_EQ(table.entryCount, 0) << c.name;
    EXPECT_EQ(table.sampleBuffer, nullptr) << c.name;
  }
  WaveTable table;
  EXPECT_EQ(ReadWaveList(dir_.c_str(), table), KVD_MUTE_END_NO_RECORDING);
  EXPECT_EQ(ReadWaveList(nullptr, table), KVD_MUTE_END_NO_RECORDING);
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

TEST_F(WaveReader, RecordingAboveTheSampleCapIsRefused) {
  // A sparse file: 500,000,001 samples take no disk space.
  const fs::path path = dir_ / "huge.pcm";
  std::ofstream(path, std::ios::binary).put('\0');
  fs::resize_file(path, 2ull * (kMaxTotalSamples + 1));
  const kvdtest::ShellRun result = RunProbe(path.string());
  EXPECT_NE(result.output.find("holds more than 500000000 samples! Abort.\n"), std::string::npos);
  EXPECT_NE(result.output.find("result=-83 entries=0 total=0\n"), std::string::npos);
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
  const std::string path = (dir_ / "p.wav").string();
  kvdtest::WriteBytes(path, kvdtest::CanonicalWave({-5, 9}, 8000));
  const kvdtest::ShellRun result = RunProbe(path);
  EXPECT_EQ(result.exitStatus, 0);
  EXPECT_EQ(result.output,
            "Reading wave file information...\n"
            "1 files will be processed.\n"
            "Reading wave file data...\n"
            "result=0 entries=1 total=2\n"
            "count=2 first=-5\n");
}

TEST_F(WaveReader, UnopenableFileIsRefusedWithItsMessage) {
  const kvdtest::ShellRun result = RunProbe((dir_ / "missing.wav").string());
  EXPECT_EQ(result.exitStatus, 0);
  EXPECT_EQ(result.output.rfind("Reading wave file information...\n\nError in open " +
                                    (dir_ / "missing.wav").string() + "! Abort.\n",
                                0),
            0u)
      << result.output;
  EXPECT_NE(result.output.find("result=-80 entries=0 total=0\n"), std::string::npos);
}

TEST_F(WaveReader, PathLongerThanTheTableHoldsIsRefused) {
  const std::string longPath = (dir_ / std::string(300, 'x')).string();
  const kvdtest::ShellRun result = RunProbe(longPath);
  EXPECT_NE(result.output.find("longer than 255 characters"), std::string::npos);
  EXPECT_NE(result.output.find("result=-80 entries=0"), std::string::npos);
}

}  // namespace
