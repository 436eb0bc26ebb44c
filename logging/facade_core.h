// What the logging calls and the switches share: the logger, the one-time
// initialisation and the message formatting.
#ifndef KVD_LOGGING_FACADE_CORE_H
#define KVD_LOGGING_FACADE_CORE_H

#include <log4cxx/level.h>
#include <log4cxx/logger.h>

#include <cstdarg>
#include <mutex>
#include <string>

namespace kvd::logging {

// "tprintf_logger", looked up by name on every call.
log4cxx::LoggerPtr FacadeLogger();

// Formats into a 2048-character buffer, so the text is cut at 2047
// characters. Runs the one-time initialisation first while it has not run;
// if it fails on this call the text is empty. A null format gives the empty
// text.
std::string FormatFacadeMessage(const char* format, va_list args);

// Runs the one-time initialisation while it has not run, as formatting an
// empty message does.
void EnsureFacadeInitialised();

// Hands text to the logger at level, without a level test.
void LogText(const log4cxx::LoggerPtr& logger, const log4cxx::LevelPtr& level,
             const std::string& text);

// Held by the switches while they look through and change the appenders.
std::mutex& ReconfigurationMutex();

}  // namespace kvd::logging

#endif  // KVD_LOGGING_FACADE_CORE_H
