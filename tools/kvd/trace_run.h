// The analysis of one recording for `kvd trace`: every online frame's values
// from the engine's trace hook, the online decisions and, in the offline
// modes, the segments of a second, offline run.
#ifndef KVD_TOOLS_KVD_TRACE_RUN_H
#define KVD_TOOLS_KVD_TRACE_RUN_H

#include <cstdint>
#include <string>
#include <vector>

#include "pipeline/frame_trace.h"
#include "tools/kvd/audio_file.h"
#include "tools/kvd/detection.h"
#include "tools/kvd/options.h"

namespace kvdtool {

struct Trace {
  AudioFile audio;
  int32_t frameShift = 0;               // samples between frames, at the configuration's rate
  std::vector<FrameTrace> frames;       // every analysed online frame, frame k at index k
  std::vector<float> pitchHz;           // per frame: settled pitch, 0 unvoiced, -1 not settled
  Detection online;                     // the traced online run
  Detection decisions;                  // the run of the requested mode (== online when online)
};

// Runs the traced online analysis and, when the requested mode is offline or
// multi, the offline run. Returns an empty text, or the reason it failed;
// engineStartFailed tells a configuration the engine refused from a file
// that could not be processed.
std::string RunTrace(const TraceOptions& options, Trace& trace, bool& engineStartFailed);

}  // namespace kvdtool

#endif  // KVD_TOOLS_KVD_TRACE_RUN_H
