// One recording through one engine line: the online events or the offline
// segments, in samples of the recording.
#ifndef KVD_TOOLS_KVD_DETECTION_H
#define KVD_TOOLS_KVD_DETECTION_H

#include <cstdint>
#include <string>
#include <vector>

#include "tools/kvd/options.h"

namespace kvdtool {

struct AudioFile;
struct EngineSettings;

// A change of the line's state, reported by the call that reached position.
struct StateEvent {
  int32_t position = 0;  // samples streamed when the change was reported
  int32_t state = 0;     // DetectState after the change
};

// A segment from its first to its last sample (offline), or from the
// reported start to the reported end, or the end of the recording when no
// end was reported (online).
struct Segment {
  int32_t start = 0;
  int32_t end = 0;
};

struct Detection {
  std::string file;
  std::string error;     // not empty: the file was not processed, for this reason
  std::string warning;   // not empty: processed, with this reservation
  bool engineFailed = false;  // the engine refused a call: the line may be broken
  int32_t rate = 0;      // Hz of the recording
  int32_t samples = 0;   // samples of the recording
  Mode mode = Mode::Offline;
  int32_t state = 1;     // online: final DetectState; offline: 3 segment(s) found, 1 none
  int32_t start = -1;    // online: reported start in samples, -1 none
  int32_t end = -1;      // online: reported end in samples, -1 none
  std::vector<StateEvent> events;  // online only
  std::vector<Segment> segments;
};

// Reads path and runs it through line (open, not started); the line is
// started for the run and stopped after it. Never throws; failures are in
// result.error.
Detection DetectFile(int32_t line, const EngineSettings& settings, const EngineOptions& options,
                     const std::string& path);

// Streams the audio through a started online line in chunks of chunk
// samples. Returns 0 or the engine's failure.
int32_t StreamOnline(int32_t line, const AudioFile& audio, int32_t chunk, Detection& result);

// Name of a detection state as the outputs write it ("speech_end").
const char* StateName(int32_t state);

}  // namespace kvdtool

#endif  // KVD_TOOLS_KVD_DETECTION_H
