// `kvd trace`: one recording's analysis written as an SVG drawing and/or a
// per-frame CSV file; the decisions are printed as `kvd detect` prints them.
#ifndef KVD_TOOLS_KVD_TRACE_COMMAND_H
#define KVD_TOOLS_KVD_TRACE_COMMAND_H

#include <ostream>

#include "tools/kvd/options.h"

namespace kvdtool {

// Returns the exit status (see detect_command.h).
int RunTraceCommand(const TraceOptions& options, std::ostream& out, std::ostream& err);

}  // namespace kvdtool

#endif  // KVD_TOOLS_KVD_TRACE_COMMAND_H
