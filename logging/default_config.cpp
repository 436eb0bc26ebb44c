#include "logging/default_config.h"

#include <cstdio>
#include <cstring>
#include <sys/stat.h>

namespace kvd::logging {

const char kConfigFileName[] = "LogClt.cfg";

const char kDefaultConfigText[] =
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
    "\n"
    "\n"
    "# Appender: T_stdout\n"
    "Kestrin.appender.T_stdout = Kestrin.ConsoleAppender\n"
    "Kestrin.appender.T_stdout.Threshold = DEBUG\n"
    "Kestrin.appender.T_stdout.layout    = Kestrin.SimpleLayout\n"
    "Kestrin.appender.T_stdout.layout.WithTimeStamp = true\n"
    "\n"
    "\n"
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

namespace {

bool WriteDefaultConfig() {
  // "x": created only if it does not exist, so an existing file that
  // appeared meanwhile is never truncated.
  std::FILE* file = std::fopen(kConfigFileName, "wx");
  if (file == nullptr) {
    return false;
  }
  const size_t length = std::strlen(kDefaultConfigText);
  const bool written = std::fwrite(kDefaultConfigText, 1, length, file) == length;
  return std::fclose(file) == 0 && written;
}

}  // namespace

bool EnsureConfigFile() {
  struct stat info {};
  const bool exists = stat(kConfigFileName, &info) == 0;
  const bool usable = exists ? (info.st_mode & S_IWUSR) != 0 : WriteDefaultConfig();
  if (!usable) {
    std::fputs("Create default config file failed.\n", stderr);
    std::fflush(stderr);
  }
  return usable;
}

}  // namespace kvd::logging
