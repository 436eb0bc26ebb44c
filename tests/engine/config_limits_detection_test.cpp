// Offline detection with every bounded key at the edges of its range: each
// run ends with a defined result, and every reported position lies within
// the audio (the sanitizer builds catch any read past a buffer).
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
