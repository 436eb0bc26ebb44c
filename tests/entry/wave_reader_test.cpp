// GetMuteEnd's wave reader on files written by the test: the header is read
// by file name, raw PCM from the first byte. The recordings it refuses are
// tried through GetMuteEnd (get_mute_end_test.cpp), the chunk walk it shares
// with the kvd program in tests/tools/audio_file_test.cpp.
#include "entry/wave_reader.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "engine_fixtures.h"
#include "wave_bytes.h"

namespace {

// A name ending in .wav, in any case, is read from its data chunk; any other
// name is raw PCM from the first byte: the 44-byte header, 5 samples and an
// odd byte (ignored) are 27 samples, the first "RI" ('R' + 256 'I'). The
// table is empty again after its release, and after a call without a path.
TEST(WaveReader, WaveFilesByNameAndRawFromTheFirstByte) {
  const kvdtest::TempDir dir;
  const std::vector<int16_t> samples = {1, -2, 300, -32768, 32767};
  const kvdtest::Bytes wave = kvdtest::CanonicalWave(samples, 8000);
  kvdtest::Bytes raw = wave;
  raw.push_back(9);
  for (const auto& [name, isWave] : std::vector<std::pair<std::string, bool>>{
           {"a.wav", true}, {"b.WAV", true}, {"c.Wav", true}, {"a.wav.pcm", false},
           {"no_extension", false}, {"a.wave", false}}) {
    const std::string path = dir.Path() + "/" + name;
    kvdtest::WriteBytes(path, isWave ? wave : raw);
    WaveTable table;
    ASSERT_EQ(ReadWaveList(path.c_str(), table), 0);  // any sample rate
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
    EXPECT_EQ(ReadWaveList(nullptr, table), KVD_MUTE_END_NO_RECORDING);
    EXPECT_EQ(table.entries, nullptr);
  }
}

}  // namespace
