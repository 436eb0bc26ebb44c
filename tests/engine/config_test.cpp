// The configuration phase of KVD_Init: key lookup in the files and the
// conversion of value texts, reading kvd.cfg and kvd_offline.cfg into every
// line, the refusals (each key at the edge of what it allows: the limit
// itself is taken, one step past it or a missing key gives -92 and a message
// naming the key), and the settings derived at the end.
#include <gtest/gtest.h>
#include <kvd/detect_voice.h>

#include <cctype>
#include <ostream>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "classifiers/detect_energy.h"
#include "engine/config_reader.h"
#include "engine/config_values.h"
#include "engine/kvd_api.h"
#include "engine/line_table.h"
#include "engine/speech_detector.h"
#include "engine_session.h"

namespace {

using kvdtest::CaptureLog;
using kvdtest::TempDir;

// Blanks vanish, keys match in any letter case, the first line of a key
// wins and every lookup reads from the top, a line splits at its last '=', a
// bare key has an empty value, a tab stays part of the key, CR LF ends a
// line, and a line longer than the 255 characters of the buffer reads as
// several lines.
TEST(ConfigLookup, KeysAndValuesAsTheReaderSplitsThem) {
  TempDir dir;
  const std::string filler(255 - std::string("Padding=").size(), 'x');
  const std::string text =
      "Sample Rate  =  16 000\nMaxSilence=60\nFastMode=1\nMaxSilence=70\nIsOnline=1=0\n"
      "\tTabbed=1\nUseCheckDTMF\r\nAverageGain=3\r\nPadding=" + filler + "MaxSegNum=42\n";
  configFile = OpenConfigFile(dir.WriteFile("kvd.cfg", text).c_str(), "r");
  ASSERT_NE(configFile, nullptr);
  const std::string missing = "<missing>";
  const std::pair<const char*, std::string> rows[] = {
      {"SampleRate", "16000"}, {"samplerate", "16000"},  {"Sample", missing},
      {"FastMode", "1"},       {"MaxSilence", "60"},     {"IsOnline=1", "0"},
      {"IsOnline", missing},   {"Tabbed", missing},      {"UseCheckDTMF", ""},
      {"AverageGain", "3"},    {"Padding", filler},      {"MaxSegNum", "42"}};
  for (const auto& [key, expected] : rows) {
    char value[kConfigLineBytes] = "stale";
    int32_t result = KVD_OK;
    const std::string log = CaptureLog([&] { result = GetConfig(key, value); });
    EXPECT_EQ(result == KVD_OK ? std::string(value) : missing, expected) << key;
    if (expected == missing) {
      EXPECT_EQ(result, KVD_ERR_CONFIG) << key;
      const std::string message = "Error in GetConfig! Cannot find " + std::string(key);
      EXPECT_NE(log.find(message + " in config file!\n"), std::string::npos) << log;
    }
  }
  CloseConfigFile();
}

TEST(ConfigValues, NumbersSecondsHertzAndSwitches) {
  for (const auto& [text, value] : std::vector<std::pair<const char*, int32_t>>{
           {"16000", 16000}, {"-12abc", -12}, {"+7", 7}, {"abc", 0}, {"7.9", 7},
           {"99999999999", 2147483647}, {"-99999999999", -2147483647 - 1}}) {
    EXPECT_EQ(ParseInteger(text), value) << text;
  }
  // Decimal only: hexadecimal and "inf" read as 0.
  for (const auto& [text, value] : std::vector<std::pair<const char*, double>>{
           {"0.5", 0.5}, {"-2.5e2dB", -250.0}, {".25", 0.25}, {"3e", 3.0}, {"x1", 0.0},
           {"0x10", 0.0}, {"inf", 0.0}}) {
    EXPECT_DOUBLE_EQ(ParseReal(text), value) << text;
  }
  // Truncated frames of 10 ms: 0.3 x 100 is 30.000000000000004.
  for (const auto& [text, frames] : std::vector<std::pair<const char*, int32_t>>{
           {"0.25", 25}, {"0.3", 30}, {"1.999", 199}, {"-0.019", -1}, {"1e300", 2147483647}}) {
    EXPECT_EQ(SecondsToFrames(text), frames) << text;
  }
  // Truncated bins: 8000 Hz / 512 = 15.625 Hz a bin (3400 Hz is 217.6, 300 Hz
  // 19.2); 11025 Hz / 1024 = 10.7666015625 Hz (3400 Hz is 315.79).
  EXPECT_EQ(HertzToBin("3400", 15.625f), 217);
  EXPECT_EQ(HertzToBin("300", 15.625f), 19);
  EXPECT_EQ(HertzToBin("3400", 10.7666015625f), 315);

  // Strict: 0/1 or true/false in any case; "yes" form: Y or 1; "unless
  // off": anything but 0 or false.
  for (const auto& [text, strict, yes, unlessOff] :
       std::vector<std::tuple<const char*, int32_t, bool, bool>>{
           {"TRUE", 1, false, true}, {"False", 0, false, false}, {"0", 0, false, false},
           {"yes", -1, false, true}, {"2", -1, false, true}, {"Y", -1, true, true},
           {"1", 1, true, true}, {"", -1, false, true}}) {
    int32_t value = -1;
    EXPECT_EQ(ParseStrictSwitch(text, &value), strict >= 0) << text;
    EXPECT_EQ(value, strict) << text;
    EXPECT_EQ(ParseYesSwitch(text), yes) << text;
    EXPECT_EQ(ParseUnlessOffSwitch(text), unlessOff) << text;
  }
}

class EngineConfig : public kvdtest::EngineSession {};

// The lookups in the file that failed to open answer -92 with their own message.
TEST_F(EngineConfig, MissingMainFileGivesThreeMessagesAndMinus92) {
  const std::string path = dir_.Path() + "/absent/kvd.cfg";
  int32_t result = 0;
  const std::string log = CaptureLog([&] { result = KVD_Init(path.c_str(), 2); });
  EXPECT_EQ(result, KVD_ERR_CONFIG);
  size_t at = 0;  // the three messages in this order, each with its time stamp
  for (const std::string& part :
       {"Error in open " + path + "!\n", std::string("Cannot open config file! NULL pointer!\n\n"),
        std::string("Config error! No SampleRate item in config file!\n")}) {
    ASSERT_NE(at = log.find(part, at), std::string::npos) << part << log;
  }
  EXPECT_EQ(LineCount(), 0);
  const std::string nullLog = CaptureLog([&] { result = KVD_Init(nullptr, 2); });
  EXPECT_EQ(result, KVD_ERR_CONFIG);
  EXPECT_NE(nullLog.find("Cannot open config file! NULL file name!"), std::string::npos) << nullLog;
}

enum class File { kMain, kOffline };

struct Refusal {
  File file;
  const char* key;
  const char* taken;    // the limit itself; nullptr: not tried
  const char* refused;  // one step past it; nullptr: the key is removed
  const char* message;  // what the log holds; a leading blank follows the key
  int32_t code = KVD_ERR_CONFIG;
};

// Shown by gtest and in the CTest names in place of a dump of the row's bytes.
void PrintTo(const Refusal& row, std::ostream* out) {
  *out << row.key << " = " << (row.refused == nullptr ? "(missing)" : row.refused);
}

class ConfigRefusal : public kvdtest::EngineSession,
                      public ::testing::WithParamInterface<Refusal> {
 protected:
  int32_t InitWith(const char* value) {
    const Refusal& row = GetParam();
    kvdtest::ConfigText& file = row.file == File::kOffline ? offline_ : main_;
    if (row.file == File::kOffline) main_.Set("IsOnline", "0");
    if (value == nullptr) file.Remove(row.key);
    if (value != nullptr) file.Set(row.key, value);
    return Init(3);
  }
};

TEST_P(ConfigRefusal, OnePastTheLimitOrAMissingKeyIsRefusedAndTheLimitTaken) {
  const Refusal& row = GetParam();
  EXPECT_EQ(InitWith(row.refused), row.code);
  const std::string message = (row.message[0] == ' ' ? row.key : "") + std::string(row.message);
  EXPECT_TRUE(Logged(message)) << log_;
  // SampleRate is refused before any line is built; after it the count
  // stays, the slots are empty and the engine answers "not initialised".
  const bool sampleRate = std::string(row.key) == "SampleRate";
  EXPECT_EQ(LineCount(), sampleRate ? 0 : 3);
  EXPECT_EQ(GetLine(0), nullptr);
  if (!sampleRate) {
    int32_t line = -1;
    const std::string openLog =
        CaptureLog([&] { EXPECT_EQ(KVD_Open(&line), KVD_ERR_NOT_INITIALISED); });
    EXPECT_NE(openLog.find("KVD_Open Error! System is not initialized!\n"), std::string::npos);
  }
  if (row.taken != nullptr) {
    ASSERT_EQ(InitWith(row.taken), KVD_OK) << log_;
    EXPECT_FALSE(Logged(message));
  }
}

// The key and the refused text, e.g. "AverageGain_minusinf" or "IsOnline_missing".
std::string RowName(const ::testing::TestParamInfo<Refusal>& row) {
  std::string name = std::string(row.param.key) + "_";
  if (row.param.refused == nullptr) return name + "missing";
  for (const unsigned char c : std::string(row.param.refused))
    name += c == '-' ? std::string("minus") : std::string(1, std::isalnum(c) ? c : '_');
  return name;
}

constexpr File kMain = File::kMain;
constexpr File kOffline = File::kOffline;

// One row per way a value is checked: each refusal message format, the
// integer, real, seconds and hertz readings at both kinds of edge, text that
// does not fit 32 bits or a float, and a missing key of each reading pass.
INSTANTIATE_TEST_SUITE_P(
    Rows, ConfigRefusal,
    ::testing::Values(
        Refusal{kMain, "SampleRate", "8000", "7999",
                "Cannot process data in so low sample rate!\n", KVD_ERR_LOW_SAMPLE_RATE},
        Refusal{kMain, "SampleRate", nullptr, nullptr,
                "Config error! No SampleRate item in config file!\n"},
        Refusal{kMain, "SampleRate", "192000", "192001", " should be 8000..192000!\n"},
        // 85899346 Hz is where 25 ms of samples no longer fit 32 bits.
        Refusal{kMain, "SampleRate", nullptr, "85899346", " should be 8000..192000!\n"},
        // Each mode switch passes its own texts to the one reading.
        Refusal{kMain, "IsOneSeg", nullptr, nullptr, "No IsOneSeg in Config file!\n"},
        Refusal{kMain, "IsOneSeg", "TRUE", "yes", " should be 0/1 or true/false!\n"},
        Refusal{kMain, "IsOnline", nullptr, nullptr, "No IsOnline in Config file!\n"},
        Refusal{kMain, "IsOnline", "false", "2", " should be 0/1 or true/false!\n"},
        Refusal{kMain, "MinSpeechDuration", nullptr, nullptr, " Error in kvd.cfg!\n"},
        Refusal{kOffline, "MaxSegNum", nullptr, nullptr, " Error in kvd.cfg!\n"},
        Refusal{kMain, "MinSpeechDuration", "0", "-1", " should be 0..2147483647!\n"},
        Refusal{kMain, "MaxSilence", "2147483647", "2147483648", " should be 0..2147483647!\n"},
        Refusal{kMain, "MaxSpeechDuration", "360000", "360001", " should be 0..360000!\n"},
        Refusal{kMain, "Sensitivity", "-3.4e38", "nan", " should be a finite number!\n"},
        Refusal{kMain, "AverageGain", "100", "100.01", " should be -100..100!\n"},
        Refusal{kMain, "AverageGain", "-100", "-inf", " should be -100..100!\n"},
        Refusal{kOffline, "ShortSpeechSegEnergyThd", "-2147483648", "-2147483649",
                " should be -2147483648..2147483647!\n"},
        Refusal{kOffline, "BackgroundEnergyOffline", "3.4e38", "3.5e38",
                " should be a finite number!\n"},
        Refusal{kOffline, "DetectSpecHighBorder_Hz", "4000", "4000.5", " should be 0..4000!\n"},
        Refusal{kOffline, "ShortSpeechSegLen_sec", "0", "-0.01", " should be 0..3600!\n"},
        Refusal{kOffline, "ExtendSpeechLen_sec", "3600", "1e300", " should be 0..3600!\n"},
        Refusal{kOffline, "MaxSegNum", "100000", "100001", " should be -2147483648..100000!\n"}),
    RowName);

TEST_F(EngineConfig, DetectionBandFollowsTheSampleRateAndMustHoldABin) {
  main_.Set("IsOnline", "0").Set("SampleRate", "16000");
  offline_.Set("DetectSpecHighBorder_Hz", "8000");
  ASSERT_EQ(Init(), KVD_OK) << log_;
  EXPECT_EQ(GetLine(0)->DetectSpecHighBorder_Hz, GetLine(0)->binCount);
  offline_.Set("DetectSpecHighBorder_Hz", "8001");
  EXPECT_EQ(Init(), KVD_ERR_CONFIG);
  EXPECT_TRUE(Logged("DetectSpecHighBorder_Hz should be 0..8000!\n")) << log_;

  // At 8000 Hz a bin is 15.625 Hz wide: 300 Hz lies in bin 19, 312.5 Hz
  // starts bin 20.
  main_.Set("SampleRate", "8000");
  offline_.Set("DetectSpecLowBorder_Hz", "300").Set("DetectSpecHighBorder_Hz", "312.5");
  ASSERT_EQ(Init(3), KVD_OK) << log_;
  for (const char* high : {"312.4", "200"}) {
    offline_.Set("DetectSpecHighBorder_Hz", high);
    EXPECT_EQ(Init(3), KVD_ERR_CONFIG) << high;
    EXPECT_TRUE(Logged("should be at least one bin above DetectSpecLowBorder_Hz!\n")) << log_;
    EXPECT_EQ(GetLine(0), nullptr);
  }
}

// Switch and number texts as the lines read them back: Sensitivity is held
// within 0.04..0.99, MaxSilence within the 500-frame histories (with a
// warning, not refused), and an integer text without digits reads as 0.
TEST_F(EngineConfig, ValuesAreReadBackAsTheKeyDefines) {
  const struct {
    const char* key;
    const char* value;
    const char* readBack;
  } cases[] = {{"IsOneSeg", "TRUE", "1"},        {"IsOnline", "true", "1"},
               {"UseCheckDTMF", "Y", "1"},       {"UseCheckDTMF", "yes", "0"},
               {"Sensitivity", "2", "0.990000"}, {"Sensitivity", "0", "0.040000"},
               {"MaxSilence", "abc", "0"},       {"MaxSilence", "2147483647", "500"}};
  for (const auto& c : cases) {
    main_ = kvdtest::DefaultMainConfig();
    main_.Set(c.key, c.value).Set("MaxHoldFrame", "600");
    ASSERT_EQ(Init(), KVD_OK) << c.key << " " << c.value << "\n" << log_;
    EXPECT_EQ(Parameter(1, c.key), c.readBack) << c.key << " " << c.value;
  }
  EXPECT_TRUE(Logged("KVD ERROR! MaxSilence Too long!"));
  EXPECT_EQ(GetLine(0)->detectEnergy->MaxSilence, 500);
  EXPECT_EQ(GetLine(0)->MaxHoldFrame, 600);
  EXPECT_TRUE(Logged("Set mode from kvd.cfg:"));
  EXPECT_TRUE(Logged("check speech/humming in online mode!\n"));

  // MaxHoldFrame below MaxSilence is raised to it.
  main_.Set("MaxSilence", "60").Set("MaxHoldFrame", "20");
  ASSERT_EQ(Init(), KVD_OK);
  EXPECT_TRUE(Logged("KVD ERROR! MaxHoldFrame<MaxSilence!\n"));
  EXPECT_EQ(GetLine(1)->MaxHoldFrame, 60);

  // OpenAllLines is off only for 0 or false; without the key it is on.
  for (const char* value : {"FALSE", "no", ""}) {
    main_.Set("OpenAllLines", value);
    if (value[0] == '\0') main_.Remove("OpenAllLines");
    ASSERT_EQ(Init(3), KVD_OK);
    EXPECT_EQ(LineCount(), value[0] == 'F' ? 3 : kMaxLines) << value;
  }
  EXPECT_NE(GetLine(kMaxLines - 1), nullptr);
}

// The companion is "<main name less .cfg>_offline.cfg", read where a line
// can run offline detection; without ".cfg" (any case) it is refused. A
// failed companion leaves the lines, configured from the main file.
TEST_F(EngineConfig, CompanionFileFollowsTheMainFileAndTheMode) {
  main_.Set("IsOnline", "0");
  // The file name alone nearly fills a 256-byte buffer; the folder adds more.
  ASSERT_EQ(Init(2, std::string(240, 'k') + ".cfg"), KVD_OK);
  EXPECT_EQ(Parameter(0, "MaxSegNum"), "100");

  writeOffline_ = false;
  main_.Set("IsOneSeg", "0").Set("MaxWaitFrame", "321");
  dir_.WriteFile("KVD_offline.cfg", offline_.Set("MaxSegNum", "7").Text());
  ASSERT_EQ(Init(2, "KVD.CFG"), KVD_OK);
  EXPECT_EQ(Parameter(0, "MaxSegNum"), "7");
  EXPECT_TRUE(Logged("check multi speech segments in offline mode!\n"));
  EXPECT_EQ(Init(2, "kvd"), KVD_ERR_CONFIG);
  EXPECT_TRUE(Logged("config file isn't in suffix of .cfg!\n\n"));
  EXPECT_EQ(Parameter(1, "MaxWaitFrame"), "321");

  for (const char* mode : {"IsOnline", "IsOneSeg"}) {
    main_ = kvdtest::DefaultMainConfig();
    main_.Set(mode, "0");
    EXPECT_EQ(Init(), KVD_ERR_CONFIG) << mode;
    EXPECT_TRUE(Logged("Cannot open offline config file! NULL file pointer!\n\n")) << mode;
    EXPECT_NE(GetLine(0), nullptr) << mode;
  }
  // Online single-segment lines need no companion, whatever the name.
  main_ = kvdtest::DefaultMainConfig();
  EXPECT_EQ(Init(2, "kvd"), KVD_OK);
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
    EXPECT_EQ(std::tie(line.voiceThr, line.startRunLength, line.energyStartThr, line.energyContThr),
              std::tie(c.voiceThr, c.startRunLength, c.energyStartThr, c.energyContThr));
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
