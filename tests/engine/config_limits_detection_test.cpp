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

using kvdtest::OfflineEngine;
using kvdtest::OfflineMode;
using kvdtest::OfflineOverrides;
using kvdtest::OfflineResult;

void StreamAtEdges(const kvdtest::ConfigText& config) {
  const std::vector<int16_t> pcm = kvdtest::SamplePcm();
  ASSERT_FALSE(pcm.empty());
  kvdtest::OnlineEngine engine(config);
  ASSERT_EQ(engine.InitResult(), KVD_OK);
  const int32_t line = engine.StartLine();
  ASSERT_GE(line, 0);
  const kvdtest::StreamReport report = kvdtest::StreamThrough(line, pcm, 160);
  for (const kvdtest::CallReport& call : report.calls) {
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

TEST(ConfigLimitsDetection, OnlineAtTheUpperAndLowerLimits) {
  StreamAtEdges(kvdtest::StreamTestConfig()
                    .Set("MaxSpeechDuration", "360000")
                    .Set("MaxSilence", "2147483647")
                    .Set("MaxWaitFrame", "360000")
                    .Set("stRelaxFrames", "360000")
                    .Set("edRelaxFrames", "360000")
                    .Set("MaxHoldFrame", "360000")
                    .Set("AverageGain", "100"));
  StreamAtEdges(kvdtest::StreamTestConfig()
                    .Set("MinSpeechDuration", "0")
                    .Set("MaxSpeechDuration", "0")
                    .Set("MaxSilence", "0")
                    .Set("MaxWaitFrame", "0")
                    .Set("stRelaxFrames", "0")
                    .Set("edRelaxFrames", "0")
                    .Set("MaxHoldFrame", "0")
                    .Set("AverageGain", "-100"));
}

void CutAtEdges(OfflineOverrides overrides) {
  const std::vector<int16_t> pcm = kvdtest::SamplePcm();
  const auto samples = static_cast<int32_t>(pcm.size());
  for (const OfflineMode mode : {OfflineMode::kOneSegment, OfflineMode::kMultiSegment}) {
    OfflineEngine engine(mode, overrides);
    ASSERT_EQ(engine.initResult(), KVD_OK);
    const OfflineResult r = engine.Run(pcm, 1000);
    EXPECT_TRUE(r.result == KVD_OK || r.result == KVD_ERR_OFFLINE) << r.result;
    EXPECT_LE(r.processed, samples);
    EXPECT_LT(r.end, samples);
    for (size_t i = 0; i < r.starts.size(); ++i) {
      EXPECT_LE(r.starts[i], r.ends[i]);
      EXPECT_LT(r.ends[i], samples);
    }
  }
}

TEST(ConfigLimitsDetection, OfflineAtTheUpperAndLowerLimits) {
  CutAtEdges({{"DetectSpecLowBorder_Hz", "3984.375"},
              {"DetectSpecHighBorder_Hz", "4000"},
              {"CommonSpeechSegLen_sec", "3600"},
              {"ShortSpeechSegLen_sec", "3600"},
              {"ExtendSpeechLen_sec", "3600"},
              {"SpeechSegMinVoiceLen_sec", "3600"},
              {"MaxSegNum", "1000"},
              {"DelShortSpeechSegLen_sec", "3600"},
              {"DelShortSpeechSideNoiseLen_sec", "3600"}});
  CutAtEdges({{"DetectSpecLowBorder_Hz", "0"},
              {"DetectSpecHighBorder_Hz", "15.625"},
              {"CommonSpeechSegLen_sec", "0"},
              {"ShortSpeechSegLen_sec", "0"},
              {"ExtendSpeechLen_sec", "0"},
              {"SpeechSegMinVoiceLen_sec", "0"},
              {"MaxSegNum", "1"},
              {"MinSignalLen", "0"},
              {"DelShortSpeechSegLen_sec", "0"},
              {"DelShortSpeechSideNoiseLen_sec", "0"}});
}

}  // namespace
