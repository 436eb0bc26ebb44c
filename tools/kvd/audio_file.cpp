#include "tools/kvd/audio_file.h"

#include <filesystem>
#include <fstream>
#include <iterator>
#include <utility>

#include "entry/riff_wave_image.h"

namespace kvdtool {

std::string ParseAudioBytes(const std::vector<uint8_t>& bytes, int32_t rawRate, AudioFile& audio) {
  audio = AudioFile();
  PcmRecording recording;
  std::string problem;
  if (IsRiffWaveImage(bytes)) {
    problem = ParseRiffWaveImage(bytes, recording);
  } else if (rawRate == 0) {
    return "is not a RIFF/WAVE file; give --rate HZ to read it as raw 16-bit PCM";
  } else {
    problem = CheckAnalysedRate(static_cast<uint32_t>(rawRate));
    if (problem.empty()) problem = TakePcmSamples(bytes.data(), bytes.size(), recording);
    recording.rate = rawRate;
  }
  if (!problem.empty()) return problem;
  audio.rate = recording.rate;
  audio.samples = std::move(recording.samples);
  return std::string();
}

std::string ReadAudioFile(const std::string& path, int32_t rawRate, AudioFile& audio) {
  std::error_code error;
  if (std::filesystem::is_directory(path, error)) return "is a folder, not a recording";
  std::ifstream file(path, std::ios::binary);
  if (!file) return "cannot be opened";
  std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(file)),
                             std::istreambuf_iterator<char>());
  if (file.bad()) return "cannot be read";
  return ParseAudioBytes(bytes, rawRate, audio);
}

}  // namespace kvdtool
