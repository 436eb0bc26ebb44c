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

std::string Refusal(const Bytes& bytes, int32_t rawRate = 0) {
  AudioFile audio;
  return ParseAudioBytes(bytes, rawRate, audio);
}

void ExpectRead(const Bytes& bytes, int32_t rate, int32_t rawRate = 0) {
  AudioFile audio;
  const std::string problem = ParseAudioBytes(bytes, rawRate, audio);
  ASSERT_EQ(problem, "");
  EXPECT_EQ(audio.rate, rate);
  EXPECT_EQ(audio.samples, kSamples);
}

void ExpectRefused(const Bytes& bytes, const std::string& reasonPart, int32_t rawRate = 0) {
  const std::string problem = Refusal(bytes, rawRate);
  EXPECT_NE(problem.find(reasonPart), std::string::npos) << "got: " << problem;
}

const Bytes kData = kvdtest::SampleBytes(kSamples);

TEST(AudioFileWave, CanonicalFile) { ExpectRead(kvdtest::CanonicalWave(kSamples, 8000), 8000); }

TEST(AudioFileWave, ChunksInAnyOrderWithOddSizedPadding) {
  const Bytes oddList = Chunk("LIST", Bytes{'I', 'N', 'F', 'O', 'x'});  // 5 bytes + pad
  const Bytes format = Chunk("fmt ", kvdtest::PcmFormat(1, 16000, 16));
  const Bytes fact = Chunk("fact", Bytes{6, 0, 0, 0});
  ExpectRead(kvdtest::RiffWave({oddList, format, Chunk("data", kData)}), 16000);
  ExpectRead(kvdtest::RiffWave({fact, oddList, format, oddList, Chunk("data", kData), oddList}),
             16000);
  // The data chunk before the format chunk.
  ExpectRead(kvdtest::RiffWave({Chunk("data", kData), oddList, format}), 16000);
}

TEST(AudioFileWave, ExtensibleFormatWithPcmSubformat) {
  ExpectRead(kvdtest::RiffWave({Chunk("fmt ", kvdtest::ExtensibleFormat(1, 8000, 16, 1)),
                                Chunk("data", kData)}),
             8000);
  ExpectRefused(kvdtest::RiffWave({Chunk("fmt ", kvdtest::ExtensibleFormat(1, 8000, 32, 3)),
                                   Chunk("data", kData)}),
                "not PCM (format tag 3)");
  Bytes unknownGuid = kvdtest::ExtensibleFormat(1, 8000, 16, 1);
  unknownGuid.back() ^= 0xFF;
  ExpectRefused(kvdtest::RiffWave({Chunk("fmt ", unknownGuid), Chunk("data", kData)}),
                "unknown WAVE_FORMAT_EXTENSIBLE subformat");
  Bytes shortExtensible = kvdtest::ExtensibleFormat(1, 8000, 16, 1);
  shortExtensible.resize(18);
  ExpectRefused(kvdtest::RiffWave({Chunk("fmt ", shortExtensible), Chunk("data", kData)}),
                "truncated WAVE_FORMAT_EXTENSIBLE");
}

TEST(AudioFileWave, FormatsTheEngineCannotTake) {
  auto withFormat = [](const Bytes& format) {
    return kvdtest::RiffWave({Chunk("fmt ", format), Chunk("data", kData)});
  };
  ExpectRefused(withFormat(kvdtest::PcmFormat(1, 8000, 8)), "8-bit samples; the engine needs 16-bit");
  Bytes badBlock = kvdtest::PcmFormat(1, 8000, 16);
  badBlock[12] = 4;
  ExpectRefused(withFormat(badBlock), "block size of 4 bytes");
  ExpectRefused(withFormat(Bytes(14, 0)), "format chunk of 14 bytes");
}

TEST(AudioFileWave, TruncatedOrIncompleteFiles) {
  const Bytes format = Chunk("fmt ", kvdtest::PcmFormat(1, 8000, 16));
  // A data chunk that declares more than the file holds.
  ExpectRefused(kvdtest::RiffWave({format, Chunk("data", kData, 1000)}),
                "is truncated: its \"data\" chunk declares 1000 bytes, the file holds 12");
  ExpectRefused(kvdtest::RiffWave({Chunk("data", kData)}), "without a format chunk");
  ExpectRefused(kvdtest::RiffWave({format, Chunk("data", Bytes{1, 2, 3})}),
                "odd number of bytes");
}

TEST(AudioFileRaw, NeedsARateAndWholeSamples) {
  ExpectRead(kData, 16000, 16000);
  ExpectRefused(kData, "is not a RIFF/WAVE file; give --rate HZ");
  ExpectRefused(Bytes{'R', 'I', 'F', 'F'}, "is not a RIFF/WAVE file");
  ExpectRefused(Bytes{1, 2, 3}, "odd number of bytes", 8000);
  ExpectRefused(kData, "sample rate of 4000 Hz", 4000);
}

TEST(AudioFileRead, FilesThatCannotBeRead) {
  kvdtest::TempDir dir;
  AudioFile audio;
  EXPECT_EQ(ReadAudioFile(dir.Path() + "/none.wav", 0, audio), "cannot be opened");
  EXPECT_EQ(ReadAudioFile(dir.Path(), 8000, audio), "is a folder, not a recording");
  const std::string raw = dir.Path() + "/a.raw";
  kvdtest::WriteBytes(raw, kData);
  EXPECT_EQ(ReadAudioFile(raw, 8000, audio), "");
  EXPECT_EQ(audio.samples, kSamples);
}

}  // namespace
}  // namespace kvdtool
