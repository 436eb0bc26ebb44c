#include "online_fixtures.h"

#include "engine/kvd_api.h"

namespace kvdtest {

namespace {
// Peak-to-peak range of a flat frame at 0 dB gain: 10 x sqrt(10^0).
constexpr float kDeadRangeAtZeroGain = 10.0f;
}  // namespace

std::unique_ptr<SpeechDetector> StartedOnlineDetector(int32_t sampleRate) {
  auto detector = std::make_unique<SpeechDetector>(sampleRate);
  detector->IsOnline = 1;
  detector->IsOneSeg = 1;
  detector->deadRange = kDeadRangeAtZeroGain;
  detector->DetectState = KVD_STATE_IDLE;
  detector->ReInitial();
  return detector;
}

}  // namespace kvdtest
