// kvd detect on the bundled sample and on broken files: the shape of each
// output format, invariants over chunk size and job count, and that one bad
// file is reported and skipped.
#include "tools/kvd/detect_command.h"

#include <gtest/gtest.h>

#include <cmath>
#include <fstream>
#include <regex>
#include <sstream>
#include <utility>

#include "engine_fixtures.h"
#include "test_signals.h"
#include "wave_bytes.h"

namespace kvdtool {
namespace {

struct RunOutput {
  int status = -1;
  std::string out;
  std::string err;
};

RunOutput RunCommand(DetectOptions options) {
  if (options.engine.config.empty()) options.engine.config = KVD_CONFIG_DIR "/kvd.cfg";
  std::ostringstream out;
  std::ostringstream err;
  RunOutput run;
  run.status = RunDetect(options, out, err, false);
  run.out = out.str();
  run.err = err.str();
  return run;
}

DetectOptions Options(Mode mode, Format format, std::vector<std::string> files) {
  DetectOptions options;
  options.engine.mode = mode;
  options.format = format;
  options.files = std::move(files);
  return options;
}

const std::string kSample = kvdtest::SamplePath("kvd_sample.wav");

// The sample holds speech from 1.55 s to 6.62 s; every mode must place its
// segment(s) inside a margin of that.
void ExpectSpeechSpan(long long startMs, long long endMs) {
  EXPECT_GE(startMs, 1250);
  EXPECT_LE(startMs, 1850);
  EXPECT_GE(endMs, 6300);
  EXPECT_LE(endMs, 7200);
}

TEST(DetectOutput, CsvAndLabelsOnTheSample) {
  const RunOutput csv = RunCommand(Options(Mode::Multi, Format::Csv, {kSample}));
  ASSERT_EQ(csv.status, kExitSuccess) << csv.err;
  EXPECT_TRUE(std::regex_match(
      csv.out, std::regex("file,mode,state,outcome,segment,start_ms,end_ms\n"
                          "([^,]+kvd_sample\\.wav,multi,3,speech_end,\\d+,\\d+,\\d+\n)+")))
      << csv.out;

  const RunOutput labels = RunCommand(Options(Mode::Offline, Format::Labels, {kSample}));
  ASSERT_EQ(labels.status, kExitSuccess) << labels.err;
  std::smatch match;
  ASSERT_TRUE(std::regex_match(labels.out, match,
                               std::regex("(\\d+\\.\\d{6})\t(\\d+\\.\\d{6})\tspeech\n")))
      << labels.out;
  ExpectSpeechSpan(std::llround(std::stod(match[1]) * 1000), std::llround(std::stod(match[2]) * 1000));
}

// The online object; an event's time is the position its call reached,
// which depends on the chunk size; everything else must not.
TEST(DetectOnline, JsonObjectOnTheSampleWhateverTheChunkSize) {
  DetectOptions options = Options(Mode::Online, Format::Json, {kSample});
  const RunOutput run = RunCommand(options);
  ASSERT_EQ(run.status, kExitSuccess) << run.err;
  const std::regex shape(
      "\\{\"file\":\"[^\"]*kvd_sample\\.wav\",\"rate\":8000,\"samples\":76091,\"mode\":\"online\","
      "\"state\":3,\"outcome\":\"speech_end\",\"start_ms\":(\\d+),\"end_ms\":(\\d+),"
      "\"segments\":\\[\\[(\\d+),(\\d+)\\]\\],\"events\":\\[(\\{\"ms\":\\d+,\"state\":\\d,"
      "\"outcome\":\"[a-z_]+\"\\},?)+\\]\\}\n");
  std::smatch match;
  ASSERT_TRUE(std::regex_match(run.out, match, shape)) << run.out;
  EXPECT_EQ(match[1], match[3]);
  EXPECT_EQ(match[2], match[4]);
  ExpectSpeechSpan(std::stoll(match[1]), std::stoll(match[2]));
  EXPECT_NE(run.out.find("\"state\":2,\"outcome\":\"in_speech\"}"), std::string::npos) << run.out;
  EXPECT_NE(run.out.find("\"state\":3,\"outcome\":\"speech_end\"}]}"), std::string::npos) << run.out;

  const std::regex eventTime("\"ms\":\\d+");
  const std::string reference = std::regex_replace(run.out, eventTime, "");
  for (const int32_t chunk : {1, 30, 8000}) {
    options.engine.chunk = chunk;
    EXPECT_EQ(std::regex_replace(RunCommand(options).out, eventTime, ""), reference)
        << "chunk " << chunk;
  }
}

// Every kind of file the program cannot analyse is reported in its place
// and skipped; one job and two write the same in every mode; silence after
// them has no segment.
TEST(DetectFiles, BadFilesAreReportedAndSkippedInOrderWhateverTheJobCount) {
  kvdtest::TempDir dir;
  const std::string garbage = dir.WriteFile("garbage.wav", "this is no recording at all");
  const std::string missing = dir.Path() + "/missing.wav";
  const std::string empty = dir.Path() + "/empty.wav";
  kvdtest::WriteBytes(empty, kvdtest::CanonicalWave({}, 8000));
  const std::string low = dir.Path() + "/low.wav";
  kvdtest::WriteBytes(low, kvdtest::CanonicalWave(std::vector<int16_t>(16000, 0), 7999));
  const std::string silence = dir.Path() + "/silence.wav";
  kvdtest::WriteBytes(silence, kvdtest::CanonicalWave(std::vector<int16_t>(16000, 0), 8000));
  const std::vector<std::string> reasons = {
      garbage + " is not a RIFF/WAVE file; give --rate HZ to read it as raw 16-bit PCM",
      missing + " cannot be opened", dir.Path() + " is a folder, not a recording",
      empty + " holds no audio samples",
      low + " has a sample rate of 7999 Hz; the engine needs 8000 Hz or more"};
  for (const Mode mode : {Mode::Offline, Mode::Online, Mode::Multi}) {
    DetectOptions options = Options(
        mode, Format::Json, {kSample, garbage, missing, dir.Path(), empty, low, kSample, silence});
    const RunOutput one = RunCommand(options);
    options.jobs = 2;
    const RunOutput two = RunCommand(options);
    EXPECT_EQ(one.status, kExitFileFailed);
    EXPECT_EQ(two.status, kExitFileFailed);
    EXPECT_EQ(one.out, two.out) << ModeName(mode);
    EXPECT_EQ(one.err, two.err) << ModeName(mode);
    std::istringstream lines(one.out);
    std::vector<std::string> got;
    for (std::string line; std::getline(lines, line);) got.push_back(line);
    ASSERT_EQ(got.size(), 8u) << one.out;
    EXPECT_EQ(got[0], got[6]);
    const std::string none = mode == Mode::Online ? "\"state\":1,\"outcome\":\"before_speech\","
                                                    "\"start_ms\":-1,\"end_ms\":-1,"
                                                    "\"segments\":[],\"events\":[]}"
                                                  : "\"state\":1,\"segments\":[]}";
    EXPECT_EQ(got[7].substr(got[7].size() - none.size()), none) << got[7];
    EXPECT_NE(got[0].find("kvd_sample.wav\",\"rate\":8000"), std::string::npos) << got[0];
    std::string err;
    for (size_t k = 0; k < reasons.size(); ++k) {
      const std::string file = reasons[k].substr(0, reasons[k].find(' '));
      EXPECT_EQ(got[k + 1], "{\"file\":\"" + file + "\",\"error\":\"" + reasons[k] + "\"}");
      err += "kvd: " + reasons[k] + "\n";
    }
    EXPECT_EQ(one.err, err);
  }
}

TEST(DetectFiles, ProgressLineIsClearedAndLeavesTheOutputAlone) {
  DetectOptions options = Options(Mode::Offline, Format::Json, {kSample, kSample});
  options.engine.config = KVD_CONFIG_DIR "/kvd.cfg";
  std::ostringstream out;
  std::ostringstream err;
  EXPECT_EQ(RunDetect(options, out, err, true), kExitSuccess);
  EXPECT_EQ(err.str(), "\r\033[Kkvd: 1/2 files\r\033[Kkvd: 2/2 files\r\033[K");
  EXPECT_EQ(out.str(), RunCommand(options).out);
}

// A wave file at 16000 Hz and raw PCM at 11025 Hz, beside the sample at the
// configured 8000 Hz, are each analysed at their own rate: the speech lies
// where it lies in the sample, no warning, output in input order whatever
// the job count.
TEST(DetectFiles, EachRecordingIsAnalysedAtItsOwnRate) {
  kvdtest::TempDir dir;
  const std::vector<int16_t> sample = kvdtest::ReadPcmFile(kvdtest::SamplePath("kvd_sample.pcm"));
  ASSERT_FALSE(sample.empty());
  const std::string wide = dir.Path() + "/wide.wav";
  kvdtest::WriteBytes(wide, kvdtest::CanonicalWave(kvdtest::ResampledLinear(sample, 8000, 16000), 16000));
  const std::string odd = dir.Path() + "/odd.raw";
  kvdtest::WriteBytes(odd, kvdtest::SampleBytes(kvdtest::ResampledLinear(sample, 8000, 11025)));
  // Each mode once, one of them with several jobs.
  for (const auto& [mode, jobs] : {std::pair{Mode::Offline, 1}, std::pair{Mode::Online, 3}}) {
    DetectOptions options = Options(mode, Format::Json, {wide, kSample, odd});
    options.engine.rawRate = 11025;
    options.jobs = jobs;
    const RunOutput run = RunCommand(options);
    ASSERT_EQ(run.status, kExitSuccess) << run.err;
    EXPECT_EQ(run.err, "");
    const std::regex line("\\{\"file\":\"([^\"]*)\",\"rate\":(\\d+),[^\\n]*?"
                          "\"segments\":\\[\\[(\\d+),(\\d+)\\]");
    std::vector<std::string> files;
    std::vector<int> rates;
    for (auto m = std::sregex_iterator(run.out.begin(), run.out.end(), line);
         m != std::sregex_iterator(); ++m) {
      files.push_back((*m)[1]);
      rates.push_back(std::stoi((*m)[2]));
      ExpectSpeechSpan(std::stoll((*m)[3]), std::stoll((*m)[4]));
    }
    EXPECT_EQ(files, (std::vector<std::string>{wide, kSample, odd})) << run.out;
    EXPECT_EQ(rates, (std::vector<int>{16000, 8000, 11025}));
  }
}

// A list with room for one segment overflows on the sample's two; the line
// goes on with the next file.
TEST(DetectFiles, SegmentListOverflowFailsThatFileOnly) {
  kvdtest::TempDir dir;
  const std::string offline =
      std::regex_replace(kvdtest::ReadText(KVD_CONFIG_DIR "/kvd_offline.cfg"), std::regex("MaxSegNum = \\d+"), "MaxSegNum = 2");
  dir.WriteFile("kvd_offline.cfg", offline);
  const std::string silence = dir.Path() + "/silence.wav";
  kvdtest::WriteBytes(silence, kvdtest::CanonicalWave(std::vector<int16_t>(16000, 0), 8000));
  DetectOptions options = Options(Mode::Multi, Format::Csv, {kSample, silence, kSample});
  options.engine.config = dir.WriteFile("kvd.cfg", kvdtest::ReadText(KVD_CONFIG_DIR "/kvd.cfg"));
  const RunOutput run = RunCommand(options);
  EXPECT_EQ(run.status, kExitFileFailed);
  EXPECT_EQ(run.out, "file,mode,state,outcome,segment,start_ms,end_ms\n" + silence +
                         ",multi,1,before_speech,0,-1,-1\n");
  const std::string message =
      "kvd: " + kSample + " holds more speech segments than the list takes (MaxSegNum 2 holds 1)\n";
  EXPECT_EQ(run.err, message + message);
}

}  // namespace
}  // namespace kvdtool
