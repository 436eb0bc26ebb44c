// Streams that reach the last sample position an int32 can report (at 8000
// Hz, 80 samples a frame: frame 26843545 starts at 2147483600, the next one
// would end beyond 2^31 - 1). The line's frame counter is set near that
// limit instead of streaming 74.6 hours.
#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "engine/kvd_api.h"
#include "engine/speech_detector.h"
#include "online_fixtures.h"
#include "test_signals.h"

namespace {

constexpr int32_t kShift = 80;
constexpr int32_t kFrameLength = 200;
// The first frame whose end would lie beyond 2^31 - 1.
constexpr int32_t kFirstUnreportableFrame = INT32_MAX / kShift;  // 26843545
constexpr int32_t kLastPosition = kFirstUnreportableFrame * kShift;  // 2147483600

class LongStream : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(engine_.InitResult(), 0);
    line_ = engine_.StartLine();
    ASSERT_GE(line_, 0);
  }

  // The next frame analysed is `frame`, as after that many frames of stream.
  void SkipTo(int32_t frame) { GetLine(line_)->frameIndex = frame; }

  kvdtest::CallReport Feed(const std::vector<int16_t>& pcm) {
    kvdtest::CallReport report{-1, -7, -7, -7, -7};
    report.result = KVD_DetectSpeech(line_, pcm.data(), static_cast<int32_t>(pcm.size()),
                                     &report.state, &report.start, &report.end, &report.position);
    return report;
  }

  kvdtest::OnlineEngine engine_{kvdtest::StreamTestConfig()};
  int32_t line_ = -1;
};

TEST_F(LongStream, LastFramesAreReportedThenDetectionEndsWithBadDataUntilRestart) {
  SkipTo(kFirstUnreportableFrame - 100);
  const std::vector<int16_t> hundredFrames(kFrameLength + 99 * kShift, 0);
  const kvdtest::CallReport last = Feed(hundredFrames);
  EXPECT_EQ(last.result, 0);
  EXPECT_EQ(last.position, kLastPosition);

  const std::vector<int16_t> oneFrame(kShift, 0);
  const std::string log = kvdtest::CaptureLog([&] {
    const kvdtest::CallReport beyond = Feed(oneFrame);
    EXPECT_EQ(beyond.result, KVD_ERR_BAD_DATA);
    EXPECT_EQ(beyond.position, kLastPosition) << "the position reached, not a wrapped one";
  });
  EXPECT_NE(log.find("Line 0 has reached sample position 2147483600 (74.6 h at 8000 Hz)"),
            std::string::npos)
      << log;
  EXPECT_EQ(Feed(oneFrame).result, KVD_ERR_BAD_DATA);
  EXPECT_EQ(Feed({}).result, 0) << "a call without a new frame analyses nothing";
  EXPECT_EQ(GetLine(line_)->frameIndex, kFirstUnreportableFrame);

  ASSERT_EQ(KVD_Start(line_), 0);
  const kvdtest::CallReport restarted = Feed(hundredFrames);
  EXPECT_EQ(restarted.result, 0);
  EXPECT_EQ(restarted.position, 100 * kShift);
}

// The bundled sample (speech from 1.55 s) streamed from frame 0 and again
// from 9 s before the limit: the same start and end, moved by the offset,
// where a wrapped position would have been negative or cut at once.
TEST_F(LongStream, UtteranceJustBeforeTheLimitIsFoundAsFromFrameZero) {
  const std::vector<int16_t> pcm = kvdtest::ReadPcmFile(kvdtest::SamplePath("kvd_sample.wav"));
  const kvdtest::StreamReport fromZero = kvdtest::StreamThrough(line_, pcm, kShift);
  ASSERT_EQ(fromZero.Last().result, 0);
  ASSERT_GT(fromZero.Last().start, 0);

  ASSERT_EQ(KVD_Start(line_), 0);
  const int32_t offsetFrames = kFirstUnreportableFrame - 960;  // 9.6 s before the limit
  SkipTo(offsetFrames);
  const kvdtest::StreamReport nearLimit = kvdtest::StreamThrough(line_, pcm, kShift);
  ASSERT_EQ(nearLimit.Last().result, 0);
  const int32_t offset = offsetFrames * kShift;
  EXPECT_EQ(nearLimit.Last().state, fromZero.Last().state);
  EXPECT_EQ(nearLimit.Last().start, fromZero.Last().start + offset);
  const int32_t endOffset = fromZero.Last().end >= 0 ? offset : 0;
  EXPECT_EQ(nearLimit.Last().end, fromZero.Last().end + endOffset);
  EXPECT_EQ(nearLimit.firstSeenAt[speech_too_long], -1);
}

}  // namespace
