// kvd: speech detection on recordings from the command line. See
// `kvd --help` and README.md.
#include <unistd.h>

#include <iostream>
#include <string>
#include <vector>

#include "tools/kvd/detect_command.h"
#include "tools/kvd/help_text.h"
#include "tools/kvd/options.h"

namespace {

int Usage(const std::string& error, const char* command) {
  std::cerr << "kvd: " << error << "\n"
            << "Try `kvd " << command << "--help`.\n";
  return kvdtool::kExitUsage;
}

int Detect(const std::vector<std::string>& args) {
  const auto parsed = kvdtool::ParseDetectOptions(args);
  if (parsed.status == kvdtool::ParseStatus::Help) {
    std::cout << kvdtool::kDetectHelp;
    return kvdtool::kExitSuccess;
  }
  if (parsed.status == kvdtool::ParseStatus::Error) return Usage(parsed.error, "detect ");
  return kvdtool::RunDetect(parsed.options, std::cout, std::cerr, isatty(STDERR_FILENO) == 1);
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
  if (command == "detect") return Detect(args);
  return Usage("unknown command \"" + command + "\"", "");
}
