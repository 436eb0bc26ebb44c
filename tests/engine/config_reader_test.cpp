// Key lookup in configuration files and the conversions of value texts.
#include "engine/config_reader.h"

#include <gtest/gtest.h>

#include <string>

#include "engine/config_values.h"
#include "engine/kvd_api.h"
#include "engine_fixtures.h"

namespace {

using kvdtest::CaptureLog;
using kvdtest::TempDir;

class ConfigLookup : public ::testing::Test {
 protected:
  void Open(const std::string& text) {
    configFile = OpenConfigFile(dir_.WriteFile("kvd.cfg", text).c_str(), "r");
    ASSERT_NE(configFile, nullptr);
  }
  void TearDown() override { CloseConfigFile(); }

  // The value of key, or "<missing>".
  std::string Lookup(const char* key) {
    char value[kConfigLineBytes] = "stale";
    return GetConfig(key, value) == KVD_OK ? std::string(value) : std::string("<missing>");
  }

  TempDir dir_;
};

TEST_F(ConfigLookup, SpacesVanishAndKeysMatchInAnyCase) {
  Open("Sample Rate  =  16 000\n");
  EXPECT_EQ(Lookup("SampleRate"), "16000");
  EXPECT_EQ(Lookup("samplerate"), "16000");
  EXPECT_EQ(Lookup("Sample"), "<missing>");
}

TEST_F(ConfigLookup, LineSplitsAtItsLastEqualsSign) {
  Open("IsOnline=1=0\nIsOnline=1 = 1\n");
  EXPECT_EQ(Lookup("IsOnline=1"), "0");
  EXPECT_EQ(Lookup("IsOnline"), "<missing>");
}

TEST_F(ConfigLookup, FirstOfTwoLinesWinsAndEveryLookupRestarts) {
  Open("MaxSilence=60\nFastMode=1\nMaxSilence=70\n");
  EXPECT_EQ(Lookup("FastMode"), "1");
  EXPECT_EQ(Lookup("MaxSilence"), "60");
  EXPECT_EQ(Lookup("FastMode"), "1");
}

TEST_F(ConfigLookup, CommentMarksTabsAndBareKeys) {
  Open("#Sensitivity=0.9\nSensitivity=0.5\n\tFastMode=1\nUseCheckDTMF\r\nAverageGain=3\r\n");
  EXPECT_EQ(Lookup("Sensitivity"), "0.5");
  EXPECT_EQ(Lookup("FastMode"), "<missing>");  // the tab stays part of the key
  EXPECT_EQ(Lookup("UseCheckDTMF"), "");
  EXPECT_EQ(Lookup("AverageGain"), "3");  // carriage return is part of the line end
}

TEST_F(ConfigLookup, LineLongerThan255CharactersIsReadAsSeveralLines) {
  // 255 characters fill the line buffer; the rest of the line is a line of
  // its own.
  const std::string filler(255 - std::string("Padding=").size(), 'x');
  Open("Padding=" + filler + "MaxSilence=42\n");
  EXPECT_EQ(Lookup("Padding"), filler);
  EXPECT_EQ(Lookup("MaxSilence"), "42");
}

TEST_F(ConfigLookup, MissingKeyIsReportedWithItsName) {
  Open("SampleRate=8000\n");
  std::string result;
  const std::string log = CaptureLog([&] { result = Lookup("MaxSegNum"); });
  EXPECT_EQ(result, "<missing>");
  EXPECT_NE(log.find("Error in GetConfig! Cannot find MaxSegNum in config file!\n"),
            std::string::npos);
}

TEST(ConfigFile, LookupWithoutAnOpenFileAnswersMinus92) {
  char value[kConfigLineBytes];
  int32_t result = 0;
  const std::string log = CaptureLog([&] { result = GetConfig("SampleRate", value); });
  EXPECT_EQ(result, KVD_ERR_CONFIG);
  EXPECT_NE(log.find("Cannot open config file! NULL pointer!\n\n"), std::string::npos);
}

TEST(ConfigFile, MissingFileIsReportedAndGivesNull) {
  TempDir dir;
  const std::string path = dir.Path() + "/absent.cfg";
  std::FILE* file = nullptr;
  const std::string log = CaptureLog([&] { file = OpenConfigFile(path.c_str(), "r"); });
  EXPECT_EQ(file, nullptr);
  EXPECT_NE(log.find("Error in open " + path + "!\n"), std::string::npos);
}

TEST(ConfigValues, IntegersReadTheLeadingNumber) {
  EXPECT_EQ(ParseInteger("16000"), 16000);
  EXPECT_EQ(ParseInteger("-12abc"), -12);
  EXPECT_EQ(ParseInteger("+7"), 7);
  EXPECT_EQ(ParseInteger("abc"), 0);
  EXPECT_EQ(ParseInteger("7.9"), 7);
  EXPECT_EQ(ParseInteger("99999999999"), 2147483647);
  EXPECT_EQ(ParseInteger("-99999999999"), -2147483647 - 1);
}

TEST(ConfigValues, RealsReadTheLeadingDecimalNumber) {
  EXPECT_DOUBLE_EQ(ParseReal("0.5"), 0.5);
  EXPECT_DOUBLE_EQ(ParseReal("-2.5e2dB"), -250.0);
  EXPECT_DOUBLE_EQ(ParseReal(".25"), 0.25);
  EXPECT_DOUBLE_EQ(ParseReal("3e"), 3.0);
  EXPECT_DOUBLE_EQ(ParseReal("x1"), 0.0);
  EXPECT_DOUBLE_EQ(ParseReal("0x10"), 0.0);  // decimal only
  EXPECT_DOUBLE_EQ(ParseReal("inf"), 0.0);
}

TEST(ConfigValues, SecondsBecomeTruncatedFrames) {
  EXPECT_EQ(SecondsToFrames("0.25"), 25);
  EXPECT_EQ(SecondsToFrames("0.3"), 30);  // 0.3 * 100 = 30.000000000000004
  EXPECT_EQ(SecondsToFrames("1.999"), 199);
  EXPECT_EQ(SecondsToFrames("-0.019"), -1);
  EXPECT_EQ(SecondsToFrames("1e300"), 2147483647);
}

TEST(ConfigValues, HertzBecomeTruncatedBins) {
  // 8000 Hz / 512 = 15.625 Hz per bin: 3400 / 15.625 = 217.6, 300 / 15.625 = 19.2.
  EXPECT_EQ(HertzToBin("3400", 15.625f), 217);
  EXPECT_EQ(HertzToBin("300", 15.625f), 19);
  // 11025 Hz / 1024 = 10.7666015625 Hz per bin: 3400 / 10.7666 = 315.79.
  EXPECT_EQ(HertzToBin("3400", 10.7666015625f), 315);
}

TEST(ConfigValues, SwitchForms) {
  int32_t value = -5;
  EXPECT_TRUE(ParseStrictSwitch("TRUE", &value));
  EXPECT_EQ(value, 1);
  EXPECT_TRUE(ParseStrictSwitch("False", &value));
  EXPECT_EQ(value, 0);
  EXPECT_FALSE(ParseStrictSwitch("yes", &value));
  EXPECT_FALSE(ParseStrictSwitch("2", &value));
  EXPECT_EQ(value, 0);

  EXPECT_TRUE(ParseYesSwitch("Y"));
  EXPECT_TRUE(ParseYesSwitch("1"));
  EXPECT_FALSE(ParseYesSwitch("true"));
  EXPECT_FALSE(ParseYesSwitch("yes"));

  EXPECT_FALSE(ParseUnlessOffSwitch("FALSE"));
  EXPECT_FALSE(ParseUnlessOffSwitch("0"));
  EXPECT_TRUE(ParseUnlessOffSwitch("no"));
  EXPECT_TRUE(ParseUnlessOffSwitch(""));
}

}  // namespace
