// Runs one recording of the golden set through the engine in every mode, with
// configurations pinned here, and writes the outputs as text.
#ifndef KVD_TESTS_GOLDEN_GOLDEN_RUNNER_H
#define KVD_TESTS_GOLDEN_GOLDEN_RUNNER_H

#include <string>

#include "golden_signals.h"

namespace kvdtest {

// The text of a golden data file (format in tests/golden/README.md).
std::string GoldenOutputText(const GoldenRecording& recording);

}  // namespace kvdtest

#endif  // KVD_TESTS_GOLDEN_GOLDEN_RUNNER_H
