// Command lines of `kvd detect` and `kvd trace`: what the user asked for, or
// why the command line is refused.
#ifndef KVD_TOOLS_KVD_OPTIONS_H
#define KVD_TOOLS_KVD_OPTIONS_H

#include <cstdint>
#include <string>
#include <vector>

namespace kvdtool {

// Detection mode; FromConfig keeps the configuration's IsOnline/IsOneSeg.
enum class Mode { FromConfig, Online, Offline, Multi };
enum class Format { Text, Json, Csv, Labels };
// Decision mode; FromConfig keeps the configuration's DecisionMode.
enum class Detector { FromConfig, Specified, Enhanced };

// Samples per detection call in online mode unless --chunk says otherwise
// (20 ms at 8000 Hz).
constexpr int32_t kDefaultChunkSamples = 160;

// Options both commands share.
struct EngineOptions {
  Mode mode = Mode::FromConfig;
  Detector detector = Detector::FromConfig;
  std::string config;  // empty: the configuration installed beside the library
  int32_t chunk = kDefaultChunkSamples;
  int32_t rawRate = 0;  // Hz of raw PCM files; 0: raw files are refused
};

struct DetectOptions {
  EngineOptions engine;
  int32_t jobs = 1;
  Format format = Format::Text;
  std::vector<std::string> files;
};

struct TraceOptions {
  EngineOptions engine;
  std::string file;
  std::string svgPath;  // empty: no SVG
  std::string csvPath;  // empty: no per-frame CSV
};

// Outcome of parsing: run, show the help text, or refuse (error says why).
enum class ParseStatus { Run, Help, Error };

template <typename Options>
struct Parsed {
  ParseStatus status = ParseStatus::Run;
  std::string error;
  Options options;
};

// args: the words after the command name ("detect" / "trace").
Parsed<DetectOptions> ParseDetectOptions(const std::vector<std::string>& args);
Parsed<TraceOptions> ParseTraceOptions(const std::vector<std::string>& args);

const char* ModeName(Mode mode);

}  // namespace kvdtool

#endif  // KVD_TOOLS_KVD_OPTIONS_H
