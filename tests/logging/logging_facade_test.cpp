// The logging facade seen from its outputs: LogClt.cfg (the default file, a
// file that may not be replaced, a file of the user's, the watch, the
// diagnostics), the logging calls and switches, and opening and rolling over
// the rolling file (the two renaming schemes, the backup of an overwritten
// file, and the failures that must not lose data).
//
// The facade reads LogClt.cfg from the current folder once per process, so
// every scenario runs the logging_scenario child in a fresh temporary folder
// and inspects the folder afterwards. The parent itself never logs, so no
// log4cxx thread runs in it when it starts a child.
#include <gmock/gmock.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <sys/stat.h>
#include <sys/wait.h>
#include <vector>

#include "engine_fixtures.h"

namespace {

using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::MatchesRegex;
using ::testing::Not;

namespace fs = std::filesystem;

struct ScenarioOutcome {
  int exitCode = -1;
  std::string standardOutput;
  std::string standardError;
};

class ScenarioTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = (fs::temp_directory_path() / "kvd_logging_XXXXXX").string();
    ASSERT_NE(mkdtemp(pattern.data()), nullptr);
    root_ = pattern;
    fs::create_directory(WorkPath(""));
  }

  void TearDown() override { fs::remove_all(root_); }

  // Path of a file in the child's current folder.
  std::string WorkPath(const std::string& relative) const { return root_ + "/work/" + relative; }

  void WriteWorkFile(const std::string& relative, const std::string& content) const {
    fs::create_directories(fs::path(WorkPath(relative)).parent_path());
    std::ofstream(WorkPath(relative), std::ios::binary) << content;
  }

  // Content of the file, or "<missing>" when it cannot be read.
  std::string ReadWorkFile(const std::string& relative) const {
    return std::ifstream(WorkPath(relative)) ? kvdtest::ReadText(WorkPath(relative)) : "<missing>";
  }

  // Names of the entries of a folder of the work folder, sorted.
  std::vector<std::string> ListWorkFolder(const std::string& relative) const {
    std::vector<std::string> names;
    for (const fs::directory_entry& entry : fs::directory_iterator(WorkPath(relative))) {
      names.push_back(entry.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    return names;
  }

  // Runs the child with these arguments in WorkPath("").
  ScenarioOutcome Run(const std::vector<std::string>& arguments) {
    const std::string outPath = root_ + "/stdout.txt";
    const std::string errPath = root_ + "/stderr.txt";
    std::string command = "cd '" + WorkPath("") + "' && '" KVD_LOGGING_SCENARIO "'";
    for (const std::string& argument : arguments) command += " " + argument;
    const int status = std::system((command + " >'" + outPath + "' 2>'" + errPath + "'").c_str());
    ScenarioOutcome outcome;
    outcome.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    outcome.standardOutput = kvdtest::ReadText(outPath);
    outcome.standardError = kvdtest::ReadText(errPath);
    return outcome;
  }

 private:
  std::string root_;
};

// Occurrences of needle in text.
int CountOccurrences(const std::string& text, const std::string& needle) {
  int count = 0;
  for (size_t at = text.find(needle); at != std::string::npos;
       at = text.find(needle, at + needle.size())) {
    ++count;
  }
  return count;
}

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

// A LogClt.cfg logging into fileName through one appender, "File" (a
// FileAppender) or "Roll" (a RollingFileAppender), its options between.
std::string AppenderConfig(const std::string& name, const std::string& fileName,
                           const std::string& options = "") {
  const std::string kind = name == "File" ? "FileAppender" : "RollingFileAppender";
  const std::string appender = "Kestrin.appender." + name;
  return "Kestrin.category.tprintf_logger = DEBUG, " + name + "\n" + appender + " = Kestrin." +
         kind + "\n" + appender + ".FileName = " + fileName + "\n" + options + appender +
         ".layout = Kestrin.SimpleLayout\n";
}

// The scenario's lines: 100 bytes, the first character the line number.
std::string HundredByteLine(int number) {
  return std::to_string(number) + std::string(98, 'A') + "\n";
}

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
  EXPECT_EQ(ReadWorkFile("logs"), "<missing>");
  EXPECT_THAT(outcome.standardOutput, Not(HasSubstr("first message")));
}

// Scenarios judged by the files they leave and by parts of their error and
// console output.
struct FolderRow {
  const char* what;
  const char* scenario;
  std::vector<std::pair<std::string, std::string>> before;  // files written first
  std::vector<std::pair<std::string, std::string>> after;   // "<missing>": absent
  std::vector<std::string> errors;  // parts of the error output; "<empty>": none at all
  std::string output;               // a part of the console output
};

TEST_F(ConfigFileTest, FoldersAfterAScenario) {
  const std::string userConfig =
      "Kestrin.category.tprintf_logger = INFO, File\n"
      "Kestrin.appender.File = some.package.FileAppender\n"
      "Kestrin.appender.File.FileName =  custom.log  \n"
      "Kestrin.appender.File.layout = SIMPLELAYOUT\n";
  // "配置文件初始化失败：可能socket初始化不成功。" in the GBK code page.
  const std::string configureFailedGbk =
      "\xc5\xe4\xd6\xc3\xce\xc4\xbc\xfe\xb3\xf5\xca\xbc\xbb\xaf\xca\xa7\xb0\xdc\xa3\xba"
      "\xbf\xc9\xc4\xdc" "socket" "\xb3\xf5\xca\xbc\xbb\xaf\xb2\xbb\xb3\xc9\xb9\xa6\xa1\xa3";
  const std::string correctedTo = "\xb1\xbb\xbe\xc0\xd5\xfd\xce\xaa";  // GBK
  const FolderRow rows[] = {
      // tprintf2 writes at FLOW, which lies above INFO.
      {"a file of the user's is used as written", "first_message", {{"LogClt.cfg", userConfig}},
       {{"LogClt.cfg", userConfig}, {"custom.log", "first message 1\n"}}, {"<empty>"}, ""},
      // A folder named LogClt.cfg exists and is writable, but reading it fails.
      {"an unreadable file is reported in GBK", "first_message", {{"LogClt.cfg/inside", ""}},
       {{"logs", "<missing>"}}, {}, configureFailedGbk},
      // The file changes and the process ends before the watch looks at it:
      // the watch is stopped at exit without reading the file again.
      {"exit after an unread change", "change_then_exit", {}, {{"watch2.log", "<missing>"}},
       {"<empty>"}, ""},
      // rename() replaces the older backup, so the newest old file is the one
      // kept and nothing of the current log is overwritten.
      {"Append off keeps the overwritten file as backup", "first_message",
       {{"LogClt.cfg", AppenderConfig("Roll", "app.log", "Kestrin.appender.Roll.Append = false\n")},
        {"app.log", "current\n"},
        {"app.log.backup", "older\n"}},
       {{"app.log.backup", "current\n"}, {"app.log", "first message 1\n"}}, {"<empty>"}, ""},
      {"a plain file where a folder should be is left alone", "first_message",
       {{"LogClt.cfg", AppenderConfig("Roll", "logs/app.log", "")}, {"logs", "precious\n"}},
       {{"logs", "precious\n"}}, {"Unable to open file: logs/app.log\n"}, ""},
      // The refused maximum of 0 would have rolled small.log over at once.
      {"option diagnostics", "first_message",
       {{"LogClt.cfg",
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
         "Kestrin.appender.Huge.layout = Kestrin.SimpleLayout\n"}},
       {{"small.log", "first message 1\n"}, {"small.1.log", "<missing>"}},
       {"maxBackupIndex" + correctedTo + "1\n", "maxBackupIndex" + correctedTo + "10000\n",
        "maxFileSize 0 refused, kept 10485760\n",
        "File option not set for appender [NoFile].\n"
        "Are you using FileAppender instead of ConsoleAppender?\n"},
       "Buffer size you supplied is out of range. corrected to DEFAULT_BUFFER_SIZE\n"
       "resize buffer successful.\n"},
  };
  for (const FolderRow& row : rows) {
    SCOPED_TRACE(row.what);
    fs::remove_all(WorkPath(""));
    fs::create_directory(WorkPath(""));
    for (const auto& [name, content] : row.before) WriteWorkFile(name, content);
    const ScenarioOutcome outcome = Run({row.scenario});
    EXPECT_EQ(outcome.exitCode, 0);
    for (const auto& [name, content] : row.after) {
      EXPECT_EQ(ReadWorkFile(name), content) << name;
    }
    for (const std::string& error : row.errors) {
      if (error == "<empty>") {
        EXPECT_EQ(outcome.standardError, "");
      } else {
        EXPECT_THAT(outcome.standardError, HasSubstr(error));
      }
    }
    EXPECT_THAT(outcome.standardOutput, HasSubstr(row.output));
  }
}

TEST_F(ConfigFileTest, WatchPicksUpAChangedFile) {
  WriteWorkFile("LogClt.cfg", AppenderConfig("File", "watch1.log"));
  const ScenarioOutcome outcome = Run({"--watch-ms", "100", "watch"});
  EXPECT_EQ(outcome.exitCode, 0) << "the changed file was not read again";
  EXPECT_THAT(ReadWorkFile("watch1.log"), MatchesRegex("before\n(probe\n)*"));
  EXPECT_THAT(ReadWorkFile("watch2.log"), MatchesRegex("(probe\n)*after\n"));
}

using FacadeCallsTest = ScenarioTest;

TEST_F(FacadeCallsTest, CallsFormatPrefixAndLevelTheirTexts) {
  WriteWorkFile("LogClt.cfg",
                AppenderConfig("File", "calls.log", "Kestrin.appender.File.Threshold = DEBUG\n"));
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
                AppenderConfig("File", "threads.log", "Kestrin.appender.File.Append = false\n"));
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

using RolloverTest = ScenarioTest;

// Four lines of exactly the maximum size roll each file over four times: the
// write position counts the bytes still in the output buffer.
// Digit: the folder name holds a "." and the file name none, so the extension
// is "log"; any rename type but DateTime selects this scheme.
// DateTime: the rollovers produce files 0 .. 3; with N = 2 only the last two
// stay, while a file of an earlier run is never deleted.
TEST_F(RolloverTest, DigitShiftsNumberedBackupsAndDateTimeDeletesOnlyItsOwnOldestFiles) {
  WriteWorkFile("LogClt.cfg",
                "Kestrin.category.tprintf_logger = DEBUG, Digit, Dated\n"
                "Kestrin.appender.Digit = Kestrin.RollingFileAppender\n"
                "Kestrin.appender.Digit.FileName = roll.d/app\n"
                "Kestrin.appender.Digit.MaxFileSize = 100\n"
                "Kestrin.appender.Digit.MaxBackupIndex = 2\n"
                "Kestrin.appender.Digit.RenameType = numbers\n"
                "Kestrin.appender.Digit.bufferedio = true\n"
                "Kestrin.appender.Digit.layout = Kestrin.SimpleLayout\n"
                "Kestrin.appender.Dated = Kestrin.RollingFileAppender\n"
                "Kestrin.appender.Dated.FileName = dt/app.log\n"
                "Kestrin.appender.Dated.MaxFileSize = 100\n"
                "Kestrin.appender.Dated.MaxBackupIndex = 2\n"
                "Kestrin.appender.Dated.RenameType = datetime\n"
                "Kestrin.appender.Dated.layout = Kestrin.SimpleLayout\n");
  const std::string earlierRun = "app.01-01-20-00-00-00.0.log";
  WriteWorkFile("dt/" + earlierRun, "earlier\n");
  const ScenarioOutcome outcome = Run({"lines", "4", "100"});
  EXPECT_EQ(outcome.exitCode, 0);
  EXPECT_EQ(outcome.standardError, "");

  EXPECT_THAT(ListWorkFolder("roll.d"), ElementsAre("app.1.log", "app.2.log", "app.log"));
  EXPECT_EQ(ReadWorkFile("roll.d/app.log"), "");
  EXPECT_EQ(ReadWorkFile("roll.d/app.1.log"), HundredByteLine(4));
  EXPECT_EQ(ReadWorkFile("roll.d/app.2.log"), HundredByteLine(3));

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

// A folder stands where the file is moved aside, so every rollover fails:
// the file keeps all its lines, the backups stay as they were, and the
// rollover is retried only after some growth, not at every message.
TEST_F(RolloverTest, FailedRenameKeepsLogAndBackups) {
  WriteWorkFile("LogClt.cfg", AppenderConfig("Roll", "app.log",
                                             "Kestrin.appender.Roll.MaxFileSize = 100\n"
                                             "Kestrin.appender.Roll.MaxBackupIndex = 2\n"
                                             "Kestrin.appender.Roll.RenameType = Digit\n"));
  WriteWorkFile("app.1.log", "one\n");
  WriteWorkFile("app.2.log", "two\n");
  WriteWorkFile("app.log.rolling/occupied", "");
  const ScenarioOutcome outcome = Run({"lines", "40", "5"});
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
