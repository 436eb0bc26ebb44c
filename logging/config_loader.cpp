#include "logging/config_loader.h"

#include "logging/config_translation.h"
#include "logging/default_config.h"
#include "logging/diagnostic_writer.h"
#include "logging/file_appender.h"
#include "logging/log_levels.h"
#include "logging/rolling_file_appender.h"
#include "logging/simple_layout.h"

#include <log4cxx/appenderskeleton.h>
#include <log4cxx/file.h>
#include <log4cxx/helpers/fileinputstream.h>
#include <log4cxx/helpers/properties.h>
#include <log4cxx/logmanager.h>
#include <log4cxx/propertyconfigurator.h>

#include <sys/stat.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <exception>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <utility>

namespace kvd::logging {

namespace {

// "配置文件初始化失败：可能socket初始化不成功。" ("initialising from the
// configuration file failed: sockets may not have been initialised.") in
// the GBK code page.
constexpr char kConfigureFailedGbk[] =
    "\xc5\xe4\xd6\xc3\xce\xc4\xbc\xfe\xb3\xf5\xca\xbc\xbb\xaf\xca\xa7\xb0\xdc\xa3\xba"
    "\xbf\xc9\xc4\xdc" "socket" "\xb3\xf5\xca\xbc\xbb\xaf\xb2\xbb\xb3\xc9\xb9\xa6\xa1\xa3";

std::atomic<long> watchIntervalMs{kConfigWatchIntervalMs};

void RegisterOwnClasses() {
  KvdFileAppender::registerClass();
  KvdRollingFileAppender::registerClass();
  KvdSimpleLayout::registerClass();
  RegisterLevelClass();
}

// log4cxx reads an appender's Threshold with its own level names only.
void ApplyAddedLevelThresholds(const std::vector<AppenderThreshold>& thresholds) {
  if (thresholds.empty()) {
    return;
  }
  log4cxx::LoggerList loggers = log4cxx::LogManager::getCurrentLoggers();
  loggers.push_back(log4cxx::LogManager::getRootLogger());
  for (const log4cxx::LoggerPtr& logger : loggers) {
    for (const log4cxx::AppenderPtr& appender : logger->getAllAppenders()) {
      auto skeleton = log4cxx::cast<log4cxx::AppenderSkeleton>(appender);
      for (const AppenderThreshold& threshold : thresholds) {
        if (skeleton && skeleton->getName() == threshold.appenderName) {
          skeleton->setThreshold(AddedLevelByName(threshold.levelName));
        }
      }
    }
  }
}

// Reads, translates and applies the file; returns the error text of a
// failure, empty on success.
std::string ConfigureFromFile(const log4cxx::File& file) {
  try {
    log4cxx::helpers::Properties fileProperties;
    fileProperties.load(std::make_shared<log4cxx::helpers::FileInputStream>(file));
    ConfigEntries entries;
    for (const log4cxx::LogString& key : fileProperties.propertyNames()) {
      entries.emplace_back(key, fileProperties.getProperty(key));
    }
    const TranslatedConfig translated = TranslateConfig(entries);
    SetDiagnosticDebug(translated.debug);
    log4cxx::helpers::Properties properties;
    for (const auto& [key, value] : translated.entries) {
      properties.setProperty(key, value);
    }
    log4cxx::PropertyConfigurator configurator;
    configurator.doConfigure(properties, log4cxx::LogManager::getLoggerRepository());
    ApplyAddedLevelThresholds(translated.addedLevelThresholds);
    return std::string();
  } catch (const std::exception& error) {
    return error.what();
  }
}

void ReportConfigureFailure(const std::string& error) {
  std::printf("%s%s\n", kConfigureFailedGbk, error.c_str());
  std::fflush(stdout);
}

// Re-reads the file on a thread of its own whenever its modification time
// has changed. The file has just been read when the watch starts, so its
// time then is the one compared against. Destroying the watch stops and
// joins the thread; nothing of the watch runs after that. (log4cxx's own
// FileWatchdog looks at the file once more while it is destroyed and calls
// the derived class's handler after that part is gone: a pure virtual call
// that ended the process when LogClt.cfg had changed since the last look.)
class ConfigWatch {
 public:
  ConfigWatch(std::string path, long intervalMs)
      : path_(std::move(path)), interval_(intervalMs), lastModified_(ModificationTime()) {
    thread_ = std::thread([this] { Run(); });
  }
  ~ConfigWatch() {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      stopping_ = true;
    }
    wake_.notify_all();
    thread_.join();
  }
  ConfigWatch(const ConfigWatch&) = delete;
  ConfigWatch& operator=(const ConfigWatch&) = delete;

 private:
  // Seconds and nanoseconds of the last change; zero when the file is missing.
  std::pair<long long, long> ModificationTime() const {
    struct stat info {};
    if (stat(path_.c_str(), &info) != 0) return {0, 0};
    return {static_cast<long long>(info.st_mtim.tv_sec), info.st_mtim.tv_nsec};
  }

  void Run() {
    std::unique_lock<std::mutex> lock(mutex_);
    while (!wake_.wait_for(lock, interval_, [this] { return stopping_; })) {
      lock.unlock();
      LookAtFile();
      lock.lock();
    }
  }

  void LookAtFile() {
    const auto modified = ModificationTime();
    if (modified == lastModified_) return;
    lastModified_ = modified;
    const std::string error = ConfigureFromFile(log4cxx::File(path_));
    if (!error.empty()) {
      ReportConfigureFailure(error);
    }
  }

  const std::string path_;
  const std::chrono::milliseconds interval_;
  std::pair<long long, long> lastModified_;  // touched by the watch thread only
  std::mutex mutex_;
  std::condition_variable wake_;
  bool stopping_ = false;
  std::thread thread_;
};

std::mutex watchMutex;
std::unique_ptr<ConfigWatch> configWatch;

}  // namespace

bool LoadLogConfiguration() {
  if (!EnsureConfigFile()) {
    return false;
  }
  RegisterOwnClasses();
  const log4cxx::File configFile(kConfigFileName);
  const std::string error = ConfigureFromFile(configFile);
  if (!error.empty()) {
    ReportConfigureFailure(error);
    return false;
  }
  auto watch = std::make_unique<ConfigWatch>(kConfigFileName, watchIntervalMs);
  std::lock_guard<std::mutex> lock(watchMutex);
  configWatch = std::move(watch);
  return true;
}

std::string ReloadLogConfiguration() { return ConfigureFromFile(log4cxx::File(kConfigFileName)); }

// The watch is destroyed, which joins its thread, outside the lock.
void StopConfigWatch() {
  std::unique_ptr<ConfigWatch> stopped;
  std::lock_guard<std::mutex> lock(watchMutex);
  stopped.swap(configWatch);
}

void SetConfigWatchIntervalMs(long intervalMs) { watchIntervalMs = intervalMs; }

}  // namespace kvd::logging
