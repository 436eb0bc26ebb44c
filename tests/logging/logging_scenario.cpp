// A child process for the logging tests: runs one scenario of facade calls
// in its current directory, which the parent test has prepared (LogClt.cfg,
// files in the way) and inspects afterwards. Every scenario starts with the
// facade unconfigured, as a fresh process does. Return values the parent
// needs are written to results.txt as "name=value" lines.
//
// Usage: logging_scenario [--watch-ms N] <scenario> [<numbers>]: first_message,
// facade_calls, switches, watch <probes>, lines <count> <bytes>.
#include <kvd/tprintf.h>

#include "logging/config_loader.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <fstream>
#include <string>
#include <sys/stat.h>
#include <thread>
#include <vector>

namespace {

std::ofstream& Results() {
  static std::ofstream results("results.txt");
  return results;
}

void Report(const std::string& name, long long value) {
  Results() << name << "=" << value << "\n" << std::flush;
}

long long FileSize(const char* name) {
  struct stat info {};
  return stat(name, &info) == 0 ? static_cast<long long>(info.st_size) : -1;
}

// n lines of exactly lineBytes bytes, the first character the line's
// number modulo 10, so the parent can tell them apart.
void LogFixedLines(int count, int lineBytes) {
  for (int i = 1; i <= count; ++i) {
    std::string line(static_cast<size_t>(lineBytes - 1), 'A');
    line[0] = static_cast<char>('0' + i % 10);
    tprintf2("%s\n", line.c_str());
  }
}

void FacadeCalls() {
  const std::string longText(3000, 'x');
  Report("long", tprintf2("%s\n", longText.c_str()));
  Report("newline", tprintf2("\n"));
  Report("flow_file", KES_FLOW("det", 120, "x=%d\n", 1));
  Report("flow_null", KES_FLOW(nullptr, 7, "x\n"));
  Report("log_42", KES_LOG(nullptr, 1, 42, "debug text\n"));
  Report("log_named", KES_LOG("name", 2, "plain %d\n"));
  Report("log_null_text", KES_LOG("name", 2, nullptr));
  Report("vlog", KES_VLOG(3, "vlog %d\n", 3));
  Report("result", KES_RESULT("result text\n"));
  KES_SetLogLevel(0);
  Report("info_log_42", KES_LOG(nullptr, 2, 42, "hidden\n"));
  Report("info_enabled_42", LevelEnabled(42));
  Report("info_enabled_0", LevelEnabled(0));
  KES_SetLogLevel(6);
  Report("error_tprintf2", tprintf2("hidden\n"));
  Report("error_tprintf7", tprintf7("fatal text\n"));
}

void Switches() {
  Report("console_on_1", KES_EnableLogInConsole(true));
  Report("console_on_2", KES_EnableLogInConsole(true));
  tprintf2("console once\n");
  Report("console_off", KES_EnableLogInConsole(false));
  tprintf2("file only\n");
  Report("console_new", KES_EnableLogInConsole(true));
  tprintf2("plain console\n");

  Report("set_log", KES_SetLog("limit/app.log"));
  Report("limit_100", KES_SetLogLimit(100));
  LogFixedLines(7, 1000);
  Report("limit_0", KES_SetLogLimit(0));
  Report("limit_huge", KES_SetLogLimit(40000000));

  Report("buf_length", KES_SetLogBufLength(10));
  const long long before = FileSize("limit/app.log");
  tprintf2("buffered\n");
  Report("buffered_growth", FileSize("limit/app.log") - before);

  Report("time_stamp_off", KES_EnableTimeStamp(false));
  Report("name_with_time", KES_EnableLogNameWithTime(true));
  tprintf2("named\n");
}

// Replaces LogClt.cfg by one that logs into watch2.log, dated clearly after
// the first reading.
void ChangeConfig() {
  {
    std::ofstream config("LogClt.cfg", std::ios::trunc);
    config << "Kestrin.category.tprintf_logger = DEBUG, File\n"
              "Kestrin.appender.File = Kestrin.FileAppender\n"
              "Kestrin.appender.File.FileName = watch2.log\n"
              "Kestrin.appender.File.layout = Kestrin.SimpleLayout\n";
  }
  struct stat info {};
  stat("LogClt.cfg", &info);
  const timespec times[2] = {{info.st_mtime + 5, 0}, {info.st_mtime + 5, 0}};
  utimensat(AT_FDCWD, "LogClt.cfg", times, 0);
}

// Logs "before", changes LogClt.cfg, then probes up to maxProbes times
// until the new configuration logs into watch2.log, and logs "after". The
// new file is created before its appender is attached, so only a probe that
// arrived in it shows that the new configuration is complete. With no
// probes the process ends before the watch looks at the change.
void Watch(int maxProbes) {
  tprintf2("before\n");
  ChangeConfig();
  for (int probe = 0; probe < maxProbes && FileSize("watch2.log") <= 0; ++probe) {
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    tprintf2("probe\n");
  }
  tprintf2("after\n");
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  if (args.size() > 2 && args[0] == "--watch-ms") {
    kvd::logging::SetConfigWatchIntervalMs(std::stol(args[1]));
    args.erase(args.begin(), args.begin() + 2);
  }
  args.resize(3, "0");
  const std::string& scenario = args[0];
  if (scenario == "lines") {
    LogFixedLines(std::stoi(args[1]), std::stoi(args[2]));
  } else if (scenario == "watch") {
    Watch(std::stoi(args[1]));
  } else if (scenario == "first_message") {
    tprintf2("first message %d\n", 1);
  } else if (scenario == "facade_calls") {
    FacadeCalls();
  } else if (scenario == "switches") {
    Switches();
  } else {
    std::fprintf(stderr, "unknown scenario \"%s\"\n", scenario.c_str());
    return 2;
  }
  return 0;
}
