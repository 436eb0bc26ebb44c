// GetMuteEnd as a host sees it: a child process (mute_end_probe) loads a copy
// of libkvd.so with the configuration under test beside it. Every unusable
// recording gets its code and reason, the out-arguments left untouched (-7).
#include <gtest/gtest.h>

#include <array>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <tuple>
#include <vector>

#include "kvd/get_mute_end.h"
#include "engine_fixtures.h"
#include "online_fixtures.h"
#include "test_signals.h"
#include "wave_bytes.h"

namespace {

namespace fs = std::filesystem;
using kvdtest::Bytes;
using kvdtest::Chunk;
using kvdtest::kSampleSpeechStart;
using Overrides = std::map<std::string, std::string>;
using Result = std::array<int, 3>;  // result, samples, ms

const Result kUntouched = {0, -7, -7};
// Marks a row that must give what the first call, on the bundled sample, gave.
const Result kAsTheSample = {0, -1000, -1000};

// What the probe printed before a call's "result=… samples=… ms=…", and that.
struct ProbeCall {
  std::string output;
  Result result;
};

std::vector<ProbeCall> ProbeCalls(const std::string& output) {
  std::vector<ProbeCall> calls(1);
  std::istringstream lines(output);
  for (std::string line; std::getline(lines, line);) {
    Result& r = calls.back().result;
    if (std::sscanf(line.c_str(), "result=%d samples=%d ms=%d", &r[0], &r[1], &r[2]) == 3)
      calls.emplace_back();
    else
      calls.back().output += line + "\n";
  }
  calls.pop_back();  // the output after the last call
  return calls;
}

int Occurrences(const std::string& text, const std::string& part) {
  int count = 0;
  for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++count;
  return count;
}

bool Contains(const std::string& text, const std::string& part) {
  return text.find(part) != std::string::npos;
}

class GetMuteEndHost : public ::testing::Test {
 protected:
  void SetUp() override {
    fs::create_directories(dir_ / "lib");
    fs::copy_file(KVD_LIBRARY, dir_ / "lib" / "libkvd.so");
  }

  // The shipped file with some values replaced, written beside the library.
  fs::path WriteConfig(const Overrides& overrides, const std::string& name = "kvd.cfg",
                       const std::string& shipped = "kvd.cfg") {
    std::ifstream in(fs::path(KVD_CONFIG_DIR) / shipped);
    std::ofstream out(dir_ / "lib" / name);
    for (std::string line; std::getline(in, line);) {
      const std::string key = line.substr(0, line.find(' '));
      const auto replaced = overrides.find(key);
      out << (replaced == overrides.end() ? line : key + " = " + replaced->second) << "\n";
    }
    return dir_ / "lib" / name;
  }

  std::string Write(const std::string& name, const Bytes& bytes) {
    kvdtest::WriteBytes((dir_ / name).string(), bytes);
    return (dir_ / name).string();
  }

  // Runs the probe on its items in the test's folder, where logs land.
  kvdtest::ShellRun Run(const std::vector<std::string>& items) {
    std::string command = "cd '" + dir_.string() + "' && '" MUTE_END_PROBE "' lib/libkvd.so";
    for (const auto& item : items) command += " '" + item + "'";
    return kvdtest::RunShell(command);
  }

  kvdtest::TempDir folder_;
  const fs::path dir_ = folder_.Path();
  const std::string sample_ = kvdtest::SamplePath("kvd_sample.wav");
};

// One host process, the shipped configuration (offline single segment),
// call after call: good recordings, every unusable kind, then a change of
// mode between calls (online with 100 lines, offline multi-segment, online
// multi-segment, back to the shipped mode), and last a broken configuration.
TEST_F(GetMuteEndHost, EachCallAnswersForItsRecordingAndConfiguration) {
  WriteConfig({});
  WriteConfig({}, "kvd_offline.cfg", "kvd_offline.cfg");
  const fs::path broken = WriteConfig({{"SampleRate", "7999"}}, "broken.cfg");
  const fs::path multi = WriteConfig({{"IsOneSeg", "0"}}, "multi.cfg");
  const fs::path onlineMulti = WriteConfig({{"IsOnline", "1"}, {"IsOneSeg", "0"}}, "om.cfg");
  const fs::path online = WriteConfig({{"IsOnline", "1"}}, "online.cfg");
  const std::vector<int16_t> pcm = kvdtest::ReadPcmFile(kvdtest::SamplePath("kvd_sample.pcm"));
  const std::string bytes = kvdtest::ReadText(sample_);
  std::string hugeLengths = bytes;  // RIFF and data lengths that say 4 GB
  for (size_t at : {size_t{4}, size_t{40}}) hugeLengths.replace(at, 4, "\xf0\xff\xff\xff", 4);
  fs::create_directories(dir_ / "folder.wav");
  // 500,000,001 samples in a sparse file, one above the cap: no disk space.
  const std::string huge = Write("huge.pcm", {0});
  fs::resize_file(huge, 2ull * 500000001);
  const auto raw = [](const std::string& text) { return Bytes(text.begin(), text.end()); };

  struct Row {
    std::string item;
    Result result;
    std::string message;  // part of the call's output; "@" stands for the item
  };
  const std::vector<Row> rows = {
      {sample_, kAsTheSample, "Open offline detector successfully!\n"},
      {Write("upper.WAV", raw(bytes)), kAsTheSample, "1 waves processed.\n"},  // any case
      {Write("moved.wav", kvdtest::RiffWave({Chunk("LIST", Bytes(27, 'i')),
                                             Chunk("fmt ", kvdtest::PcmFormat(1, 8000, 16)),
                                             Chunk("data", kvdtest::SampleBytes(pcm))})),
       kAsTheSample, "1 waves processed.\n"},
      {Write("from_speech.wav",
             kvdtest::CanonicalWave({pcm.begin() + kSampleSpeechStart, pcm.end()}, 8000)),
       {0, 0, 0}, ""},
      {Write("silence.wav", kvdtest::CanonicalWave(std::vector<int16_t>(16000, 0), 8000)),
       {KVD_MUTE_END_NO_SPEECH, -1, -1}, "No speech found in @.\n"},
      {Write("short.pcm", Bytes(400, 0)), {KVD_MUTE_END_NO_SPEECH, -1, -1}, "No speech found"},
      {"missing.wav", {-80, -7, -7}, "Error in open missing.wav! Abort."},
      {Write("empty.pcm", {}), {-82, -7, -7}, "Error: @ holds no samples! Abort."},
      {Write("header.wav", raw(bytes.substr(0, 44))), {-81, -7, -7},
       "Error: @ is truncated: its \"data\" chunk declares"},
      {Write("cut.wav", raw(bytes.substr(0, 20045))), {-81, -7, -7}, "is truncated"},
      {Write("huge.wav", raw(hugeLengths)), {-81, -7, -7}, "is truncated"},
      // A name without ".wav" is raw PCM: the header is read as 22 samples.
      {Write("sample.pcm", raw(bytes)), {0, 11440, 1430}, ""},
      {Write(std::string(252, 'x') + ".wav", raw(bytes)), {-80, -7, -7},
       "Error: the recording path is longer than 255 characters! Abort."},
      {(dir_ / "folder.wav").string(), {-80, -7, -7}, "Error: @ is a folder, not a recording"},
      {Write("random.wav", Bytes(1000, 0xa7)), {-81, -7, -7}, "Error: @ is not a RIFF/WAVE file"},
      {Write("empty.wav", {}), {-81, -7, -7}, "is not a RIFF/WAVE file"},
      {Write("header_only.wav", kvdtest::CanonicalWave({}, 8000)), {-82, -7, -7},
       "holds no samples"},
      {Write("float.wav", kvdtest::RiffWave({Chunk("fmt ", kvdtest::FloatFormat(8000)),
                                             Chunk("data", Bytes(pcm.size() * 4, 0))})),
       {-81, -7, -7}, "is not PCM (format tag 3)"},
      {Write("stereo.wav", kvdtest::RiffWave({Chunk("fmt ", kvdtest::PcmFormat(2, 8000, 16)),
                                              Chunk("data", Bytes(pcm.size() * 4, 0))})),
       {-81, -7, -7}, "Error: @ has 2 channels; the engine needs mono"},
      {Write("rate.wav", kvdtest::CanonicalWave(pcm, 16000)), {-81, -7, -7},
       "has a sample rate of 16000 Hz; the configuration's SampleRate is 8000 Hz"},
      {Write("bits8.wav", kvdtest::RiffWave({Chunk("fmt ", kvdtest::PcmFormat(1, 8000, 8)),
                                             Chunk("data", Bytes(800, 1))})),
       {-81, -7, -7}, "Error: @ has 8-bit samples; the engine needs 16-bit!"},
      {huge, {-83, -7, -7}, "Error: @ holds more than 500000000 samples! Abort."},
      {Write("nodata.wav", kvdtest::RiffWave({Chunk("fmt ", kvdtest::PcmFormat(1, 8000, 16))})),
       {-81, -7, -7}, "is a wave file without a data chunk"},
      // Online, 100 workers each open a line, stream the recording and finish.
      {"--config=" + online.string(), {}, ""},
      {sample_, kUntouched, " Finished!\n"},
      {"--config=" + multi.string(), {}, ""},
      {kvdtest::SamplePath("kvd_sample.pcm"), kUntouched,
       "00000 " + kvdtest::SamplePath("kvd_sample.pcm") + ": "},
      {"--config=" + onlineMulti.string(), {}, ""},
      {sample_, kUntouched, "Begin time: "},
      {"--config=" KVD_CONFIG_DIR "/kvd.cfg", {}, ""},
      {sample_, kAsTheSample, "NULL SaveCutPcm. Default: Do not save.\n "},
  };
  std::vector<std::string> items;
  for (const Row& row : rows) items.push_back(row.item);
  items.insert(items.end(), {"--config=" + broken.string(), sample_});
  const kvdtest::ShellRun run = Run(items);
  // A configuration the engine refuses ends the process with a failure
  // status, so that the host's parent never reads it as success.
  EXPECT_NE(run.exitStatus, 0);
  EXPECT_TRUE(Contains(run.output.substr(run.output.rfind("result=")),
                       "Error in Initializing system!\n")) << run.output;
  const std::vector<ProbeCall> calls = ProbeCalls(run.output);
  // Near the first speech (widened by the shipped 100 ms); good copies agree.
  ASSERT_EQ(calls.size(), rows.size() - 4) << run.output;
  const Result found = calls[0].result;
  EXPECT_EQ(found[0], 0);
  EXPECT_NEAR(found[1], kSampleSpeechStart, kvdtest::kSampleStartTolerance) << run.output;
  EXPECT_EQ(found[2], found[1] / 8);
  size_t call = 0;
  for (const Row& row : rows) {
    if (row.item.rfind("--config=", 0) == 0) continue;
    const ProbeCall& got = calls[call++];
    EXPECT_EQ(got.result, row.result == kAsTheSample ? found : row.result) << row.item;
    std::string message = row.message;
    if (const size_t at = message.find('@'); at != std::string::npos)
      message.replace(at, 1, row.item);
    EXPECT_TRUE(Contains(got.output, message)) << row.item << "\n" << got.output;
    if (got.result[0] < 0 && got.result[0] != KVD_MUTE_END_NO_SPEECH) {  // refused before analysis
      EXPECT_FALSE(Contains(got.output, "waves processed")) << row.item;
    }
  }
  // Each of the 100 online workers opens a line and finishes.
  const std::string& workers = calls[calls.size() - 4].output;
  EXPECT_EQ(Occurrences(workers, "Open KVD line"), 100);
  EXPECT_EQ(Occurrences(workers, " Finished!\n"), 100);
  // Offline multi-segment prints its list "start-end ...", online runs nothing.
  int start = 0, end = 0;
  const std::string& list = calls[calls.size() - 3].output;
  ASSERT_EQ(std::sscanf(list.c_str() + list.find(".pcm: ") + 6, "%d-%d", &start, &end), 2) << list;
  EXPECT_LT(start, end);
  EXPECT_FALSE(Contains(calls[calls.size() - 2].output, "Open offline detector"));
}

// kvd-mute-end with the configuration built beside libkvd.so: its exit
// status tells an answer, no speech and a failure apart.
TEST_F(GetMuteEndHost, MuteEndToolExitStatus) {
  using Row = std::tuple<std::string, int, const char*>;  // recording, status, message
  for (const auto& [recording, status, message] : std::vector<Row>{
           {sample_, 0, "Leading silence ends at sample"},
           {Write("silence.pcm", Bytes(32000, 0)), 3, "No speech found\n"},
           {Write("bad.wav", Bytes(100, 1)), 1, "GetMuteEnd failed: -8"}}) {
    const kvdtest::ShellRun run = kvdtest::RunShell(
        "cd '" + dir_.string() + "' && '" KVD_MUTE_END_TOOL "' '" + recording + "' 2>&1");
    EXPECT_EQ(run.exitStatus, status) << run.output;
    EXPECT_TRUE(Contains(run.output, message)) << run.output;
  }
}

}  // namespace
