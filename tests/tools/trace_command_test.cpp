// kvd trace on the bundled sample: the CSV rows agree with the decisions
// printed, the SVG holds every layer and says where its values come from.
#include "tools/kvd/trace_command.h"

#include <gtest/gtest.h>

#include <fstream>
#include <regex>
#include <sstream>

#include "engine_fixtures.h"
#include "test_signals.h"
#include "wave_bytes.h"
#include "tools/kvd/detect_command.h"

namespace kvdtool {
namespace {

const std::string kSample = kvdtest::SamplePath("kvd_sample.wav");

size_t Count(const std::string& text, const std::string& part) {
  size_t count = 0;
  for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++count;
  return count;
}

class TraceCommandTest : public ::testing::Test {
 protected:
  int TraceSample(Mode mode, bool svg, bool csv, const std::string& file = kSample,
                  Detector detector = Detector::FromConfig) {
    TraceOptions options;
    options.engine.config = KVD_CONFIG_DIR "/kvd.cfg";
    options.engine.mode = mode;
    options.engine.detector = detector;
    options.file = file;
    if (svg) options.svgPath = dir_.Path() + "/trace.svg";
    if (csv) options.csvPath = dir_.Path() + "/trace.csv";
    out_.str("");
    err_.str("");
    return RunTraceCommand(options, out_, err_);
  }

  kvdtest::TempDir dir_;
  std::ostringstream out_;
  std::ostringstream err_;
};

TEST_F(TraceCommandTest, CsvRowsAgreeWithTheOnlineDecisionsAndTheSvgHoldsEveryLayer) {
  ASSERT_EQ(TraceSample(Mode::Online, true, true), kExitSuccess) << err_.str();
  std::smatch decided;
  const std::string printed = out_.str();
  ASSERT_TRUE(std::regex_search(printed, decided, std::regex("  (\\d+) ms  in_speech\n")))
      << printed;
  std::istringstream csv(kvdtest::ReadText(dir_.Path() + "/trace.csv"));
  std::string line;
  std::getline(csv, line);
  EXPECT_EQ(line,
            "frame,time_ms,energy_0,energy_1,energy_2,energy_3,threshold_0,threshold_1,"
            "threshold_2,threshold_3,background_0,background_1,background_2,background_3,"
            "active_bands,voiced_frames,pitch_hz,dual_tone,state");
  int32_t rows = 0;
  int32_t firstInSpeechMs = -1;
  std::string lastState;
  const std::regex row("(\\d+),(\\d+),([^,]*,){16}([^,]*)");  // frame, time, ..., state
  for (std::smatch fields; std::getline(csv, line); ++rows) {
    ASSERT_TRUE(std::regex_match(line, fields, row)) << line;
    EXPECT_EQ(fields[1], std::to_string(rows));
    EXPECT_EQ(fields[2], std::to_string(rows * 10));
    if (fields[4] == "2" && firstInSpeechMs < 0) firstInSpeechMs = rows * 10;
    lastState = fields[4];
  }
  // The call that reported in_speech reached the end of the frame that
  // decided it, within one 160-sample chunk.
  const int32_t reportedMs = std::stoi(decided[1]);
  EXPECT_GE(reportedMs, firstInSpeechMs + 10);
  EXPECT_LE(reportedMs, firstInSpeechMs + 10 + 20);
  EXPECT_EQ(lastState, "3");

  const std::string svg = kvdtest::ReadText(dir_.Path() + "/trace.svg");
  EXPECT_EQ(svg.rfind("<svg xmlns=\"http://www.w3.org/2000/svg\"", 0), 0u);
  EXPECT_EQ(svg.substr(svg.size() - 7), "</svg>\n");
  EXPECT_EQ(Count(svg, "<polyline"), 12u);  // energy, background, threshold of four bands
  EXPECT_GT(Count(svg, "<circle"), 10u);    // voiced frames of the sample
  EXPECT_NE(svg.find(">start "), std::string::npos);
  EXPECT_NE(svg.find(">end "), std::string::npos);
  EXPECT_NE(svg.find("<title>speech_end reported at"), std::string::npos);
  EXPECT_EQ(svg.find("Offline mode"), std::string::npos);
}

TEST_F(TraceCommandTest, EnhancedModeTracesItsSpeechProbability) {
  ASSERT_EQ(TraceSample(Mode::Online, true, true, kSample, Detector::Enhanced), kExitSuccess)
      << err_.str();
  std::istringstream csv(kvdtest::ReadText(dir_.Path() + "/trace.csv"));
  std::string line;
  std::getline(csv, line);
  EXPECT_EQ(line.substr(line.rfind(',') + 1), "speech_probability");
  // Each row ends with a probability: below 0.5 in the sample's silence
  // before 1.4 s, mostly above it in the speech (1.6 .. 6.6 s, 500 frames).
  int32_t speechJudged = 0;
  for (int32_t row = 0; std::getline(csv, line); ++row) {
    const double probability = std::stod(line.substr(line.rfind(',') + 1));
    EXPECT_GE(probability, 0.0);
    EXPECT_LT(probability, row < 140 ? 0.5 : 1.0 + 1e-9) << row;
    if (row >= 160 && row < 660 && probability >= 0.5) ++speechJudged;
  }
  EXPECT_GT(speechJudged, 375);
  const std::string svg = kvdtest::ReadText(dir_.Path() + "/trace.svg");
  EXPECT_EQ(Count(svg, "<polyline"), 13u);  // the four bands' lines and the probability
}

// The sample at 16000 Hz is traced at its own rate: the speech stays where
// it is in time (from 1.55 s in the 8000 Hz original). The SVG says where
// its values come from and shades each segment printed.
TEST_F(TraceCommandTest, OfflineTraceAtTheRecordingsOwnRate) {
  const std::vector<int16_t> sample = kvdtest::ReadPcmFile(kvdtest::SamplePath("kvd_sample.pcm"));
  const std::string wide = dir_.Path() + "/wide.wav";
  kvdtest::WriteBytes(wide, kvdtest::CanonicalWave(kvdtest::ResampledLinear(sample, 8000, 16000),
                                                   16000));
  ASSERT_EQ(TraceSample(Mode::Multi, true, true, wide), kExitSuccess) << err_.str();
  EXPECT_EQ(err_.str(), "");
  std::smatch found;
  const std::string printed = out_.str();
  ASSERT_TRUE(std::regex_search(printed, found,
                                std::regex("multi, 16000 Hz, \\d+ ms\n  segment 1: (\\d+) ms")))
      << printed;
  EXPECT_NEAR(std::stoi(found[1]), 1550, 300);
  const std::string svg = kvdtest::ReadText(dir_.Path() + "/trace.svg");
  EXPECT_NE(svg.find("Offline mode: the per-frame rows"), std::string::npos);
  EXPECT_NE(svg.find("mode multi"), std::string::npos);
  EXPECT_EQ(Count(svg, "fill=\"#e3f2e4\""), Count(printed, "  segment "));
}

}  // namespace
}  // namespace kvdtool
