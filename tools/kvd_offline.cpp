// kvd-offline recording.wav|.pcm [--config kvd.cfg]
//
// Runs one whole recording (16-bit mono PCM at the configuration's
// SampleRate; a ".wav" file loses its 44-byte header, any other file is raw
// PCM) through one line of the engine in the offline mode the configuration
// selects (IsOnline=0; IsOneSeg=1 one segment, IsOneSeg=0 every segment) and
// prints the segment or segments in ms, for example
//
//   segment 1: 1530 ms .. 6670 ms
//
// The companion file kvd_offline.cfg must lie beside the configuration.
// Engine messages go to the log files of LogClt.cfg (logs/ in the current
// directory), not to the console. Exit status 0, 1 for bad arguments, 2 when
// the engine refuses the configuration or the recording.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "engine/kvd_api.h"
#include "entry/wave_reader.h"
#include "kvd/tprintf.h"

namespace {

struct Options {
  std::string config = "kvd.cfg";
  std::string recording;
};

bool ParseOptions(int argc, char** argv, Options& options) {
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--config" && i + 1 < argc) {
      options.config = argv[++i];
    } else if (options.recording.empty() && arg.rfind("--", 0) != 0) {
      options.recording = arg;
    } else {
      return false;
    }
  }
  return !options.recording.empty();
}

int32_t IntegerParameter(int32_t line, const char* name) {
  char value[kConfigLineBytes] = "";
  KVD_GetParameter(line, name, value);
  return std::atoi(value);
}

long long Milliseconds(int32_t samples, int32_t sampleRate) {
  return static_cast<long long>(samples) * 1000 / sampleRate;
}

int32_t RunOneSegment(int32_t line, const WaveEntry& wave, int32_t sampleRate) {
  int32_t state = before_speech;
  int32_t start = -1;
  int32_t end = -1;
  int32_t processed = 0;
  const int32_t result =
      KVD_DetectSpeech(line, wave.samples, wave.sampleCount, &state, &start, &end, &processed);
  if (result != KVD_OK) return result;
  if (state == speech_end) {
    std::printf("segment 1: %lld ms .. %lld ms\n", Milliseconds(start, sampleRate),
                Milliseconds(end, sampleRate));
  } else {
    std::printf("no speech segment\n");
  }
  return KVD_OK;
}

int32_t RunMultiSegment(int32_t line, const WaveEntry& wave, int32_t sampleRate) {
  const int32_t entries = std::max(IntegerParameter(line, "MaxSegNum"), 1);
  std::vector<int32_t> starts(static_cast<size_t>(entries), 0);
  std::vector<int32_t> ends(static_cast<size_t>(entries), 0);
  int32_t state = before_speech;
  int32_t processed = 0;
  const int32_t result = KVD_DetectSpeech(line, wave.samples, wave.sampleCount, &state,
                                          starts.data(), ends.data(), &processed);
  if (result != KVD_OK) return result;
  if (state != speech_end) {
    std::printf("no speech segment (no dynamic range)\n");
    return KVD_OK;
  }
  int32_t shown = 0;
  for (int32_t k = 0; k < entries && ends[static_cast<size_t>(k)] > 0; ++k) {
    std::printf("segment %d: %lld ms .. %lld ms\n", ++shown,
                Milliseconds(starts[static_cast<size_t>(k)], sampleRate),
                Milliseconds(ends[static_cast<size_t>(k)], sampleRate));
  }
  if (shown == 0) std::printf("no speech segment\n");
  return KVD_OK;
}

}  // namespace

int main(int argc, char** argv) {
  Options options;
  if (!ParseOptions(argc, argv, options)) {
    std::fprintf(stderr, "usage: kvd-offline recording.wav|.pcm [--config kvd.cfg]\n");
    return 1;
  }
  WaveTable table;
  ReadWaveList(options.recording.c_str(), table);
  KES_EnableLogInConsole(false);
  int32_t result = KVD_Init(options.config.c_str(), 1);
  int32_t line = -1;
  if (result == KVD_OK) result = KVD_Open(&line);
  if (result == KVD_OK) result = KVD_Start(line);
  if (result == KVD_OK && table.entryCount == 1) {
    const int32_t sampleRate = IntegerParameter(line, "SampleRate");
    if (IntegerParameter(line, "IsOnLine") == 1 && IntegerParameter(line, "IsOneSeg") == 1) {
      std::fprintf(stderr, "kvd-offline: %s selects online detection (IsOnline=1)\n",
                   options.config.c_str());
      result = KVD_ERR_CONFIG;
    } else if (IntegerParameter(line, "IsOneSeg") == 1) {
      result = RunOneSegment(line, table.entries[0], sampleRate);
    } else {
      result = RunMultiSegment(line, table.entries[0], sampleRate);
    }
  }
  if (line >= 0) {
    KVD_Stop(line);
    KVD_Close(line);
  }
  KVD_Exit();
  ReleaseWaveTable(table);
  if (result != KVD_OK) {
    std::fprintf(stderr, "kvd-offline: engine error %d (see logs/)\n", result);
    return 2;
  }
  return 0;
}
