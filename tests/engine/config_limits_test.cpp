// KVD_Init against configuration values at the edge of what each key
// allows: the limit itself is taken, the value one step past it is refused
// with -92 and a message naming the key and its range.
#include <gtest/gtest.h>

#include <ostream>
#include <string>

#include "engine/kvd_api.h"
#include "engine/line_table.h"
#include "engine/speech_detector.h"
#include "engine_session.h"

namespace {

enum class File { kMain, kOffline };

struct Limit {
  File file;
  const char* key;
  const char* taken;    // the limit itself
  const char* refused;  // one step past it
  const char* message;
};

void PrintTo(const Limit& limit, std::ostream* out) {
  *out << limit.key << " " << limit.taken << " / " << limit.refused;
}

class ConfigLimit : public kvdtest::EngineSession, public ::testing::WithParamInterface<Limit> {
 protected:
  int32_t InitWith(const char* value) {
    const Limit& limit = GetParam();
    if (limit.file == File::kOffline) {
      main_.Set("IsOnline", "0");
      offline_.Set(limit.key, value);
    } else {
      main_.Set(limit.key, value);
    }
    return Init(3);
  }
};

TEST_P(ConfigLimit, LimitIsTakenAndOnePastItRefused) {
  ASSERT_EQ(InitWith(GetParam().taken), KVD_OK) << log_;
  EXPECT_FALSE(Logged(GetParam().message));

  EXPECT_EQ(InitWith(GetParam().refused), KVD_ERR_CONFIG);
  EXPECT_TRUE(Logged(GetParam().message)) << log_;
  // Refused like a missing key: the slots are emptied, the count stays.
  EXPECT_EQ(LineCount(), 3);
  EXPECT_EQ(GetLine(0), nullptr);
}

INSTANTIATE_TEST_SUITE_P(
    MainKeys, ConfigLimit,
    ::testing::Values(
        Limit{File::kMain, "MinSpeechDuration", "0", "-1",
              "MinSpeechDuration should be 0..2147483647!\n"},
        Limit{File::kMain, "MinSpeechDuration", "2147483647", "2147483648",
              "MinSpeechDuration should be 0..2147483647!\n"},
        Limit{File::kMain, "MaxSpeechDuration", "360000", "360001",
              "MaxSpeechDuration should be 0..360000!\n"},
        Limit{File::kMain, "MaxSilence", "0", "-1", "MaxSilence should be 0..2147483647!\n"},
        Limit{File::kMain, "MaxSilence", "2147483647", "99999999999",
              "MaxSilence should be 0..2147483647!\n"},
        Limit{File::kMain, "MaxWaitFrame", "360000", "360001",
              "MaxWaitFrame should be 0..360000!\n"},
        Limit{File::kMain, "Sensitivity", "3.4e38", "nan",
              "Sensitivity should be a finite number!\n"},
        Limit{File::kMain, "Sensitivity", "-3.4e38", "-INF",
              "Sensitivity should be a finite number!\n"},
        Limit{File::kMain, "stRelaxFrames", "0", "-1", "stRelaxFrames should be 0..360000!\n"},
        Limit{File::kMain, "edRelaxFrames", "360000", "360001",
              "edRelaxFrames should be 0..360000!\n"},
        Limit{File::kMain, "AverageGain", "100", "100.01", "AverageGain should be -100..100!\n"},
        Limit{File::kMain, "AverageGain", "-100", "-inf", "AverageGain should be -100..100!\n"},
        Limit{File::kMain, "MaxHoldFrame", "360000", "360001",
              "MaxHoldFrame should be 0..360000!\n"},
        Limit{File::kMain, "MaxHoldFrame", "0", "-1", "MaxHoldFrame should be 0..360000!\n"}));

INSTANTIATE_TEST_SUITE_P(
    OfflineKeys, ConfigLimit,
    ::testing::Values(Limit{File::kOffline, "ShortSpeechSegEnergyThd", "-2147483648", "-2147483649",
                            "ShortSpeechSegEnergyThd should be -2147483648..2147483647!\n"},
                      Limit{File::kOffline, "BackgroundEnergyOffline", "3.4e38", "3.5e38",
                            "BackgroundEnergyOffline should be a finite number!\n"},
                      Limit{File::kOffline, "DetectSpecLowBorder_Hz", "0", "-0.5",
                            "DetectSpecLowBorder_Hz should be 0..4000!\n"},
                      Limit{File::kOffline, "DetectSpecHighBorder_Hz", "4000", "4000.5",
                            "DetectSpecHighBorder_Hz should be 0..4000!\n"},
                      Limit{File::kOffline, "CommonSpeechSegLen_sec", "3600", "3600.01",
                            "CommonSpeechSegLen_sec should be 0..3600!\n"},
                      Limit{File::kOffline, "ShortSpeechSegLen_sec", "0", "-0.01",
                            "ShortSpeechSegLen_sec should be 0..3600!\n"},
                      Limit{File::kOffline, "CommonSpeechSegEnergyThd", "1", "inf",
                            "CommonSpeechSegEnergyThd should be a finite number!\n"},
                      Limit{File::kOffline, "ExtendSpeechLen_sec", "0", "-0.001",
                            "ExtendSpeechLen_sec should be 0..3600!\n"},
                      Limit{File::kOffline, "ExtendSpeechLen_sec", "3600", "1e300",
                            "ExtendSpeechLen_sec should be 0..3600!\n"},
                      Limit{File::kOffline, "SpeechSegMinVoiceLen_sec", "3600", "3600.01",
                            "SpeechSegMinVoiceLen_sec should be 0..3600!\n"},
                      Limit{File::kOffline, "SpeechSegMinVoiceRatio", "0.2", "NaN",
                            "SpeechSegMinVoiceRatio should be a finite number!\n"},
                      Limit{File::kOffline, "MaxSegNum", "100000", "100001",
                            "MaxSegNum should be -2147483648..100000!\n"},
                      Limit{File::kOffline, "DefaultSpeech", "2147483647", "2147483648",
                            "DefaultSpeech should be -2147483648..2147483647!\n"},
                      Limit{File::kOffline, "MinSignalLen", "3600", "3600.01",
                            "MinSignalLen should be 0..3600!\n"},
                      Limit{File::kOffline, "BakgroundEnergyRelativeOffline", "0.01", "-inf",
                            "BakgroundEnergyRelativeOffline should be a finite number!\n"},
                      Limit{File::kOffline, "DelShortSpeechSegLen_sec", "0", "-1",
                            "DelShortSpeechSegLen_sec should be 0..3600!\n"},
                      Limit{File::kOffline, "DelShortSpeechSideNoiseLen_sec", "3600", "3601",
                            "DelShortSpeechSideNoiseLen_sec should be 0..3600!\n"}));

using ConfigLimits = kvdtest::EngineSession;

// Refused before any line is built.
TEST_F(ConfigLimits, SampleRateAbove192000IsRefused) {
  // 85899346 Hz is where 25 ms of samples no longer fit 32 bits.
  for (const char* rate : {"192001", "85899346", "99999999999"}) {
    main_.Set("SampleRate", rate);
    EXPECT_EQ(Init(), KVD_ERR_CONFIG) << rate;
    EXPECT_TRUE(Logged("SampleRate should be 8000..192000!\n")) << rate;
    EXPECT_EQ(LineCount(), 0) << rate;
  }
  main_.Set("SampleRate", "192000");
  ASSERT_EQ(Init(), KVD_OK);
  EXPECT_EQ(Parameter(0, "SampleRate"), "192000");
}

TEST_F(ConfigLimits, DetectionBandFollowsTheSampleRate) {
  main_.Set("IsOnline", "0").Set("SampleRate", "16000");
  offline_.Set("DetectSpecHighBorder_Hz", "8000");
  ASSERT_EQ(Init(), KVD_OK) << log_;
  EXPECT_EQ(GetLine(0)->DetectSpecHighBorder_Hz, GetLine(0)->binCount);
  offline_.Set("DetectSpecHighBorder_Hz", "8001");
  EXPECT_EQ(Init(), KVD_ERR_CONFIG);
  EXPECT_TRUE(Logged("DetectSpecHighBorder_Hz should be 0..8000!\n")) << log_;
}

// At 8000 Hz a bin is 15.625 Hz wide: 300 Hz lies in bin 19, 312.5 Hz
// starts bin 20.
TEST_F(ConfigLimits, DetectionBandMustHoldABin) {
  main_.Set("IsOnline", "0");
  offline_.Set("DetectSpecLowBorder_Hz", "300").Set("DetectSpecHighBorder_Hz", "312.5");
  ASSERT_EQ(Init(3), KVD_OK) << log_;
  for (const char* high : {"312.4", "200"}) {
    offline_.Set("DetectSpecHighBorder_Hz", high);
    EXPECT_EQ(Init(3), KVD_ERR_CONFIG) << high;
    EXPECT_TRUE(Logged(
        "DetectSpecHighBorder_Hz should be at least one bin above DetectSpecLowBorder_Hz!\n"))
        << log_;
    EXPECT_EQ(GetLine(0), nullptr);
  }
}

}  // namespace
