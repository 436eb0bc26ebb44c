#include "entry/riff_wave_image.h"

#include <cstring>
#include <limits>

namespace {

constexpr uint16_t kFormatPcm = 1;
constexpr uint16_t kFormatExtensible = 0xFFFE;
constexpr size_t kRiffHeaderBytes = 12;  // "RIFF", size, "WAVE"
constexpr size_t kChunkHeaderBytes = 8;  // id, size
constexpr size_t kPcmFormatBytes = 16;
constexpr size_t kExtensibleFormatBytes = 40;
// Bytes 2..15 of every WAVE_FORMAT_EXTENSIBLE subformat GUID that carries a
// plain format tag in bytes 0..1 (KSDATAFORMAT_SUBTYPE_PCM and its kin).
constexpr uint8_t kSubformatGuidTail[14] = {0x00, 0x00, 0x00, 0x00, 0x10, 0x00, 0x80,
                                            0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71};

uint16_t Read16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }

uint32_t Read32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
         (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24);
}

// The format chunk's body: 16-bit mono PCM at a usable rate, or the reason
// it is not.
std::string CheckFormat(const uint8_t* body, uint32_t size, PcmRecording& recording) {
  if (size < kPcmFormatBytes) return "has a format chunk of " + std::to_string(size) + " bytes";
  uint16_t tag = Read16(body);
  const uint16_t channels = Read16(body + 2);
  const uint32_t rate = Read32(body + 4);
  const uint16_t blockAlign = Read16(body + 12);
  const uint16_t bits = Read16(body + 14);
  if (tag == kFormatExtensible) {
    if (size < kExtensibleFormatBytes) return "has a truncated WAVE_FORMAT_EXTENSIBLE format chunk";
    const uint8_t* guid = body + 24;
    if (std::memcmp(guid + 2, kSubformatGuidTail, sizeof kSubformatGuidTail) != 0)
      return "has an unknown WAVE_FORMAT_EXTENSIBLE subformat";
    tag = Read16(guid);
  }
  if (tag != kFormatPcm)
    return "is not PCM (format tag " + std::to_string(tag) + "); the engine needs 16-bit PCM";
  if (channels != 1)
    return "has " + std::to_string(channels) + " channels; the engine needs mono";
  if (bits != 16) return "has " + std::to_string(bits) + "-bit samples; the engine needs 16-bit";
  if (blockAlign != 2)
    return "has a block size of " + std::to_string(blockAlign) + " bytes for 16-bit mono";
  const std::string rateProblem = CheckAnalysedRate(rate);
  if (!rateProblem.empty()) return rateProblem;
  recording.rate = static_cast<int32_t>(rate);
  return std::string();
}

std::string ParseChunks(const std::vector<uint8_t>& bytes, PcmRecording& recording) {
  const uint8_t* data = nullptr;
  uint32_t dataSize = 0;
  bool formatSeen = false;
  size_t at = kRiffHeaderBytes;
  while (at + kChunkHeaderBytes <= bytes.size()) {
    const uint8_t* header = bytes.data() + at;
    const uint32_t size = Read32(header + 4);
    const size_t bodyAt = at + kChunkHeaderBytes;
    const size_t available = bytes.size() - bodyAt;
    const std::string id(reinterpret_cast<const char*>(header), 4);
    if (size > available)
      return "is truncated: its \"" + id + "\" chunk declares " + std::to_string(size) +
             " bytes, the file holds " + std::to_string(available);
    if (id == "fmt " && !formatSeen) {
      const std::string problem = CheckFormat(bytes.data() + bodyAt, size, recording);
      if (!problem.empty()) return problem;
      formatSeen = true;
    } else if (id == "data" && data == nullptr) {
      data = bytes.data() + bodyAt;
      dataSize = size;
    }
    at = bodyAt + size + (size % 2);  // chunks are padded to an even size
  }
  if (!formatSeen) return "is a wave file without a format chunk";
  if (data == nullptr) return "is a wave file without a data chunk";
  return TakePcmSamples(data, dataSize, recording);
}

}  // namespace

bool IsRiffWaveImage(const std::vector<uint8_t>& bytes) {
  return bytes.size() >= kRiffHeaderBytes && std::memcmp(bytes.data(), "RIFF", 4) == 0 &&
         std::memcmp(bytes.data() + 8, "WAVE", 4) == 0;
}

std::string ParseRiffWaveImage(const std::vector<uint8_t>& bytes, PcmRecording& recording) {
  recording = PcmRecording();
  if (!IsRiffWaveImage(bytes)) return "is not a RIFF/WAVE file";
  return ParseChunks(bytes, recording);
}

std::string TakePcmSamples(const uint8_t* data, size_t size, PcmRecording& recording) {
  if (size % 2 != 0) return "holds an odd number of bytes, not whole 16-bit samples";
  if (size / 2 > static_cast<size_t>(std::numeric_limits<int32_t>::max()))
    return "is too long for the engine (more than 2^31 - 1 samples)";
  recording.samples.resize(size / 2);
  for (size_t i = 0; i < recording.samples.size(); ++i)
    recording.samples[i] = static_cast<int16_t>(Read16(data + 2 * i));
  return std::string();
}

std::string CheckAnalysedRate(uint32_t rate) {
  if (rate < static_cast<uint32_t>(kLowestAnalysedRateHz))
    return "has a sample rate of " + std::to_string(rate) + " Hz; the engine needs " +
           std::to_string(kLowestAnalysedRateHz) + " Hz or more";
  if (rate > static_cast<uint32_t>(std::numeric_limits<int32_t>::max()))
    return "has an impossible sample rate of " + std::to_string(rate) + " Hz";
  return std::string();
}

