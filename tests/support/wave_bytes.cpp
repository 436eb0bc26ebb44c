#include "wave_bytes.h"

#include <fstream>
#include <initializer_list>
#include <utility>

namespace kvdtest {

namespace {

// Each value as its count of little-endian bytes appended to bytes.
void AppendLe(Bytes& bytes, std::initializer_list<std::pair<uint32_t, int>> values) {
  for (const auto& [value, byteCount] : values) {
    for (int k = 0; k < byteCount; ++k) bytes.push_back(static_cast<uint8_t>(value >> (8 * k)));
  }
}

}  // namespace

Bytes Chunk(const std::string& id, const Bytes& body, int64_t declaredSize) {
  Bytes chunk(id.begin(), id.end());
  const int64_t size = declaredSize >= 0 ? declaredSize : static_cast<int64_t>(body.size());
  AppendLe(chunk, {{static_cast<uint32_t>(size), 4}});
  chunk.insert(chunk.end(), body.begin(), body.end());
  if (body.size() % 2 != 0) chunk.push_back(0);
  return chunk;
}

Bytes PcmFormat(uint16_t channels, uint32_t rate, uint16_t bits) {
  const auto blockAlign = static_cast<uint16_t>(channels * bits / 8);
  Bytes body;
  AppendLe(body, {{1, 2}, {channels, 2}, {rate, 4}, {rate * blockAlign, 4}, {blockAlign, 2},
                  {bits, 2}});
  return body;
}

Bytes FloatFormat(uint32_t rate) {
  Bytes body = PcmFormat(1, rate, 32);
  body[0] = 3;  // WAVE_FORMAT_IEEE_FLOAT
  return body;
}

Bytes ExtensibleFormat(uint16_t channels, uint32_t rate, uint16_t bits, uint16_t subformatTag) {
  Bytes body = PcmFormat(channels, rate, bits);
  body[0] = 0xFE;
  body[1] = 0xFF;
  // Extension size, valid bits, channel mask (front centre), subformat tag.
  AppendLe(body, {{22, 2}, {bits, 2}, {0x4, 4}, {subformatTag, 2}});
  const uint8_t tail[14] = {0x00, 0x00, 0x00, 0x00, 0x10, 0x00, 0x80,
                            0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71};
  body.insert(body.end(), tail, tail + sizeof tail);
  return body;
}

Bytes SampleBytes(const std::vector<int16_t>& samples) {
  Bytes bytes;
  for (const int16_t sample : samples) AppendLe(bytes, {{static_cast<uint16_t>(sample), 2}});
  return bytes;
}

Bytes RiffWave(const std::vector<Bytes>& chunks) {
  Bytes body = {'W', 'A', 'V', 'E'};
  for (const Bytes& chunk : chunks) body.insert(body.end(), chunk.begin(), chunk.end());
  Bytes file = {'R', 'I', 'F', 'F'};
  AppendLe(file, {{static_cast<uint32_t>(body.size()), 4}});
  file.insert(file.end(), body.begin(), body.end());
  return file;
}

Bytes CanonicalWave(const std::vector<int16_t>& samples, uint32_t rate) {
  return RiffWave({Chunk("fmt ", PcmFormat(1, rate, 16)), Chunk("data", SampleBytes(samples))});
}

void WriteBytes(const std::string& path, const Bytes& bytes) {
  std::ofstream(path, std::ios::binary)
      .write(reinterpret_cast<const char*>(bytes.data()),
             static_cast<std::streamsize>(bytes.size()));
}

}  // namespace kvdtest
