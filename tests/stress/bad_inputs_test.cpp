// The catalogue of bad inputs of docs/robustness.md, tried one by one: bad
// configuration files and engine calls out of order or with bad arguments
// (in this process), bad recordings (through GetMuteEnd in a dlopen host).
// Each row is what the library answers: its code and its message.
#include <gtest/gtest.h>


#include <cctype>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <ostream>
#include <string>
#include <vector>

#include "engine/kvd_api.h"
#include "entry/wave_reader.h"
#include "engine_session.h"
#include "test_signals.h"

namespace {

namespace fs = std::filesystem;

struct ConfigRow {
  const char* what;
  std::function<void(kvdtest::ConfigText& main, kvdtest::ConfigText& offline)> edit;
  int32_t code;
  const char* message;
};

// Rows are named by what they try.
void PrintTo(const ConfigRow& row, std::ostream* out) { *out << row.what; }

class BadConfiguration : public kvdtest::EngineSession,
                         public ::testing::WithParamInterface<ConfigRow> {};

TEST_P(BadConfiguration, IsRefusedOrReadAsDocumented) {
  const ConfigRow& row = GetParam();
  row.edit(main_, offline_);
  EXPECT_EQ(Init(2), row.code) << row.what;
  EXPECT_TRUE(Logged(row.message)) << row.what << "\n" << log_;
}

void Offline(kvdtest::ConfigText& main) { main.Set("IsOnline", "0"); }

INSTANTIATE_TEST_SUITE_P(
    Rows, BadConfiguration,
    ::testing::Values(
        ConfigRow{"missing key",
                  [](auto& m, auto&) { m.Remove("MaxSilence"); }, KVD_ERR_CONFIG,
                  "MaxSilence Error in kvd.cfg!"},
        ConfigRow{"missing SampleRate", [](auto& m, auto&) { m.Remove("SampleRate"); },
                  KVD_ERR_CONFIG, "Config error! No SampleRate item in config file!"},
        ConfigRow{"malformed switch", [](auto& m, auto&) { m.Set("IsOnline", "yes"); },
                  KVD_ERR_CONFIG, "IsOnline should be 0/1 or true/false!"},
        // Integer text without digits reads as 0, which MaxSilence allows.
        ConfigRow{"malformed integer", [](auto& m, auto&) { m.Set("MaxSilence", "abc"); },
                  KVD_OK, "KVD Init 2 lines successful!"},
        ConfigRow{"out of range", [](auto& m, auto&) { m.Set("MaxWaitFrame", "-5"); },
                  KVD_ERR_CONFIG, "MaxWaitFrame should be 0..360000!"},
        ConfigRow{"sample rate too low", [](auto& m, auto&) { m.Set("SampleRate", "7999"); },
                  KVD_ERR_LOW_SAMPLE_RATE, "Cannot process data in so low sample rate!"},
        ConfigRow{"sample rate too high", [](auto& m, auto&) { m.Set("SampleRate", "192001"); },
                  KVD_ERR_CONFIG, "SampleRate should be 8000..192000!"},
        ConfigRow{"nan", [](auto& m, auto&) { m.Set("Sensitivity", "nan"); }, KVD_ERR_CONFIG,
                  "Sensitivity should be a finite number!"},
        ConfigRow{"inf", [](auto& m, auto&) { m.Set("AverageGain", "inf"); }, KVD_ERR_CONFIG,
                  "AverageGain should be -100..100!"},
        ConfigRow{"overflowing integer",
                  [](auto& m, auto&) { m.Set("MaxSilence", "99999999999"); }, KVD_ERR_CONFIG,
                  "MaxSilence should be 0..2147483647!"},
        ConfigRow{"MaxSilence above the 500-frame histories",
                  [](auto& m, auto&) { m.Set("MaxSilence", "600").Set("MaxHoldFrame", "600"); },
                  KVD_OK, "KVD ERROR! MaxSilence Too long!"},
        ConfigRow{"wrong band order",
                  [](auto& m, auto& o) {
                    Offline(m);
                    o.Set("DetectSpecLowBorder_Hz", "3400").Set("DetectSpecHighBorder_Hz", "200");
                  },
                  KVD_ERR_CONFIG,
                  "DetectSpecHighBorder_Hz should be at least one bin above "
                  "DetectSpecLowBorder_Hz!"},
        ConfigRow{"missing companion key",
                  [](auto& m, auto& o) {
                    Offline(m);
                    o.Remove("MaxSegNum");
                  },
                  KVD_ERR_CONFIG, "MaxSegNum Error in kvd.cfg!"},
        ConfigRow{"MaxSegNum 0 (refused by detection, not here)",
                  [](auto& m, auto& o) {
                    Offline(m);
                    m.Set("IsOneSeg", "0");
                    o.Set("MaxSegNum", "0");
                  },
                  KVD_OK, "check multi speech segments in offline mode!"}),
    [](const ::testing::TestParamInfo<ConfigRow>& row) {
      std::string name = row.param.what;
      for (char& c : name)
        if (!std::isalnum(static_cast<unsigned char>(c))) c = '_';
      return name;
    });

class BadConfigurationFile : public kvdtest::EngineSession {};

TEST_F(BadConfigurationFile, MissingFilesAndNamesAreRefused) {
  int32_t code = 0;
  std::string log = kvdtest::CaptureLog([&] { code = KVD_Init((dir_.Path() + "/none.cfg").c_str(), 2); });
  EXPECT_EQ(code, KVD_ERR_CONFIG);
  EXPECT_NE(log.find("Error in open "), std::string::npos) << log;

  log = kvdtest::CaptureLog([&] { code = KVD_Init(nullptr, 2); });
  EXPECT_EQ(code, KVD_ERR_CONFIG);
  EXPECT_NE(log.find("Cannot open config file! NULL file name!"), std::string::npos) << log;

  log = kvdtest::CaptureLog([&] { code = KVD_Init("unused.cfg", kMaxLines + 1); });
  EXPECT_EQ(code, KVD_ERR_LINE_BUILD);
  EXPECT_NE(log.find("Too many lines!"), std::string::npos) << log;

  main_.Set("IsOnline", "0");
  writeOffline_ = false;
  EXPECT_EQ(Init(2), KVD_ERR_CONFIG);
  EXPECT_TRUE(Logged("Cannot open offline config file! NULL file pointer!"));
  EXPECT_EQ(Init(2, "kvd.conf"), KVD_ERR_CONFIG);
  EXPECT_TRUE(Logged("config file isn't in suffix of .cfg!"));
}

// Engine calls out of order or with bad arguments, in one session of two
// online lines.
class EngineMisuse : public kvdtest::EngineSession {
 protected:
  // The call's code, and that its log holds message.
  void Expect(const char* what, const std::function<int32_t()>& call, int32_t code,
              const char* message) {
    int32_t result = 0;
    const std::string log = kvdtest::CaptureLog([&] { result = call(); });
    EXPECT_EQ(result, code) << what;
    EXPECT_NE(log.find(message), std::string::npos) << what << "\n" << log;
  }
  int32_t Detect(int32_t line, const int16_t* samples, int32_t count) {
    return KVD_DetectSpeech(line, samples, count, &state_, &start_, &end_, &position_);
  }

  int32_t state_ = 0;
  int32_t start_ = 0;
  int32_t end_ = 0;
  int32_t position_ = 0;
  const std::vector<int16_t> pcm_ = std::vector<int16_t>(160, 0);
};

TEST_F(EngineMisuse, BeforeInitAndAfterExit) {
  int32_t line = -1;
  for (const char* when : {"before KVD_Init", "after KVD_Exit"}) {
    Expect(when, [&] { return KVD_Open(&line); }, KVD_ERR_NO_FREE_LINE,
           "KVD_Open Error! No free line!");
    Expect(when, [] { return KVD_Start(0); }, KVD_ERR_BAD_LINE, "KVD_Start Error! NULL pointer");
    Expect(when, [&] { return Detect(0, pcm_.data(), 160); }, KVD_ERR_BAD_LINE,
           "KVD_DetectSpeech Error! NULL pointer to kvd.");
    Expect(when, [] { return KVD_Exit(); }, KVD_OK, "Exit 0 lines successful!");
    ASSERT_EQ(Init(2), KVD_OK);
    EXPECT_EQ(Init(2), KVD_OK) << "KVD_Init again without KVD_Exit";
    EXPECT_TRUE(Logged("2 lines have been used!"));
    kvdtest::CaptureLog([] { KVD_Exit(); });
  }
}

TEST_F(EngineMisuse, BadArgumentsAndCallsOutOfOrder) {
  ASSERT_EQ(Init(2), KVD_OK);
  int32_t line = -1;
  char value[kConfigLineBytes];
  Expect("null line pointer", [] { return KVD_Open(nullptr); }, KVD_ERR_BAD_LINE,
         "KVD_Open Error! NULL Pointer to open!");
  Expect("null parameter name", [&] { return KVD_GetParameter(0, nullptr, value); }, KVD_OK,
         "paraName is NULL!");
  Expect("null parameter buffer", [] { return KVD_GetParameter(0, "SampleRate", nullptr); },
         KVD_OK, "Buffer for parameter is NULL!");
  for (int32_t bad : {-1, 2, kMaxLines}) {
    Expect("bad line: start", [&] { return KVD_Start(bad); }, KVD_ERR_BAD_LINE, "NULL pointer");
    Expect("bad line: stop", [&] { return KVD_Stop(bad); }, KVD_ERR_BAD_LINE, "NULL pointer");
    Expect("bad line: close", [&] { return KVD_Close(bad); }, KVD_ERR_BAD_LINE, "NULL pointer");
    Expect("bad line: parameter", [&] { return KVD_GetParameter(bad, "SampleRate", value); },
           KVD_ERR_BAD_LINE, "NULL pointer");
  }
  Expect("detection on a line never opened", [&] { return Detect(0, pcm_.data(), 160); },
         KVD_ERR_NOT_OPEN, "This line has not been used.");
  Expect("start of a line never opened", [] { return KVD_Start(0); }, KVD_ERR_NOT_OPEN,
         "The line is not open.");
  Expect("stop of a line never opened", [] { return KVD_Stop(0); }, KVD_ERR_NOT_OPEN,
         "has not been open!");
  ASSERT_EQ(kvdtest::CaptureLog([&] { KVD_Open(&line); }).empty(), false);
  Expect("detection before KVD_Start", [&] { return Detect(line, pcm_.data(), 160); },
         KVD_ERR_NOT_STARTED, "This line has not been started.");
  Expect("start", [&] { return KVD_Start(line); }, KVD_OK, "");
  Expect("start of a started line", [&] { return KVD_Start(line); }, KVD_OK,
         "Try to start a busy line");
  Expect("null samples", [&] { return Detect(line, nullptr, 160); }, KVD_ERR_BAD_LINE,
         "KVD_DetectSpeech error! NULL pointer!");
  Expect("null state pointer",
         [&] { return KVD_DetectSpeech(line, pcm_.data(), 160, nullptr, &start_, &end_, &position_); },
         KVD_ERR_BAD_LINE, "KVD_DetectSpeech error! NULL pointer!");
  Expect("the line still works after null pointers", [&] { return Detect(line, pcm_.data(), 160); },
         KVD_OK, "");
  Expect("negative length", [&] { return Detect(line, pcm_.data(), -1); }, KVD_ERR_BAD_DATA,
         "Error data sent to KVD_DetectSpeech.");
  Expect("the broken line refuses detection", [&] { return Detect(line, pcm_.data(), 160); },
         KVD_ERR_BAD_DATA, "Error to begin Detect!");
  Expect("the broken line refuses a start", [&] { return KVD_Start(line); }, KVD_ERR_BAD_DATA,
         "Error to begin ReInitial!");
  Expect("close of a started line", [&] { return KVD_Close(line); }, KVD_OK,
         "is not idle when it is closed!");
  Expect("double close", [&] { return KVD_Close(line); }, KVD_OK,
         "when it is not started!");
  Expect("reopening a line closed while busy", [&] { return KVD_Open(&line); }, KVD_OK,
         "has not been closed correctly!");
  Expect("stop of an idle line", [&] { return KVD_Stop(line); }, KVD_OK,
         "is idle already. state=idle.");
  Expect("KVD_Exit", [] { return KVD_Exit(); }, KVD_OK, "Exit 2 lines successful!");
  Expect("KVD_Exit twice", [] { return KVD_Exit(); }, KVD_OK, "Exit 0 lines successful!");
}

TEST_F(EngineMisuse, OfflineSegmentListWithoutRoom) {
  main_.Set("IsOnline", "0").Set("IsOneSeg", "0");
  offline_.Set("MaxSegNum", "0");
  ASSERT_EQ(Init(1), KVD_OK);
  int32_t line = -1;
  kvdtest::CaptureLog([&] { KVD_Open(&line); KVD_Start(line); });
  Expect("multi-segment detection without segment room",
         [&] { return Detect(line, pcm_.data(), 160); }, KVD_ERR_OFFLINE, "MaxSegNum");
}

TEST_F(EngineMisuse, OfflineNegativeLength) {
  main_.Set("IsOnline", "0");
  ASSERT_EQ(Init(1), KVD_OK);
  int32_t line = -1;
  kvdtest::CaptureLog([&] { KVD_Open(&line); KVD_Start(line); });
  Expect("offline negative length", [&] { return Detect(line, pcm_.data(), -1); },
         KVD_ERR_BAD_DATA, "Error data sent to KVD_DetectSpeech.");
  EXPECT_EQ(start_, 0) << "no segment may be reported";
  EXPECT_EQ(end_, 0) << "no segment may be reported";
  Expect("the broken offline line refuses a start", [&] { return KVD_Start(line); },
         KVD_ERR_BAD_DATA, "Error to begin ReInitial!");
}

// Bad recordings, through GetMuteEnd in mute_end_probe (offline single
// segment, the shipped configuration).
struct FileRow {
  const char* what;
  std::string name;
  std::string bytes;  // file content; the file is not written when name is "missing.wav"
  int exitStatus;
  const char* output;  // part of the host's output
};

std::string SampleBytes() {
  std::ifstream file(kvdtest::SamplePath("kvd_sample.wav"), std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
}

// The sample with a header whose RIFF and data lengths say 4 GB.
std::string HugeLengthHeader() {
  std::string bytes = SampleBytes();
  for (size_t at : {size_t{4}, size_t{40}}) bytes.replace(at, 4, "\xf0\xff\xff\xff", 4);
  return bytes;
}

TEST(BadRecordings, AreRefusedOrReadAsDocumented) {
  kvdtest::TempDir dir;
  const fs::path lib = fs::path(dir.Path()) / "lib";
  fs::create_directories(lib);
  fs::copy_file(KVD_LIBRARY, lib / "libkvd.so");
  for (const char* cfg : {"kvd.cfg", "kvd_offline.cfg"})
    fs::copy_file(fs::path(KVD_CONFIG_DIR) / cfg, lib / cfg);
  const std::string sample = SampleBytes();
  const std::vector<FileRow> rows = {
      {"missing", "missing.wav", "", 0, "Error in open missing.wav! Abort."},
      {"empty", "empty.pcm", "", 0, "result=-82 samples=-7 ms=-7"},
      {"44-byte header only", "header.wav", sample.substr(0, 44), 0, "is truncated"},
      {"truncated (1.25 s, odd byte count)", "cut.wav", sample.substr(0, 20045), 0,
       "result=-81 samples=-7 ms=-7"},
      {"wave named .pcm: header read as 22 samples", "sample.pcm", sample, 0,
       "result=0 samples=11440 ms=1430"},
      {"huge length fields", "huge.wav", HugeLengthHeader(), 0, "result=-81"},
      {"path of 256 characters", std::string(252, 'x') + ".wav", sample, 0,
       "result=-80 samples=-7 ms=-7"},
  };
  for (const FileRow& row : rows) {
    const fs::path path = row.name.size() > 255 ? fs::path(row.name) : fs::path(dir.Path()) / row.name;
    if (row.name != "missing.wav") std::ofstream(path, std::ios::binary) << row.bytes;
    const std::string recording = row.name == "missing.wav" ? row.name : path.string();
    const std::string command = "cd '" + dir.Path() + "' && '" MUTE_END_PROBE "' lib/libkvd.so '" +
                                recording + "' 2>&1";
    const kvdtest::ShellRun run = kvdtest::RunShell(command);
    EXPECT_EQ(run.exitStatus, row.exitStatus) << row.what;
    EXPECT_NE(run.output.find(row.output), std::string::npos) << row.what << "\n" << run.output;
  }
}

// GetMuteEnd hands its path to the wave reader before anything else reads it.
TEST(BadRecordings, NullPathIsRefused) {
  WaveTable table;
  EXPECT_EQ(ReadWaveList(nullptr, table), KVD_MUTE_END_NO_RECORDING);
  EXPECT_EQ(table.entryCount, 0);
}

}  // namespace
