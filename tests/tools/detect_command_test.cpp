// kvd detect and kvd trace on the bundled sample and on broken files: the
// shape of each output format, invariants over chunk size and job count, one
// bad file reported and skipped, the trace's CSV rows and SVG layers at the
// recording's own rate; and the refusals of the program's reader.
#include "tools/kvd/detect_command.h"

#include <gtest/gtest.h>

#include <cmath>
#include <regex>
#include <sstream>
#include <utility>

#include "engine_fixtures.h"
#include "kvd_tool_test.h"
#include "tools/kvd/audio_file.h"
#include "tools/kvd/trace_command.h"
#include "wave_bytes.h"

namespace kvdtool {

namespace {

using kvdtest::Bytes;

RunOutput RunCommand(DetectOptions options) {
  if (options.engine.config.empty()) options.engine.config = kConfig;
  std::ostringstream out;
  std::ostringstream err;
  const int status = RunDetect(options, out, err, false);
  return {status, out.str(), err.str()};
}

DetectOptions Options(Mode mode, Format format, std::vector<std::string> files) {
  DetectOptions options;
  options.engine.mode = mode;
  options.format = format;
  options.files = std::move(files);
  return options;
}

// The sample resampled to 16000 Hz as a wave file in dir.
std::string WideSample(const kvdtest::TempDir& dir) {
  const std::vector<int16_t> sample = kvdtest::ReadPcmFile(kvdtest::SamplePath("kvd_sample.pcm"));
  const std::string wide = dir.Path() + "/wide.wav";
  kvdtest::WriteBytes(wide, kvdtest::CanonicalWave(kvdtest::ResampledLinear(sample, 8000, 16000),
                                                   16000));
  return wide;
}

// A wave file of samples zeros at rate in dir.
std::string Silence(const kvdtest::TempDir& dir, const std::string& name, size_t samples,
                    int32_t rate) {
  const std::string path = dir.Path() + "/" + name;
  kvdtest::WriteBytes(path, kvdtest::CanonicalWave(std::vector<int16_t>(samples, 0), rate));
  return path;
}

// CSV rows, one label line and the online object on the sample. An online
// event's time is the position its call reached, which depends on the chunk
// size; everything else must not.
TEST(DetectOutput, EveryFormatOnTheSampleAndOnlineWhateverTheChunkSize) {
  const RunOutput csv = RunCommand(Options(Mode::Multi, Format::Csv, {kSample}));
  EXPECT_TRUE(std::regex_match(
      csv.out, std::regex("file,mode,state,outcome,segment,start_ms,end_ms\n"
                          "([^,]+kvd_sample\\.wav,multi,3,speech_end,\\d+,\\d+,\\d+\n)+")))
      << csv.out << csv.err;
  const RunOutput labels = RunCommand(Options(Mode::Offline, Format::Labels, {kSample}));
  std::smatch match;
  ASSERT_TRUE(std::regex_match(labels.out, match,
                               std::regex("(\\d+\\.\\d{6})\t(\\d+\\.\\d{6})\tspeech\n")))
      << labels.out << labels.err;
  ExpectSpeechSpan(std::llround(std::stod(match[1]) * 1000),
                   std::llround(std::stod(match[2]) * 1000));

  DetectOptions options = Options(Mode::Online, Format::Json, {kSample});
  const RunOutput run = RunCommand(options);
  for (const RunOutput* each : {&csv, &labels, &run}) EXPECT_EQ(each->status, 0) << each->err;
  const std::regex shape(
      "\\{\"file\":\"[^\"]*kvd_sample\\.wav\",\"rate\":8000,\"samples\":76091,\"mode\":\"online\","
      "\"state\":3,\"outcome\":\"speech_end\",\"start_ms\":(\\d+),\"end_ms\":(\\d+),"
      "\"segments\":\\[\\[(\\d+),(\\d+)\\]\\],\"events\":\\[(\\{\"ms\":\\d+,\"state\":\\d,"
      "\"outcome\":\"[a-z_]+\"\\},?)+\\]\\}\n");
  ASSERT_TRUE(std::regex_match(run.out, match, shape)) << run.out;
  EXPECT_EQ(match[1], match[3]);
  EXPECT_EQ(match[2], match[4]);
  ExpectSpeechSpan(std::stoll(match[1]), std::stoll(match[2]));
  EXPECT_NE(run.out.find("\"state\":2,\"outcome\":\"in_speech\"}"), std::string::npos);
  EXPECT_NE(run.out.find("\"state\":3,\"outcome\":\"speech_end\"}]}"), std::string::npos);

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
  const std::string empty = Silence(dir, "empty.wav", 0, 8000);
  const std::string low = Silence(dir, "low.wav", 16000, 7999);
  const std::string silence = Silence(dir, "silence.wav", 16000, 8000);
  const std::vector<std::string> reasons = {
      garbage + " is not a RIFF/WAVE file; give --rate HZ to read it as raw 16-bit PCM",
      missing + " cannot be opened", dir.Path() + " is a folder, not a recording",
      empty + " holds no audio samples",
      low + " has a sample rate of 7999 Hz; the engine needs 8000 Hz or more"};
  std::string err;
  for (const std::string& reason : reasons) err += "kvd: " + reason + "\n";
  for (const Mode mode : {Mode::Offline, Mode::Online, Mode::Multi}) {
    DetectOptions options = Options(
        mode, Format::Json, {kSample, garbage, missing, dir.Path(), empty, low, kSample, silence});
    const RunOutput one = RunCommand(options);
    options.jobs = 2;
    const RunOutput two = RunCommand(options);
    EXPECT_EQ(one.status, kExitFileFailed);
    EXPECT_EQ(two.status, kExitFileFailed);
    EXPECT_EQ(one.out, two.out) << ModeName(mode);
    EXPECT_EQ(one.err, err) << ModeName(mode);
    EXPECT_EQ(two.err, err) << ModeName(mode);
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
    for (size_t k = 0; k < reasons.size(); ++k) {
      const std::string file = reasons[k].substr(0, reasons[k].find(' '));
      EXPECT_EQ(got[k + 1], "{\"file\":\"" + file + "\",\"error\":\"" + reasons[k] + "\"}");
    }
  }
}

// A recording at 16000 Hz and a raw one at 11025 Hz beside the 8000 Hz
// sample: each is analysed at its own rate, not at the first one's, with one
// job and with several.
TEST(DetectFiles, EachRecordingIsAnalysedAtItsOwnRate) {
  kvdtest::TempDir dir;
  const std::string wide = WideSample(dir);
  const std::string odd = dir.Path() + "/odd.raw";
  kvdtest::WriteBytes(odd, kvdtest::SampleBytes(kvdtest::ResampledLinear(
                               kvdtest::ReadPcmFile(kvdtest::SamplePath("kvd_sample.pcm")), 8000,
                               11025)));
  for (const auto& [mode, jobs] : {std::pair{Mode::Offline, 1}, std::pair{Mode::Online, 3}}) {
    DetectOptions options = Options(mode, Format::Json, {wide, kSample, odd});
    options.engine.rawRate = 11025;
    options.jobs = jobs;
    const RunOutput run = RunCommand(options);
    ASSERT_EQ(run.status, kExitSuccess) << run.err;
    const std::regex line("\\{\"file\":\"([^\"]*)\",\"rate\":(\\d+),[^\\n]*?"
                          "\"segments\":\\[\\[(\\d+),(\\d+)\\]");
    std::string files;
    for (auto m = std::sregex_iterator(run.out.begin(), run.out.end(), line);
         m != std::sregex_iterator(); ++m) {
      files += (*m)[1].str() + "@" + (*m)[2].str() + " ";
      ExpectSpeechSpan(std::stoll((*m)[3]), std::stoll((*m)[4]));
    }
    EXPECT_EQ(files, wide + "@16000 " + kSample + "@8000 " + odd + "@11025 ") << run.out;
  }
}

TEST(DetectFiles, ProgressLineIsClearedAndLeavesTheOutputAlone) {
  DetectOptions options = Options(Mode::Offline, Format::Json, {kSample, kSample});
  options.engine.config = kConfig;
  std::ostringstream out;
  std::ostringstream err;
  EXPECT_EQ(RunDetect(options, out, err, true), kExitSuccess);
  EXPECT_EQ(err.str(), "\r\033[Kkvd: 1/2 files\r\033[Kkvd: 2/2 files\r\033[K");
  EXPECT_EQ(out.str(), RunCommand(options).out);
}

// A list with room for one segment overflows on the sample's two; the line
// goes on with the next file.
TEST(DetectFiles, SegmentListOverflowFailsThatFileOnly) {
  kvdtest::TempDir dir;
  dir.WriteFile("kvd_offline.cfg",
                std::regex_replace(kvdtest::ReadText(KVD_CONFIG_DIR "/kvd_offline.cfg"),
                                   std::regex("MaxSegNum = \\d+"), "MaxSegNum = 2"));
  const std::string silence = Silence(dir, "silence.wav", 16000, 8000);
  DetectOptions options = Options(Mode::Multi, Format::Csv, {kSample, silence, kSample});
  options.engine.config = dir.WriteFile("kvd.cfg", kvdtest::ReadText(kConfig));
  const RunOutput run = RunCommand(options);
  EXPECT_EQ(run.status, kExitFileFailed);
  EXPECT_EQ(run.out, "file,mode,state,outcome,segment,start_ms,end_ms\n" + silence +
                         ",multi,1,before_speech,0,-1,-1\n");
  const std::string message = "kvd: " + kSample + " holds more speech segments than the list " +
                              "takes (MaxSegNum 2 holds 1)\n";
  EXPECT_EQ(run.err, message + message);
}

// kvd trace of file into trace.svg and trace.csv of dir.
RunOutput Trace(const kvdtest::TempDir& dir, Mode mode, const std::string& file,
                Detector detector = Detector::FromConfig) {
  TraceOptions options;
  options.engine.config = kConfig;
  options.engine.mode = mode;
  options.engine.detector = detector;
  options.file = file;
  options.svgPath = dir.Path() + "/trace.svg";
  options.csvPath = dir.Path() + "/trace.csv";
  std::ostringstream out;
  std::ostringstream err;
  const int status = RunTraceCommand(options, out, err);
  return {status, out.str(), err.str()};
}

TEST(TraceCommandTest, EnhancedProbabilityAndOfflineTraceAtTheRecordingsOwnRate) {
  kvdtest::TempDir dir;
  RunOutput run = Trace(dir, Mode::Online, kSample, Detector::Enhanced);
  ASSERT_EQ(run.status, kExitSuccess) << run.err;
  std::istringstream csv(kvdtest::ReadText(dir.Path() + "/trace.csv"));
  std::string line;
  std::getline(csv, line);
  EXPECT_EQ(line,
            "frame,time_ms,energy_0,energy_1,energy_2,energy_3,threshold_0,threshold_1,"
            "threshold_2,threshold_3,background_0,background_1,background_2,background_3,"
            "active_bands,voiced_frames,pitch_hz,dual_tone,state,speech_probability");
  // Each row: its frame, its time in 10 ms steps, and last a probability:
  // below 0.5 in the sample's silence before 1.4 s, mostly above it in the
  // speech (1.6 .. 6.6 s, 500 frames).
  int32_t speechJudged = 0;
  for (int32_t row = 0; std::getline(csv, line); ++row) {
    EXPECT_EQ(line.rfind(std::to_string(row) + "," + std::to_string(row * 10) + ",", 0), 0u);
    const double probability = std::stod(line.substr(line.rfind(',') + 1));
    EXPECT_GE(probability, 0.0);
    EXPECT_LT(probability, row < 140 ? 0.5 : 1.0 + 1e-9) << row;
    if (row >= 160 && row < 660 && probability >= 0.5) ++speechJudged;
  }
  EXPECT_GT(speechJudged, 375);
  std::string svg = kvdtest::ReadText(dir.Path() + "/trace.svg");
  EXPECT_EQ(svg.rfind("<svg xmlns=\"http://www.w3.org/2000/svg\"", 0), 0u);
  EXPECT_EQ(svg.substr(svg.size() - 7), "</svg>\n");
  EXPECT_EQ(Count(svg, "<polyline"), 13u);  // the four bands' lines and the probability

  // The sample at 16000 Hz is traced at its own rate: the speech stays where
  // it is in time (from 1.55 s in the 8000 Hz original). The SVG says where
  // its values come from and shades each segment printed.
  run = Trace(dir, Mode::Multi, WideSample(dir));
  ASSERT_EQ(run.status, kExitSuccess) << run.err;
  EXPECT_EQ(run.err, "");
  std::smatch found;
  ASSERT_TRUE(std::regex_search(run.out, found,
                                std::regex("multi, 16000 Hz, \\d+ ms\n  segment 1: (\\d+) ms")))
      << run.out;
  EXPECT_NEAR(std::stoi(found[1]), 1550, 300);
  svg = kvdtest::ReadText(dir.Path() + "/trace.svg");
  EXPECT_NE(svg.find("Offline mode: the per-frame rows"), std::string::npos);
  EXPECT_NE(svg.find("mode multi"), std::string::npos);
  EXPECT_EQ(Count(svg, "fill=\"#e3f2e4\""), Count(run.out, "  segment "));
}

// The parser's refusals that GetMuteEnd's bad recordings do not reach (the
// others are tried through it in tests/entry/get_mute_end_test.cpp), and the
// kvd reader's own.
const Bytes kData = kvdtest::SampleBytes({0, 1, -1, 32767, -32768, 1234});

Bytes WithFormat(const Bytes& format, const Bytes& data = kData) {
  return kvdtest::RiffWave({kvdtest::Chunk("fmt ", format), kvdtest::Chunk("data", data)});
}

TEST(AudioFile, RefusesWhatTheEngineCannotTake) {
  Bytes unknownGuid = kvdtest::ExtensibleFormat(1, 8000, 16, 1);
  unknownGuid.back() ^= 0xFF;
  Bytes shortExtensible = kvdtest::ExtensibleFormat(1, 8000, 16, 1);
  shortExtensible.resize(18);
  Bytes badBlock = kvdtest::PcmFormat(1, 8000, 16);
  badBlock[12] = 4;
  const Bytes format = kvdtest::Chunk("fmt ", kvdtest::PcmFormat(1, 8000, 16));
  const struct {
    Bytes bytes;
    int32_t rawRate;
    std::string reason;
  } rows[] = {
      {WithFormat(kvdtest::ExtensibleFormat(1, 8000, 32, 3)), 0, "not PCM (format tag 3)"},
      {WithFormat(unknownGuid), 0, "unknown WAVE_FORMAT_EXTENSIBLE subformat"},
      {WithFormat(shortExtensible), 0, "truncated WAVE_FORMAT_EXTENSIBLE"},
      {WithFormat(kvdtest::PcmFormat(1, 8000, 8)), 0, "8-bit samples; the engine needs 16-bit"},
      {WithFormat(badBlock), 0, "block size of 4 bytes"},
      {WithFormat(Bytes(14, 0)), 0, "format chunk of 14 bytes"},
      {kvdtest::RiffWave({format, kvdtest::Chunk("data", kData, 1000)}), 0,
       "is truncated: its \"data\" chunk declares 1000 bytes, the file holds 12"},
      {kvdtest::RiffWave({kvdtest::Chunk("data", kData)}), 0, "without a format chunk"},
      {kData, 0, "is not a RIFF/WAVE file; give --rate HZ"},
      {Bytes{'R', 'I', 'F', 'F'}, 0, "is not a RIFF/WAVE file"},
      {Bytes{1, 2, 3}, 8000, "odd number of bytes"},
      {kData, 4000, "sample rate of 4000 Hz"},
  };
  for (const auto& row : rows) {
    AudioFile audio;
    const std::string problem = ParseAudioBytes(row.bytes, row.rawRate, audio);
    EXPECT_NE(problem.find(row.reason), std::string::npos) << "got: " << problem;
  }
}

}  // namespace
}  // namespace kvdtool
