// The configuration phase of KVD_Init: reading kvd.cfg and kvd_offline.cfg
// into every line, its failures, and the settings derived at the end.
#include <gtest/gtest.h>
#include <kvd/detect_voice.h>

#include <ostream>
#include <string>

#include "classifiers/detect_energy.h"
#include "engine/kvd_api.h"
#include "engine/line_table.h"
#include "engine/speech_detector.h"
#include "engine_session.h"

namespace {

using kvdtest::CaptureLog;

class EngineConfig : public kvdtest::EngineSession {};

TEST_F(EngineConfig, MissingMainFileGivesThreeMessagesAndMinus92) {
  const std::string path = dir_.Path() + "/absent/kvd.cfg";
  int32_t result = 0;
  const std::string log = CaptureLog([&] { result = KVD_Init(path.c_str(), 2); });
  EXPECT_EQ(result, KVD_ERR_CONFIG);
  const size_t open = log.find("Error in open " + path + "!\n");
  const size_t pointer = log.find("Cannot open config file! NULL pointer!\n\n");
  const size_t sampleRate = log.find("Config error! No SampleRate item in config file!\n");
  ASSERT_NE(open, std::string::npos);
  ASSERT_NE(pointer, std::string::npos);
  ASSERT_NE(sampleRate, std::string::npos);
  EXPECT_LT(open, pointer);
  EXPECT_LT(pointer, sampleRate);
  EXPECT_EQ(LineCount(), 0);

  const std::string nullLog = CaptureLog([&] { result = KVD_Init(nullptr, 2); });
  EXPECT_EQ(result, KVD_ERR_CONFIG);
  EXPECT_NE(nullLog.find("Cannot open config file! NULL file name!"), std::string::npos) << nullLog;
}

// Integer text without digits reads as 0, which MaxSilence allows.
TEST_F(EngineConfig, IntegerWithoutDigitsIsZero) {
  main_.Set("MaxSilence", "abc");
  ASSERT_EQ(Init(), KVD_OK) << log_;
  EXPECT_EQ(Parameter(0, "MaxSilence"), "0");
}

TEST_F(EngineConfig, SampleRateMissingBelow8000OrNotANumberIsRefusedWithoutLines) {
  const struct {
    const char* rate;  // nullptr: the key is missing
    int32_t code;
    const char* message;
  } cases[] = {{"7999", KVD_ERR_LOW_SAMPLE_RATE, "Cannot process data in so low sample rate!\n"},
               {"fast", KVD_ERR_LOW_SAMPLE_RATE, "Cannot process data in so low sample rate!\n"},
               {nullptr, KVD_ERR_CONFIG, "Config error! No SampleRate item in config file!\n"}};
  for (const auto& c : cases) {
    if (c.rate == nullptr) {
      main_.Remove("SampleRate");
    } else {
      main_.Set("SampleRate", c.rate);
    }
    EXPECT_EQ(Init(), c.code) << c.message;
    EXPECT_TRUE(Logged(c.message)) << log_;
    EXPECT_EQ(LineCount(), 0);
  }
}

struct MissingKey {
  const char* key;
  const char* message;
};

void PrintTo(const MissingKey& missing, std::ostream* out) { *out << missing.key; }

class EngineConfigMissingKey : public kvdtest::EngineSession,
                               public ::testing::WithParamInterface<MissingKey> {};

TEST_P(EngineConfigMissingKey, GivesItsMessageAndFreesTheLines) {
  main_.Remove(GetParam().key);
  EXPECT_EQ(Init(3), KVD_ERR_CONFIG);
  EXPECT_TRUE(Logged(GetParam().message)) << log_;
  // The count stays, the slots are empty: the engine answers "not initialised".
  EXPECT_EQ(LineCount(), 3);
  EXPECT_EQ(GetLine(0), nullptr);
  int32_t line = -1;
  const std::string openLog =
      CaptureLog([&] { EXPECT_EQ(KVD_Open(&line), KVD_ERR_NOT_INITIALISED); });
  EXPECT_NE(openLog.find("KVD_Open Error! System is not initialized!\n"), std::string::npos);
}

INSTANTIATE_TEST_SUITE_P(
    MainKeys, EngineConfigMissingKey,
    ::testing::Values(MissingKey{"IsOneSeg", "No IsOneSeg in Config file!\n"},
                      MissingKey{"IsOnline", "No IsOnline in Config file!\n"},
                      MissingKey{"MinSpeechDuration", "MinSpeechDuration Error in kvd.cfg!\n"},
                      MissingKey{"MaxSpeechDuration", "MaxSpeechDuration Error in kvd.cfg!\n"},
                      MissingKey{"MaxSilence", "MaxSilence Error in kvd.cfg!\n"},
                      MissingKey{"MaxWaitFrame", "MaxWaitFrame Error in kvd.cfg!\n"},
                      MissingKey{"Sensitivity", "Sensitivity Error in kvd.cfg!\n"},
                      MissingKey{"stRelaxFrames", "stRelaxFrames Error in kvd.cfg!\n"},
                      MissingKey{"edRelaxFrames", "edRelaxFrames Error in kvd.cfg!\n"},
                      MissingKey{"AverageGain", "AverageGain Error in kvd.cfg!\n"},
                      MissingKey{"MaxHoldFrame", "MaxHoldFrame Error in kvd.cfg!\n"},
                      MissingKey{"FastMode", "FastMode Error in kvd.cfg!\n"},
                      MissingKey{"UseCheckDTMF", "UseCheckDTMF Error in kvd.cfg!\n"}),
    [](const ::testing::TestParamInfo<MissingKey>& missing) {
      return std::string(missing.param.key);
    });

TEST_F(EngineConfig, ModeSwitchesTakeZeroOneTrueFalseInAnyCase) {
  main_.Set("IsOneSeg", "TRUE").Set("IsOnline", "true");
  ASSERT_EQ(Init(), KVD_OK);
  EXPECT_EQ(Parameter(1, "IsOneSeg"), "1");
  EXPECT_EQ(Parameter(1, "isonline"), "1");
  EXPECT_TRUE(Logged("Set mode from kvd.cfg:"));
  EXPECT_TRUE(Logged("check speech/humming in online mode!\n"));

  main_.Set("IsOneSeg", "yes");
  EXPECT_EQ(Init(), KVD_ERR_CONFIG);
  EXPECT_TRUE(Logged("IsOneSeg should be 0/1 or true/false!\n"));
  main_.Set("IsOneSeg", "1").Set("IsOnline", "2");
  EXPECT_EQ(Init(), KVD_ERR_CONFIG);
  EXPECT_TRUE(Logged("IsOnline should be 0/1 or true/false!\n"));
}

TEST_F(EngineConfig, FlagsAreOnOnlyForOneOrY) {
  main_.Set("FastMode", "true").Set("UseCheckDTMF", "Y");
  ASSERT_EQ(Init(), KVD_OK);
  EXPECT_FALSE(GetLine(0)->FastMode);
  EXPECT_EQ(Parameter(0, "UseCheckDTMF"), "1");
  main_.Set("FastMode", "y").Set("UseCheckDTMF", "yes");
  ASSERT_EQ(Init(), KVD_OK);
  EXPECT_TRUE(GetLine(0)->FastMode);
  EXPECT_EQ(Parameter(0, "UseCheckDTMF"), "0");
}

TEST_F(EngineConfig, OpenAllLinesIsOffOnlyForZeroOrFalse) {
  main_.Set("OpenAllLines", "FALSE");
  ASSERT_EQ(Init(3), KVD_OK);
  EXPECT_EQ(LineCount(), 3);
  EXPECT_TRUE(Logged("KVD Init 3 lines successful!\n"));

  main_.Set("OpenAllLines", "no");
  ASSERT_EQ(Init(3), KVD_OK);
  EXPECT_EQ(LineCount(), kMaxLines);
  EXPECT_NE(GetLine(kMaxLines - 1), nullptr);

  main_.Remove("OpenAllLines");
  ASSERT_EQ(Init(3), KVD_OK);
  EXPECT_EQ(LineCount(), kMaxLines);
}

TEST_F(EngineConfig, SensitivityIsClampedTo004Through099) {
  main_.Set("Sensitivity", "2");
  ASSERT_EQ(Init(), KVD_OK);
  EXPECT_EQ(Parameter(0, "Sensitivity"), "0.990000");
  main_.Set("Sensitivity", "0");
  ASSERT_EQ(Init(), KVD_OK);
  EXPECT_EQ(Parameter(1, "sensitivity"), "0.040000");
}

TEST_F(EngineConfig, MaxHoldFrameIsRaisedToMaxSilence) {
  main_.Set("MaxSilence", "60").Set("MaxHoldFrame", "20");
  ASSERT_EQ(Init(), KVD_OK);
  EXPECT_TRUE(Logged("KVD ERROR! MaxHoldFrame<MaxSilence!\n"));
  EXPECT_EQ(GetLine(0)->MaxHoldFrame, 60);
  EXPECT_EQ(GetLine(1)->MaxHoldFrame, 60);
}

TEST_F(EngineConfig, MaxSilenceAboveTheHistoriesIsReportedAndHeldAt500) {
  // Held there, not refused, up to the largest integer.
  for (const char* maxSilence : {"800", "2147483647"}) {
    main_.Set("MaxSilence", maxSilence).Set("MaxHoldFrame", "600");
    ASSERT_EQ(Init(), KVD_OK);
    EXPECT_TRUE(Logged("KVD ERROR! MaxSilence Too long!"));
    EXPECT_EQ(Parameter(0, "MaxSilence"), "500");
    EXPECT_EQ(GetLine(0)->detectEnergy->MaxSilence, 500);
    EXPECT_EQ(GetLine(0)->MaxHoldFrame, 600);
  }
}

TEST_F(EngineConfig, OfflineKeysAreConvertedToFramesAndBins) {
  main_.Set("IsOnline", "0").Set("SampleRate", "11025");
  offline_.Set("ExtendSpeechLen_sec", "0.3").Set("MinSignalLen", "1.999");
  ASSERT_EQ(Init(), KVD_OK);
  EXPECT_TRUE(Logged("Set mode from kvd.cfg:"));
  EXPECT_TRUE(Logged("check only one speech segment in offline mode!\n"));
  const SpeechDetector& line = *GetLine(1);
  EXPECT_EQ(line.ExtendSpeechLen_sec, 30);
  EXPECT_EQ(line.MinSignalLen, 199);
  EXPECT_EQ(line.CommonSpeechSegLen_sec, 25);
  // 11025 Hz / 1024 points = 10.7666 Hz per bin: 300 Hz is bin 27.86, 3400 Hz bin 315.79.
  EXPECT_EQ(line.DetectSpecLowBorder_Hz, 27);
  EXPECT_EQ(line.DetectSpecHighBorder_Hz, 315);
  EXPECT_EQ(line.ShortSpeechSegEnergyThd, 3);
  EXPECT_FLOAT_EQ(line.CommonSpeechSegEnergyThd, 4.5f);
  EXPECT_EQ(Parameter(1, "MaxSegNum"), "100");
}

TEST_F(EngineConfig, CompanionOfACapitalCfgEndsInLowerCase) {
  main_.Set("IsOnline", "0").Set("IsOneSeg", "0");
  writeOffline_ = false;
  dir_.WriteFile("KVD_offline.cfg", offline_.Set("MaxSegNum", "7").Text());
  ASSERT_EQ(Init(2, "KVD.CFG"), KVD_OK);
  EXPECT_EQ(Parameter(0, "MaxSegNum"), "7");
  EXPECT_TRUE(Logged("Set mode from kvd.cfg:"));
  EXPECT_TRUE(Logged("check multi speech segments in offline mode!\n"));
}

TEST_F(EngineConfig, MainFileWithoutCfgSuffixIsRefusedOnlyOffline) {
  writeOffline_ = false;
  main_.Set("MaxWaitFrame", "321");
  ASSERT_EQ(Init(2, "kvd"), KVD_OK);

  main_.Set("IsOnline", "0");
  EXPECT_EQ(Init(2, "kvd"), KVD_ERR_CONFIG);
  EXPECT_TRUE(Logged("config file isn't in suffix of .cfg!\n\n"));
  // The lines stay, configured from the main file.
  ASSERT_NE(GetLine(1), nullptr);
  EXPECT_EQ(Parameter(1, "MaxWaitFrame"), "321");
}

TEST_F(EngineConfig, MissingCompanionFileKeepsTheLines) {
  main_.Set("IsOnline", "0");
  writeOffline_ = false;
  EXPECT_EQ(Init(), KVD_ERR_CONFIG);
  EXPECT_TRUE(Logged("Cannot open offline config file! NULL file pointer!\n\n"));
  EXPECT_NE(GetLine(0), nullptr);
}

TEST_F(EngineConfig, CompanionWithoutMaxSegNumFreesTheLines) {
  main_.Set("IsOnline", "0");
  offline_.Remove("MaxSegNum");
  EXPECT_EQ(Init(), KVD_ERR_CONFIG);
  EXPECT_TRUE(Logged("MaxSegNum Error in kvd.cfg!\n"));
  EXPECT_EQ(GetLine(0), nullptr);
}

TEST_F(EngineConfig, OnlineMultiSegmentReadsTheCompanionFile) {
  main_.Set("IsOneSeg", "0");
  writeOffline_ = false;
  EXPECT_EQ(Init(), KVD_ERR_CONFIG);
  EXPECT_TRUE(Logged("Cannot open offline config file! NULL file pointer!\n\n"));

  writeOffline_ = true;
  ASSERT_EQ(Init(), KVD_OK);
  EXPECT_EQ(Parameter(0, "MaxSegNum"), "100");
}

TEST_F(EngineConfig, OnlineSingleSegmentLeavesOfflineParametersZero) {
  writeOffline_ = false;
  ASSERT_EQ(Init(), KVD_OK);
  const SpeechDetector& line = *GetLine(0);
  EXPECT_EQ(line.MaxSegNum, 0);
  EXPECT_EQ(line.ExtendSpeechLen_sec, 0);
  EXPECT_EQ(line.BackgroundEnergyOffline, 0.0f);
}

TEST_F(EngineConfig, PathLongerThan256BytesStillFindsItsCompanion) {
  main_.Set("IsOnline", "0");
  // The file name alone nearly fills a 256-byte buffer; the folder adds more.
  const std::string longName = std::string(240, 'k') + ".cfg";
  ASSERT_GT(dir_.Path().size() + 1 + longName.size(), 256u);
  ASSERT_EQ(Init(2, longName), KVD_OK);
  EXPECT_EQ(Parameter(0, "MaxSegNum"), "100");
}

TEST_F(EngineConfig, DerivedSettingsFollowSensitivityAndGain) {
  // s = 1 - Sensitivity, g = 10^(AverageGain / 10): voiceThr floor(12 s)
  // (at least 1), startRunLength floor(60 s), energyStartThr floor(4 (1 + s) / 2),
  // energyContThr floor(2 s), deadRange 10 sqrt(g), NoiseFloor 0.4 g,
  // EnergyFloor 0.1 g; band thresholds: cap 1e6 g, initial 1e6 s g, floor
  // 1e4 s g. SpreadFactor is 10^(3 - 0) at s = 0.5 and
  // 10^(3 - 0.0625 tan(0.25 x 3.14159)) at s = 0.25, tan(0.7853975) = 0.9999987.
  const struct {
    const char* sensitivity;
    const char* gainDb;
    int32_t voiceThr, startRunLength, energyStartThr, energyContThr;
    float deadRange, spreadFactor, noiseFloor, energyFloor, cap, init, floor;
  } cases[] = {
      {"0.5", "0", 6, 30, 3, 1, 10.0f, 1000.0f, 0.4f, 0.1f, 1e6f, 5e5f, 5e3f},
      {"0.75", "10", 3, 15, 2, 0, 31.6228f, 865.9645f, 4.0f, 1.0f, 1e7f, 2.5e6f, 2.5e4f},
      // floor(0.01 x 12) = 0 is raised to 1.
      {"0.99", "-20", 1, 0, 2, 0, 1.0f, 0.0f /* not checked */, 0.004f, 0.001f, 1e4f, 100.0f, 1.0f},
  };
  constexpr float kRelative = 1e-5f;  // float powers and products: a few ulps
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.sensitivity) + " / " + c.gainDb + " dB");
    main_.Set("Sensitivity", c.sensitivity).Set("AverageGain", c.gainDb);
    ASSERT_EQ(Init(), KVD_OK);
    const SpeechDetector& line = *GetLine(1);
    EXPECT_EQ(line.voiceThr, c.voiceThr);
    EXPECT_EQ(line.startRunLength, c.startRunLength);
    EXPECT_EQ(line.energyStartThr, c.energyStartThr);
    EXPECT_EQ(line.energyContThr, c.energyContThr);
    EXPECT_NEAR(line.deadRange, c.deadRange, 1e-4f);  // 10 sqrt(10) = 31.62278
    if (c.spreadFactor != 0.0f) {
      EXPECT_NEAR(line.detectEnergy->SpreadFactor, c.spreadFactor, 1e-3f);
    }
    EXPECT_NEAR(line.detectEnergy->NoiseFloor, c.noiseFloor, kRelative * c.noiseFloor);
    EXPECT_NEAR(line.detectVoice->EnergyFloor, c.energyFloor, kRelative * c.energyFloor);
    for (int b = 0; b < kEnergyBands; ++b) {
      EXPECT_NEAR(line.detectEnergy->BandThdCap[b], c.cap, kRelative * c.cap);
      EXPECT_NEAR(line.detectEnergy->BandThdInit[b], c.init, kRelative * c.init);
      EXPECT_NEAR(line.detectEnergy->BandThdFloor[b], c.floor, kRelative * c.floor);
    }
  }
}

}  // namespace
