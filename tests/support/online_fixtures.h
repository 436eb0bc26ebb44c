// Helpers of the online detection tests.
#ifndef KVD_TESTS_SUPPORT_ONLINE_FIXTURES_H
#define KVD_TESTS_SUPPORT_ONLINE_FIXTURES_H

#include <cstdint>
#include <memory>

#include "engine/speech_detector.h"

namespace kvdtest {

// A detector built for sampleRate and started for online detection (state
// before_speech), with the flat-frame range of 0 dB gain (deadRange 10) and
// the other parameters zero.
std::unique_ptr<SpeechDetector> StartedOnlineDetector(int32_t sampleRate = 8000);

}  // namespace kvdtest

#endif  // KVD_TESTS_SUPPORT_ONLINE_FIXTURES_H
