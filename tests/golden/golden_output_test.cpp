// End-to-end regression: the engine's outputs on the golden recordings must
// equal, character for character, the data files in tests/golden/data/.
// Run with --regenerate to rewrite the data files from the engine as it is.
#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>
#include <vector>

#include "golden_runner.h"
#include "golden_signals.h"

namespace {

const std::vector<kvdtest::GoldenRecording>& Recordings() {
  static const std::vector<kvdtest::GoldenRecording> recordings = kvdtest::GoldenRecordings();
  return recordings;
}

std::string DataPath(const kvdtest::GoldenRecording& recording) {
  return std::string(KVD_GOLDEN_DATA_DIR) + "/" + recording.name + ".txt";
}

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

class GoldenOutput : public testing::TestWithParam<size_t> {};

TEST_P(GoldenOutput, MatchesTheStoredOutputs) {
  const kvdtest::GoldenRecording& recording = Recordings()[GetParam()];
  ASSERT_FALSE(recording.pcm.empty());
  std::ifstream file(DataPath(recording));
  ASSERT_TRUE(file) << "missing " << DataPath(recording);
  std::stringstream stored;
  stored << file.rdbuf();
  const std::vector<std::string> expected = Lines(stored.str());
  const std::vector<std::string> actual = Lines(kvdtest::GoldenOutputText(recording));
  for (size_t i = 0; i < std::min(expected.size(), actual.size()); ++i)
    ASSERT_EQ(actual[i], expected[i]) << "first difference at line " << i + 1;
  EXPECT_EQ(actual.size(), expected.size());
}

INSTANTIATE_TEST_SUITE_P(Recordings, GoldenOutput, testing::Range<size_t>(0, Recordings().size()),
                         [](const testing::TestParamInfo<size_t>& param) {
                           return Recordings()[param.param].name;
                         });

int Regenerate() {
  for (const kvdtest::GoldenRecording& recording : Recordings()) {
    std::ofstream file(DataPath(recording));
    file << kvdtest::GoldenOutputText(recording);
    if (!file) {
      std::cerr << "cannot write " << DataPath(recording) << '\n';
      return 1;
    }
    std::cout << "wrote " << DataPath(recording) << '\n';
  }
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 2 && std::strcmp(argv[1], "--regenerate") == 0) return Regenerate();
  testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
