// Online detection end to end: synthetic silence and noise, and the bundled
// sample (8000 Hz; speech from 1.55 s to 6.62 s) streamed through a line.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <vector>

#include "engine/kvd_api.h"
#include "online_fixtures.h"
#include "test_signals.h"

namespace {

constexpr int32_t kShift = 80;                // samples per 10 ms frame
constexpr int32_t kSpeechStart = 1550 * 8;    // samples
constexpr int32_t kSpeechEnd = 6620 * 8;      // samples
constexpr int32_t kStartTolerance = 150 * 8;  // samples

std::vector<int16_t> Sample() {
  return kvdtest::ReadPcmFile(kvdtest::SamplePath("kvd_sample.wav"));
}

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

TEST(OnlineStream, AQuietLeadInIsLearntAsBackground) {
  // A lead-in within +-3 (below the flat-frame range of 10 at 0 dB gain) is
  // still signal: the energy detector learns its background from it, and the
  // speech after it starts on time.
  std::vector<int16_t> pcm = Sample();
  const std::vector<int16_t> quiet = kvdtest::WhiteNoisePcm(3.0, 3u, 12000);
  std::copy(quiet.begin(), quiet.end(), pcm.begin());
  const kvdtest::StreamReport report = Stream(
      kvdtest::StreamTestConfig().Set("AverageGain", "0").Set("Sensitivity", "0.6"), pcm, 160);
  EXPECT_EQ(report.Last().state, speech_end);
  EXPECT_NEAR(report.Last().start, kSpeechStart, kStartTolerance);
}

TEST(OnlineStream, SpeechAfterTheWaitStillStartsTheUtterance) {
  const kvdtest::StreamReport report =
      Stream(kvdtest::StreamTestConfig().Set("MaxWaitFrame", "100"), Sample(), kShift);
  EXPECT_EQ(report.firstSeenAt[no_speech], 102 * kShift);
  EXPECT_GT(report.firstSeenAt[in_speech], report.firstSeenAt[no_speech]);
  EXPECT_EQ(report.Last().state, speech_end);
}

TEST(OnlineStream, RelaxFramesMoveTheLimitsWithinBounds) {
  const kvdtest::StreamReport plain = Stream(kvdtest::StreamTestConfig(), Sample(), kShift);
  const kvdtest::StreamReport relaxed =
      Stream(kvdtest::StreamTestConfig().Set("stRelaxFrames", "10").Set("edRelaxFrames", "10"),
             Sample(), kShift);
  EXPECT_EQ(relaxed.Last().start, plain.Last().start - 10 * kShift);
  EXPECT_EQ(relaxed.Last().end, plain.Last().end + 10 * kShift);
  // Beyond the stream: the start stops at 0, the end at the frame before the
  // decision frame (the call that decided reached the frame after it).
  const kvdtest::StreamReport wide =
      Stream(kvdtest::StreamTestConfig().Set("stRelaxFrames", "1000").Set("edRelaxFrames", "1000"),
             Sample(), kShift);
  EXPECT_EQ(wide.Last().start, 0);
  EXPECT_EQ(wide.Last().end, wide.firstSeenAt[speech_end] - 2 * kShift);
}

TEST(OnlineStream, ALongUtteranceIsCutAtMaxSpeechDuration) {
  const kvdtest::StreamReport report =
      Stream(kvdtest::StreamTestConfig().Set("MaxSpeechDuration", "200"), Sample(), kShift);
  EXPECT_EQ(report.Last().state, speech_too_long);
  EXPECT_EQ(report.Last().end, report.Last().start + 200 * kShift);
  EXPECT_LT(report.firstSeenAt[speech_too_long], kSpeechEnd);
}

TEST(OnlineStream, AfterTheEndCallsReturnZeroAndWriteNothing) {
  kvdtest::OnlineEngine engine(kvdtest::StreamTestConfig());
  ASSERT_EQ(engine.InitResult(), 0);
  const int32_t line = engine.StartLine();
  const std::vector<int16_t> sample = Sample();
  ASSERT_EQ(kvdtest::StreamThrough(line, sample, 1000).Last().state, speech_end);
  int32_t state = -7;
  int32_t start = -7;
  int32_t end = -7;
  int32_t position = -7;
  float* block = nullptr;
  int32_t count1 = -7;
  int32_t count2 = -7;
  EXPECT_EQ(KVD_DetectSpeech(line, sample.data(), 8000, &state, &start, &end, &position, &block,
                             &count1, &block, &count2, 1),
            0);
  EXPECT_EQ(state, -7);
  EXPECT_EQ(start, -7);
  EXPECT_EQ(end, -7);
  EXPECT_EQ(position, -7);
  EXPECT_EQ(count1, -7);
}

TEST(OnlineStream, ChunkSizeChangesNoReport) {
  // The same audio in any chunking: every call reports what the one-sample
  // stream reported at the same stream position, up to and after the end.
  const kvdtest::ConfigText config = kvdtest::StreamTestConfig().Set("MaxWaitFrame", "100");
  const std::vector<int16_t> sample = Sample();
  std::map<int32_t, kvdtest::CallReport> atPosition;
  for (const kvdtest::CallReport& call : Stream(config, sample, 1).calls)
    atPosition[call.position] = call;
  const auto whole = static_cast<int32_t>(sample.size());
  for (int32_t chunk : {7, 30, 80, 160, 1000, whole}) {
    for (const kvdtest::CallReport& call : Stream(config, sample, chunk).calls) {
      ASSERT_EQ(atPosition.count(call.position), 1u) << "chunk " << chunk;
      const kvdtest::CallReport& fine = atPosition[call.position];
      EXPECT_EQ(call.result, 0);
      EXPECT_EQ(call.state, fine.state) << "chunk " << chunk << " at " << call.position;
      EXPECT_EQ(call.start, fine.start) << "chunk " << chunk << " at " << call.position;
      EXPECT_EQ(call.end, fine.end) << "chunk " << chunk << " at " << call.position;
    }
  }
}

}  // namespace
