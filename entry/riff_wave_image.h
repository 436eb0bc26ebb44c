// Reading 16-bit mono PCM out of a RIFF/WAVE file image, shared by
// GetMuteEnd's wave reader and the kvd program: the chunks are walked (in any
// order, odd-sized chunks padded), so "fmt " and "data" are found wherever
// they lie; the format is PCM or WAVE_FORMAT_EXTENSIBLE with a PCM
// subformat. Only what the engine can analyse is accepted: 16-bit mono at
// kLowestAnalysedRateHz or more. Every refusal is a reason that reads after
// the file's name ("x.wav has 2 channels; the engine needs mono").
#ifndef KVD_ENTRY_RIFF_WAVE_IMAGE_H
#define KVD_ENTRY_RIFF_WAVE_IMAGE_H

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// Lowest sample rate the engine analyses, in Hz.
constexpr int32_t kLowestAnalysedRateHz = 8000;

struct PcmRecording {
  int32_t rate = 0;              // Hz
  std::vector<int16_t> samples;  // mono
};

// True when bytes start with a RIFF header of form WAVE.
bool IsRiffWaveImage(const std::vector<uint8_t>& bytes);

// Fills recording from a RIFF/WAVE image. Returns an empty text, or the
// reason the image is refused (recording is then left partly filled).
std::string ParseRiffWaveImage(const std::vector<uint8_t>& bytes, PcmRecording& recording);

// Little-endian 16-bit samples from size bytes at data into recording;
// refuses an odd size and more than 2^31 - 1 samples.
std::string TakePcmSamples(const uint8_t* data, size_t size, PcmRecording& recording);

// Empty when rate (Hz) is one the engine analyses, else the reason.
std::string CheckAnalysedRate(uint32_t rate);

#endif  // KVD_ENTRY_RIFF_WAVE_IMAGE_H
