// LogClt.cfg: finding it, and writing it with default content when missing.
#ifndef KVD_LOGGING_DEFAULT_CONFIG_H
#define KVD_LOGGING_DEFAULT_CONFIG_H

namespace kvd::logging {

// Name of the log configuration file, relative to the current directory.
extern const char kConfigFileName[];

// The default content: "tprintf_logger" from DEBUG up to standard output
// and to the buffered rolling file logs/VOLA2.log (8 MB, 300 files named by
// date and time), both with time stamps; the category "kvd_host" is offered
// to host programs that log through log4cxx themselves, from INFO up to the
// same outputs.
extern const char kDefaultConfigText[];

// Makes sure LogClt.cfg exists: an existing file is never rewritten. A file
// whose owner has no write permission counts as not usable (by its mode
// bits, so that root and other users judge alike): then, or when a missing
// file cannot be created, "Create default config file failed." goes to
// standard error and the result is false.
bool EnsureConfigFile();

}  // namespace kvd::logging

#endif  // KVD_LOGGING_DEFAULT_CONFIG_H
