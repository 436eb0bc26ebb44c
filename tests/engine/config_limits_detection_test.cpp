// Detection with every bounded key at the edges of its range: each call
// ends with a defined result, and every reported position lies within the
// audio fed so far (the sanitizer builds catch any read past a buffer).
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "engine/kvd_api.h"
#include "offline_engine.h"
#include "online_fixtures.h"

namespace {

using kvdtest::OfflineMode;
using kvdtest::OfflineOverrides;

TEST(ConfigLimitsDetection, OnlineAtTheUpperAndLowerLimits) {
  const std::vector<int16_t> pcm = kvdtest::SamplePcm();
  ASSERT_FALSE(pcm.empty());
  const char* const keys[] = {"MaxSpeechDuration", "MaxSilence",    "MaxWaitFrame",
                              "stRelaxFrames",     "edRelaxFrames", "MaxHoldFrame"};
  for (const bool upper : {true, false}) {
    kvdtest::ConfigText config = kvdtest::StreamTestConfig();
    for (const char* key : keys) config.Set(key, upper ? "360000" : "0");
    config.Set("AverageGain", upper ? "100" : "-100");
    if (upper) config.Set("MaxSilence", "2147483647");
    if (!upper) config.Set("MinSpeechDuration", "0");
    kvdtest::OnlineEngine engine(config);
    ASSERT_EQ(engine.InitResult(), KVD_OK);
    const int32_t line = engine.StartLine();
    ASSERT_GE(line, 0);
    for (const kvdtest::CallReport& call : kvdtest::StreamThrough(line, pcm, 160).calls) {
      EXPECT_EQ(call.result, KVD_OK);
      EXPECT_GE(call.state, before_speech);
      EXPECT_LE(call.state, speech_too_short);
      EXPECT_LE(call.start, call.position);
      EXPECT_LE(call.end, call.position);
      if (call.end >= 0) {
        EXPECT_GE(call.start, 0);
        EXPECT_GE(call.end, call.start);
      }
    }
  }
}

TEST(ConfigLimitsDetection, OfflineAtTheUpperAndLowerLimits) {
  const std::vector<int16_t> pcm = kvdtest::SamplePcm();
  const auto samples = static_cast<int32_t>(pcm.size());
  const char* const seconds[] = {"CommonSpeechSegLen_sec",   "ShortSpeechSegLen_sec",
                                 "ExtendSpeechLen_sec",      "SpeechSegMinVoiceLen_sec",
                                 "DelShortSpeechSegLen_sec", "DelShortSpeechSideNoiseLen_sec"};
  OfflineOverrides upper = {{"DetectSpecLowBorder_Hz", "3984.375"},
                            {"DetectSpecHighBorder_Hz", "4000"},
                            {"MaxSegNum", "1000"}};
  OfflineOverrides lower = {{"DetectSpecLowBorder_Hz", "0"},
                            {"DetectSpecHighBorder_Hz", "15.625"},
                            {"MaxSegNum", "1"},
                            {"MinSignalLen", "0"}};
  for (const char* key : seconds) {
    upper[key] = "3600";
    lower[key] = "0";
  }
  for (const OfflineOverrides& overrides : {upper, lower}) {
    for (const auto mode : {OfflineMode::kOneSegment, OfflineMode::kMultiSegment}) {
      kvdtest::OfflineEngine engine(mode, overrides);
      ASSERT_EQ(engine.initResult(), KVD_OK);
      const kvdtest::OfflineResult r = engine.Run(pcm, 1000);
      EXPECT_TRUE(r.result == KVD_OK || r.result == KVD_ERR_OFFLINE) << r.result;
      EXPECT_LE(r.processed, samples);
      EXPECT_LT(r.end, samples);
      for (size_t i = 0; i < r.starts.size(); ++i) {
        EXPECT_LE(r.starts[i], r.ends[i]);
        EXPECT_LT(r.ends[i], samples);
      }
    }
  }
}

}  // namespace
