// Replays the inputs a fuzz target once failed on through the target's own
// harness (linked into this test in place of libFuzzer's driver). A fixed
// finding that comes back shows up as a crash here, or under the sanitizers
// of the ASan build as their report.
#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);
extern "C" __attribute__((weak)) int LLVMFuzzerInitialize(int* argc, char*** argv);

namespace {

std::vector<uint8_t> ReadInput(const std::filesystem::path& path) {
  std::ifstream file(path, std::ios::binary);
  return std::vector<uint8_t>(std::istreambuf_iterator<char>(file), {});
}

// The suite is named after the target, e.g. detect_voice_fuzz_findings.
TEST(KVD_REGRESSION_SUITE, EveryRecordedInputRunsThroughTheHarness) {
  const std::filesystem::path folder(KVD_REGRESSION_DIR);
  if (LLVMFuzzerInitialize) LLVMFuzzerInitialize(nullptr, nullptr);
  for (const auto& entry : std::filesystem::directory_iterator(folder)) {
    SCOPED_TRACE(entry.path().filename().string());
    const std::vector<uint8_t> input = ReadInput(entry.path());
    EXPECT_EQ(LLVMFuzzerTestOneInput(input.data(), input.size()), 0);
  }
}

}  // namespace
