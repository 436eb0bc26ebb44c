#include "api/default_config.h"

// Kept equal to config/ by the stream tests.
const char* const kDefaultConfigText = R"cfg(
SampleRate = 8000
OpenAllLines = false
IsOneSeg = 1
IsOnline = 0
MinSpeechDuration = 1600
MaxSpeechDuration = 3000
MaxSilence = 100
MaxWaitFrame = 1000
Sensitivity = 0.4
stRelaxFrames = 10
edRelaxFrames = 10
AverageGain = -30
MaxHoldFrame = 100
FastMode = 0
UseCheckDTMF = 1
ShortSpeechSegEnergyThd = 30
BackgroundEnergyOffline = 1
DetectSpecLowBorder_Hz = 200
DetectSpecHighBorder_Hz = 3400
CommonSpeechSegLen_sec = 0.3
ShortSpeechSegLen_sec = 0.1
CommonSpeechSegEnergyThd = 80
ExtendSpeechLen_sec = 0.1
SpeechSegMinVoiceLen_sec = 0.1
SpeechSegMinVoiceRatio = 0.2
MaxSegNum = 100
DefaultSpeech = 0
MinSignalLen = 0.5
BakgroundEnergyRelativeOffline = 0.01
DelShortSpeechSegLen_sec = 0.1
DelShortSpeechSideNoiseLen_sec = 0.3
)cfg";
