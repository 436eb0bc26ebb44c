#include "logging/diagnostic_writer.h"

#include <atomic>
#include <cstdio>

namespace kvd::logging {

namespace {

std::atomic<bool> debugOn{false};

void WriteLine(std::FILE* stream, const std::string& text) {
  std::fwrite(text.data(), 1, text.size(), stream);
  std::fputc('\n', stream);
  std::fflush(stream);
}

}  // namespace

void SetDiagnosticDebug(bool on) { debugOn = on; }

void DiagnosticDebug(const std::string& text) {
  if (debugOn) {
    WriteLine(stdout, text);
  }
}

void DiagnosticError(const std::string& text) { WriteLine(stderr, text); }

}  // namespace kvd::logging
