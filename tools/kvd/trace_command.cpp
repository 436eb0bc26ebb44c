#include "tools/kvd/trace_command.h"

#include <fstream>

#include "tools/kvd/detect_command.h"
#include "tools/kvd/output_formats.h"
#include "tools/kvd/trace_csv.h"
#include "tools/kvd/trace_run.h"
#include "tools/kvd/trace_svg.h"

namespace kvdtool {
namespace {

// Writes one output file; false (with the message on err) when it fails.
template <typename Writer>
bool WriteFile(const std::string& path, Writer write, std::ostream& err) {
  std::ofstream file(path, std::ios::binary);
  if (file) write(file);
  if (!file || !file.flush()) {
    err << "kvd: cannot write " << path << "\n";
    return false;
  }
  return true;
}

}  // namespace

int RunTraceCommand(const TraceOptions& options, std::ostream& out, std::ostream& err) {
  Trace trace;
  bool engineStartFailed = false;
  const std::string problem = RunTrace(options, trace, engineStartFailed);
  if (!problem.empty()) {
    err << "kvd: " << problem << "\n";
    return engineStartFailed ? kExitEngine : kExitFileFailed;
  }
  if (!trace.decisions.warning.empty()) err << "kvd: warning: " << trace.decisions.warning << "\n";
  out << FormatDetection(Format::Text, trace.decisions);
  bool written = true;
  if (!options.svgPath.empty())
    written = WriteFile(options.svgPath, [&](std::ostream& file) { WriteTraceSvg(trace, file); }, err);
  if (!options.csvPath.empty())
    written = WriteFile(options.csvPath, [&](std::ostream& file) { WriteTraceCsv(trace, file); }, err) && written;
  return written ? kExitSuccess : kExitFileFailed;
}

}  // namespace kvdtool
