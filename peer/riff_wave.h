// Reading 16-bit mono PCM out of a RIFF/WAVE file image: the chunks are
// walked, so "fmt " and "data" are found wherever they lie and other chunks
// (LIST, fact, ...) are skipped.
#ifndef KVD_PEER_RIFF_WAVE_H
#define KVD_PEER_RIFF_WAVE_H

#include <cstdint>
#include <string>
#include <vector>

namespace kvdpeer {

struct MonoPcm {
  int sampleRate = 0;  // Hz
  std::vector<int16_t> samples;
};

// True when bytes start with a RIFF header of form WAVE.
bool IsRiffWave(const std::vector<uint8_t>& bytes);

// Fills pcm from a RIFF/WAVE image holding 16-bit mono integer PCM. A data
// chunk that claims more bytes than the file holds (a recording cut short, or
// a streaming writer's placeholder size) yields the whole samples present.
// False with error set when the image is not such a file.
bool ReadRiffWave(const std::vector<uint8_t>& bytes, MonoPcm& pcm, std::string& error);

// 16-bit little-endian samples of a raw PCM image; a trailing odd byte is
// not a sample and is ignored.
std::vector<int16_t> RawPcmSamples(const uint8_t* bytes, size_t byteCount);

}  // namespace kvdpeer

#endif  // KVD_PEER_RIFF_WAVE_H
