// The switches that change the facade's output at run time. Each first
// configures the facade if that has not happened; those that look through
// the appenders of "tprintf_logger" hold the reconfiguration lock.
#include <kvd/tprintf.h>

#include "logging/facade_core.h"
#include "logging/log_levels.h"
#include "logging/rolling_file_appender.h"
#include "logging/simple_layout.h"
#include "logging/time_stamp.h"

#include <log4cxx/consoleappender.h>
#include <log4cxx/helpers/pool.h>

#include <cstdint>
#include <exception>
#include <memory>
#include <string>

namespace {

using kvd::logging::FacadeLogger;
using kvd::logging::KvdRollingFileAppender;
using kvd::logging::KvdSimpleLayout;

// KES_SetLogBufLength accepts buffer sizes in this range, in bytes.
constexpr int kMinRequestedBufferBytes = 20;
constexpr int kMaxRequestedBufferBytes = 1048576;
// KES_SetLogLimit counts in units of this many bytes.
constexpr int64_t kLimitUnitBytes = 60;

std::shared_ptr<KvdRollingFileAppender> FirstRollingFileAppender() {
  for (const log4cxx::AppenderPtr& appender : FacadeLogger()->getAllAppenders()) {
    if (auto rolling = log4cxx::cast<KvdRollingFileAppender>(appender)) {
      return rolling;
    }
  }
  return nullptr;
}

log4cxx::AppenderPtr FirstConsoleAppender() {
  for (const log4cxx::AppenderPtr& appender : FacadeLogger()->getAllAppenders()) {
    if (log4cxx::cast<log4cxx::ConsoleAppender>(appender)) {
      return appender;
    }
  }
  return nullptr;
}

void Reactivate(KvdRollingFileAppender& appender) {
  log4cxx::helpers::Pool pool;
  appender.activateOptions(pool);
}

// Runs change on the rolling file appender under the reconfiguration lock.
// Returns whether there was one.
template <typename Change>
bool ChangeRollingFileAppender(Change change) {
  kvd::logging::EnsureFacadeInitialised();
  try {
    std::lock_guard<std::mutex> lock(kvd::logging::ReconfigurationMutex());
    const std::shared_ptr<KvdRollingFileAppender> appender = FirstRollingFileAppender();
    if (!appender) {
      return false;
    }
    change(*appender);
    return true;
  } catch (const std::exception&) {
    return false;
  }
}

}  // namespace

int KES_SetLog(const char* fileName) {
  const bool found = ChangeRollingFileAppender([fileName](KvdRollingFileAppender& appender) {
    appender.setOption("File", fileName != nullptr ? fileName : "");
    Reactivate(appender);
  });
  return found ? 1 : 0;
}

int KES_SetLogBufLength(int length) {
  ChangeRollingFileAppender([length](KvdRollingFileAppender& appender) {
    if (length >= kMinRequestedBufferBytes && length <= kMaxRequestedBufferBytes) {
      appender.setOption("BufferSize", std::to_string(length));
    }
    appender.setOption("BufferedIO", "true");
    Reactivate(appender);
  });
  return 0;
}

// limit * 60 is formed in 64 bits: a product beyond 32 bits must not wrap
// into a tiny or negative maximum.
int KES_SetLogLimit(int limit) {
  const bool found = ChangeRollingFileAppender([limit](KvdRollingFileAppender& appender) {
    appender.setOption("MaxFileSize", std::to_string(int64_t{limit} * kLimitUnitBytes));
  });
  return found ? 1 : 0;
}

int KES_SetLogLevel(int level) {
  kvd::logging::EnsureFacadeInitialised();
  try {
    FacadeLogger()->setLevel(kvd::logging::LevelOfFacadeNumber(level));
  } catch (const std::exception&) {
  }
  return 0;
}

int KES_EnableLogInConsole(bool on) {
  kvd::logging::EnsureFacadeInitialised();
  try {
    std::lock_guard<std::mutex> lock(kvd::logging::ReconfigurationMutex());
    const log4cxx::AppenderPtr console = FirstConsoleAppender();
    if (console) {
      if (!on) {
        FacadeLogger()->removeAppender(console);
      }
      return 1;
    }
    if (on) {
      auto appender = std::make_shared<log4cxx::ConsoleAppender>(
          std::make_shared<KvdSimpleLayout>(), log4cxx::ConsoleAppender::getSystemOut());
      log4cxx::helpers::Pool pool;
      appender->activateOptions(pool);
      FacadeLogger()->addAppender(appender);
    }
    return 1;
  } catch (const std::exception&) {
    return 0;
  }
}

bool KES_EnableLogNameWithTime(bool on) {
  const std::string suffix = on ? kvd::logging::LocalTimeSuffix() : std::string();
  return ChangeRollingFileAppender([&suffix](KvdRollingFileAppender& appender) {
    appender.SetTimeSuffix(suffix);
    Reactivate(appender);
  });
}

bool KES_EnableTimeStamp(bool on) {
  kvd::logging::EnsureFacadeInitialised();
  try {
    std::lock_guard<std::mutex> lock(kvd::logging::ReconfigurationMutex());
    bool switched = false;
    for (const log4cxx::AppenderPtr& appender : FacadeLogger()->getAllAppenders()) {
      if (auto layout = log4cxx::cast<KvdSimpleLayout>(appender->getLayout())) {
        layout->SetWithTimeStamp(on);
        switched = true;
      }
    }
    return switched;
  } catch (const std::exception&) {
    return false;
  }
}
