// `kvd detect`: every file through the engine, results in input order.
#ifndef KVD_TOOLS_KVD_DETECT_COMMAND_H
#define KVD_TOOLS_KVD_DETECT_COMMAND_H

#include <ostream>

#include "tools/kvd/options.h"

namespace kvdtool {

// Exit statuses of the kvd program.
constexpr int kExitSuccess = 0;      // every file processed
constexpr int kExitFileFailed = 1;   // at least one file could not be processed
constexpr int kExitUsage = 2;        // the command line was refused
constexpr int kExitEngine = 3;       // the engine could not be started (configuration)

// Runs the command: results to out, messages (and, when progress is set, a
// progress line) to err. Returns the exit status.
int RunDetect(const DetectOptions& options, std::ostream& out, std::ostream& err, bool progress);

}  // namespace kvdtool

#endif  // KVD_TOOLS_KVD_DETECT_COMMAND_H
