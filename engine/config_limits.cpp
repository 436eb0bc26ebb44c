#include "engine/config_limits.h"

#include <kvd/tprintf.h>

#include <limits>

#include "engine/config_values.h"

namespace {

// How a key's value text is read, as SetParameter converts it.
enum class Kind { kInteger, kReal, kSeconds, kHertz };

struct KeyLimit {
  const char* key;
  Kind kind;
  double lowest;   // in the unit written in the file (seconds for kSeconds)
  double highest;  // kHertz: replaced by half the sample rate
};

constexpr double kInt32Lowest = std::numeric_limits<int32_t>::min();
constexpr double kInt32Highest = std::numeric_limits<int32_t>::max();
// The longest span in seconds, for the keys written in seconds.
constexpr double kLongestSpanSeconds = kLongestSpanFrames / 100.0;
// AverageGain in dB: 10^(gain/10) scales levels of up to 10^6 held as
// floats; +-100 dB keeps them far from the float range.
constexpr double kMostGainDb = 100.0;

// Every key with limits. MaxSilence has no upper limit here: values above
// 500 are held at 500 with their own message. Sensitivity is clamped.
const KeyLimit kLimits[] = {
    {"MinSpeechDuration", Kind::kInteger, 0, kInt32Highest},
    {"MaxSpeechDuration", Kind::kInteger, 0, kLongestSpanFrames},
    {"MaxSilence", Kind::kInteger, 0, kInt32Highest},
    {"MaxWaitFrame", Kind::kInteger, 0, kLongestSpanFrames},
    {"Sensitivity", Kind::kReal, -std::numeric_limits<float>::max(),
     std::numeric_limits<float>::max()},
    {"stRelaxFrames", Kind::kInteger, 0, kLongestSpanFrames},
    {"edRelaxFrames", Kind::kInteger, 0, kLongestSpanFrames},
    {"AverageGain", Kind::kReal, -kMostGainDb, kMostGainDb},
    {"MaxHoldFrame", Kind::kInteger, 0, kLongestSpanFrames},
    {"ShortSpeechSegEnergyThd", Kind::kInteger, kInt32Lowest, kInt32Highest},
    {"BackgroundEnergyOffline", Kind::kReal, -std::numeric_limits<float>::max(),
     std::numeric_limits<float>::max()},
    {"DetectSpecLowBorder_Hz", Kind::kHertz, 0, 0},
    {"DetectSpecHighBorder_Hz", Kind::kHertz, 0, 0},
    {"CommonSpeechSegLen_sec", Kind::kSeconds, 0, kLongestSpanSeconds},
    {"ShortSpeechSegLen_sec", Kind::kSeconds, 0, kLongestSpanSeconds},
    {"CommonSpeechSegEnergyThd", Kind::kReal, -std::numeric_limits<float>::max(),
     std::numeric_limits<float>::max()},
    {"ExtendSpeechLen_sec", Kind::kSeconds, 0, kLongestSpanSeconds},
    {"SpeechSegMinVoiceLen_sec", Kind::kSeconds, 0, kLongestSpanSeconds},
    {"SpeechSegMinVoiceRatio", Kind::kReal, -std::numeric_limits<float>::max(),
     std::numeric_limits<float>::max()},
    // At 0 or below the multi-segment call itself refuses (-87).
    {"MaxSegNum", Kind::kInteger, kInt32Lowest, kMostSegments},
    {"DefaultSpeech", Kind::kInteger, kInt32Lowest, kInt32Highest},
    {"MinSignalLen", Kind::kSeconds, 0, kLongestSpanSeconds},
    {"BakgroundEnergyRelativeOffline", Kind::kReal, -std::numeric_limits<float>::max(),
     std::numeric_limits<float>::max()},
    {"DelShortSpeechSegLen_sec", Kind::kSeconds, 0, kLongestSpanSeconds},
    {"DelShortSpeechSideNoiseLen_sec", Kind::kSeconds, 0, kLongestSpanSeconds},
};

bool Unbounded(double lowest, double highest) {
  return highest >= std::numeric_limits<float>::max() && lowest <= -highest;
}

void ReportRange(const char* key, double lowest, double highest) {
  if (Unbounded(lowest, highest)) {
    tprintf7("%s should be a finite number!\n", key);
  } else {
    tprintf7("%s should be %.15g..%.15g!\n", key, lowest, highest);
  }
}

}  // namespace

bool ConfigLimits::Accept(const char* key, const char* value) const {
  for (const KeyLimit& limit : kLimits) {
    if (!EqualsIgnoringCase(key, limit.key)) {
      continue;
    }
    double highest = limit.highest;
    double number = 0.0;
    bool readable = true;
    if (limit.kind == Kind::kInteger) {
      readable = IntegerFitsInt32(value);
      number = ParseInteger(value);
    } else {
      readable = RealIsFinite(value);
      number = ParseReal(value);
    }
    if (limit.kind == Kind::kHertz) {
      highest = sampleRate_ / 2.0;
    }
    if (!readable || number < limit.lowest || number > highest) {
      ReportRange(key, limit.lowest, highest);
      return false;
    }
    return true;
  }
  return true;
}
