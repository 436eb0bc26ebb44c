// Byte images of RIFF/WAVE files for reader tests: chunks assembled in any
// order, with sizes that can be made to lie.
#ifndef KVD_TESTS_SUPPORT_WAVE_BYTES_H
#define KVD_TESTS_SUPPORT_WAVE_BYTES_H

#include <cstdint>
#include <string>
#include <vector>

namespace kvdtest {

using Bytes = std::vector<uint8_t>;

// A chunk: id, size (the body's unless declaredSize is given), body, and a
// pad byte when the body's size is odd.
Bytes Chunk(const std::string& id, const Bytes& body, int64_t declaredSize = -1);

// Body of a "fmt " chunk: PCM (tag 1) with the block size that channels and
// bits imply.
Bytes PcmFormat(uint16_t channels, uint32_t rate, uint16_t bits);

// Body of a "fmt " chunk of 32-bit IEEE float mono (tag 3) at rate.
Bytes FloatFormat(uint32_t rate);

// Body of a 40-byte WAVE_FORMAT_EXTENSIBLE "fmt " chunk whose subformat GUID
// starts with subformatTag (1: PCM) and ends with the standard tail.
Bytes ExtensibleFormat(uint16_t channels, uint32_t rate, uint16_t bits, uint16_t subformatTag);

// Samples as little-endian bytes.
Bytes SampleBytes(const std::vector<int16_t>& samples);

// "RIFF", size, "WAVE" and the chunks in the order given.
Bytes RiffWave(const std::vector<Bytes>& chunks);

// The canonical 44-byte-header file of 16-bit mono samples at rate.
Bytes CanonicalWave(const std::vector<int16_t>& samples, uint32_t rate);

// Writes bytes to path.
void WriteBytes(const std::string& path, const Bytes& bytes);

}  // namespace kvdtest

#endif  // KVD_TESTS_SUPPORT_WAVE_BYTES_H
