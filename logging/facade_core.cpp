#include "logging/facade_core.h"

#include "logging/config_loader.h"
#include "logging/diagnostic_writer.h"

#include <log4cxx/logmanager.h>
#include <log4cxx/spi/location/locationinfo.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <exception>

namespace kvd::logging {

namespace {

constexpr char kFacadeLoggerName[] = "tprintf_logger";
// Formatted texts are cut at one less, leaving room for the terminator.
constexpr size_t kMessageBufferLength = 2048;

enum InitState : int32_t { kNotInitialised = 0, kInitialised = 1, kInitFailed = -1 };

std::atomic<int32_t> initState{kNotInitialised};
std::mutex initMutex;

void ShutDownLogging() {
  StopConfigWatch();
  log4cxx::LogManager::shutdown();
}

// Returns whether this call ran the initialisation and it failed.
bool InitialiseOnce() {
  std::lock_guard<std::mutex> lock(initMutex);
  if (initState != kNotInitialised) {
    return false;
  }
  bool loaded = false;
  try {
    loaded = LoadLogConfiguration();
  } catch (const std::exception& error) {
    DiagnosticError(error.what());
  }
  if (loaded) {
    initState = kInitialised;
    std::atexit(ShutDownLogging);
    return false;
  }
  initState = kInitFailed;
  return true;
}

}  // namespace

log4cxx::LoggerPtr FacadeLogger() { return log4cxx::Logger::getLogger(kFacadeLoggerName); }

void EnsureFacadeInitialised() {
  if (initState == kNotInitialised) {
    InitialiseOnce();
  }
}

std::string FormatFacadeMessage(const char* format, va_list args) {
  if (initState == kNotInitialised && InitialiseOnce()) {
    return std::string();
  }
  if (format == nullptr) {
    return std::string();
  }
  char buffer[kMessageBufferLength];
  if (std::vsnprintf(buffer, sizeof buffer, format, args) < 0) {
    return std::string();
  }
  return buffer;
}

void LogText(const log4cxx::LoggerPtr& logger, const log4cxx::LevelPtr& level,
             const std::string& text) {
  logger->forcedLogLS(level, text, log4cxx::spi::LocationInfo::getLocationUnavailable());
}

std::mutex& ReconfigurationMutex() {
  static std::mutex mutex;
  return mutex;
}

}  // namespace kvd::logging
