// GetOneFrame: frames of 200 samples every 80 (8000 Hz) out of chunks of any
// length.
#include <gtest/gtest.h>

#include <numeric>
#include <vector>

#include "engine/kvd_api.h"
#include "online_fixtures.h"
#include "pipeline/frame_front_end.h"

namespace {

class FrameCutter : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(detector_->errorStatus, 0);
    ASSERT_EQ(detector_->DetectState, before_speech);
    ramp_.resize(2000);
    std::iota(ramp_.begin(), ramp_.end(), int16_t{0});  // sample n holds the value n
  }

  // Hands `count` samples from `first` on to the cutter and collects the
  // first sample of every frame it cuts.
  std::vector<int32_t> Feed(int32_t first, int32_t count) {
    detector_->newData = ramp_.data() + first;
    detector_->newDataLength = count;
    std::vector<int32_t> frameStarts;
    EXPECT_EQ(GetOneFrame(*detector_), 0);
    while (detector_->frameReady) {
      EXPECT_TRUE(FrameIsRampFrom(static_cast<int32_t>(detector_->ffts[0])));
      frameStarts.push_back(static_cast<int32_t>(detector_->ffts[0]));
      EXPECT_EQ(GetOneFrame(*detector_), 0);
    }
    return frameStarts;
  }

  bool FrameIsRampFrom(int32_t first) const {
    for (int32_t i = 0; i < detector_->frameLength; ++i)
      if (detector_->ffts[i] != static_cast<float>(first + i)) return false;
    return true;
  }

  std::unique_ptr<SpeechDetector> detector_ = kvdtest::StartedOnlineDetector();
  std::vector<int16_t> ramp_;
};

TEST_F(FrameCutter, OneSampleCompletesAFrameOf199Kept) {
  EXPECT_TRUE(Feed(0, 199).empty());
  EXPECT_EQ(detector_->historyLength, 199);
  EXPECT_TRUE(Feed(199, 0).empty());
  EXPECT_EQ(Feed(199, 1), (std::vector<int32_t>{0}));
  ASSERT_EQ(detector_->historyLength, 120);
  for (int32_t i = 0; i < 120; ++i) EXPECT_EQ(detector_->DataBuffer[i], 80 + i);
}

TEST_F(FrameCutter, ALongChunkGivesAllItsFramesAndKeepsTheRest) {
  std::vector<int32_t> expected;
  for (int32_t start = 0; start <= 800; start += 80) expected.push_back(start);
  EXPECT_EQ(Feed(0, 1000), expected);
  ASSERT_EQ(detector_->historyLength, 120);
  for (int32_t i = 0; i < 120; ++i) EXPECT_EQ(detector_->DataBuffer[i], 880 + i);
  // The kept samples begin the next frame.
  EXPECT_EQ(Feed(1000, 80), (std::vector<int32_t>{880}));
}

TEST_F(FrameCutter, KeptSamplesLongerThanAShiftMoveForward) {
  // More than one shift kept: the overlapping moves must not smear samples,
  // whether the new samples are appended behind them or stay pending.
  EXPECT_TRUE(Feed(0, 150).empty());
  EXPECT_EQ(Feed(150, 60), (std::vector<int32_t>{0}));
  ASSERT_EQ(detector_->historyLength, 130);
  for (int32_t i = 0; i < 130; ++i) EXPECT_EQ(detector_->DataBuffer[i], 80 + i);
  EXPECT_EQ(Feed(210, 150), (std::vector<int32_t>{80, 160}));
  ASSERT_EQ(detector_->historyLength, 120);
  for (int32_t i = 0; i < 120; ++i) EXPECT_EQ(detector_->DataBuffer[i], 240 + i);
}

TEST_F(FrameCutter, ANegativeLengthBreaksTheLineForGood) {
  detector_->newData = ramp_.data();
  detector_->newDataLength = -1;
  EXPECT_EQ(GetOneFrame(*detector_), -90);
  EXPECT_EQ(detector_->errorStatus, -90);
  EXPECT_FALSE(detector_->frameReady);
  detector_->newDataLength = 1000;
  EXPECT_EQ(GetOneFrame(*detector_), -90);
  EXPECT_FALSE(detector_->frameReady);
}

}  // namespace
