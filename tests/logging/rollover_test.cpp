// Opening and rolling over the rolling file: the two renaming schemes, the
// backup of an overwritten file, and the failures that must not lose data.
#include "scenario_runner.h"

#include <gmock/gmock.h>

#include <regex>

namespace kvdtest {
namespace {

using ::testing::ElementsAre;
using ::testing::HasSubstr;

std::string RollingConfig(const std::string& fileName, const std::string& options) {
  return "Kestrin.category.tprintf_logger = DEBUG, Roll\n"
         "Kestrin.appender.Roll = Kestrin.RollingFileAppender\n"
         "Kestrin.appender.Roll.FileName = " +
         fileName + "\n" + options + "Kestrin.appender.Roll.layout = Kestrin.SimpleLayout\n";
}

// The scenario's lines: 100 bytes, the first character the line number.
std::string HundredByteLine(int number) {
  return std::to_string(number) + std::string(98, 'A') + "\n";
}

using RolloverTest = ScenarioTest;

// Four lines of exactly the maximum size roll the file over four times: the
// write position counts the bytes still in the output buffer. The folder
// name holds a "." and the file name none, so the extension is "log". Any
// rename type but DateTime selects the Digit scheme.
TEST_F(RolloverTest, DigitSchemeShiftsNumberedBackups) {
  WriteWorkFile("LogClt.cfg", RollingConfig("roll.d/app",
                                            "Kestrin.appender.Roll.MaxFileSize = 100\n"
                                            "Kestrin.appender.Roll.MaxBackupIndex = 2\n"
                                            "Kestrin.appender.Roll.RenameType = numbers\n"
                                            "Kestrin.appender.Roll.bufferedio = true\n"));
  const ScenarioOutcome outcome = Run({"rollover"});
  EXPECT_EQ(outcome.exitCode, 0);
  EXPECT_THAT(ListWorkFolder("roll.d"), ElementsAre("app.1.log", "app.2.log", "app.log"));
  EXPECT_EQ(ReadWorkFile("roll.d/app.log"), "");
  EXPECT_EQ(ReadWorkFile("roll.d/app.1.log"), HundredByteLine(4));
  EXPECT_EQ(ReadWorkFile("roll.d/app.2.log"), HundredByteLine(3));
}

// The four rollovers produce files 0 .. 3; with N = 2 only the
// last two stay, while a file of an earlier run is never deleted.
TEST_F(RolloverTest, DateTimeSchemeDeletesOnlyItsOwnOldestFiles) {
  WriteWorkFile("LogClt.cfg", RollingConfig("dt/app.log",
                                            "Kestrin.appender.Roll.MaxFileSize = 100\n"
                                            "Kestrin.appender.Roll.MaxBackupIndex = 2\n"
                                            "Kestrin.appender.Roll.RenameType = datetime\n"));
  const std::string earlierRun = "app.01-01-20-00-00-00.0.log";
  WriteWorkFile("dt/" + earlierRun, "earlier\n");
  const ScenarioOutcome outcome = Run({"rollover"});
  EXPECT_EQ(outcome.exitCode, 0);

  const std::regex rolledName("app\\.[0-9]{2}(-[0-9]{2}){5}\\.([0-9])\\.log");
  std::vector<std::string> rolledContents;
  for (const std::string& name : ListWorkFolder("dt")) {
    std::smatch parts;
    if (name != earlierRun && std::regex_match(name, parts, rolledName)) {
      rolledContents.push_back(parts[2].str() + ":" + ReadWorkFile("dt/" + name));
    }
  }
  EXPECT_THAT(rolledContents, ElementsAre("2:" + HundredByteLine(3), "3:" + HundredByteLine(4)));
  EXPECT_EQ(ReadWorkFile("dt/" + earlierRun), "earlier\n");
  EXPECT_EQ(ReadWorkFile("dt/app.log"), "");
}

// rename() replaces the older backup, so the newest old file is the one
// kept and nothing of the current log is overwritten.
TEST_F(RolloverTest, AppendOffKeepsTheOverwrittenFileAsBackup) {
  WriteWorkFile("LogClt.cfg", RollingConfig("app.log", "Kestrin.appender.Roll.Append = false\n"));
  WriteWorkFile("app.log", "current\n");
  WriteWorkFile("app.log.backup", "older\n");
  Run({"first_message"});
  EXPECT_EQ(ReadWorkFile("app.log.backup"), "current\n");
  EXPECT_EQ(ReadWorkFile("app.log"), "first message 1\n");
}

TEST_F(RolloverTest, PlainFileWhereAFolderShouldBeIsLeftAlone) {
  WriteWorkFile("LogClt.cfg", RollingConfig("logs/app.log", ""));
  WriteWorkFile("logs", "precious\n");
  const ScenarioOutcome outcome = Run({"first_message"});
  EXPECT_EQ(outcome.exitCode, 0);
  EXPECT_EQ(ReadWorkFile("logs"), "precious\n");
  EXPECT_THAT(outcome.standardError, HasSubstr("Unable to open file: logs/app.log\n"));
}

// A folder stands where the file is moved aside, so every rollover fails:
// the file keeps all its lines, the backups stay as they were, and the
// rollover is retried only after some growth, not at every message.
TEST_F(RolloverTest, FailedRenameKeepsLogAndBackups) {
  WriteWorkFile("LogClt.cfg", RollingConfig("app.log",
                                            "Kestrin.appender.Roll.MaxFileSize = 100\n"
                                            "Kestrin.appender.Roll.MaxBackupIndex = 2\n"
                                            "Kestrin.appender.Roll.RenameType = Digit\n"));
  WriteWorkFile("app.1.log", "one\n");
  WriteWorkFile("app.2.log", "two\n");
  WriteWorkFile("app.log.rolling/occupied", "");
  const ScenarioOutcome outcome = Run({"rename_failure"});
  EXPECT_EQ(outcome.exitCode, 0);

  // 40 lines of 5 bytes: 200 bytes in all.
  std::string expected;
  for (int i = 1; i <= 40; ++i) {
    expected += std::to_string(i % 10) + "AAA\n";
  }
  EXPECT_EQ(ReadWorkFile("app.log"), expected);
  EXPECT_EQ(ReadWorkFile("app.1.log"), "one\n");
  EXPECT_EQ(ReadWorkFile("app.2.log"), "two\n");
  // 21 of the lines end at or beyond the maximum.
  const int failures = CountOccurrences(outcome.standardError, "Unable to rename file app.log");
  EXPECT_GE(failures, 1);
  EXPECT_LE(failures, 11);
}

}  // namespace
}  // namespace kvdtest
