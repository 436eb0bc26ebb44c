// The logging calls and the switches, seen from their outputs.
#include "scenario_runner.h"

#include <gmock/gmock.h>

#include <regex>
#include <set>
#include <sstream>

namespace kvdtest {
namespace {

using ::testing::HasSubstr;
using ::testing::MatchesRegex;
using ::testing::Not;

using FacadeCallsTest = ScenarioTest;

TEST_F(FacadeCallsTest, CallsFormatPrefixAndLevelTheirTexts) {
  WriteWorkFile("LogClt.cfg",
                "Kestrin.category.tprintf_logger = DEBUG, File\n"
                "Kestrin.appender.File = Kestrin.FileAppender\n"
                "Kestrin.appender.File.FileName = calls.log\n"
                "Kestrin.appender.File.Threshold = DEBUG\n"
                "Kestrin.appender.File.layout = Kestrin.SimpleLayout\n");
  const ScenarioOutcome outcome = Run({"facade_calls"});
  EXPECT_EQ(outcome.exitCode, 0);
  EXPECT_EQ(ReadWorkFile("results.txt"),
            "long=0\nnewline=0\nflow_file=0\nflow_null=0\nlog_42=0\nlog_named=0\n"
            "log_null_text=-1\nvlog=0\nresult=0\n"
            "info_log_42=-1\ninfo_enabled_42=0\ninfo_enabled_0=1\n"
            "error_tprintf2=-1\nerror_tprintf7=0\n");
  // 3000 characters and a line end are cut to the first 2047 characters.
  EXPECT_EQ(ReadWorkFile("calls.log"), std::string(2047, 'x') +
                                           "\n"
                                           "det 120 :x=1\n"
                                           "7 :x\n"
                                           "1 :debug text\n"
                                           "name :plain %d\n"
                                           "vlog 3\n"
                                           "fatal text\n");
}

TEST_F(FacadeCallsTest, SwitchesChangeConsoleFileLimitBufferAndName) {
  WriteWorkFile("LogClt.cfg",
                "Kestrin.category.tprintf_logger = DEBUG, T_stdout, RollingFile\n"
                "Kestrin.appender.T_stdout = Kestrin.ConsoleAppender\n"
                "Kestrin.appender.T_stdout.layout = Kestrin.SimpleLayout\n"
                "Kestrin.appender.T_stdout.layout.WithTimeStamp = true\n"
                "Kestrin.appender.RollingFile = Kestrin.RollingFileAppender\n"
                "Kestrin.appender.RollingFile.FileName = logs/app.log\n"
                "Kestrin.appender.RollingFile.RenameType = Digit\n"
                "Kestrin.appender.RollingFile.MaxBackupIndex = 3\n"
                "Kestrin.appender.RollingFile.layout = Kestrin.SimpleLayout\n");
  const ScenarioOutcome outcome = Run({"switches"});
  EXPECT_EQ(outcome.exitCode, 0);
  EXPECT_EQ(ReadWorkFile("results.txt"),
            "console_on_1=1\nconsole_on_2=1\nconsole_off=1\nconsole_new=1\n"
            "set_log=1\nlimit_100=1\nlimit_0=1\nlimit_huge=1\n"
            "buf_length=0\nbuffered_growth=0\n"
            "time_stamp_off=1\nname_with_time=1\n");

  EXPECT_EQ(CountOccurrences(outcome.standardOutput, "console once\n"), 1);
  EXPECT_THAT(outcome.standardOutput, Not(HasSubstr("file only")));
  // The console appender the switch creates has its time stamp off.
  EXPECT_THAT(outcome.standardOutput, HasSubstr("\nplain console\n"));
  EXPECT_EQ(ReadWorkFile("logs/app.log"), "console once\nfile only\nplain console\n");

  // 100 * 60 bytes: the sixth 1000-byte line reaches the limit.
  EXPECT_EQ(ReadWorkFile("limit/app.1.log").size(), 6000u);
  EXPECT_THAT(ReadWorkFile("limit/app.log"), MatchesRegex("7A{998}\nbuffered\n"));
  // 40000000 * 60 exceeds 32 bits and is still a valid maximum.
  EXPECT_THAT(outcome.standardError, HasSubstr("maxFileSize 0 refused, kept 6000\n"));
  EXPECT_EQ(CountOccurrences(outcome.standardError, "refused"), 1);

  std::string named;
  for (const std::string& name : ListWorkFolder("limit")) {
    if (std::regex_match(name, std::regex("app-[0-9]{2}(-[0-9]{2}){5}\\.log"))) {
      named = ReadWorkFile("limit/" + name);
    }
  }
  EXPECT_EQ(named, "named\n");
}

// Every thread's lines arrive whole, and one initialisation opened the
// file: a second one would have moved the first output to the ".backup".
TEST_F(FacadeCallsTest, HundredThreadsInitialiseOnceAndLoseNoLine) {
  WriteWorkFile("LogClt.cfg",
                "Kestrin.category.tprintf_logger = DEBUG, File\n"
                "Kestrin.appender.File = Kestrin.FileAppender\n"
                "Kestrin.appender.File.FileName = threads.log\n"
                "Kestrin.appender.File.Append = false\n"
                "Kestrin.appender.File.layout = Kestrin.SimpleLayout\n");
  WriteWorkFile("threads.log", "earlier run\n");
  const ScenarioOutcome outcome = Run({"threads"});
  EXPECT_EQ(outcome.exitCode, 0);
  EXPECT_EQ(ReadWorkFile("threads.log.backup"), "earlier run\n");

  std::istringstream lines(ReadWorkFile("threads.log"));
  const std::regex linePattern("thread ([0-9]{3}) line ([0-9]) ([a-z])\\3{99}");
  std::set<std::string> seen;
  std::string line;
  while (std::getline(lines, line)) {
    std::smatch parts;
    ASSERT_TRUE(std::regex_match(line, parts, linePattern)) << line;
    EXPECT_EQ(parts[3].str()[0], 'a' + std::stoi(parts[1].str()) % 26) << line;
    seen.insert(parts[1].str() + "/" + parts[2].str());
  }
  EXPECT_EQ(seen.size(), 1000u);
}

}  // namespace
}  // namespace kvdtest
