// The file appender: writes each event's layout text to one file through a
// C stream, optionally through an output buffer of its own.
//
// Known to LogClt.cfg and the switches as "FileAppender"; registered with
// log4cxx as "KvdFileAppender" because log4cxx has a class of that name.
// Options (names in any letter case):
//   File / FileName  file name, blanks trimmed; no default
//   Append           boolean, not a boolean counts as true; default true
//   BufferedIO       boolean, not a boolean counts as true; default false
//   ImmediateFlush   inverse of BufferedIO; not a boolean turns buffering on
//   BufferSize       bytes in file-size syntax ("8kb"); default 8192; the
//                    file opens with a size outside 2 .. 32768 as 32767
//   anything else    log4cxx's appender options (Threshold, ...)
//
// The file really opened is the effective name: the configured name with
// the time suffix (set by KES_EnableLogNameWithTime) before its extension.
#ifndef KVD_LOGGING_FILE_APPENDER_H
#define KVD_LOGGING_FILE_APPENDER_H

#include "logging/log4cxx_class.h"

#include <log4cxx/appenderskeleton.h>

#include <cstdint>
#include <cstdio>
#include <memory>
#include <mutex>
#include <string>

namespace kvd::logging {

class KvdFileAppender : public log4cxx::AppenderSkeleton {
 public:
  DECLARE_LOG4CXX_OBJECT(KvdFileAppender)
  BEGIN_LOG4CXX_CAST_MAP()
  LOG4CXX_CAST_ENTRY(KvdFileAppender)
  LOG4CXX_CAST_ENTRY_CHAIN(log4cxx::AppenderSkeleton)
  END_LOG4CXX_CAST_MAP()

  KvdFileAppender() = default;
  ~KvdFileAppender() override;

  void setOption(const log4cxx::LogString& option, const log4cxx::LogString& value) override;
  // Opens the file under the current options, closing the one open before.
  void activateOptions(log4cxx::helpers::Pool& pool) override;
  void close() override;
  bool requiresLayout() const override { return true; }

  // The suffix put before the extension of the file name; takes effect at
  // the next activation.
  void SetTimeSuffix(const std::string& suffix);

 protected:
  void append(const log4cxx::spi::LoggingEventPtr& event, log4cxx::helpers::Pool& pool) override;

  // Called under fileMutex_ after each event has been written.
  virtual void AfterEventWritten() {}

  // The following expect fileMutex_ to be held.
  // Write position in bytes, buffered bytes included; -1 without a file.
  int64_t WritePosition() const;
  void CloseFile();
  // Opens effectiveName_ at its end or truncated, with the buffer settings;
  // reports "Unable to open file: " on failure.
  bool OpenStream(bool atEnd);
  const std::string& EffectiveName() const { return effectiveName_; }
  const std::string& FileOption() const { return fileOption_; }

  std::mutex fileMutex_;

 private:
  void OpenFile();
  void BackUpOldFile() const;

  std::string fileOption_;
  std::string timeSuffix_;
  std::string effectiveName_;
  bool effectiveNameCurrent_ = false;
  bool append_ = true;
  bool bufferedIo_ = false;
  int64_t bufferSizeBytes_ = 8192;
  std::FILE* file_ = nullptr;
  // Handed to file_ by setvbuf: released only after file_ is closed.
  std::unique_ptr<char[]> streamBuffer_;
};

}  // namespace kvd::logging

#endif  // KVD_LOGGING_FILE_APPENDER_H
