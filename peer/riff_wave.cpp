#include "peer/riff_wave.h"

#include <cstring>

namespace kvdpeer {

namespace {

constexpr size_t kRiffHeaderBytes = 12;  // "RIFF", size, "WAVE"
constexpr size_t kChunkHeaderBytes = 8;  // id, size
constexpr size_t kFormatBytes = 16;      // the PCM part of "fmt "
constexpr uint16_t kFormatPcm = 1;
constexpr uint16_t kFormatExtensible = 0xFFFE;

uint16_t Le16(const uint8_t* bytes) {
  return static_cast<uint16_t>(bytes[0] | (bytes[1] << 8));
}

uint32_t Le32(const uint8_t* bytes) {
  return static_cast<uint32_t>(bytes[0]) | (static_cast<uint32_t>(bytes[1]) << 8) |
         (static_cast<uint32_t>(bytes[2]) << 16) | (static_cast<uint32_t>(bytes[3]) << 24);
}

bool ChunkIs(const uint8_t* header, const char* id) {
  return std::memcmp(header, id, 4) == 0;
}

// Checks the "fmt " chunk body and takes the sample rate from it.
bool ReadFormat(const uint8_t* body, size_t size, MonoPcm& pcm, std::string& error) {
  if (size < kFormatBytes) {
    error = "fmt chunk too short";
    return false;
  }
  const uint16_t format = Le16(body);
  const uint16_t channels = Le16(body + 2);
  const uint16_t bitsPerSample = Le16(body + 14);
  if (format != kFormatPcm && format != kFormatExtensible) {
    error = "not integer PCM (format " + std::to_string(format) + ")";
    return false;
  }
  if (channels != 1) {
    error = std::to_string(channels) + " channels, mono needed";
    return false;
  }
  if (bitsPerSample != 16) {
    error = std::to_string(bitsPerSample) + " bits per sample, 16 needed";
    return false;
  }
  pcm.sampleRate = static_cast<int>(Le32(body + 4));
  return true;
}

}  // namespace

bool IsRiffWave(const std::vector<uint8_t>& bytes) {
  return bytes.size() >= kRiffHeaderBytes && ChunkIs(bytes.data(), "RIFF") &&
         ChunkIs(bytes.data() + 8, "WAVE");
}

bool ReadRiffWave(const std::vector<uint8_t>& bytes, MonoPcm& pcm, std::string& error) {
  if (!IsRiffWave(bytes)) {
    error = "not a RIFF/WAVE file";
    return false;
  }
  bool formatSeen = false;
  size_t offset = kRiffHeaderBytes;
  while (bytes.size() - offset >= kChunkHeaderBytes) {
    const uint8_t* header = bytes.data() + offset;
    const size_t available = bytes.size() - offset - kChunkHeaderBytes;
    const size_t size = Le32(header + 4);
    const uint8_t* body = header + kChunkHeaderBytes;
    if (ChunkIs(header, "fmt ")) {
      if (size > available) {
        error = "fmt chunk cut short";
        return false;
      }
      if (!ReadFormat(body, size, pcm, error)) return false;
      formatSeen = true;
    } else if (ChunkIs(header, "data")) {
      if (!formatSeen) {
        error = "data chunk before the fmt chunk";
        return false;
      }
      pcm.samples = RawPcmSamples(body, size < available ? size : available);
      return true;
    }
    if (size >= available) break;
    offset += kChunkHeaderBytes + size + (size & 1);  // chunks are padded to even sizes
  }
  error = formatSeen ? "no data chunk" : "no fmt chunk";
  return false;
}

std::vector<int16_t> RawPcmSamples(const uint8_t* bytes, size_t byteCount) {
  std::vector<int16_t> samples(byteCount / 2);
  for (size_t i = 0; i < samples.size(); ++i)
    samples[i] = static_cast<int16_t>(Le16(bytes + 2 * i));
  return samples;
}

}  // namespace kvdpeer
