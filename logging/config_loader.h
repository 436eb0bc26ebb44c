// Loads LogClt.cfg into log4cxx and keeps watching it.
#ifndef KVD_LOGGING_CONFIG_LOADER_H
#define KVD_LOGGING_CONFIG_LOADER_H

#include <string>

namespace kvd::logging {

// How often the watch looks at LogClt.cfg, in milliseconds.
constexpr long kConfigWatchIntervalMs = 120000;

// Finds or writes LogClt.cfg, configures log4cxx from it and starts the
// watch, which re-reads the file whenever its modification time changes.
// Failures are reported on the standard streams. Runs once per process.
bool LoadLogConfiguration();

// Reads LogClt.cfg again and applies it, as the watch does when the file
// changes. Returns the error text of a failure, empty on success.
std::string ReloadLogConfiguration();

// Stops the watch; the file is no longer re-read.
void StopConfigWatch();

// Replaces the watch interval for watches started afterwards, so that a
// test need not wait two minutes.
void SetConfigWatchIntervalMs(long intervalMs);

}  // namespace kvd::logging

#endif  // KVD_LOGGING_CONFIG_LOADER_H
