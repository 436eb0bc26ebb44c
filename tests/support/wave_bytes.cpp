#include "wave_bytes.h"

#include <fstream>

namespace kvdtest {

namespace {

// Little-endian integers appended to bytes.
void Append16(Bytes& bytes, uint16_t value) {
  bytes.push_back(static_cast<uint8_t>(value & 0xFF));
  bytes.push_back(static_cast<uint8_t>(value >> 8));
}

void Append32(Bytes& bytes, uint32_t value) {
  Append16(bytes, static_cast<uint16_t>(value & 0xFFFF));
  Append16(bytes, static_cast<uint16_t>(value >> 16));
}

}  // namespace

Bytes Chunk(const std::string& id, const Bytes& body, int64_t declaredSize) {
  Bytes chunk(id.begin(), id.end());
  Append32(chunk, static_cast<uint32_t>(declaredSize >= 0 ? declaredSize
                                                          : static_cast<int64_t>(body.size())));
  chunk.insert(chunk.end(), body.begin(), body.end());
  if (body.size() % 2 != 0) chunk.push_back(0);
  return chunk;
}

Bytes PcmFormat(uint16_t channels, uint32_t rate, uint16_t bits) {
  const auto blockAlign = static_cast<uint16_t>(channels * bits / 8);
  Bytes body;
  Append16(body, 1);
  Append16(body, channels);
  Append32(body, rate);
  Append32(body, rate * blockAlign);
  Append16(body, blockAlign);
  Append16(body, bits);
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
  Append16(body, 22);    // extension size
  Append16(body, bits);  // valid bits
  Append32(body, 0x4);   // channel mask: front centre
  Append16(body, subformatTag);
  const uint8_t tail[14] = {0x00, 0x00, 0x00, 0x00, 0x10, 0x00, 0x80,
                            0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71};
  body.insert(body.end(), tail, tail + sizeof tail);
  return body;
}

Bytes SampleBytes(const std::vector<int16_t>& samples) {
  Bytes bytes;
  for (const int16_t sample : samples) Append16(bytes, static_cast<uint16_t>(sample));
  return bytes;
}

Bytes RiffWave(const std::vector<Bytes>& chunks) {
  Bytes body = {'W', 'A', 'V', 'E'};
  for (const Bytes& chunk : chunks) body.insert(body.end(), chunk.begin(), chunk.end());
  Bytes file = {'R', 'I', 'F', 'F'};
  Append32(file, static_cast<uint32_t>(body.size()));
  file.insert(file.end(), body.begin(), body.end());
  return file;
}

Bytes CanonicalWave(const std::vector<int16_t>& samples, uint32_t rate) {
  return RiffWave({Chunk("fmt ", PcmFormat(1, rate, 16)), Chunk("data", SampleBytes(samples))});
}

void WriteBytes(const std::string& path, const Bytes& bytes) {
  std::ofstream(path, std::ios::binary)
      .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

}  // namespace kvdtest
