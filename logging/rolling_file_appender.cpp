#include "logging/rolling_file_appender.h"

#include "logging/diagnostic_writer.h"
#include "logging/file_name.h"
#include "logging/log_files.h"
#include "logging/option_text.h"
#include "logging/time_stamp.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>

namespace kvd::logging {

namespace {

constexpr int32_t kMinBackupIndex = 1;
// A Digit rollover renames every backup under the appender's lock; beyond
// this many the renames would stall logging for no use.
constexpr int32_t kMaxBackupIndex = 10000;
// A failed rollover is tried again once the file has grown by this part of
// its maximum size.
constexpr int64_t kRetryGrowthDivisor = 10;
// Suffix of the current file while a Digit rollover shifts the backups.
constexpr char kRollingSuffix[] = ".rolling";

// "被纠正为" ("corrected to") in the GBK code page.
constexpr char kCorrectedToGbk[] = "\xb1\xbb\xbe\xc0\xd5\xfd\xce\xaa";

// Sequence number of DateTime rollovers, library-wide; it only grows.
std::atomic<int32_t> dateTimeSequence{0};

bool RenameFile(const std::string& from, const std::string& to) {
  DiagnosticDebug("Renaming file " + from + " to " + to);
  if (std::rename(from.c_str(), to.c_str()) != 0) {
    DiagnosticError("Unable to rename file " + from + " to " + to + ": " +
                    std::strerror(errno));
    return false;
  }
  return true;
}

std::string NumberedName(const BaseAndExtension& parts, int32_t index) {
  return parts.base + "." + std::to_string(index) + "." + parts.extension;
}

}  // namespace

KVD_IMPLEMENT_LOG4CXX_CLASS(KvdRollingFileAppender)

void KvdRollingFileAppender::setOption(const log4cxx::LogString& option,
                                       const log4cxx::LogString& value) {
  const std::string name = ToLower(option);
  if (name == "maxfilesize" || name == "maximumfilesize") {
    std::lock_guard<std::mutex> lock(fileMutex_);
    // An empty size stands for one byte more than now, as far as int64 goes.
    const int64_t oneMore =
        maxFileSizeBytes_ < INT64_MAX ? maxFileSizeBytes_ + 1 : maxFileSizeBytes_;
    SetMaxFileSize(ParseFileSize(value, oneMore));
  } else if (name == "maxbackupindex" || name == "maximumbackupindex") {
    std::lock_guard<std::mutex> lock(fileMutex_);
    SetMaxBackupIndex(ParseInteger(value));
  } else if (name == "renametype") {
    std::lock_guard<std::mutex> lock(fileMutex_);
    renameType_ = EqualsIgnoreCase(Trim(value), "DateTime") ? RenameType::kDateTime
                                                           : RenameType::kDigit;
  } else {
    KvdFileAppender::setOption(option, value);
  }
}

// A maximum of 0 or less would roll over after every message and leave only
// the last few hundred of them, so it is refused.
void KvdRollingFileAppender::SetMaxFileSize(int64_t bytes) {
  if (bytes <= 0) {
    DiagnosticError("maxFileSize " + std::to_string(bytes) + " refused, kept " +
                    std::to_string(maxFileSizeBytes_));
    return;
  }
  maxFileSizeBytes_ = bytes;
}

void KvdRollingFileAppender::SetMaxBackupIndex(int64_t count) {
  if (count < kMinBackupIndex) {
    DiagnosticError(std::string("maxBackupIndex") + kCorrectedToGbk +
                    std::to_string(kMinBackupIndex));
    maxBackupIndex_ = kMinBackupIndex;
  } else if (count > kMaxBackupIndex) {
    DiagnosticError(std::string("maxBackupIndex") + kCorrectedToGbk +
                    std::to_string(kMaxBackupIndex));
    maxBackupIndex_ = kMaxBackupIndex;
  } else {
    maxBackupIndex_ = static_cast<int32_t>(count);
  }
}

void KvdRollingFileAppender::AfterEventWritten() {
  const int64_t position = WritePosition();
  if (FileOption().empty() || position < 0) {
    return;
  }
  if (position >= maxFileSizeBytes_ && position >= retryAtBytes_) {
    RollOver(position);
  }
}

// A rollover that cannot rename the current file keeps writing to it: it is
// reopened at its end and the attempt repeated after further growth.
void KvdRollingFileAppender::RollOver(int64_t positionBytes) {
  DiagnosticDebug("rolling over count=" + std::to_string(positionBytes));
  DiagnosticDebug("maxBackupIndex=" + std::to_string(maxBackupIndex_));
  CloseFile();
  const bool renamed = renameType_ == RenameType::kDigit ? RollDigit() : RollDateTime();
  if (renamed) {
    retryAtBytes_ = 0;
    OpenStream(false);
  } else {
    retryAtBytes_ = positionBytes + std::max<int64_t>(maxFileSizeBytes_ / kRetryGrowthDivisor, 1);
    OpenStream(true);
  }
}

// The current file is moved aside first: if that fails, the numbered
// backups have not been touched yet.
bool KvdRollingFileAppender::RollDigit() {
  const std::string current = EffectiveName();
  const std::string aside = current + kRollingSuffix;
  if (!RenameFile(current, aside)) {
    return false;
  }
  const BaseAndExtension parts = SplitBaseAndExtension(current);
  std::remove(NumberedName(parts, maxBackupIndex_).c_str());
  for (int32_t i = maxBackupIndex_ - 1; i >= 1; --i) {
    const std::string older = NumberedName(parts, i);
    if (FileExists(older)) {
      RenameFile(older, NumberedName(parts, i + 1));
    }
  }
  RenameFile(aside, NumberedName(parts, 1));
  return true;
}

bool KvdRollingFileAppender::RollDateTime() {
  const std::string current = EffectiveName();
  const BaseAndExtension parts = SplitBaseAndExtension(current);
  const int32_t sequence = dateTimeSequence++;
  const std::string rolledName = parts.base + "." + LocalTimeSuffix() + "." +
                                 std::to_string(sequence) + "." + parts.extension;
  if (!RenameFile(current, rolledName)) {
    return false;
  }
  if (!rolledFiles_.empty() &&
      rolledFiles_.size() >= static_cast<size_t>(maxBackupIndex_)) {
    std::remove(rolledFiles_.front().c_str());
    rolledFiles_.pop_front();
  }
  rolledFiles_.push_back(rolledName);
  return true;
}

}  // namespace kvd::logging
