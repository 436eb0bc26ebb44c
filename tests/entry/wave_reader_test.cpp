// GetMuteEnd's wave reader on files written by the test: the header is read
// by file name, raw PCM from the first byte, its own refusals and their
// messages. The chunk walk it shares with the kvd program is tested in
// tests/tools/audio_file_test.cpp, the recordings GetMuteEnd refuses in
// get_mute_end_test.cpp.
#include <gtest/gtest.h>

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
  std::string Write(const std::string& name, const kvdtest::Bytes& bytes) {
    const std::string path = dir_.Path() + "/" + name;
    kvdtest::WriteBytes(path, bytes);
    return path;
  }

  kvdtest::TempDir dir_;
};

TEST_F(WaveReader, WaveFilesAreReadFromTheirDataChunkInAnyCaseOfName) {
  const std::vector<int16_t> samples = {1, -2, 300, -32768, 32767};
  for (const char* name : {"a.wav", "b.WAV", "c.Wav"}) {
    WaveTable table;
    ASSERT_EQ(ReadWaveList(Write(name, kvdtest::CanonicalWave(samples, 8000)).c_str(), table, 8000), 0);
    ASSERT_EQ(table.entryCount, 1) << name;
    EXPECT_EQ(std::vector<int16_t>(table.entries[0].samples, table.entries[0].samples + 5), samples);
    EXPECT_EQ(table.totalSamples, 5);
    ReleaseWaveTable(table);
    EXPECT_EQ(table.entryCount, 0);
    EXPECT_EQ(table.entries, nullptr);
    EXPECT_EQ(table.sampleBuffer, nullptr);
  }
}

TEST_F(WaveReader, OtherNamesAreRawFromTheFirstByte) {
  // Byte i is i mod 256: sample k is (2k mod 256) + 256 (2k + 1 mod 256).
  kvdtest::Bytes bytes(1001);
  for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<uint8_t>(i % 256);
  for (const char* name : {"a.wav.pcm", "a.pcm", "no_extension", "a.wave"}) {
    WaveTable table;
    ASSERT_EQ(ReadWaveList(Write(name, bytes).c_str(), table), 0);
    EXPECT_EQ(table.entries[0].sampleCount, 500) << name;  // the odd byte is ignored
    EXPECT_EQ(table.entries[0].samples[0], 0 + 256 * 1) << name;
    EXPECT_EQ(table.entries[0].samples[499], static_cast<int16_t>(998 % 256 + 256 * (999 % 256)));
    ReleaseWaveTable(table);
  }
}

// Each refusal leaves the table empty and says why on standard output; one
// row for each way out (the other recordings are GetMuteEnd's rows).
TEST_F(WaveReader, UnusableRecordingsAreRefusedWithTheirReason) {
  const struct {
    std::string name;
    kvdtest::Bytes bytes;
    int32_t code;
    std::string reason;
  } cases[] = {
      {"one_byte.pcm", {7}, KVD_MUTE_END_NO_SAMPLES, "holds no samples"},
      {"bits8.wav", kvdtest::RiffWave({kvdtest::Chunk("fmt ", kvdtest::PcmFormat(1, 8000, 8)),
                                       kvdtest::Chunk("data", kvdtest::Bytes(800, 1))}),
       KVD_MUTE_END_BAD_FORMAT, "has 8-bit samples; the engine needs 16-bit!"},
  };
  for (const auto& c : cases) {
    const std::string path = Write(c.name, c.bytes);
    ::testing::internal::CaptureStdout();
    WaveTable table;
    EXPECT_EQ(ReadWaveList(path.c_str(), table, 8000), c.code) << c.name;
    const std::string printed = ::testing::internal::GetCapturedStdout();
    EXPECT_NE(printed.find("\nError: " + path + " " + c.reason), std::string::npos) << printed;
    EXPECT_EQ(table.entryCount, 0) << c.name;
    EXPECT_EQ(table.sampleBuffer, nullptr) << c.name;
  }
  WaveTable table;
  EXPECT_EQ(ReadWaveList(dir_.Path().c_str(), table), KVD_MUTE_END_NO_RECORDING);
  EXPECT_EQ(ReadWaveList(nullptr, table), KVD_MUTE_END_NO_RECORDING);
  EXPECT_EQ(table.entryCount, 0);
}

// The progress lines, and a recording above the sample cap (a sparse file:
// 500,000,001 samples take no disk space).
TEST_F(WaveReader, ProgressLinesAndTheSampleCap) {
  WaveTable table;
  ::testing::internal::CaptureStdout();
  EXPECT_EQ(ReadWaveList(Write("p.wav", kvdtest::CanonicalWave({-5, 9}, 8000)).c_str(), table), 0);
  EXPECT_EQ(::testing::internal::GetCapturedStdout(),
            "Reading wave file information...\n"
            "1 files will be processed.\n"
            "Reading wave file data...\n");
  EXPECT_EQ(table.totalSamples, 2);
  EXPECT_EQ(table.entries[0].samples[0], -5);

  const std::string huge = Write("huge.pcm", {0});
  fs::resize_file(huge, 2ull * (kMaxTotalSamples + 1));
  ::testing::internal::CaptureStdout();
  EXPECT_EQ(ReadWaveList(huge.c_str(), table), KVD_MUTE_END_TOO_LONG);
  EXPECT_NE(::testing::internal::GetCapturedStdout().find(
                "holds more than 500000000 samples! Abort.\n"),
            std::string::npos);
  EXPECT_EQ(table.entryCount, 0);
  EXPECT_EQ(table.totalSamples, 0);
}

}  // namespace
