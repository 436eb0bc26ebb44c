// GetMuteEnd end to end, as a host sees it: a copy of libkvd.so in a fresh
// folder with the configuration under test beside it, loaded by a child
// process (mute_end_probe) whose output and exit status are checked.
#include <gtest/gtest.h>

#include <unistd.h>

#include <array>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "kvd/get_mute_end.h"
#include "engine_fixtures.h"
#include "test_signals.h"
#include "wave_bytes.h"

namespace {

namespace fs = std::filesystem;

using Overrides = std::map<std::string, std::string>;

// Sample at which the bundled sample's speech begins (1.55 s at 8000 Hz).
constexpr int kSampleSpeechStart = 12400;
constexpr int kSampleRateHz = 8000;

using RunResult = kvdtest::ShellRun;

class GetMuteEndHost : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::temp_directory_path() /
           ("kvd_mute_end_" + std::to_string(::getpid()) + "_" +
            ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(dir_);
    fs::create_directories(dir_ / "lib");
    fs::copy_file(KVD_LIBRARY, dir_ / "lib" / "libkvd.so");
  }
  void TearDown() override { fs::remove_all(dir_); }

  // The shipped file with some values replaced, written to path.
  static void WriteConfig(const fs::path& shipped, const fs::path& path,
                          const Overrides& overrides) {
    std::ifstream in(shipped);
    std::ofstream out(path);
    for (std::string line; std::getline(in, line);) {
      const std::string key = line.substr(0, line.find(' '));
      const auto replaced = overrides.find(key);
      out << (replaced == overrides.end() ? line : key + " = " + replaced->second) << "\n";
    }
  }

  fs::path WriteMainConfig(const Overrides& overrides, const std::string& name = "kvd.cfg") {
    const fs::path path = dir_ / "lib" / name;
    WriteConfig(fs::path(KVD_CONFIG_DIR) / "kvd.cfg", path, overrides);
    return path;
  }

  void WriteConfigs(const Overrides& overrides) {
    WriteMainConfig(overrides);
    WriteConfig(fs::path(KVD_CONFIG_DIR) / "kvd_offline.cfg", dir_ / "lib" / "kvd_offline.cfg",
                overrides);
  }

  // Runs the probe in the test's folder (where cut files and logs land) on
  // its items: recordings, and --config=<file> between them.
  RunResult Run(const std::vector<std::string>& items) {
    std::string command = "cd '" + dir_.string() + "' && '" MUTE_END_PROBE "' lib/libkvd.so";
    for (const auto& item : items) command += " '" + item + "'";
    return kvdtest::RunShell(command);
  }

  fs::path dir_;
};

// The values of the probe's "result=… samples=… ms=…" lines, in order.
std::vector<std::array<int, 3>> ProbeResults(const std::string& output) {
  std::vector<std::array<int, 3>> results;
  std::istringstream lines(output);
  for (std::string line; std::getline(lines, line);) {
    std::array<int, 3> values{};
    if (std::sscanf(line.c_str(), "result=%d samples=%d ms=%d", &values[0], &values[1],
                    &values[2]) == 3)
      results.push_back(values);
  }
  return results;
}

int Occurrences(const std::string& text, const std::string& part) {
  int count = 0;
  for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++count;
  return count;
}

bool Contains(const std::string& text, const std::string& part) {
  return text.find(part) != std::string::npos;
}

TEST_F(GetMuteEndHost, OfflineSingleSegmentReturnsWhereTheSampleSpeechStarts) {
  WriteConfigs({});
  const RunResult run = Run({kvdtest::SamplePath("kvd_sample.wav")});
  ASSERT_EQ(run.exitStatus, 0) << run.output;
  const auto results = ProbeResults(run.output);
  ASSERT_EQ(results.size(), 1u) << run.output;
  EXPECT_EQ(results[0][0], 0);
  // Within 150 ms of the first speech (the start is moved out by the 100 ms
  // extension of the shipped configuration).
  EXPECT_NEAR(results[0][1], kSampleSpeechStart, 0.150 * kSampleRateHz) << run.output;
  EXPECT_EQ(results[0][2], results[0][1] * 1000 / kSampleRateHz);
  EXPECT_TRUE(Contains(run.output, "NULL SaveCutPcm. Default: Do not save.\n "));
  EXPECT_TRUE(Contains(run.output, "Open offline detector successfully!\n"));
  EXPECT_TRUE(Contains(run.output, "1 waves processed.\n"));
  EXPECT_TRUE(Contains(run.output, "Realtime rate="));
  EXPECT_TRUE(Contains(run.output, "End time:   "));
}

TEST_F(GetMuteEndHost, MultiSegmentPrintsSegmentsAndWritesNothingBack) {
  WriteConfigs({{"IsOneSeg", "0"}});
  const RunResult run = Run({kvdtest::SamplePath("kvd_sample.pcm")});
  ASSERT_EQ(run.exitStatus, 0) << run.output;
  const auto results = ProbeResults(run.output);
  ASSERT_EQ(results.size(), 1u) << run.output;
  EXPECT_EQ(results[0], (std::array<int, 3>{0, -7, -7}));
  EXPECT_TRUE(Contains(run.output, "NULL SaveShortPcm. Default: Do not save.\n"));
  EXPECT_TRUE(Contains(run.output, "00000 " + kvdtest::SamplePath("kvd_sample.pcm") + ": "));
  int start = 0;
  int end = 0;
  const size_t listAt = run.output.find(".pcm: ");
  ASSERT_NE(listAt, std::string::npos);
  ASSERT_EQ(std::sscanf(run.output.c_str() + listAt + 6, "%d-%d", &start, &end), 2) << run.output;
  EXPECT_LT(start, end);
}

TEST_F(GetMuteEndHost, OnlineWithMultiSegmentRunsNothing) {
  WriteConfigs({{"IsOnline", "1"}, {"IsOneSeg", "0"}});
  const RunResult run = Run({kvdtest::SamplePath("kvd_sample.wav")});
  ASSERT_EQ(run.exitStatus, 0) << run.output;
  EXPECT_EQ(ProbeResults(run.output)[0], (std::array<int, 3>{0, -7, -7}));
  EXPECT_FALSE(Contains(run.output, "Open offline detector"));
  EXPECT_FALSE(Contains(run.output, "waves processed"));
  EXPECT_TRUE(Contains(run.output, "Begin time: "));
}

TEST_F(GetMuteEndHost, OnlineModeRunsAHundredLinesToTheirEnd) {
  WriteConfigs({{"IsOnline", "1"}});
  const RunResult run = Run({kvdtest::SamplePath("kvd_sample.wav")});
  ASSERT_EQ(run.exitStatus, 0) << run.output;
  EXPECT_EQ(ProbeResults(run.output)[0], (std::array<int, 3>{0, -7, -7}));
  // Every worker opens a line, streams the recording and finishes; a worker
  // that is done before the next one starts hands its line on, so the line
  // numbers repeat.
  EXPECT_EQ(Occurrences(run.output, "Open KVD line"), 100);
  EXPECT_EQ(Occurrences(run.output, " Finished!\n"), 100);
  EXPECT_FALSE(Contains(run.output, "waves processed"));
}

TEST_F(GetMuteEndHost, ModesFollowEachCallsConfiguration) {
  WriteConfigs({});
  const fs::path multi = WriteMainConfig({{"IsOneSeg", "0"}}, "multi.cfg");
  const fs::path single = WriteMainConfig({}, "single.cfg");
  const std::string sample = kvdtest::SamplePath("kvd_sample.wav");
  const RunResult run = Run({sample, "--config=" + multi.string(), sample,
                             "--config=" + single.string(), sample});
  ASSERT_EQ(run.exitStatus, 0) << run.output;
  const auto results = ProbeResults(run.output);
  ASSERT_EQ(results.size(), 3u) << run.output;
  EXPECT_GT(results[0][1], 0);
  EXPECT_EQ(results[1][1], -7);            // multi-segment writes nothing back
  EXPECT_EQ(results[2][1], results[0][1]);  // single segment again
}

TEST_F(GetMuteEndHost, NoSegmentRoomEndsTheProcessWithFailure) {
  WriteConfigs({{"IsOneSeg", "0"}, {"MaxSegNum", "0"}});
  const RunResult run = Run({kvdtest::SamplePath("kvd_sample.wav")});
  EXPECT_NE(run.exitStatus, 0);
  EXPECT_TRUE(Contains(run.output, "Error seg_number! Exit.\n"));
  EXPECT_TRUE(ProbeResults(run.output).empty());
}

TEST_F(GetMuteEndHost, BrokenConfigurationEndsTheProcessWithFailure) {
  WriteConfigs({{"SampleRate", "7999"}});
  const RunResult run = Run({kvdtest::SamplePath("kvd_sample.wav")});
  EXPECT_NE(run.exitStatus, 0);
  EXPECT_TRUE(Contains(run.output, "Error in Initializing system!\n"));
}

TEST_F(GetMuteEndHost, TooShortRecordingIsNoSpeechNotThePreviousResult) {
  WriteConfigs({});
  const fs::path shortRecording = dir_ / "short.pcm";
  std::ofstream(shortRecording, std::ios::binary) << std::string(400, '\0');
  // First the sample (a positive start), then 200 samples of silence.
  const RunResult run = Run({kvdtest::SamplePath("kvd_sample.wav"), shortRecording.string()});
  ASSERT_EQ(run.exitStatus, 0) << run.output;
  const auto results = ProbeResults(run.output);
  ASSERT_EQ(results.size(), 2u) << run.output;
  EXPECT_GT(results[0][1], 0);
  EXPECT_EQ(results[1], (std::array<int, 3>{KVD_MUTE_END_NO_SPEECH, -1, -1}));
  EXPECT_TRUE(Contains(run.output, "No speech found in " + shortRecording.string() + ".\n"));
}

// Every class of unusable recording gets its own code and reason, and the
// host gets control back with its out-arguments untouched (-7).
TEST_F(GetMuteEndHost, UnusableRecordingsAreRefusedWithACode) {
  WriteConfigs({});
  const std::vector<int16_t> sample = kvdtest::ReadPcmFile(kvdtest::SamplePath("kvd_sample.pcm"));
  ASSERT_FALSE(sample.empty());
  std::vector<int16_t> stereo;
  for (int16_t value : sample) stereo.insert(stereo.end(), {value, value});
  using kvdtest::Chunk;
  const kvdtest::Bytes floatFormat = kvdtest::FloatFormat(8000);
  struct Case {
    std::string name;
    kvdtest::Bytes bytes;
    int32_t code;
    std::string reason;
  };
  const std::vector<Case> cases = {
      {"random.wav", kvdtest::Bytes(1000, 0xa7), KVD_MUTE_END_BAD_FORMAT, "is not a RIFF/WAVE file"},
      {"empty.wav", {}, KVD_MUTE_END_BAD_FORMAT, "is not a RIFF/WAVE file"},
      {"header_only.wav", kvdtest::CanonicalWave({}, 8000), KVD_MUTE_END_NO_SAMPLES,
       "holds no samples"},
      {"float.wav",
       kvdtest::RiffWave({Chunk("fmt ", floatFormat),
                          Chunk("data", kvdtest::Bytes(sample.size() * 4, 0))}),
       KVD_MUTE_END_BAD_FORMAT, "is not PCM (format tag 3)"},
      {"stereo.wav",
       kvdtest::RiffWave({Chunk("fmt ", kvdtest::PcmFormat(2, 8000, 16)),
                          Chunk("data", kvdtest::SampleBytes(stereo))}),
       KVD_MUTE_END_BAD_FORMAT, "has 2 channels; the engine needs mono"},
      {"rate.wav", kvdtest::CanonicalWave(sample, 16000), KVD_MUTE_END_BAD_FORMAT,
       "has a sample rate of 16000 Hz; the configuration's SampleRate is 8000 Hz"},
      {"nodata.wav", kvdtest::RiffWave({Chunk("fmt ", kvdtest::PcmFormat(1, 8000, 16))}),
       KVD_MUTE_END_BAD_FORMAT, "is a wave file without a data chunk"},
  };
  std::vector<std::string> items;
  for (const Case& c : cases) {
    items.push_back((dir_ / c.name).string());
    kvdtest::WriteBytes(items.back(), c.bytes);
  }
  fs::create_directories(dir_ / "folder.wav");
  items.push_back((dir_ / "folder.wav").string());
  const RunResult run = Run(items);
  ASSERT_EQ(run.exitStatus, 0) << run.output;
  const auto results = ProbeResults(run.output);
  ASSERT_EQ(results.size(), cases.size() + 1) << run.output;
  for (size_t i = 0; i < cases.size(); ++i) {
    EXPECT_EQ(results[i], (std::array<int, 3>{cases[i].code, -7, -7})) << cases[i].name;
    EXPECT_TRUE(Contains(run.output, "\nError: " + items[i] + " " + cases[i].reason))
        << cases[i].name;
  }
  EXPECT_EQ(results.back(), (std::array<int, 3>{KVD_MUTE_END_NO_RECORDING, -7, -7}));
  EXPECT_TRUE(Contains(run.output, items.back() + " is a folder, not a recording"));
  EXPECT_FALSE(Contains(run.output, "waves processed"));
}

// The same samples give the same answer wherever the data chunk lies; speech
// from the first sample is 0 with result 0, silence is no speech.
TEST_F(GetMuteEndHost, DataChunkAnywhereAndSpeechAtTheStartAreRead) {
  WriteConfigs({});
  const std::vector<int16_t> sample = kvdtest::ReadPcmFile(kvdtest::SamplePath("kvd_sample.pcm"));
  ASSERT_GT(sample.size(), static_cast<size_t>(kSampleSpeechStart));
  using kvdtest::Chunk;
  const fs::path moved = dir_ / "moved.wav";
  kvdtest::WriteBytes(moved.string(),
                      kvdtest::RiffWave({Chunk("LIST", kvdtest::Bytes(27, 'i')),
                                         Chunk("fmt ", kvdtest::PcmFormat(1, 8000, 16)),
                                         Chunk("data", kvdtest::SampleBytes(sample))}));
  const fs::path fromSpeech = dir_ / "from_speech.wav";
  kvdtest::WriteBytes(fromSpeech.string(),
                      kvdtest::CanonicalWave(std::vector<int16_t>(sample.begin() + kSampleSpeechStart,
                                                                  sample.end()),
                                             8000));
  const fs::path silence = dir_ / "silence.wav";
  kvdtest::WriteBytes(silence.string(), kvdtest::CanonicalWave(std::vector<int16_t>(16000, 0), 8000));
  const RunResult run = Run({kvdtest::SamplePath("kvd_sample.wav"), moved.string(),
                             fromSpeech.string(), silence.string()});
  ASSERT_EQ(run.exitStatus, 0) << run.output;
  const auto results = ProbeResults(run.output);
  ASSERT_EQ(results.size(), 4u) << run.output;
  EXPECT_EQ(results[1], results[0]);
  EXPECT_EQ(results[2], (std::array<int, 3>{0, 0, 0}));
  EXPECT_EQ(results[3], (std::array<int, 3>{KVD_MUTE_END_NO_SPEECH, -1, -1}));
  EXPECT_TRUE(Contains(run.output, "No speech found in " + silence.string() + ".\n"));
}

// kvd-mute-end with the configuration built beside libkvd.so: its exit
// status tells an answer, no speech and a failure apart.
TEST_F(GetMuteEndHost, MuteEndToolExitStatus) {
  kvdtest::WriteBytes((dir_ / "silence.pcm").string(),
                      kvdtest::SampleBytes(std::vector<int16_t>(16000, 0)));
  kvdtest::WriteBytes((dir_ / "bad.wav").string(), kvdtest::Bytes(100, 1));
  const auto exitOf = [&](const std::string& recording, std::string& output) {
    const RunResult run = kvdtest::RunShell("cd '" + dir_.string() + "' && '" KVD_MUTE_END_TOOL "' '" +
                                            recording + "' 2>&1");
    output = run.output;
    return run.exitStatus;
  };
  std::string output;
  EXPECT_EQ(exitOf(kvdtest::SamplePath("kvd_sample.wav"), output), 0) << output;
  EXPECT_TRUE(Contains(output, "Leading silence ends at sample"));
  EXPECT_EQ(exitOf((dir_ / "silence.pcm").string(), output), 3) << output;
  EXPECT_TRUE(Contains(output, "No speech found\n"));
  for (const std::string& bad : {(dir_ / "bad.wav").string(), dir_.string(),
                                 (dir_ / "missing.pcm").string()}) {
    EXPECT_EQ(exitOf(bad, output), 1) << output;
    EXPECT_TRUE(Contains(output, "GetMuteEnd failed: -8")) << output;
    EXPECT_FALSE(Contains(output, "Leading silence ends")) << output;
  }
}

}  // namespace
