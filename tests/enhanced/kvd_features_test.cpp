// kvd-features, the training data of the enhanced classifier: one row per
// frame of every recording, and its refusals.
#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "enhanced/frame_features.h"
#include "engine_fixtures.h"

namespace {

int RunTool(const std::string& arguments) {
  const int status = std::system((std::string(KVD_FEATURES_TOOL) + " " + arguments).c_str());
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

TEST(KvdFeatures, WritesOneRowPerFrameAndRefusesBadInput) {
  const kvdtest::TempDir dir;
  const std::string sample = std::string(KVD_SAMPLE_DIR) + "/kvd_sample.wav";
  ASSERT_EQ(RunTool("--out " + dir.Path() + " " + sample), 0);
  std::ifstream rows(dir.Path() + "/kvd_sample.f32", std::ios::binary | std::ios::ate);
  ASSERT_TRUE(rows);
  // 76091 samples at 8000 Hz: (76091 - 200) / 80 + 1 frames of 25 ms every 10 ms.
  const size_t frames = (76091 - 200) / 80 + 1;
  const size_t columns = kFeatureCount + 1;
  ASSERT_EQ(static_cast<size_t>(rows.tellg()), frames * columns * sizeof(float));
  rows.seekg(0);
  std::vector<float> values(frames * columns);
  rows.read(reinterpret_cast<char*>(values.data()),
            static_cast<std::streamsize>(values.size() * sizeof(float)));
  for (size_t f = 0; f < frames; ++f) {
    const float probability = values[f * columns + kFeatureCount];
    ASSERT_GE(probability, 0.0f) << f;
    ASSERT_LE(probability, 1.0f) << f;
  }

  EXPECT_EQ(RunTool("--out " + dir.Path() + " " + dir.Path() + "/missing.wav 2>/dev/null"), 1);
  EXPECT_EQ(RunTool("--out " + dir.Path() + " " + std::string(KVD_SAMPLE_DIR) +
                "/kvd_sample.pcm 2>/dev/null"),
            1);
  EXPECT_EQ(RunTool(sample + " 2>/dev/null"), 2);
}

}  // namespace
