// Command lines of kvd detect and kvd trace: what is accepted and what is
// refused with which reason.
#include "tools/kvd/options.h"

#include <gtest/gtest.h>

namespace kvdtool {
namespace {

Parsed<DetectOptions> Detect(std::vector<std::string> args) { return ParseDetectOptions(args); }

void ExpectRefused(const std::vector<std::string>& args, const std::string& reasonPart) {
  const auto parsed = ParseDetectOptions(args);
  EXPECT_EQ(parsed.status, ParseStatus::Error) << args.front();
  EXPECT_NE(parsed.error.find(reasonPart), std::string::npos) << parsed.error;
}

TEST(DetectOptions, DefaultsWithFilesOnly) {
  const auto parsed = Detect({"a.wav", "b.wav"});
  ASSERT_EQ(parsed.status, ParseStatus::Run);
  EXPECT_EQ(parsed.options.files, (std::vector<std::string>{"a.wav", "b.wav"}));
  EXPECT_EQ(parsed.options.engine.mode, Mode::FromConfig);
  EXPECT_EQ(parsed.options.engine.chunk, 160);
  EXPECT_EQ(parsed.options.engine.rawRate, 0);
  EXPECT_TRUE(parsed.options.engine.config.empty());
  EXPECT_EQ(parsed.options.jobs, 1);
  EXPECT_EQ(parsed.options.format, Format::Text);
}

TEST(DetectOptions, EveryOptionInBothSpellings) {
  for (const auto& args : std::vector<std::vector<std::string>>{
           {"--mode", "multi", "--config", "x.cfg", "--chunk", "30", "--jobs", "4", "--format",
            "csv", "--rate", "16000", "a.raw"},
           {"a.raw", "--mode=multi", "--config=x.cfg", "--chunk=30", "--jobs=4", "--format=csv",
            "--rate=16000"}}) {
    const auto parsed = Detect(args);
    ASSERT_EQ(parsed.status, ParseStatus::Run) << parsed.error;
    EXPECT_EQ(parsed.options.engine.mode, Mode::Multi);
    EXPECT_EQ(parsed.options.engine.config, "x.cfg");
    EXPECT_EQ(parsed.options.engine.chunk, 30);
    EXPECT_EQ(parsed.options.engine.rawRate, 16000);
    EXPECT_EQ(parsed.options.jobs, 4);
    EXPECT_EQ(parsed.options.format, Format::Csv);
    EXPECT_EQ(parsed.options.files, std::vector<std::string>{"a.raw"});
  }
}

TEST(DetectOptions, DoubleDashEndsOptions) {
  const auto parsed = Detect({"--", "--odd-name.wav", "-"});
  ASSERT_EQ(parsed.status, ParseStatus::Run);
  EXPECT_EQ(parsed.options.files, (std::vector<std::string>{"--odd-name.wav", "-"}));
}

TEST(DetectOptions, HelpWinsOverTheRest) {
  EXPECT_EQ(Detect({"--help"}).status, ParseStatus::Help);
  EXPECT_EQ(Detect({"a.wav", "-h"}).status, ParseStatus::Help);
}

TEST(DetectOptions, Refusals) {
  ExpectRefused({"--bogus", "a.wav"}, "unknown option --bogus");
  ExpectRefused({"-x", "a.wav"}, "unknown option -x");
  ExpectRefused({"a.wav", "--chunk"}, "--chunk needs a value");
  ExpectRefused({"a.wav", "--config"}, "--config needs a value");
  ExpectRefused({"a.wav", "--config="}, "--config needs a file name");
  ExpectRefused({"--chunk", "0", "a.wav"}, "between 1 and");
  ExpectRefused({"--chunk", "-5", "a.wav"}, "between 1 and");
  ExpectRefused({"--chunk", "12x", "a.wav"}, "whole number");
  ExpectRefused({"--chunk", "99999999999", "a.wav"}, "between 1 and");
  ExpectRefused({"--jobs", "0", "a.wav"}, "between 1 and 1024");
  ExpectRefused({"--jobs", "-1", "a.wav"}, "between 1 and 1024");
  ExpectRefused({"--jobs", "1025", "a.wav"}, "between 1 and 1024");
  ExpectRefused({"--rate", "0", "a.raw"}, "between 1 and");
  ExpectRefused({"--format", "xml", "a.wav"}, "unknown format \"xml\"");
  ExpectRefused({"--mode", "live", "a.wav"}, "unknown mode \"live\"");
  ExpectRefused({"--help=yes"}, "takes no value");
  ExpectRefused({"--jobs", "2"}, "no recording given");
  ExpectRefused({"--format", "labels", "a.wav", "b.wav"}, "one file");
}

TEST(TraceOptions, OneFileAndAnOutput) {
  const auto parsed = ParseTraceOptions({"a.wav", "--svg", "t.svg", "--csv=t.csv", "--chunk", "1"});
  ASSERT_EQ(parsed.status, ParseStatus::Run) << parsed.error;
  EXPECT_EQ(parsed.options.file, "a.wav");
  EXPECT_EQ(parsed.options.svgPath, "t.svg");
  EXPECT_EQ(parsed.options.csvPath, "t.csv");
  EXPECT_EQ(parsed.options.engine.chunk, 1);
}

TEST(TraceOptions, Refusals) {
  EXPECT_NE(ParseTraceOptions({"a.wav"}).error.find("--svg FILE"), std::string::npos);
  EXPECT_NE(ParseTraceOptions({"a.wav", "b.wav", "--svg", "t.svg"}).error.find("one too many"),
            std::string::npos);
  EXPECT_NE(ParseTraceOptions({"--svg", "t.svg"}).error.find("no recording"), std::string::npos);
  EXPECT_NE(ParseTraceOptions({"a.wav", "--svg"}).error.find("needs a value"), std::string::npos);
  EXPECT_NE(ParseTraceOptions({"a.wav", "--jobs", "2", "--svg", "t.svg"}).error.find("unknown"),
            std::string::npos);
}

}  // namespace
}  // namespace kvdtool
