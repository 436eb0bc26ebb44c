// kvd-stream [--config kvd.cfg] [--chunk N] <recording.wav|.pcm>
//
// Streams one recording (16-bit mono PCM at the configuration's SampleRate,
// little endian; a ".wav" file loses its 44-byte header, any other file is
// raw PCM) through one line of the engine in chunks of N samples (default
// 160) and prints every state change with its time in ms, for example
//
//      1020 ms  no_speech
//      1700 ms  in_speech  start 1540 ms
//      7480 ms  speech_end  end 6710 ms
//
// The time of a change is the stream position the reporting call reached;
// start and end are the positions the engine reports. The configuration
// must select online detection (IsOnline=1, IsOneSeg=1). Engine messages go
// to the log files of LogClt.cfg (logs/ in the current directory), not to
// the console. Exit status 0, 1 for bad arguments or an unreadable file,
// 2 when the engine refuses the configuration or a call.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "engine/kvd_api.h"
#include "kvd/tprintf.h"

namespace {

constexpr int32_t kDefaultChunkSamples = 160;
constexpr size_t kWaveHeaderBytes = 44;

struct Options {
  std::string config = "kvd.cfg";
  int32_t chunk = kDefaultChunkSamples;
  std::string recording;
};

bool ParseOptions(int argc, char** argv, Options& options) {
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--config" && i + 1 < argc) {
      options.config = argv[++i];
    } else if (arg == "--chunk" && i + 1 < argc) {
      options.chunk = std::atoi(argv[++i]);
      if (options.chunk <= 0) return false;
    } else if (options.recording.empty() && arg.rfind("--", 0) != 0) {
      options.recording = arg;
    } else {
      return false;
    }
  }
  return !options.recording.empty();
}

bool ReadRecording(const std::string& path, std::vector<int16_t>& samples) {
  std::ifstream file(path, std::ios::binary);
  if (!file) return false;
  std::vector<char> bytes((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
  size_t offset = 0;
  if (path.size() >= 4 && path.compare(path.size() - 4, 4, ".wav") == 0)
    offset = std::min(bytes.size(), kWaveHeaderBytes);
  samples.resize((bytes.size() - offset) / 2);
  for (size_t i = 0; i < samples.size(); ++i) {
    const auto low = static_cast<uint8_t>(bytes[offset + 2 * i]);
    const auto high = static_cast<uint8_t>(bytes[offset + 2 * i + 1]);
    samples[i] = static_cast<int16_t>(static_cast<uint16_t>(low | (high << 8)));
  }
  return true;
}

const char* StateName(int32_t state) {
  static const char* const kNames[] = {
      "idle",      "before_speech",   "in_speech",       "speech_end",
      "no_speech", "speech_too_long", "speech_too_short"};
  return state >= 0 && state <= 6 ? kNames[state] : "unknown";
}

int64_t Milliseconds(int32_t samples, int32_t sampleRate) {
  return static_cast<int64_t>(samples) * 1000 / sampleRate;
}

// Streams the samples through a started line; prints each state change.
// Returns the first failing result, or 0.
int32_t Stream(int32_t line, const std::vector<int16_t>& samples, int32_t chunk,
               int32_t sampleRate) {
  int32_t state = 1;
  int32_t start = -1;
  int32_t end = -1;
  int32_t position = 0;
  int32_t shownState = state;
  const auto total = static_cast<int32_t>(samples.size());
  for (int32_t offset = 0; offset < total; offset += chunk) {
    const int32_t count = std::min(chunk, total - offset);
    const int32_t result =
        KVD_DetectSpeech(line, samples.data() + offset, count, &state, &start, &end, &position);
    if (result != 0) return result;
    if (state == shownState) continue;
    std::printf("%8lld ms  %s", static_cast<long long>(Milliseconds(position, sampleRate)),
                StateName(state));
    if (state == in_speech)
      std::printf("  start %lld ms", static_cast<long long>(Milliseconds(start, sampleRate)));
    if (end >= 0)
      std::printf("  end %lld ms", static_cast<long long>(Milliseconds(end, sampleRate)));
    std::printf("\n");
    shownState = state;
  }
  std::printf("final: %s, start %lld ms, end %lld ms, %lld ms streamed\n", StateName(state),
              static_cast<long long>(start < 0 ? -1 : Milliseconds(start, sampleRate)),
              static_cast<long long>(end < 0 ? -1 : Milliseconds(end, sampleRate)),
              static_cast<long long>(Milliseconds(total, sampleRate)));
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  Options options;
  if (!ParseOptions(argc, argv, options)) {
    std::fprintf(stderr, "usage: kvd-stream [--config kvd.cfg] [--chunk N] recording.wav|.pcm\n");
    return 1;
  }
  std::vector<int16_t> samples;
  if (!ReadRecording(options.recording, samples)) {
    std::fprintf(stderr, "kvd-stream: cannot read %s\n", options.recording.c_str());
    return 1;
  }
  KES_EnableLogInConsole(false);
  int32_t result = KVD_Init(options.config.c_str(), 1);
  int32_t line = -1;
  if (result == 0) result = KVD_Open(&line);
  if (result == 0) result = KVD_Start(line);
  char rate[256] = "";
  if (result == 0) KVD_GetParameter(line, "SampleRate", rate);
  const int32_t sampleRate = std::atoi(rate);
  if (result == 0) {
    result = sampleRate > 0 ? Stream(line, samples, options.chunk, sampleRate) : KVD_ERR_CONFIG;
  }
  if (line >= 0) {
    KVD_Stop(line);
    KVD_Close(line);
  }
  KVD_Exit();
  if (result != 0) {
    std::fprintf(stderr, "kvd-stream: engine error %d (see logs/)\n", result);
    return 2;
  }
  return 0;
}
