// What the kvd program's tests share: a command's status and outputs, the
// bundled sample, and where its speech lies.
#pragma once

#include <gtest/gtest.h>

#include <string>

#include "test_signals.h"

namespace kvdtool {

struct RunOutput {
  int status = -1;
  std::string out;
  std::string err;
};

inline const std::string kSample = kvdtest::SamplePath("kvd_sample.wav");
inline const std::string kConfig = KVD_CONFIG_DIR "/kvd.cfg";

// The sample holds speech from 1.55 s to 6.62 s; every mode must place its
// segment(s) inside a margin of that.
inline void ExpectSpeechSpan(long long startMs, long long endMs) {
  EXPECT_GE(startMs, 1250);
  EXPECT_LE(startMs, 1850);
  EXPECT_GE(endMs, 6300);
  EXPECT_LE(endMs, 7200);
}

inline size_t Count(const std::string& text, const std::string& part) {
  size_t count = 0;
  for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++count;
  return count;
}

}  // namespace kvdtool
