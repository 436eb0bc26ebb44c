// kvd: speech detection on recordings from the command line. See
// `kvd --help` and README.md.
#include <unistd.h>

#include <iostream>
#include <string>
#include <vector>

#include "tools/kvd/detect_command.h"
#include "tools/kvd/help_text.h"
#include "tools/kvd/options.h"
#include "tools/kvd/stream_command.h"
#include "tools/kvd/trace_command.h"

namespace {

int Usage(const std::string& error, const std::string& command) {
  std::cerr << "kvd: " << error << "\n"
            << "Try `kvd " << command << "--help`.\n";
  return kvdtool::kExitUsage;
}

// Parses one command's words and runs it, or shows its help or the reason
// its command line is refused.
template <typename Parse, typename Run>
int Command(const std::vector<std::string>& args, const std::string& name, Parse parse,
            const char* help, Run run) {
  const auto parsed = parse(args);
  if (parsed.status == kvdtool::ParseStatus::Help) {
    std::cout << help;
    return kvdtool::kExitSuccess;
  }
  if (parsed.status == kvdtool::ParseStatus::Error) return Usage(parsed.error, name + " ");
  return run(parsed.options);
}

}  // namespace

int main(int argc, char** argv) {
  const std::vector<std::string> words(argv + 1, argv + argc);
  if (words.empty()) return Usage("no command given", "");
  const std::string& command = words[0];
  const std::vector<std::string> args(words.begin() + 1, words.end());
  if (command == "-h" || command == "--help") {
    std::cout << kvdtool::kProgramHelp;
    return kvdtool::kExitSuccess;
  }
  if (command == "detect") {
    return Command(args, command, kvdtool::ParseDetectOptions, kvdtool::kDetectHelp,
                   [](const kvdtool::DetectOptions& options) {
                     // Progress only for a person watching several files.
                     const bool progress = isatty(STDERR_FILENO) == 1 && options.files.size() > 1;
                     return kvdtool::RunDetect(options, std::cout, std::cerr, progress);
                   });
  }
  if (command == "trace") {
    return Command(args, command, kvdtool::ParseTraceOptions, kvdtool::kTraceHelp,
                   [](const kvdtool::TraceOptions& options) {
                     return kvdtool::RunTraceCommand(options, std::cout, std::cerr);
                   });
  }
  if (command == "stream") {
    return Command(args, command, kvdtool::ParseStreamOptions, kvdtool::kStreamHelp,
                   [](const kvdtool::StreamOptions& options) {
                     return kvdtool::RunStreamCommand(options, std::cout, std::cerr);
                   });
  }
  return Usage("unknown command \"" + command + "\"", "");
}
