// The engine for one run of the kvd program: one KVD_Init from the chosen
// configuration (its mode keys replaced when --mode is given), with as many
// lines as jobs, and what the configuration says about rate and mode.
#ifndef KVD_TOOLS_KVD_ENGINE_SETUP_H
#define KVD_TOOLS_KVD_ENGINE_SETUP_H

#include <cstdint>
#include <string>

#include "tools/kvd/options.h"

namespace kvdtool {

// The configuration used without --config: kvd.cfg beside the library that
// the program was installed with (<prefix>/<libdir>/kvd.cfg next to
// <prefix>/bin/kvd, also build/lib/kvd.cfg in a build tree). Empty when none
// is there.
std::string DefaultConfigPath();

// What a started engine does; mode is never FromConfig.
struct EngineSettings {
  std::string configPath;
  Mode mode = Mode::Offline;
  int32_t sampleRate = 0;   // Hz, the configuration's SampleRate
  int32_t maxSegments = 0;  // entries of a multi-segment list (MaxSegNum)
};

// Runs KVD_Init for lines lines; sampleRate (Hz), when not 0, replaces the
// configuration's SampleRate, so that a recording is analysed at its own
// rate. Returns an empty text and fills settings, or the reason the engine
// could not be started (the engine is then ended).
std::string StartEngine(const EngineOptions& options, int32_t lines, EngineSettings& settings,
                        int32_t sampleRate = 0);

// Releases the engine's lines (KVD_Exit).
void StopEngine();

// Text of an engine result code, e.g. "configuration error (-92)".
std::string EngineErrorText(int32_t code);

// Where the engine's own messages go (they are kept off the console).
extern const char* const kEngineLogHint;

}  // namespace kvdtool

#endif  // KVD_TOOLS_KVD_ENGINE_SETUP_H
