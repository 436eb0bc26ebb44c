// GetMuteEnd's wave reader on files written by the test: the header is read
// by file name, raw PCM from the first byte, its own refusals and their
// messages. The chunk walk it shares with the kvd program is tested in
// tests/tools/audio_file_test.cpp, the recordings GetMuteEnd refuses in
// get_mute_end_test.cpp.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <utility>
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

// A name ending in .wav, in any case, is read from its data chunk; any other
// name is raw PCM from the first byte: the 44-byte header, 5 samples and an
// odd byte (ignored) are 27 samples, the first "RI" ('R' + 256 'I').
TEST_F(WaveReader, WaveFilesByNameAndRawFromTheFirstByte) {
  const std::vector<int16_t> samples = {1, -2, 300, -32768, 32767};
  const kvdtest::Bytes wave = kvdtest::CanonicalWave(samples, 8000);
  kvdtest::Bytes raw = wave;
  raw.push_back(9);
  for (const auto& [name, isWave] : std::vector<std::pair<std::string, bool>>{
           {"a.wav", true}, {"b.WAV", true}, {"c.Wav", true}, {"a.wav.pcm", false},
           {"no_extension", false}, {"a.wave", false}}) {
    WaveTable table;
    ASSERT_EQ(ReadWaveList(Write(name, isWave ? wave : raw).c_str(), table, 8000), 0);
    ASSERT_EQ(table.entryCount, 1) << name;
    const WaveEntry& entry = table.entries[0];
    if (isWave) {
      EXPECT_EQ(std::vector<int16_t>(entry.samples, entry.samples + 5), samples) << name;
      EXPECT_EQ(table.totalSamples, 5);
    } else {
      EXPECT_EQ(entry.sampleCount, 27) << name;
      EXPECT_EQ(entry.samples[0], 'R' + 256 * 'I') << name;
      EXPECT_EQ(entry.samples[26], 32767) << name;
    }
    ReleaseWaveTable(table);
    EXPECT_EQ(table.entryCount, 0);
    EXPECT_EQ(table.entries, nullptr);
    EXPECT_EQ(table.sampleBuffer, nullptr);
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
