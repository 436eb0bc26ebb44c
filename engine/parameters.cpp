// The parameter block of one line: setting it from configuration texts,
// reading it back as text, and the levels derived from Sensitivity and
// AverageGain.
#include <kvd/detect_voice.h>
#include <kvd/tprintf.h>

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "classifiers/detect_energy.h"
#include "engine/config_values.h"
#include "engine/kvd_api.h"
#include "engine/speech_detector.h"

namespace {

constexpr float kLowestSensitivity = 0.04f;
constexpr float kHighestSensitivity = 0.99f;

// SpreadFactor = 10^(3 - y^2 tan(pi y)), y = Sensitivity - 0.5: 1000 at the
// middle sensitivity, falling towards the sensitive end.
constexpr double kSpreadExponentAtMiddle = 3.0;
constexpr double kMiddleSensitivity = 0.5;
constexpr double kSpreadPi = 3.14159;

// Active bands needed to start: floor((1 - s/2) * 4); to continue:
// floor((1 - s) * 2); voiced frames of 30: floor((1 - s) * 12), at least 1;
// energy run before a start: floor((1 - s) * 60) frames.
constexpr double kStartBandsScale = 4.0;
constexpr double kContinueBandsScale = 2.0;
constexpr float kVoicedFramesScale = 12.0f;
constexpr float kStartRunScale = 60.0f;

// Absolute levels at 0 dB gain, on the power scale of a forward FFT divided
// by its size.
constexpr float kBandThresholdCap = 1000000.0f;
constexpr float kBandThresholdFloorRatio = 0.01f;
constexpr float kNoiseFloor = 0.4f;
constexpr float kVoiceEnergyFloor = 0.1f;
// Peak-to-peak sample range of a flat frame at 0 dB gain; scales with the
// amplitude, that is with the square root of the power gain.
constexpr double kDeadRangeAtUnitGain = 10.0;
// dB to a power ratio: 10^(dB / 10).
constexpr double kDecibelsToPowerExponent = 0.1;

using Setter = void (*)(SpeechDetector&, const char*);

struct NamedSetter {
  const char* name;
  Setter set;
};

void SetMaxSilence(SpeechDetector& line, const char* value) {
  const int32_t frames = ParseInteger(value);
  if (frames > kHistoryFrames) {
    tprintf7("KVD ERROR! MaxSilence Too long!");
  }
  // Held within the 500-frame histories that the end search scans.
  line.MaxSilence = std::min(frames, kHistoryFrames);
  line.detectEnergy->MaxSilence = line.MaxSilence;
}

void SetMaxHoldFrame(SpeechDetector& line, const char* value) {
  line.MaxHoldFrame = ParseInteger(value);
  if (line.MaxHoldFrame < line.MaxSilence) {
    tprintf7("KVD ERROR! MaxHoldFrame<MaxSilence!\n");
    line.MaxHoldFrame = line.MaxSilence;
  }
}

void SetSensitivity(SpeechDetector& line, const char* value) {
  const float s =
      std::clamp(static_cast<float>(ParseReal(value)), kLowestSensitivity, kHighestSensitivity);
  line.Sensitivity = s;
  const double y = s - kMiddleSensitivity;
  line.detectEnergy->SpreadFactor =
      static_cast<float>(std::pow(10.0, kSpreadExponentAtMiddle - y * y * std::tan(kSpreadPi * y)));
  line.energyStartThr = static_cast<int32_t>(std::floor((1.0 - s * 0.5) * kStartBandsScale));
  line.energyContThr = static_cast<int32_t>(std::floor((1.0 - s) * kContinueBandsScale));
}

// In the order in which names are tested.
const NamedSetter kSetters[] = {
    {"SampleRate",
     [](SpeechDetector&, const char*) {
       tprintf7("KVD Warning! You can only set SampleRate in config file!\n");
     }},
    {"IsOneSeg", [](SpeechDetector& l, const char* v) { l.IsOneSeg = ParseInteger(v); }},
    {"FastMode", [](SpeechDetector& l, const char* v) { l.FastMode = ParseYesSwitch(v); }},
    {"UseCheckDTMF", [](SpeechDetector& l, const char* v) { l.UseCheckDTMF = ParseYesSwitch(v); }},
    {"IsOnline", [](SpeechDetector& l, const char* v) { l.IsOnline = ParseInteger(v); }},
    {"MinSpeechDuration",
     [](SpeechDetector& l, const char* v) { l.MinSpeechDuration = ParseInteger(v); }},
    {"MaxSpeechDuration",
     [](SpeechDetector& l, const char* v) { l.MaxSpeechDuration = ParseInteger(v); }},
    {"MaxSilence", SetMaxSilence},
    {"MaxWaitFrame", [](SpeechDetector& l, const char* v) { l.MaxWaitFrame = ParseInteger(v); }},
    {"Sensitivity", SetSensitivity},
    {"stRelaxFrames", [](SpeechDetector& l, const char* v) { l.stRelaxFrames = ParseInteger(v); }},
    {"edRelaxFrames", [](SpeechDetector& l, const char* v) { l.edRelaxFrames = ParseInteger(v); }},
    {"MaxHoldFrame", SetMaxHoldFrame},
    {"AverageGain",
     [](SpeechDetector& l, const char* v) { l.AverageGain = static_cast<float>(ParseReal(v)); }},
    {"MinSignalLen", [](SpeechDetector& l, const char* v) { l.MinSignalLen = SecondsToFrames(v); }},
    {"DefaultSpeech", [](SpeechDetector& l, const char* v) { l.DefaultSpeech = ParseInteger(v); }},
    {"MaxSegNum", [](SpeechDetector& l, const char* v) { l.MaxSegNum = ParseInteger(v); }},
    {"ShortSpeechSegEnergyThd",
     [](SpeechDetector& l, const char* v) { l.ShortSpeechSegEnergyThd = ParseInteger(v); }},
    {"BackgroundEnergyOffline",
     [](SpeechDetector& l, const char* v) {
       l.BackgroundEnergyOffline = static_cast<float>(ParseReal(v));
     }},
    {"BakgroundEnergyRelativeOffline",
     [](SpeechDetector& l, const char* v) {
       l.BakgroundEnergyRelativeOffline = static_cast<float>(ParseReal(v));
     }},
    {"DetectSpecLowBorder_Hz",
     [](SpeechDetector& l, const char* v) {
       l.DetectSpecLowBorder_Hz = HertzToBin(v, l.binWidthHz);
     }},
    {"DetectSpecHighBorder_Hz",
     [](SpeechDetector& l, const char* v) {
       l.DetectSpecHighBorder_Hz = HertzToBin(v, l.binWidthHz);
     }},
    {"CommonSpeechSegLen_sec",
     [](SpeechDetector& l, const char* v) { l.CommonSpeechSegLen_sec = SecondsToFrames(v); }},
    {"ShortSpeechSegLen_sec",
     [](SpeechDetector& l, const char* v) { l.ShortSpeechSegLen_sec = SecondsToFrames(v); }},
    {"CommonSpeechSegEnergyThd",
     [](SpeechDetector& l, const char* v) {
       l.CommonSpeechSegEnergyThd = static_cast<float>(ParseReal(v));
     }},
    {"ExtendSpeechLen_sec",
     [](SpeechDetector& l, const char* v) { l.ExtendSpeechLen_sec = SecondsToFrames(v); }},
    {"SpeechSegMinVoiceLen_sec",
     [](SpeechDetector& l, const char* v) { l.SpeechSegMinVoiceLen_sec = SecondsToFrames(v); }},
    {"SpeechSegMinVoiceRatio",
     [](SpeechDetector& l, const char* v) {
       l.SpeechSegMinVoiceRatio = static_cast<float>(ParseReal(v));
     }},
    {"DelShortSpeechSegLen_sec",
     [](SpeechDetector& l, const char* v) { l.DelShortSpeechSegLen_sec = SecondsToFrames(v); }},
    {"DelShortSpeechSideNoiseLen_sec",
     [](SpeechDetector& l, const char* v) {
       l.DelShortSpeechSideNoiseLen_sec = SecondsToFrames(v);
     }},
};

using Getter = void (*)(const SpeechDetector&, char*);

struct NamedGetter {
  const char* name;
  Getter get;
};

void WriteInteger(char* value, int32_t number) {
  std::snprintf(value, kConfigLineBytes, "%d", number);
}

void WriteReal(char* value, float number) {
  std::snprintf(value, kConfigLineBytes, "%f", static_cast<double>(number));
}

const NamedGetter kGetters[] = {
    {"IsOnLine", [](const SpeechDetector& l, char* v) { WriteInteger(v, l.IsOnline); }},
    {"IsOneSeg", [](const SpeechDetector& l, char* v) { WriteInteger(v, l.IsOneSeg); }},
    {"UseCheckDTMF",
     [](const SpeechDetector& l, char* v) { WriteInteger(v, l.UseCheckDTMF ? 1 : 0); }},
    {"SampleRate", [](const SpeechDetector& l, char* v) { WriteInteger(v, l.SampleRate); }},
    {"MinSpeechDuration",
     [](const SpeechDetector& l, char* v) { WriteInteger(v, l.MinSpeechDuration); }},
    {"MaxSpeechDuration",
     [](const SpeechDetector& l, char* v) { WriteInteger(v, l.MaxSpeechDuration); }},
    {"MaxSilence", [](const SpeechDetector& l, char* v) { WriteInteger(v, l.MaxSilence); }},
    {"MaxWaitFrame", [](const SpeechDetector& l, char* v) { WriteInteger(v, l.MaxWaitFrame); }},
    {"Sensitivity", [](const SpeechDetector& l, char* v) { WriteReal(v, l.Sensitivity); }},
    {"AverageGain", [](const SpeechDetector& l, char* v) { WriteReal(v, l.AverageGain); }},
    {"MaxSegNum", [](const SpeechDetector& l, char* v) { WriteInteger(v, l.MaxSegNum); }},
};

}  // namespace

int32_t SpeechDetector::SetParameter(const char* paramName, const char* paramValue) {
  if (errorStatus != 0) {
    tprintf7("%s\n", "Error to begin SetParameter!");
    return errorStatus;
  }
  if (paramName == nullptr) {
    tprintf2("%s\n", "Warning in SetParameter!  paramName is NULL!");
    return errorStatus;
  }
  if (paramValue == nullptr) {
    tprintf2("%s\n", "Warning in SetParameter!  paramValue is NULL!");
    return errorStatus;
  }
  if (DetectState != KVD_STATE_IDLE && DetectState != KVD_STATE_UNINIT) {
    tprintf2(
        "SetParameter Warning! Only Can set parameters in KVD_STATE_IDLE or KVD_STATE_UNINIT "
        "state!\n");
    return KVD_OK;
  }
  for (const NamedSetter& setter : kSetters) {
    if (EqualsIgnoringCase(paramName, setter.name)) {
      setter.set(*this, paramValue);
      return errorStatus;
    }
  }
  tprintf2("KVD_SetParameter warning! Fail to set parameter!");
  return KVD_OK;
}

int32_t SpeechDetector::GetParameter(const char* paramName, char* paramValue) {
  if (paramValue != nullptr) {
    paramValue[0] = '\0';
  }
  if (errorStatus != 0) {
    tprintf7("%s\n", "Error to begin GetParameter!");
    return errorStatus;
  }
  if (paramName == nullptr) {
    tprintf2("%s\n", "Warning KVD_GetParameter!  paramName is NULL!");
    return errorStatus;
  }
  if (paramValue == nullptr) {
    tprintf2("%s\n", "Warning  in KVD_GetParameter!  paramValue is NULL!");
    return errorStatus;
  }
  for (const NamedGetter& getter : kGetters) {
    if (EqualsIgnoringCase(paramName, getter.name)) {
      getter.get(*this, paramValue);
      return errorStatus;
    }
  }
  tprintf2("KVD_GetParameter Warning!  Fail to get parameter!\n");
  return errorStatus;
}

void SpeechDetector::ApplySensitivity() {
  detectVoice->EnergyFloor = kVoiceEnergyFloor;
  detectEnergy->NoiseFloor = kNoiseFloor;
  const float quietShare = 1.0f - Sensitivity;
  for (int32_t b = 0; b < kEnergyBands; ++b) {
    detectEnergy->BandThdCap[b] = kBandThresholdCap;
    detectEnergy->BandThdInit[b] = quietShare * detectEnergy->BandThdCap[b];
    detectEnergy->BandThdFloor[b] = detectEnergy->BandThdInit[b] * kBandThresholdFloorRatio;
  }
  voiceThr = std::max(static_cast<int32_t>(std::floor(quietShare * kVoicedFramesScale)), 1);
  startRunLength = static_cast<int32_t>(std::floor(quietShare * kStartRunScale));
}

void SpeechDetector::ApplyAverageGain() {
  const double gain = std::pow(10.0, AverageGain * kDecibelsToPowerExponent);
  for (int32_t b = 0; b < kEnergyBands; ++b) {
    detectEnergy->BandThdCap[b] = static_cast<float>(detectEnergy->BandThdCap[b] * gain);
    detectEnergy->BandThdFloor[b] = static_cast<float>(detectEnergy->BandThdFloor[b] * gain);
    detectEnergy->BandThdInit[b] = static_cast<float>(detectEnergy->BandThdInit[b] * gain);
  }
  detectVoice->EnergyFloor = static_cast<float>(detectVoice->EnergyFloor * gain);
  detectEnergy->NoiseFloor = static_cast<float>(detectEnergy->NoiseFloor * gain);
  deadRange = static_cast<float>(std::sqrt(gain) * kDeadRangeAtUnitGain);
}
