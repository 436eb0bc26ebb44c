// The rolling file appender: a file appender that, once the file has
// reached its maximum size, renames it away and starts it again empty.
//
// Known to LogClt.cfg and the switches as "RollingFileAppender"; registered
// with log4cxx as "KvdRollingFileAppender". Options besides the file
// appender's (names in any letter case):
//   MaxFileSize / MaximumFileSize      bytes, file-size syntax; default
//                                      10485760; 0 or less is refused
//   MaxBackupIndex / MaximumBackupIndex  N, 1 .. 10000; default 1
//   RenameType                         "Digit" or "DateTime"; default DateTime
//
// Digit keeps base.1.ext (newest) .. base.N.ext. DateTime renames the file to
// base.MM-DD-YY-HH-MM-SS.<sequence>.ext and keeps the last N files it
// produced in this process; files of earlier runs are never deleted.
#ifndef KVD_LOGGING_ROLLING_FILE_APPENDER_H
#define KVD_LOGGING_ROLLING_FILE_APPENDER_H

#include "logging/file_appender.h"

#include <cstdint>
#include <deque>
#include <string>

namespace kvd::logging {

class KvdRollingFileAppender : public KvdFileAppender {
 public:
  DECLARE_LOG4CXX_OBJECT(KvdRollingFileAppender)
  BEGIN_LOG4CXX_CAST_MAP()
  LOG4CXX_CAST_ENTRY(KvdRollingFileAppender)
  LOG4CXX_CAST_ENTRY_CHAIN(KvdFileAppender)
  END_LOG4CXX_CAST_MAP()

  KvdRollingFileAppender() = default;

  void setOption(const log4cxx::LogString& option, const log4cxx::LogString& value) override;

 protected:
  void AfterEventWritten() override;

 private:
  enum class RenameType { kDigit, kDateTime };

  void SetMaxFileSize(int64_t bytes);
  void SetMaxBackupIndex(int64_t count);
  void RollOver(int64_t positionBytes);
  bool RollDigit();
  bool RollDateTime();

  int64_t maxFileSizeBytes_ = 10485760;
  int32_t maxBackupIndex_ = 1;
  RenameType renameType_ = RenameType::kDateTime;
  // Files produced by DateTime rollovers of this appender, oldest first.
  std::deque<std::string> rolledFiles_;
  // After a failed rollover the next attempt waits until the file reaches
  // this position, so that a file that cannot be renamed is not retried at
  // every message; 0 when no rollover has failed.
  int64_t retryAtBytes_ = 0;
};

}  // namespace kvd::logging

#endif  // KVD_LOGGING_ROLLING_FILE_APPENDER_H
