// LogClt.cfg: the default file, a file that may not be replaced, a file of
// the user's, the watch, and the diagnostics the configuration gives.
#include "scenario_runner.h"

#include <gmock/gmock.h>

#include <sys/stat.h>

namespace kvdtest {
namespace {

using ::testing::HasSubstr;
using ::testing::MatchesRegex;
using ::testing::Not;

// The default file, written out here from its documented lines.
const char kExpectedDefaultConfig[] =
    "#Kestrin log configuration file. Please don't modify its frame.\n"
    "# Categories: root, tprintf_logger, kvd_host\n"
    "Kestrin.rootCategory = ALL, RollingFile\n"
    "Kestrin.category.tprintf_logger = DEBUG, T_stdout, RollingFile\n"
    "Kestrin.category.kvd_host = INFO, T_stdout, RollingFile\n"
    "\n"
    "Kestrin.additivity.tprintf_logger = false\n"
    "Kestrin.additivity.kvd_host = false\n"
    "\n"
    "# please set to false when distribution\n"
    "Kestrin.debug = false\n"
    "\n\n"
    "# Appender: T_stdout\n"
    "Kestrin.appender.T_stdout = Kestrin.ConsoleAppender\n"
    "Kestrin.appender.T_stdout.Threshold = DEBUG\n"
    "Kestrin.appender.T_stdout.layout    = Kestrin.SimpleLayout\n"
    "Kestrin.appender.T_stdout.layout.WithTimeStamp = true\n"
    "\n\n"
    "# Appender: RollingFile RenameType{Digit,DateTime}\n"
    "Kestrin.appender.RollingFile = Kestrin.RollingFileAppender\n"
    "Kestrin.appender.RollingFile.FileName = logs/VOLA2.log\n"
    "Kestrin.appender.RollingFile.Threshold = DEBUG\n"
    "Kestrin.appender.RollingFile.MaxFileSize = 8MB\n"
    "Kestrin.appender.RollingFile.Append = true\n"
    "Kestrin.appender.RollingFile.bufferedio = true\n"
    "Kestrin.appender.RollingFile.MaxBackupIndex = 300\n"
    "Kestrin.appender.RollingFile.RenameType = DateTime\n"
    "Kestrin.appender.RollingFile.layout = Kestrin.SimpleLayout\n"
    "Kestrin.appender.RollingFile.layout.WithTimeStamp = true\n";

const char kStampedFirstMessage[] =
    "\\[[0-9]{2}/[0-9]{2}/[0-9]{2} [0-9]{2}:[0-9]{2}:[0-9]{2}\\.[0-9]{3}\\]:first message 1\n";

using ConfigFileTest = ScenarioTest;

// The log file is buffered, so its line also shows that exit flushes it.
TEST_F(ConfigFileTest, FirstCallWritesDefaultFileAndLogsToConsoleAndLogsFolder) {
  const ScenarioOutcome outcome = Run({"first_message"});
  EXPECT_EQ(outcome.exitCode, 0);
  EXPECT_EQ(ReadWorkFile("LogClt.cfg"), kExpectedDefaultConfig);
  EXPECT_THAT(outcome.standardOutput, MatchesRegex(kStampedFirstMessage));
  EXPECT_THAT(ReadWorkFile("logs/VOLA2.log"), MatchesRegex(kStampedFirstMessage));
  EXPECT_EQ(outcome.standardError, "");
}

TEST_F(ConfigFileTest, ReadOnlyConfigIsKeptAndLeavesLoggingUnconfigured) {
  const std::string userConfig = "Kestrin.rootCategory = ALL\n";
  WriteWorkFile("LogClt.cfg", userConfig);
  chmod(WorkPath("LogClt.cfg").c_str(), 0444);

  const ScenarioOutcome outcome = Run({"first_message"});
  EXPECT_EQ(outcome.exitCode, 0);
  EXPECT_THAT(outcome.standardError, HasSubstr("Create default config file failed.\n"));
  EXPECT_EQ(ReadWorkFile("LogClt.cfg"), userConfig);
  EXPECT_FALSE(WorkFileExists("logs"));
  EXPECT_THAT(outcome.standardOutput, Not(HasSubstr("first message")));
}

TEST_F(ConfigFileTest, ExistingConfigIsUsedAsWritten) {
  const std::string userConfig =
      "Kestrin.category.tprintf_logger = INFO, File\n"
      "Kestrin.appender.File = some.package.FileAppender\n"
      "Kestrin.appender.File.FileName =  custom.log  \n"
      "Kestrin.appender.File.layout = SIMPLELAYOUT\n";
  WriteWorkFile("LogClt.cfg", userConfig);
  Run({"first_message"});
  EXPECT_EQ(ReadWorkFile("LogClt.cfg"), userConfig);
  // tprintf2 writes at FLOW, which lies above INFO.
  EXPECT_EQ(ReadWorkFile("custom.log"), "first message 1\n");
}

// A folder named LogClt.cfg exists and is writable, but reading it fails.
TEST_F(ConfigFileTest, UnreadableConfigIsReportedInGbk) {
  WriteWorkFile("LogClt.cfg/inside", "");
  const ScenarioOutcome outcome = Run({"first_message"});
  EXPECT_EQ(outcome.exitCode, 0);
  // "配置文件初始化失败：可能socket初始化不成功。" in the GBK code page.
  const std::string configureFailedGbk =
      "\xc5\xe4\xd6\xc3\xce\xc4\xbc\xfe\xb3\xf5\xca\xbc\xbb\xaf\xca\xa7\xb0\xdc\xa3\xba"
      "\xbf\xc9\xc4\xdc" "socket" "\xb3\xf5\xca\xbc\xbb\xaf\xb2\xbb\xb3\xc9\xb9\xa6\xa1\xa3";
  EXPECT_EQ(outcome.standardOutput.rfind(configureFailedGbk, 0), 0u) << outcome.standardOutput;
  EXPECT_FALSE(WorkFileExists("logs"));
}

TEST_F(ConfigFileTest, WatchPicksUpAChangedFile) {
  WriteWorkFile("LogClt.cfg",
                "Kestrin.category.tprintf_logger = DEBUG, File\n"
                "Kestrin.appender.File = Kestrin.FileAppender\n"
                "Kestrin.appender.File.FileName = watch1.log\n"
                "Kestrin.appender.File.layout = Kestrin.SimpleLayout\n");
  const ScenarioOutcome outcome = Run({"--watch-ms", "100", "watch"});
  EXPECT_EQ(outcome.exitCode, 0) << "the changed file was not read again";
  EXPECT_THAT(ReadWorkFile("watch1.log"), MatchesRegex("before\n(probe\n)*"));
  EXPECT_THAT(ReadWorkFile("watch2.log"), MatchesRegex("(probe\n)*after\n"));
}

TEST_F(ConfigFileTest, ExitAfterAnUnreadChangeEndsCleanly) {
  const ScenarioOutcome outcome = Run({"change_then_exit"});
  EXPECT_EQ(outcome.exitCode, 0);
  EXPECT_EQ(outcome.standardError, "");
  EXPECT_FALSE(WorkFileExists("watch2.log")) << "the change was applied at exit";
}

TEST_F(ConfigFileTest, OptionDiagnostics) {
  WriteWorkFile("LogClt.cfg",
                "Kestrin.category.tprintf_logger = DEBUG, Small, NoFile, Huge\n"
                "Kestrin.debug = true\n"
                "Kestrin.appender.Small = Kestrin.RollingFileAppender\n"
                "Kestrin.appender.Small.FileName = small.log\n"
                "Kestrin.appender.Small.bufferedio = true\n"
                "Kestrin.appender.Small.BufferSize = 1\n"
                "Kestrin.appender.Small.MaxBackupIndex = 0\n"
                "Kestrin.appender.Small.MaxFileSize = 0\n"
                "Kestrin.appender.Small.RenameType = Digit\n"
                "Kestrin.appender.Small.layout = Kestrin.SimpleLayout\n"
                "Kestrin.appender.NoFile = Kestrin.FileAppender\n"
                "Kestrin.appender.NoFile.layout = Kestrin.SimpleLayout\n"
                "Kestrin.appender.Huge = Kestrin.RollingFileAppender\n"
                "Kestrin.appender.Huge.FileName = huge.log\n"
                "Kestrin.appender.Huge.MaxBackupIndex = 2000000000\n"
                "Kestrin.appender.Huge.layout = Kestrin.SimpleLayout\n");
  const ScenarioOutcome outcome = Run({"first_message"});
  EXPECT_EQ(outcome.exitCode, 0);
  const std::string correctedTo = "\xb1\xbb\xbe\xc0\xd5\xfd\xce\xaa";  // GBK
  EXPECT_THAT(outcome.standardError, HasSubstr("maxBackupIndex" + correctedTo + "1\n"));
  EXPECT_THAT(outcome.standardError, HasSubstr("maxBackupIndex" + correctedTo + "10000\n"));
  EXPECT_THAT(outcome.standardError, HasSubstr("maxFileSize 0 refused, kept 10485760\n"));
  EXPECT_THAT(outcome.standardError,
              HasSubstr("File option not set for appender [NoFile].\n"
                        "Are you using FileAppender instead of ConsoleAppender?\n"));
  EXPECT_THAT(outcome.standardOutput,
              HasSubstr("Buffer size you supplied is out of range. corrected to "
                        "DEFAULT_BUFFER_SIZE\nresize buffer successful.\n"));
  // The refused maximum of 0 would have rolled the file over at once.
  EXPECT_EQ(ReadWorkFile("small.log"), "first message 1\n");
  EXPECT_FALSE(WorkFileExists("small.1.log"));
}

}  // namespace
}  // namespace kvdtest
