// KVD_Init: reads kvd.cfg (and, for offline detection, kvd_offline.cfg
// beside it) and builds the line table with every line configured alike.
#include <kvd/tprintf.h>

#include <mutex>
#include <string>

#include "engine/config_limits.h"
#include "engine/config_reader.h"
#include "engine/config_values.h"
#include "engine/kvd_api.h"
#include "engine/line_table.h"
#include "engine/speech_detector.h"
#include "engine/standalone_config.h"

namespace {

constexpr int32_t kLowestSampleRateHz = 8000;

// Keys of the main file set through SpeechDetector::SetParameter, in the
// order they are read (MaxSilence before MaxHoldFrame, which is checked
// against it).
const char* const kMainKeys[] = {
    "MinSpeechDuration", "MaxSpeechDuration", "MaxSilence",    "MaxWaitFrame",
    "Sensitivity",       "stRelaxFrames",     "edRelaxFrames", "AverageGain",
    "MaxHoldFrame",      "FastMode",          "UseCheckDTMF",
};

// Keys of the companion file, in the order they are read.
const char* const kOfflineKeys[] = {
    "ShortSpeechSegEnergyThd",
    "BackgroundEnergyOffline",
    "DetectSpecLowBorder_Hz",
    "DetectSpecHighBorder_Hz",
    "CommonSpeechSegLen_sec",
    "ShortSpeechSegLen_sec",
    "CommonSpeechSegEnergyThd",
    "ExtendSpeechLen_sec",
    "SpeechSegMinVoiceLen_sec",
    "SpeechSegMinVoiceRatio",
    "MaxSegNum",
    "DefaultSpeech",
    "MinSignalLen",
    "BakgroundEnergyRelativeOffline",
    "DelShortSpeechSegLen_sec",
    "DelShortSpeechSideNoiseLen_sec",
};

// The companion file replaces the main file's ".cfg" (any case).
constexpr char kMainSuffix[] = ".cfg";
constexpr char kCompanionSuffix[] = "_offline.cfg";

// Mode values last read by KVD_Init, engine-wide.
struct EngineModes {
  int32_t IsOnline = 0;
  int32_t IsOneSeg = 0;
  bool OpenAllLines = true;
};
EngineModes engineModes;

// The detector a configuration pass writes when it configures one
// stand-alone detector (a stream handle's) instead of every line of the
// table; null while KVD_Init configures the table.
SpeechDetector* standaloneTarget = nullptr;

// Serialises the passes over the engine-wide configuration file handle:
// KVD_Init and the configuration of stand-alone detectors.
std::mutex configurationMutex;

// Calls visit on every detector the current pass configures.
template <typename Visit>
void ForEachTarget(Visit visit) {
  if (standaloneTarget != nullptr) {
    visit(*standaloneTarget);
  } else {
    ForEachLine(visit);
  }
}

// A missing or malformed key: the lines are freed (lineCount stays), the
// file closed.
int32_t AbortConfiguration() {
  if (standaloneTarget == nullptr) FreeEveryLine();
  CloseConfigFile();
  return KVD_ERR_CONFIG;
}

// Reads a 0/1/true/false mode key into the engine and every line.
int32_t ReadModeSwitch(const char* key, const char* missingText, const char* malformedText,
                       int32_t* engineValue, int32_t SpeechDetector::*lineValue) {
  char value[kConfigLineBytes];
  if (GetConfig(key, value) != KVD_OK) {
    tprintf7("%s\n", missingText);
    return AbortConfiguration();
  }
  if (!ParseStrictSwitch(value, engineValue)) {
    tprintf7("%s\n", malformedText);
    return AbortConfiguration();
  }
  ForEachTarget([&](SpeechDetector& line) { line.*lineValue = *engineValue; });
  return KVD_OK;
}

// The optional DecisionMode key of the main file: absent or "specified"
// keeps the energy and voice detectors, "enhanced" selects the learned
// detector (any letter case).
int32_t ReadDecisionMode() {
  char value[kConfigLineBytes];
  bool enhancedMode = false;
  if (FindConfig("DecisionMode", value)) {
    enhancedMode = EqualsIgnoringCase(value, "enhanced");
    if (!enhancedMode && !EqualsIgnoringCase(value, "specified")) {
      tprintf7("%s\n", "DecisionMode should be specified or enhanced!");
      return AbortConfiguration();
    }
  }
  bool built = true;
  ForEachTarget(
      [&](SpeechDetector& line) { built = line.SelectDecisionMode(enhancedMode) && built; });
  return built ? KVD_OK : AbortConfiguration();
}

// Once its high border is set, the detection band of every line must hold
// at least one FFT bin: an empty or reversed band has no energy to detect.
bool BandHoldsABin(const char* key) {
  if (!EqualsIgnoringCase(key, "DetectSpecHighBorder_Hz")) {
    return true;
  }
  bool holds = true;
  ForEachTarget([&](SpeechDetector& line) {
    holds = holds && line.DetectSpecHighBorder_Hz > line.DetectSpecLowBorder_Hz;
  });
  if (!holds) {
    tprintf7("DetectSpecHighBorder_Hz should be at least one bin above DetectSpecLowBorder_Hz!\n");
  }
  return holds;
}

// Reads each key from configFile and sets it on every line; a value out of
// its key's range is refused like a missing key.
template <size_t KeyCount>
int32_t SetKeysOnEveryLine(const char* const (&keys)[KeyCount], const ConfigLimits& limits) {
  char value[kConfigLineBytes];
  for (const char* key : keys) {
    if (GetConfig(key, value) != KVD_OK) {
      tprintf7("%s Error in kvd.cfg!\n", key);
      return AbortConfiguration();
    }
    if (!limits.Accept(key, value)) {
      return AbortConfiguration();
    }
    ForEachTarget([&](SpeechDetector& line) { line.SetParameter(key, value); });
    if (!BandHoldsABin(key)) {
      return AbortConfiguration();
    }
  }
  return KVD_OK;
}

// The companion file's path, or empty when the main path does not end in
// ".cfg" (any case). Any path length is accepted.
std::string CompanionPath(const std::string& mainPath) {
  const size_t dot = mainPath.rfind('.');
  if (dot == std::string::npos || !EqualsIgnoringCase(mainPath.c_str() + dot, kMainSuffix)) {
    return std::string();
  }
  return mainPath.substr(0, dot) + kCompanionSuffix;
}

// Offline parameters are read whenever a line can run offline detection:
// in the offline modes, and with IsOneSeg 0, which detection routes to the
// offline multi-segment search even when IsOnline is 1.
bool NeedsCompanionFile() { return engineModes.IsOnline == 0 || engineModes.IsOneSeg == 0; }

int32_t ReadCompanionFile(const char* mainPath, const ConfigLimits& limits) {
  const std::string companionPath = CompanionPath(mainPath);
  if (companionPath.empty()) {
    tprintf7("%s\n", "config file isn't in suffix of .cfg!\n");
    return KVD_ERR_CONFIG;
  }
  configFile = OpenConfigFile(companionPath.c_str(), "r");
  if (configFile == nullptr) {
    tprintf7("%s\n", "Cannot open offline config file! NULL file pointer!\n");
    return KVD_ERR_CONFIG;
  }
  const int32_t result = SetKeysOnEveryLine(kOfflineKeys, limits);
  CloseConfigFile();
  return result;
}

void ReportMode() {
  tprintf7("Set mode from kvd.cfg:");
  if (engineModes.IsOneSeg != 0 && engineModes.IsOnline != 0) {
    tprintf7("check speech/humming in online mode!\n");
  } else if (engineModes.IsOneSeg != 0) {
    tprintf7("check only one speech segment in offline mode!\n");
  } else {
    tprintf7("check multi speech segments in offline mode!\n");
  }
}

// Mode switches, main keys, derived settings and the companion file; the
// main file is open on entry and closed on every return.
int32_t ConfigureLines(const char* mainPath, int32_t sampleRate) {
  const ConfigLimits limits(sampleRate);
  int32_t result = ReadModeSwitch("IsOneSeg", "No IsOneSeg in Config file!",
                                  "IsOneSeg should be 0/1 or true/false!", &engineModes.IsOneSeg,
                                  &SpeechDetector::IsOneSeg);
  if (result != KVD_OK) {
    return result;
  }
  result = ReadModeSwitch("IsOnline", "No IsOnline in Config file!",
                          "IsOnline should be 0/1 or true/false!", &engineModes.IsOnline,
                          &SpeechDetector::IsOnline);
  if (result != KVD_OK) {
    return result;
  }
  result = SetKeysOnEveryLine(kMainKeys, limits);
  if (result != KVD_OK) {
    return result;
  }
  result = ReadDecisionMode();
  if (result != KVD_OK) {
    return result;
  }
  ForEachTarget([](SpeechDetector& line) { line.ApplySensitivity(); });
  ForEachTarget([](SpeechDetector& line) { line.ApplyAverageGain(); });
  CloseConfigFile();

  if (NeedsCompanionFile()) {
    result = ReadCompanionFile(mainPath, limits);
    if (result != KVD_OK) {
      return result;
    }
  }
  ReportMode();
  return KVD_OK;
}

}  // namespace

int32_t KVD_Init(const char* configPath, int32_t lineCount) {
  const std::lock_guard<std::mutex> lock(configurationMutex);
  if (LineCount() != 0) {
    tprintf2("KVD_Init warning!\n%d lines have been used!\n", LineCount());
  }
  if (lineCount > kMaxLines) {
    tprintf7("KVD_Init error! Too many lines! The system only can initialize %d lines!\n",
             kMaxLines);
    return KVD_ERR_LINE_BUILD;
  }
  if (configPath == nullptr) {
    tprintf7("%s\n", "Cannot open config file! NULL file name!\n");
    return KVD_ERR_CONFIG;
  }

  configFile = OpenConfigFile(configPath, "r");
  char value[kConfigLineBytes];
  if (GetConfig("SampleRate", value) != KVD_OK) {
    tprintf7("Config error! No SampleRate item in config file!\n");
    CloseConfigFile();
    return KVD_ERR_CONFIG;
  }
  const int32_t sampleRate = ParseInteger(value);
  if (sampleRate < kLowestSampleRateHz) {
    tprintf7("Cannot process data in so low sample rate!\n");
    CloseConfigFile();
    return KVD_ERR_LOW_SAMPLE_RATE;
  }
  if (sampleRate > kHighestSampleRateHz) {
    tprintf7("SampleRate should be %d..%d!\n", kLowestSampleRateHz, kHighestSampleRateHz);
    CloseConfigFile();
    return KVD_ERR_CONFIG;
  }
  tprintf2("Sample rate is %d.\n", sampleRate);

  engineModes.OpenAllLines = true;
  if (GetConfig("OpenAllLines", value) == KVD_OK) {
    engineModes.OpenAllLines = ParseUnlessOffSwitch(value);
  }
  tprintf7("\n");

  // Lines of an earlier KVD_Init without KVD_Exit are released here, before
  // the new ones are built.
  const int32_t buildResult =
      BuildLines(engineModes.OpenAllLines ? kMaxLines : lineCount, sampleRate);
  if (buildResult != KVD_OK) {
    CloseConfigFile();
    return buildResult;
  }
  tprintf7("KVD Init %d lines successful!\n", LineCount());

  return ConfigureLines(configPath, sampleRate);
}

int32_t ConfigureStandaloneDetector(SpeechDetector& detector, const char* configPath) {
  if (configPath == nullptr) {
    tprintf7("%s\n", "Cannot open config file! NULL file name!\n");
    return KVD_ERR_CONFIG;
  }
  const std::lock_guard<std::mutex> lock(configurationMutex);
  configFile = OpenConfigFile(configPath, "r");
  if (configFile == nullptr) return KVD_ERR_CONFIG;
  // The pass writes the engine-wide modes; those of the table are kept.
  const EngineModes tableModes = engineModes;
  standaloneTarget = &detector;
  const int32_t result = ConfigureLines(configPath, detector.SampleRate);
  standaloneTarget = nullptr;
  engineModes = tableModes;
  CloseConfigFile();
  return result;
}

bool IsConfigurationKey(const char* key) {
  for (const char* known :
       {"SampleRate", "OpenAllLines", "IsOneSeg", "IsOnline", "DecisionMode"}) {
    if (EqualsIgnoringCase(key, known)) return true;
  }
  for (const char* known : kMainKeys) {
    if (EqualsIgnoringCase(key, known)) return true;
  }
  for (const char* known : kOfflineKeys) {
    if (EqualsIgnoringCase(key, known)) return true;
  }
  return false;
}
