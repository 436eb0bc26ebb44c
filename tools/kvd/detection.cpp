#include "tools/kvd/detection.h"

#include <algorithm>

#include "engine/kvd_api.h"
#include "tools/kvd/audio_file.h"
#include "tools/kvd/engine_setup.h"

namespace kvdtool {
namespace {

// The state of a multi-segment call whose list overflowed.
constexpr int32_t kListOverflowState = 2;

bool Finished(int32_t state) {
  return state == speech_end || state == speech_too_long || state == speech_too_short;
}

int32_t DetectOneSegment(int32_t line, const AudioFile& audio, Detection& result) {
  int32_t processed = 0;
  int32_t start = -1;
  int32_t end = -1;
  const int32_t code = KVD_DetectSpeech(line, audio.samples.data(), result.samples,
                                        &result.state, &start, &end, &processed);
  if (code == KVD_OK && result.state == speech_end) result.segments.push_back({start, end});
  return code;
}

int32_t DetectSegments(int32_t line, const EngineSettings& settings, const AudioFile& audio,
                       Detection& result) {
  const size_t entries = static_cast<size_t>(std::max(settings.maxSegments, 1));
  std::vector<int32_t> starts(entries, 0);
  std::vector<int32_t> ends(entries, 0);
  int32_t processed = 0;
  const int32_t code = KVD_DetectSpeech(line, audio.samples.data(), result.samples, &result.state,
                                        starts.data(), ends.data(), &processed);
  if (code == KVD_ERR_OFFLINE && result.state == kListOverflowState) {
    result.error = result.file + " holds more speech segments than the list takes (MaxSegNum " +
                   std::to_string(settings.maxSegments) + " holds " +
                   std::to_string(settings.maxSegments - 1) + ")";
    return KVD_OK;
  }
  if (code != KVD_OK) return code;
  // The segments come first; an entry without a positive end closes the list.
  for (size_t k = 0; k < entries && ends[k] > 0; ++k) result.segments.push_back({starts[k], ends[k]});
  result.state = result.segments.empty() ? before_speech : speech_end;
  return KVD_OK;
}

int32_t StreamOnline(int32_t line, const AudioFile& audio, int32_t chunk, Detection& result) {
  int32_t state = before_speech;
  int32_t position = 0;
  const int32_t total = result.samples;
  for (int64_t offset = 0; offset < total && !Finished(state); offset += chunk) {
    const auto count = static_cast<int32_t>(std::min<int64_t>(chunk, total - offset));
    const int32_t code = KVD_DetectSpeech(line, audio.samples.data() + offset, count, &state,
                                          &result.start, &result.end, &position);
    if (code != KVD_OK) return code;
    if (state != result.state) result.events.push_back({position, state});
    result.state = state;
  }
  if (result.start >= 0) result.segments.push_back({result.start, result.end >= 0 ? result.end : total});
  return KVD_OK;
}

}  // namespace

Detection DetectFile(int32_t line, const EngineSettings& settings, const EngineOptions& options,
                     const std::string& path) {
  AudioFile audio;
  const std::string problem = ReadAudioFile(path, options.rawRate, audio);
  if (problem.empty()) return DetectAudio(line, settings, options, path, audio);
  Detection result;
  result.file = path;
  result.error = path + " " + problem;
  return result;
}

Detection DetectAudio(int32_t line, const EngineSettings& settings, const EngineOptions& options,
                      const std::string& path, const AudioFile& audio) {
  Detection result;
  result.file = path;
  result.mode = settings.mode;
  if (audio.samples.empty()) {
    result.error = path + " holds no audio samples";
    return result;
  }
  result.rate = audio.rate;
  result.samples = static_cast<int32_t>(audio.samples.size());
  if (audio.rate != settings.sampleRate) {
    // Samples at another rate would be timed and filtered wrongly.
    result.error = path + " is at " + std::to_string(audio.rate) + " Hz but the engine runs at " +
                   std::to_string(settings.sampleRate) + " Hz";
    return result;
  }
  int32_t code = KVD_Start(line);
  if (code == KVD_OK) {
    if (settings.mode == Mode::Online) code = StreamOnline(line, audio, options.chunk, result);
    else if (settings.mode == Mode::Offline) code = DetectOneSegment(line, audio, result);
    else code = DetectSegments(line, settings, audio, result);
  }
  KVD_Stop(line);
  if (code != KVD_OK) {
    result.engineFailed = true;
    result.error = path + ": the engine failed: " + EngineErrorText(code) + "; " + kEngineLogHint;
  }
  return result;
}

const char* StateName(int32_t state) {
  static const char* const kNames[] = {"idle",      "before_speech",   "in_speech",
                                       "speech_end", "no_speech",      "speech_too_long",
                                       "speech_too_short"};
  return state >= 0 && state <= speech_too_short ? kNames[state] : "unknown";
}

}  // namespace kvdtool
