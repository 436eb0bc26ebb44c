// The RIFF/WAVE reader walks the chunks: fmt and data wherever they lie,
// other chunks skipped with their padding, and anything but 16-bit mono
// integer PCM refused.
#include "peer/riff_wave.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

void Put16(std::vector<uint8_t>& bytes, uint32_t value) {
  bytes.push_back(static_cast<uint8_t>(value));
  bytes.push_back(static_cast<uint8_t>(value >> 8));
}

void Put32(std::vector<uint8_t>& bytes, uint32_t value) {
  Put16(bytes, value & 0xFFFF);
  Put16(bytes, value >> 16);
}

void PutChunk(std::vector<uint8_t>& bytes, const std::string& id, const std::vector<uint8_t>& body,
              uint32_t claimedSize) {
  bytes.insert(bytes.end(), id.begin(), id.end());
  Put32(bytes, claimedSize);
  bytes.insert(bytes.end(), body.begin(), body.end());
  if (body.size() % 2 == 1) bytes.push_back(0);
}

std::vector<uint8_t> Format(uint16_t format, uint16_t channels, uint32_t rate, uint16_t bits) {
  std::vector<uint8_t> body;
  Put16(body, format);
  Put16(body, channels);
  Put32(body, rate);
  Put32(body, rate * channels * bits / 8);
  Put16(body, static_cast<uint16_t>(channels * bits / 8));
  Put16(body, bits);
  return body;
}

const std::vector<int16_t> kSamples = {0, 1, -1, 32767, -32768, 1234};

std::vector<uint8_t> SampleBytes() {
  std::vector<uint8_t> body;
  for (const int16_t sample : kSamples) Put16(body, static_cast<uint16_t>(sample));
  return body;
}

// "RIFF" size "WAVE" then the chunks (the RIFF size is not checked).
std::vector<uint8_t> Riff(const std::vector<uint8_t>& chunks) {
  std::vector<uint8_t> bytes = {'R', 'I', 'F', 'F'};
  Put32(bytes, static_cast<uint32_t>(chunks.size() + 4));
  bytes.insert(bytes.end(), {'W', 'A', 'V', 'E'});
  bytes.insert(bytes.end(), chunks.begin(), chunks.end());
  return bytes;
}

std::string ReadError(const std::vector<uint8_t>& bytes) {
  kvdpeer::MonoPcm pcm;
  std::string error;
  EXPECT_FALSE(kvdpeer::ReadRiffWave(bytes, pcm, error));
  return error;
}

TEST(RiffWave, FindsFmtAndDataBehindOtherChunksAndTheirPadding) {
  std::vector<uint8_t> chunks;
  PutChunk(chunks, "LIST", {'a', 'b', 'c'}, 3);  // odd: one pad byte follows
  PutChunk(chunks, "fmt ", Format(1, 1, 16000, 16), 16);
  PutChunk(chunks, "fact", {1, 0, 0, 0}, 4);
  const std::vector<uint8_t> data = SampleBytes();
  PutChunk(chunks, "data", data, static_cast<uint32_t>(data.size()));
  kvdpeer::MonoPcm pcm;
  std::string error;
  ASSERT_TRUE(kvdpeer::ReadRiffWave(Riff(chunks), pcm, error)) << error;
  EXPECT_EQ(pcm.sampleRate, 16000);
  EXPECT_EQ(pcm.samples, kSamples);
}

TEST(RiffWave, ADataChunkClaimingMoreThanTheFileHoldsGivesTheWholeSamplesPresent) {
  std::vector<uint8_t> chunks;
  PutChunk(chunks, "fmt ", Format(1, 1, 8000, 16), 16);
  PutChunk(chunks, "data", SampleBytes(), 0xFFFFFFFF);
  kvdpeer::MonoPcm pcm;
  std::string error;
  ASSERT_TRUE(kvdpeer::ReadRiffWave(Riff(chunks), pcm, error)) << error;
  EXPECT_EQ(pcm.samples, kSamples);
}

TEST(RiffWave, RefusesWhatIsNot16BitMonoIntegerPcm) {
  const std::vector<uint8_t> data = SampleBytes();
  const auto withFormat = [&](const std::vector<uint8_t>& format) {
    std::vector<uint8_t> chunks;
    PutChunk(chunks, "fmt ", format, static_cast<uint32_t>(format.size()));
    PutChunk(chunks, "data", data, static_cast<uint32_t>(data.size()));
    return Riff(chunks);
  };
  EXPECT_EQ(ReadError(withFormat(Format(1, 2, 8000, 16))), "2 channels, mono needed");
  EXPECT_EQ(ReadError(withFormat(Format(1, 1, 8000, 8))), "8 bits per sample, 16 needed");
  EXPECT_EQ(ReadError(withFormat(Format(3, 1, 8000, 32))), "not integer PCM (format 3)");
  EXPECT_EQ(ReadError(withFormat({1, 0, 1, 0})), "fmt chunk too short");

  std::vector<uint8_t> dataFirst;
  PutChunk(dataFirst, "data", data, static_cast<uint32_t>(data.size()));
  EXPECT_EQ(ReadError(Riff(dataFirst)), "data chunk before the fmt chunk");
  std::vector<uint8_t> formatOnly;
  PutChunk(formatOnly, "fmt ", Format(1, 1, 8000, 16), 16);
  EXPECT_EQ(ReadError(Riff(formatOnly)), "no data chunk");
  EXPECT_EQ(ReadError(Riff({})), "no fmt chunk");
  EXPECT_EQ(ReadError({'R', 'I', 'F', 'F', 0, 0, 0, 0, 'A', 'V', 'I', ' '}), "not a RIFF/WAVE file");
}

}  // namespace
