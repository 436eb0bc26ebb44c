// The logging calls of the facade: a level test, then formatting, then the
// text handed to "tprintf_logger".
#include <kvd/tprintf.h>

#include "logging/facade_core.h"
#include "logging/log_levels.h"
#include "logging/time_stamp.h"

#include <cstdarg>
#include <cstdlib>
#include <exception>
#include <string>

namespace {

using kvd::logging::FacadeLogger;
using kvd::logging::FormatFacadeMessage;
using kvd::logging::LevelOfFacadeNumber;
using kvd::logging::LogText;

constexpr int kLogged = 0;
constexpr int kNotLogged = -1;

// Where a file-and-line call was made; null for the calls without one.
struct SourcePosition {
  const char* file;  // may be null
  int line;
};

// "<file> <line> :", or "<line> :" without a file.
std::string PositionPrefix(const SourcePosition& position) {
  std::string prefix = position.file != nullptr ? std::string(position.file) + " " : std::string();
  return prefix + std::to_string(position.line) + " :";
}

// Nothing is formatted unless the logger is enabled for level.
int LogFormatted(const log4cxx::LevelPtr& level, const SourcePosition* position,
                 const char* format, va_list args) {
  try {
    const log4cxx::LoggerPtr logger = FacadeLogger();
    if (!logger->isEnabledFor(level)) {
      return kNotLogged;
    }
    const std::string message = FormatFacadeMessage(format, args);
    LogText(logger, level, position != nullptr ? PositionPrefix(*position) + message : message);
    return kLogged;
  } catch (const std::exception&) {
    return kNotLogged;
  }
}

int LogAtPosition(const log4cxx::LevelPtr& level, const char* file, int line,
                  const char* format, va_list args) {
  const SourcePosition position{file, line};
  return LogFormatted(level, &position, format, args);
}

}  // namespace

// Each variadic entry collects its arguments and hands them to one of the
// helpers above.
#define KVD_FORWARD_VARIADIC(lastNamed, call) \
  va_list args;                                \
  va_start(args, lastNamed);                   \
  const int result = (call);                   \
  va_end(args);                                \
  return result

int tprintf1(const char* format, ...) {
  KVD_FORWARD_VARIADIC(format, LogFormatted(kvd::logging::DetailLevel(), nullptr, format, args));
}

int tprintf2(const char* format, ...) {
  KVD_FORWARD_VARIADIC(format, LogFormatted(kvd::logging::FlowLevel(), nullptr, format, args));
}

int tprintf3(const char* format, ...) {
  KVD_FORWARD_VARIADIC(format, LogFormatted(kvd::logging::StatusLevel(), nullptr, format, args));
}

int tprintf4(const char* format, ...) {
  KVD_FORWARD_VARIADIC(format, LogFormatted(kvd::logging::UserErrorLevel(), nullptr, format, args));
}

int tprintf5(const char* format, ...) {
  KVD_FORWARD_VARIADIC(format, LogFormatted(log4cxx::Level::getWarn(), nullptr, format, args));
}

int tprintf6(const char* format, ...) {
  KVD_FORWARD_VARIADIC(format, LogFormatted(log4cxx::Level::getError(), nullptr, format, args));
}

int tprintf7(const char* format, ...) {
  KVD_FORWARD_VARIADIC(format, LogFormatted(log4cxx::Level::getFatal(), nullptr, format, args));
}

int KES_Log(const char* format, ...) {
  KVD_FORWARD_VARIADIC(format, LogFormatted(log4cxx::Level::getInfo(), nullptr, format, args));
}

int KES_FATAL(const char* file, int line, const char* format, ...) {
  KVD_FORWARD_VARIADIC(format,
                       LogAtPosition(log4cxx::Level::getFatal(), file, line, format, args));
}

int KES_ERROR(const char* file, int line, const char* format, ...) {
  KVD_FORWARD_VARIADIC(format,
                       LogAtPosition(log4cxx::Level::getError(), file, line, format, args));
}

int KES_WARN(const char* file, int line, const char* format, ...) {
  KVD_FORWARD_VARIADIC(format, LogAtPosition(log4cxx::Level::getWarn(), file, line, format, args));
}

int KES_USER_ERROR(const char* file, int line, const char* format, ...) {
  KVD_FORWARD_VARIADIC(format,
                       LogAtPosition(kvd::logging::UserErrorLevel(), file, line, format, args));
}

int KES_STATUS(const char* file, int line, const char* format, ...) {
  KVD_FORWARD_VARIADIC(format,
                       LogAtPosition(kvd::logging::StatusLevel(), file, line, format, args));
}

int KES_FLOW(const char* file, int line, const char* format, ...) {
  KVD_FORWARD_VARIADIC(format, LogAtPosition(kvd::logging::FlowLevel(), file, line, format, args));
}

int KES_DETAIL(const char* file, int line, const char* format, ...) {
  KVD_FORWARD_VARIADIC(format,
                       LogAtPosition(kvd::logging::DetailLevel(), file, line, format, args));
}

int KES_INFO(const char* file, int line, const char* format, ...) {
  KVD_FORWARD_VARIADIC(format, LogAtPosition(log4cxx::Level::getInfo(), file, line, format, args));
}

int KES_LOG(const char* file, int line, int level, const char* format, ...) {
  KVD_FORWARD_VARIADIC(format, LogAtPosition(LevelOfFacadeNumber(level), file, line, format, args));
}

int KES_VLOG(int level, const char* format, ...) {
  KVD_FORWARD_VARIADIC(format, LogFormatted(LevelOfFacadeNumber(level), nullptr, format, args));
}

int KES_LOG(const char* name, int level, const char* text) {
  try {
    const log4cxx::LevelPtr logLevel = LevelOfFacadeNumber(level);
    const log4cxx::LoggerPtr logger = FacadeLogger();
    if (!logger->isEnabledFor(logLevel) || text == nullptr) {
      return kNotLogged;
    }
    kvd::logging::EnsureFacadeInitialised();
    const std::string prefix = name != nullptr ? std::string(name) + " :" : std::string();
    LogText(logger, logLevel, prefix + text);
    return kLogged;
  } catch (const std::exception&) {
    return kNotLogged;
  }
}

// Level ALL with no level test: only outputs whose threshold is ALL write it.
int KES_RESULT(const char* format, ...) {
  va_list args;
  va_start(args, format);
  try {
    const std::string text = FormatFacadeMessage(format, args);
    LogText(FacadeLogger(), log4cxx::Level::getAll(), text);
  } catch (const std::exception&) {
  }
  va_end(args);
  return kLogged;
}

bool LevelEnabled(int level) {
  try {
    return FacadeLogger()->isEnabledFor(LevelOfFacadeNumber(level));
  } catch (const std::exception&) {
    return false;
  }
}

int GetLocalTimeStamp(char* buffer) {
  return buffer != nullptr ? kvd::logging::FormatLocalTimeStamp(buffer) : 0;
}

void TEXIT(int code) { std::exit(code); }
