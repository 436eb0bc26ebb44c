// The logging facade seen from its outputs: LogClt.cfg, the logging calls and
// switches, and the rolling file. The facade reads LogClt.cfg from the
// current folder once per process, so every scenario runs the
// logging_scenario child in a fresh folder and inspects the folder
// afterwards. The parent never logs, so no log4cxx thread runs in it when it
// starts a child.
#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <regex>
#include <string>
#include <sys/stat.h>
#include <sys/wait.h>
#include <utility>
#include <vector>

#include "engine_fixtures.h"

namespace {

namespace fs = std::filesystem;

// One expectation on what a scenario left. The name is a path in the work
// folder ("stdout" and "stderr" are the child's outputs; a path ending in "/"
// is the folder's sorted entries, one per line; a last component holding
// "[" is a pattern for the one entry of its folder it names). Missing files
// read as "<missing>".
struct Check {
  enum Kind { kIs, kMatches, kHas } kind;
  std::string name;
  std::string text;
  int least = 1;  // kHas: occurrences of text allowed
  int most = INT_MAX;
};

Check Is(const std::string& name, const std::string& text) { return {Check::kIs, name, text}; }
Check Matches(const std::string& name, const std::string& pattern) {
  return {Check::kMatches, name, pattern};
}
Check Has(const std::string& name, const std::string& text, int least = 1, int most = INT_MAX) {
  return {Check::kHas, name, text, least, most};
}

using Files = std::vector<std::pair<std::string, std::string>>;

struct Scenario {
  const char* what;
  std::string arguments;  // of the child
  Files before;           // written into the work folder first
  std::vector<Check> checks;
  bool readOnlyConfig = false;  // LogClt.cfg made read-only before the run
};

class ScenarioTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = (fs::temp_directory_path() / "kvd_logging_XXXXXX").string();
    ASSERT_NE(mkdtemp(pattern.data()), nullptr);
    root_ = pattern;
  }

  void TearDown() override { fs::remove_all(root_); }

  // Runs each scenario in a fresh work folder and judges what it left.
  void RunAll(const std::vector<Scenario>& scenarios) {
    for (const Scenario& scenario : scenarios) {
      SCOPED_TRACE(scenario.what);
      fs::remove_all(Work(""));
      fs::create_directory(Work(""));
      for (const auto& [name, content] : scenario.before) {
        fs::create_directories(fs::path(Work(name)).parent_path());
        std::ofstream(Work(name), std::ios::binary) << content;
      }
      if (scenario.readOnlyConfig) chmod(Work("LogClt.cfg").c_str(), 0444);
      const std::string command = "cd '" + Work("") + "' && '" KVD_LOGGING_SCENARIO "' " +
                                  scenario.arguments + " >'" + root_ + "/stdout' 2>'" + root_ +
                                  "/stderr'";
      const int status = std::system(command.c_str());
      EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
      for (const Check& check : scenario.checks) Judge(check);
    }
  }

 private:
  std::string Work(const std::string& relative) const { return root_ + "/work/" + relative; }

  std::string Read(const std::string& name) const {
    if (name == "stdout" || name == "stderr") return kvdtest::ReadText(root_ + "/" + name);
    fs::path path = Work(name);
    if (!name.empty() && name.back() == '/') {
      std::vector<std::string> entries;
      for (const fs::directory_entry& entry : fs::directory_iterator(path)) {
        entries.push_back(entry.path().filename().string() + "\n");
      }
      std::sort(entries.begin(), entries.end());
      std::string listing;
      for (const std::string& entry : entries) listing += entry;
      return listing;
    }
    if (name.find('[') != std::string::npos) {
      const std::regex pattern(path.filename().string());
      for (const fs::directory_entry& entry : fs::directory_iterator(path.parent_path())) {
        if (std::regex_match(entry.path().filename().string(), pattern)) path = entry.path();
      }
    }
    return std::ifstream(path) ? kvdtest::ReadText(path.string()) : "<missing>";
  }

  void Judge(const Check& check) const {
    const std::string text = Read(check.name);
    if (check.kind == Check::kIs) {
      EXPECT_EQ(text, check.text) << check.name;
    } else if (check.kind == Check::kMatches) {
      EXPECT_TRUE(std::regex_match(text, std::regex(check.text))) << check.name << ":\n" << text;
    } else {
      int count = 0;
      for (size_t at = text.find(check.text); at != std::string::npos;
           at = text.find(check.text, at + 1)) {
        ++count;
      }
      EXPECT_TRUE(count >= check.least && count <= check.most)
          << check.name << " holds \"" << check.text << "\" " << count << " times";
    }
  }

  std::string root_;
};

// The default file as the log configuration fuzzer's seed holds it, a copy
// kept apart from the library's.
const std::string kExpectedDefaultConfig = kvdtest::ReadText(KVD_DEFAULT_LOG_CONFIG);

const char kStampedFirstMessage[] =
    "\\[[0-9]{2}/[0-9]{2}/[0-9]{2} [0-9]{2}:[0-9]{2}:[0-9]{2}\\.[0-9]{3}\\]:first message 1\n";

// A LogClt.cfg logging into fileName through one appender, "File" (a
// FileAppender) or another name (a RollingFileAppender), with these options
// ("Key = value" lines, each given the appender's prefix).
std::string AppenderConfig(const std::string& name, const std::string& fileName,
                           const std::vector<std::string>& options = {}) {
  const std::string kind = name == "File" ? "FileAppender" : "RollingFileAppender";
  const std::string appender = "Kestrin.appender." + name;
  std::string config = appender + " = Kestrin." + kind + "\n" + appender + ".FileName = " +
                       fileName + "\n" + appender + ".layout = Kestrin.SimpleLayout\n";
  for (const std::string& option : options) config += appender + "." + option + "\n";
  return config;
}

std::string Category(const std::string& appenders) {
  return "Kestrin.category.tprintf_logger = DEBUG, " + appenders + "\n";
}

// The child's "lines" from first to last: bytes each, the first character
// the line number modulo 10.
std::string FixedLines(int first, int last, int bytes) {
  std::string lines;
  for (int i = first; i <= last; ++i) {
    lines += std::to_string(i % 10) + std::string(static_cast<size_t>(bytes - 2), 'A') + "\n";
  }
  return lines;
}

using ConfigFileTest = ScenarioTest;

TEST_F(ConfigFileTest, DefaultUserUnreadableAndWatchedFilesAndDiagnostics) {
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
  const std::string diagnosticsConfig =
      Category("Small, NoFile, Huge") + "Kestrin.debug = true\n" +
      AppenderConfig("Small", "small.log",
                     {"bufferedio = true", "BufferSize = 1", "MaxBackupIndex = 0",
                      "MaxFileSize = 0", "RenameType = Digit"}) +
      "Kestrin.appender.NoFile = Kestrin.FileAppender\n"
      "Kestrin.appender.NoFile.layout = Kestrin.SimpleLayout\n" +
      AppenderConfig("Huge", "huge.log", {"MaxBackupIndex = 2000000000"});
  RunAll({
      // The log file is buffered, so its line also shows that exit flushes it.
      {"the default file", "first_message", {},
       {Is("LogClt.cfg", kExpectedDefaultConfig), Matches("stdout", kStampedFirstMessage),
        Matches("logs/VOLA2.log", kStampedFirstMessage), Is("stderr", "")}},
      {"a read-only file is kept and logging left unconfigured", "first_message",
       {{"LogClt.cfg", "Kestrin.rootCategory = ALL\n"}},
       {Has("stderr", "Create default config file failed.\n"),
        Is("LogClt.cfg", "Kestrin.rootCategory = ALL\n"), Is("logs", "<missing>"),
        Has("stdout", "first message", 0, 0)},
       true},
      // tprintf2 writes at FLOW, which lies above INFO.
      {"a file of the user's is used as written", "first_message", {{"LogClt.cfg", userConfig}},
       {Is("LogClt.cfg", userConfig), Is("custom.log", "first message 1\n"), Is("stderr", "")}},
      // A folder named LogClt.cfg exists and is writable, but reading it fails.
      {"an unreadable file is reported in GBK", "first_message", {{"LogClt.cfg/inside", ""}},
       {Is("logs", "<missing>"), Has("stdout", configureFailedGbk)}},
      // The file changes and the process ends before the watch looks at it:
      // the watch is stopped at exit without reading the file again.
      {"exit after an unread change", "watch 0", {},
       {Is("watch2.log", "<missing>"), Is("stderr", "")}},
      {"the watch reads a changed file", "--watch-ms 100 watch 400",
       {{"LogClt.cfg", Category("File") + AppenderConfig("File", "watch1.log")}},
       {Matches("watch1.log", "before\n(probe\n)*"), Matches("watch2.log", "(probe\n)*after\n")}},
      // The refused maximum of 0 would have rolled small.log over at once.
      {"option diagnostics", "first_message", {{"LogClt.cfg", diagnosticsConfig}},
       {Is("small.log", "first message 1\n"), Is("small.1.log", "<missing>"),
        Has("stderr", "maxBackupIndex" + correctedTo + "1\n"),
        Has("stderr", "maxBackupIndex" + correctedTo + "10000\n"),
        Has("stderr", "maxFileSize 0 refused, kept 10485760\n"),
        Has("stderr",
            "File option not set for appender [NoFile].\n"
            "Are you using FileAppender instead of ConsoleAppender?\n"),
        Has("stdout",
            "Buffer size you supplied is out of range. corrected to DEFAULT_BUFFER_SIZE\n"
            "resize buffer successful.\n")}},
  });
}

using FacadeCallsTest = ScenarioTest;

TEST_F(FacadeCallsTest, CallsAndSwitches) {
  const std::string switchesConfig =
      Category("T_stdout, RollingFile") +
      "Kestrin.appender.T_stdout = Kestrin.ConsoleAppender\n"
      "Kestrin.appender.T_stdout.layout = Kestrin.SimpleLayout\n"
      "Kestrin.appender.T_stdout.layout.WithTimeStamp = true\n" +
      AppenderConfig("RollingFile", "logs/app.log", {"RenameType = Digit", "MaxBackupIndex = 3"});
  RunAll({
      // 3000 characters and a line end are cut to the first 2047 characters.
      {"calls format, prefix and level their texts", "facade_calls",
       {{"LogClt.cfg",
         Category("File") + AppenderConfig("File", "calls.log", {"Threshold = DEBUG"})}},
       {Is("results.txt",
           "long=0\nnewline=0\nflow_file=0\nflow_null=0\nlog_42=0\nlog_named=0\n"
           "log_null_text=-1\nvlog=0\nresult=0\n"
           "info_log_42=-1\ninfo_enabled_42=0\ninfo_enabled_0=1\n"
           "error_tprintf2=-1\nerror_tprintf7=0\n"),
        Is("calls.log", std::string(2047, 'x') +
                            "\ndet 120 :x=1\n7 :x\n1 :debug text\nname :plain %d\nvlog 3\n"
                            "fatal text\n")}},
      // 100 * 60 bytes: the sixth 1000-byte line reaches the limit; 40000000
      // * 60 exceeds 32 bits and is still a valid maximum. The console
      // appender the switch creates has its time stamp off.
      {"switches change console, file, limit, buffer and name", "switches",
       {{"LogClt.cfg", switchesConfig}},
       {Is("results.txt",
           "console_on_1=1\nconsole_on_2=1\nconsole_off=1\nconsole_new=1\n"
           "set_log=1\nlimit_100=1\nlimit_0=1\nlimit_huge=1\n"
           "buf_length=0\nbuffered_growth=0\n"
           "time_stamp_off=1\nname_with_time=1\n"),
        Has("stdout", "console once\n", 1, 1), Has("stdout", "file only", 0, 0),
        Has("stdout", "\nplain console\n"),
        Is("logs/app.log", "console once\nfile only\nplain console\n"),
        Is("limit/app.1.log", FixedLines(1, 6, 1000)),
        Is("limit/app.log", FixedLines(7, 7, 1000) + "buffered\n"),
        Is("stderr", "maxFileSize 0 refused, kept 6000\n"),
        Is("limit/app-[0-9]{2}(-[0-9]{2}){5}\\.log", "named\n")}},
  });
}

using RolloverTest = ScenarioTest;

TEST_F(RolloverTest, SchemesBackupsAndFailures) {
  const std::string earlierRun = "app.01-01-20-00-00-00.0.log";
  const std::string stamp = "[0-9]{2}(-[0-9]{2}){5}";
  RunAll({
      // Four lines of exactly the maximum size roll each file over four
      // times: the write position counts the bytes still in the output
      // buffer. Digit: the folder name holds a "." and the file name none,
      // so the extension is "log"; any rename type but DateTime selects this
      // scheme. DateTime: the rollovers produce files 0 .. 3; with N = 2
      // only the last two stay, while a file of an earlier run is never
      // deleted.
      {"Digit shifts numbered backups, DateTime deletes only its own oldest files",
       "lines 4 100",
       {{"LogClt.cfg",
         Category("Digit, Dated") +
             AppenderConfig("Digit", "roll.d/app",
                            {"MaxFileSize = 100", "MaxBackupIndex = 2", "RenameType = numbers",
                             "bufferedio = true"}) +
             AppenderConfig("Dated", "dt/app.log",
                            {"MaxFileSize = 100", "MaxBackupIndex = 2",
                             "RenameType = datetime"})},
        {"dt/" + earlierRun, "earlier\n"}},
       {Is("stderr", ""), Is("roll.d/", "app.1.log\napp.2.log\napp.log\n"),
        Is("roll.d/app.log", ""), Is("roll.d/app.1.log", FixedLines(4, 4, 100)),
        Is("roll.d/app.2.log", FixedLines(3, 3, 100)),
        Matches("dt/", "app\\.01-01-20-00-00-00\\.0\\.log\napp\\." + stamp +
                           "\\.2\\.log\napp\\." + stamp + "\\.3\\.log\napp\\.log\n"),
        Is("dt/app\\." + stamp + "\\.2\\.log", FixedLines(3, 3, 100)),
        Is("dt/app\\." + stamp + "\\.3\\.log", FixedLines(4, 4, 100)),
        Is("dt/" + earlierRun, "earlier\n"), Is("dt/app.log", "")}},
      // A folder stands where the file is moved aside, so every rollover
      // fails: the file keeps all its 40 lines of 5 bytes, the backups stay
      // as they were, and the rollover is retried only after some growth:
      // 21 of the lines end at or beyond the maximum, at most 11 retries.
      {"a failed rename keeps the log and the backups", "lines 40 5",
       {{"LogClt.cfg",
         Category("Roll") + AppenderConfig("Roll", "app.log",
                                           {"MaxFileSize = 100", "MaxBackupIndex = 2",
                                            "RenameType = Digit"})},
        {"app.1.log", "one\n"},
        {"app.2.log", "two\n"},
        {"app.log.rolling/occupied", ""}},
       {Is("app.log", FixedLines(1, 40, 5)), Is("app.1.log", "one\n"), Is("app.2.log", "two\n"),
        Matches("stderr", "(Unable to rename file app\\.log[^\n]*\n){1,11}")}},
      // rename() replaces the older backup, so the newest old file is the
      // one kept and nothing of the current log is overwritten.
      {"Append off keeps the overwritten file as backup", "first_message",
       {{"LogClt.cfg", Category("Roll") + AppenderConfig("Roll", "app.log", {"Append = false"})},
        {"app.log", "current\n"},
        {"app.log.backup", "older\n"}},
       {Is("app.log.backup", "current\n"), Is("app.log", "first message 1\n"), Is("stderr", "")}},
      {"a plain file where a folder should be is left alone", "first_message",
       {{"LogClt.cfg", Category("Roll") + AppenderConfig("Roll", "logs/app.log")},
        {"logs", "precious\n"}},
       {Is("logs", "precious\n"), Has("stderr", "Unable to open file: logs/app.log\n")}},
  });
}

}  // namespace
