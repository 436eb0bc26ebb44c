#include "logging/file_appender.h"

#include "logging/diagnostic_writer.h"
#include "logging/file_name.h"
#include "logging/log_files.h"
#include "logging/option_text.h"

#include <log4cxx/helpers/pool.h>

#include <cstdio>

namespace kvd::logging {

namespace {

constexpr int64_t kDefaultBufferSizeBytes = 8192;
constexpr int64_t kMinBufferSizeBytes = 2;
constexpr int64_t kMaxBufferSizeBytes = 32768;
// What a size outside the range above is corrected to.
constexpr int64_t kCorrectedBufferSizeBytes = 32767;

constexpr char kBackupSuffix[] = ".backup";

const char* BooleanText(bool value) { return value ? "true" : "false"; }

}  // namespace

KVD_IMPLEMENT_LOG4CXX_CLASS(KvdFileAppender)

KvdFileAppender::~KvdFileAppender() {
  std::lock_guard<std::mutex> lock(fileMutex_);
  CloseFile();
}

void KvdFileAppender::setOption(const log4cxx::LogString& option,
                                const log4cxx::LogString& value) {
  const std::string name = ToLower(option);
  {
    std::lock_guard<std::mutex> lock(fileMutex_);
    if (name == "file" || name == "filename") {
      fileOption_ = Trim(value);
      effectiveNameCurrent_ = false;
      return;
    }
    if (name == "append") {
      append_ = ParseBoolean(value, true);
      return;
    }
    if (name == "bufferedio" || name == "immediateflush") {
      const bool on = ParseBoolean(value, name == "bufferedio");
      bufferedIo_ = name == "bufferedio" ? on : !on;
      return;
    }
    if (name == "buffersize") {
      bufferSizeBytes_ = ParseFileSize(value, kDefaultBufferSizeBytes);
      return;
    }
  }
  // Not under fileMutex_: the skeleton takes its own lock (threshold), and
  // appending takes the two the other way round.
  AppenderSkeleton::setOption(option, value);
}

void KvdFileAppender::SetTimeSuffix(const std::string& suffix) {
  std::lock_guard<std::mutex> lock(fileMutex_);
  timeSuffix_ = suffix;
  effectiveNameCurrent_ = false;
}

void KvdFileAppender::activateOptions(log4cxx::helpers::Pool& pool) {
  std::lock_guard<std::mutex> lock(fileMutex_);
  if (fileOption_.empty()) {
    DiagnosticError("File option not set for appender [" + getName() + "].");
    DiagnosticError("Are you using FileAppender instead of ConsoleAppender?");
    return;
  }
  OpenFile();
}

void KvdFileAppender::close() {
  std::lock_guard<std::mutex> lock(fileMutex_);
  CloseFile();
}

void KvdFileAppender::append(const log4cxx::spi::LoggingEventPtr& event,
                             log4cxx::helpers::Pool& pool) {
  log4cxx::LogString text;
  if (log4cxx::LayoutPtr layout = getLayout()) {
    layout->format(text, event, pool);
  } else {
    text = event->getRenderedMessage();
  }
  std::lock_guard<std::mutex> lock(fileMutex_);
  if (file_ == nullptr) {
    return;
  }
  std::fwrite(text.data(), 1, text.size(), file_);
  if (!bufferedIo_) {
    std::fflush(file_);
  }
  AfterEventWritten();
}

void KvdFileAppender::OpenFile() {
  DiagnosticDebug("FileAppender::activateOptions called : " + fileOption_ + ", " +
                  BooleanText(append_));
  CloseFile();
  if (!effectiveNameCurrent_) {
    effectiveName_ = EffectiveFileName(fileOption_, timeSuffix_);
    effectiveNameCurrent_ = true;
  }
  if (!append_) {
    BackUpOldFile();
  }
  CreateMissingDirectories(effectiveName_);
  if (!OpenStream(append_)) {
    return;
  }
  if (log4cxx::LayoutPtr layout = getLayout()) {
    log4cxx::helpers::Pool pool;
    log4cxx::LogString header;
    layout->appendHeader(header, pool);
    std::fwrite(header.data(), 1, header.size(), file_);
  }
  DiagnosticDebug("FileAppender::setFile ended");
}

// Keeps the file an overwrite would destroy as <name>.backup. rename()
// replaces an older backup, so the newest file is the one kept.
void KvdFileAppender::BackUpOldFile() const {
  if (!FileExists(effectiveName_)) {
    return;
  }
  const std::string backupName = effectiveName_ + kBackupSuffix;
  if (std::rename(effectiveName_.c_str(), backupName.c_str()) != 0) {
    DiagnosticError("Unable to rename file " + effectiveName_ + " to " + backupName);
  }
}

bool KvdFileAppender::OpenStream(bool atEnd) {
  file_ = std::fopen(effectiveName_.c_str(), atEnd ? "a" : "w");
  if (file_ == nullptr) {
    DiagnosticError("Unable to open file: " + effectiveName_);
    return false;
  }
  if (!bufferedIo_) {
    return true;
  }
  if (bufferSizeBytes_ < kMinBufferSizeBytes || bufferSizeBytes_ > kMaxBufferSizeBytes) {
    bufferSizeBytes_ = kCorrectedBufferSizeBytes;
    DiagnosticDebug(
        "Buffer size you supplied is out of range. corrected to DEFAULT_BUFFER_SIZE");
  }
  const size_t size = static_cast<size_t>(bufferSizeBytes_);
  auto buffer = std::make_unique<char[]>(size);
  if (std::setvbuf(file_, buffer.get(), _IOFBF, size) != 0) {
    bufferedIo_ = false;
    DiagnosticDebug("resize buffer failed.");
  } else {
    streamBuffer_ = std::move(buffer);
    DiagnosticDebug("resize buffer successful.");
  }
  return true;
}

int64_t KvdFileAppender::WritePosition() const {
  if (file_ == nullptr) {
    return -1;
  }
  return static_cast<int64_t>(std::ftell(file_));
}

void KvdFileAppender::CloseFile() {
  if (file_ != nullptr) {
    std::fclose(file_);
    file_ = nullptr;
  }
  streamBuffer_.reset();
}

}  // namespace kvd::logging
