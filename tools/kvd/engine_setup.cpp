#include "tools/kvd/engine_setup.h"

#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <utility>

#include "engine/kvd_api.h"
#include "kvd/tprintf.h"

namespace kvdtool {
namespace fs = std::filesystem;

const char* const kEngineLogHint = "the engine's messages are in its log (logs/VOLA2.log by default)";

namespace {

// The companion file the engine reads beside a configuration "x.cfg".
fs::path CompanionOf(const fs::path& config) {
  fs::path companion = config;
  companion.replace_filename(config.stem().string() + "_offline.cfg");
  return companion;
}

// A copy of the configuration (and its companion file) in a fresh temporary
// folder, with the mode keys of the options (unless FromConfig) and
// SampleRate (unless 0) placed first so that they win over the file's own.
// Returns the copy's path, or empty with error set.
fs::path WriteOverride(const fs::path& config, const EngineOptions& options, int32_t sampleRate,
                       fs::path& folder, std::string& error) {
  const Mode mode = options.mode;
  std::ifstream original(config);
  if (!original) {
    error = "cannot read the configuration " + config.string();
    return {};
  }
  char folderTemplate[] = "/tmp/kvd-config-XXXXXX";
  if (mkdtemp(folderTemplate) == nullptr) {
    error = "cannot make a temporary folder for the configuration";
    return {};
  }
  folder = folderTemplate;
  const fs::path copy = folder / "kvd.cfg";
  std::ofstream out(copy);
  if (mode != Mode::FromConfig)
    out << "IsOnline = " << (mode == Mode::Online ? 1 : 0) << "\n"
        << "IsOneSeg = " << (mode == Mode::Multi ? 0 : 1) << "\n";
  if (options.detector != Detector::FromConfig)
    out << "DecisionMode = "
        << (options.detector == Detector::Enhanced ? "enhanced" : "specified") << "\n";
  if (sampleRate != 0) out << "SampleRate = " << sampleRate << "\n";
  out << original.rdbuf();
  std::error_code ignored;
  if (fs::exists(CompanionOf(config), ignored))
    fs::copy_file(CompanionOf(config), CompanionOf(copy), ignored);
  if (!out.flush()) {
    error = "cannot write a temporary copy of the configuration";
    return {};
  }
  return copy;
}

int32_t IntegerParameter(int32_t line, const char* name) {
  char value[kConfigLineBytes] = "";
  KVD_GetParameter(line, name, value);
  return std::atoi(value);
}

// Mode, rate and list size as the engine read them, from a line opened and
// closed again.
std::string ReadSettings(EngineSettings& settings) {
  int32_t line = -1;
  const int32_t result = KVD_Open(&line);
  if (result != KVD_OK) return "the engine cannot open a line: " + EngineErrorText(result);
  settings.sampleRate = IntegerParameter(line, "SampleRate");
  settings.maxSegments = IntegerParameter(line, "MaxSegNum");
  // The routing of KVD_DetectSpeech: IsOneSeg 0 is multi-segment whatever IsOnline says.
  if (IntegerParameter(line, "IsOneSeg") != 1) settings.mode = Mode::Multi;
  else if (IntegerParameter(line, "IsOnLine") != 1) settings.mode = Mode::Offline;
  else settings.mode = Mode::Online;
  KVD_Close(line);
  return std::string();
}

}  // namespace

std::string DefaultConfigPath() {
  std::error_code error;
  const fs::path program = fs::read_symlink("/proc/self/exe", error);
  if (error) return std::string();
  const fs::path prefix = program.parent_path().parent_path();
  for (const fs::path& candidate :
       {prefix / KVD_INSTALL_LIBDIR / "kvd.cfg", prefix / "lib" / "kvd.cfg"}) {
    if (fs::is_regular_file(candidate, error)) return candidate.string();
  }
  return std::string();
}

std::string StartEngine(const EngineOptions& options, int32_t lines, EngineSettings& settings,
                        int32_t sampleRate) {
  settings = EngineSettings();
  settings.configPath = options.config.empty() ? DefaultConfigPath() : options.config;
  if (settings.configPath.empty())
    return "no configuration given and none installed beside the library; use --config FILE";
  std::error_code error;
  if (!fs::is_regular_file(settings.configPath, error))
    return "the configuration " + settings.configPath + " does not exist";
  std::string problem;
  fs::path overrideFolder;
  fs::path enginePath = settings.configPath;
  if (options.mode != Mode::FromConfig || options.detector != Detector::FromConfig ||
      sampleRate != 0) {
    enginePath = WriteOverride(settings.configPath, options, sampleRate, overrideFolder, problem);
  }
  if (problem.empty()) {
    // The engine logs to its files only: standard output carries results.
    KES_EnableLogInConsole(false);
    const int32_t result = KVD_Init(enginePath.c_str(), lines);
    if (result != KVD_OK) {
      problem = "the engine refused the configuration " + settings.configPath + ": " +
                EngineErrorText(result) + "; " + kEngineLogHint;
    }
  }
  if (!overrideFolder.empty()) fs::remove_all(overrideFolder, error);
  if (problem.empty()) problem = ReadSettings(settings);
  if (!problem.empty()) StopEngine();
  return problem;
}

void StopEngine() { KVD_Exit(); }

std::string EngineErrorText(int32_t code) {
  static const std::pair<int32_t, const char*> kTexts[] = {
      {KVD_ERR_OFFLINE, "offline memory failure or too many segments"},
      {KVD_ERR_BAD_DATA, "bad data or a failed frame step"},
      {KVD_ERR_FFT_RELEASE, "FFT specification not released"},
      {KVD_ERR_CONFIG, "configuration error"},
      {KVD_ERR_REINIT, "re-initialisation failed"},
      {KVD_ERR_LINE_BUILD, "too many lines, or a line failed to build"},
      {KVD_ERR_NOT_STARTED, "line not started"},
      {KVD_ERR_NOT_OPEN, "line not open"},
      {KVD_ERR_NOT_INITIALISED, "engine not initialised"},
      {KVD_ERR_BAD_LINE, "bad line"},
      {KVD_ERR_LOW_SAMPLE_RATE, "sample rate below 8000 Hz"},
      {KVD_ERR_NO_FREE_LINE, "no free line"},
  };
  const char* text = "unknown failure";
  for (const auto& entry : kTexts) {
    if (entry.first == code) text = entry.second;
  }
  return std::string(text) + " (" + std::to_string(code) + ")";
}

}  // namespace kvdtool
