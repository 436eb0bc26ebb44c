// The kvd program's reader of recordings: RIFF/WAVE files (read as
// GetMuteEnd reads them, entry/riff_wave_image.h) and raw 16-bit
// little-endian PCM at a rate the user names.
// Only what the engine can analyse is accepted: 16-bit mono at 8000 Hz or
// more; anything else is refused with a message that says why.
#ifndef KVD_TOOLS_KVD_AUDIO_FILE_H
#define KVD_TOOLS_KVD_AUDIO_FILE_H

#include <cstdint>
#include <string>
#include <vector>

#include "entry/riff_wave_image.h"

namespace kvdtool {

// Lowest sample rate the engine analyses, in Hz.
constexpr int32_t kLowestRateHz = kLowestAnalysedRateHz;

struct AudioFile {
  int32_t rate = 0;              // Hz
  std::vector<int16_t> samples;  // mono
};

// Reads path. A file that starts with a RIFF/WAVE header is read as a wave
// file whatever its name; any other file is raw PCM at rawRate Hz, and is
// refused when rawRate is 0 (not given). Returns an empty text and fills
// audio, or returns the reason the file was refused (without the path).
std::string ReadAudioFile(const std::string& path, int32_t rawRate, AudioFile& audio);

// The same on bytes already in memory (the reader's core, also for tests).
std::string ParseAudioBytes(const std::vector<uint8_t>& bytes, int32_t rawRate, AudioFile& audio);

}  // namespace kvdtool

#endif  // KVD_TOOLS_KVD_AUDIO_FILE_H
