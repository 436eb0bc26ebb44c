// The kvd program's reader and the RIFF/WAVE parser it shares with
// GetMuteEnd: wave files in any chunk layout, raw PCM with a named rate, and
// the parser's refusals (those GetMuteEnd's bad recordings do not reach; the
// others are tried through it in tests/entry/get_mute_end_test.cpp).
#include "tools/kvd/audio_file.h"

#include <gtest/gtest.h>

#include "engine_fixtures.h"
#include "wave_bytes.h"

namespace kvdtool {
namespace {

using kvdtest::Bytes;
using kvdtest::Chunk;

const std::vector<int16_t> kSamples = {0, 1, -1, 32767, -32768, 1234};

const Bytes kData = kvdtest::SampleBytes(kSamples);

Bytes WithFormat(const Bytes& format, const Bytes& data = kData) {
  return kvdtest::RiffWave({Chunk("fmt ", format), Chunk("data", data)});
}

// Wave files in any chunk layout, and raw PCM with a named rate.
TEST(AudioFile, ReadsEveryLayoutAtItsRate) {
  const Bytes oddList = Chunk("LIST", Bytes{'I', 'N', 'F', 'O', 'x'});  // 5 bytes + pad
  const Bytes format = Chunk("fmt ", kvdtest::PcmFormat(1, 16000, 16));
  const Bytes fact = Chunk("fact", Bytes{6, 0, 0, 0});
  const struct {
    Bytes bytes;
    int32_t rawRate;
    int32_t rate;
  } rows[] = {
      {kvdtest::CanonicalWave(kSamples, 8000), 0, 8000},
      {kvdtest::RiffWave({oddList, format, Chunk("data", kData)}), 0, 16000},
      {kvdtest::RiffWave({fact, oddList, format, oddList, Chunk("data", kData), oddList}), 0,
       16000},
      {kvdtest::RiffWave({Chunk("data", kData), oddList, format}), 0, 16000},  // data first
      {WithFormat(kvdtest::ExtensibleFormat(1, 8000, 16, 1)), 0, 8000},
      {kData, 16000, 16000},
  };
  for (const auto& row : rows) {
    AudioFile audio;
    EXPECT_EQ(ParseAudioBytes(row.bytes, row.rawRate, audio), "");
    EXPECT_EQ(audio.rate, row.rate);
    EXPECT_EQ(audio.samples, kSamples);
  }
}

TEST(AudioFile, RefusesWhatTheEngineCannotTake) {
  Bytes unknownGuid = kvdtest::ExtensibleFormat(1, 8000, 16, 1);
  unknownGuid.back() ^= 0xFF;
  Bytes shortExtensible = kvdtest::ExtensibleFormat(1, 8000, 16, 1);
  shortExtensible.resize(18);
  Bytes badBlock = kvdtest::PcmFormat(1, 8000, 16);
  badBlock[12] = 4;
  const Bytes format = Chunk("fmt ", kvdtest::PcmFormat(1, 8000, 16));
  const struct {
    Bytes bytes;
    int32_t rawRate;
    std::string reason;
  } rows[] = {
      {WithFormat(kvdtest::ExtensibleFormat(1, 8000, 32, 3)), 0, "not PCM (format tag 3)"},
      {WithFormat(unknownGuid), 0, "unknown WAVE_FORMAT_EXTENSIBLE subformat"},
      {WithFormat(shortExtensible), 0, "truncated WAVE_FORMAT_EXTENSIBLE"},
      {WithFormat(kvdtest::PcmFormat(1, 8000, 8)), 0, "8-bit samples; the engine needs 16-bit"},
      {WithFormat(badBlock), 0, "block size of 4 bytes"},
      {WithFormat(Bytes(14, 0)), 0, "format chunk of 14 bytes"},
      {kvdtest::RiffWave({format, Chunk("data", kData, 1000)}), 0,
       "is truncated: its \"data\" chunk declares 1000 bytes, the file holds 12"},
      {kvdtest::RiffWave({Chunk("data", kData)}), 0, "without a format chunk"},
      {kData, 0, "is not a RIFF/WAVE file; give --rate HZ"},
      {Bytes{1, 2, 3}, 8000, "odd number of bytes"},
      {kData, 4000, "sample rate of 4000 Hz"},
  };
  for (const auto& row : rows) {
    AudioFile audio;
    const std::string problem = ParseAudioBytes(row.bytes, row.rawRate, audio);
    EXPECT_NE(problem.find(row.reason), std::string::npos) << "got: " << problem;
  }
}

}  // namespace
}  // namespace kvdtool
