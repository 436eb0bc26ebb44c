// Online detection end to end: synthetic silence and noise, and the bundled
// sample (8000 Hz; speech from 1.55 s to 6.62 s) streamed through a line.
#include <gtest/gtest.h>

#include <map>
#include <vector>

#include "engine/kvd_api.h"
#include "online_fixtures.h"
#include "test_signals.h"

namespace {

constexpr int32_t kShift = 80;                  // samples per 10 ms frame
constexpr int32_t kSpeechStart = 1550 * 8;      // samples
constexpr int32_t kSpeechEnd = 6620 * 8;        // samples
constexpr int32_t kStartTolerance = 150 * 8;    // samples

std::vector<int16_t> Sample() { return kvdtest::ReadPcmFile(kvdtest::SamplePath("kvd_sample.wav")); }

// Streams pcm through a fresh line of an engine configured with config.
kvdtest::StreamReport Stream(const kvdtest::ConfigText& config, const std::vector<int16_t>& pcm,
                             int32_t chunk) {
  kvdtest::OnlineEngine engine(config);
  EXPECT_EQ(engine.InitResult(), 0);
  const int32_t line = engine.StartLine();
  EXPECT_GE(line, 0);
  return kvdtest::StreamThrough(line, pcm, chunk);
}

TEST(OnlineStream, SilenceAndLowNoiseGiveNoSpeechAfterTheWait) {
  const kvdtest::ConfigText config = kvdtest::StreamTestConfig().Set("MaxWaitFrame", "100");
  const std::vector<std::vector<int16_t>> streams = {std::vector<int16_t>(32000, 0),
                                                     kvdtest::WhiteNoisePcm(30.0, 11u, 32000)};
  for (const std::vector<int16_t>& pcm : streams) {
    const kvdtest::StreamReport report = Stream(config, pcm, kShift);
    // Decision frame 101 is the first past the wait; the call that analysed
    // it reached frame 102.
    EXPECT_EQ(report.firstSeenAt[no_speech], 102 * kShift);
    EXPECT_EQ(report.firstSeenAt[in_speech], -1);
    EXPECT_EQ(report.Last().state, no_speech);
    EXPECT_EQ(report.Last().start, -1);
    EXPECT_EQ(report.Last().end, -1);
  }
}

TEST(OnlineStream, TheSampleStartsAtItsSpeechAndEndsAfterAPause) {
  const kvdtest::StreamReport report = Stream(kvdtest::StreamTestConfig(), Sample(), 160);
  const kvdtest::CallReport& last = report.Last();
  EXPECT_EQ(last.result, 0);
  EXPECT_EQ(last.state, speech_end);
  EXPECT_NEAR(last.start, kSpeechStart, kStartTolerance);
  EXPECT_GE(last.end, kSpeechEnd);
  EXPECT_LE(last.end, kSpeechEnd + 20 * kShift);
  // The end is decided once a pause of MaxSilence (80) frames has passed.
  EXPECT_GE(report.firstSeenAt[speech_end], kSpeechEnd + 80 * kShift);
  EXPECT_EQ(report.firstSeenAt[no_speech], -1);
}

}  // namespace
