// SendSpectrum: ring rows of frames handed out as at most two blocks.
#include <gtest/gtest.h>

#include <string>

#include "engine/kvd_api.h"
#include "engine_fixtures.h"
#include "online_fixtures.h"
#include "pipeline/frame_front_end.h"

namespace {

class SpectrumHandoutTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(detector_->errorStatus, 0);
    ASSERT_EQ(detector_->DetectState, before_speech);
  }

  void Send(int32_t first, int32_t last) {
    SendSpectrum(*detector_, first, last, &block1_, &count1_, &block2_, &count2_);
  }
  const float* Row(int32_t row) const { return detector_->spectrumRing + row * kReducedBins; }

  std::unique_ptr<SpeechDetector> detector_ = kvdtest::StartedOnlineDetector();
  float* block1_ = nullptr;
  float* block2_ = nullptr;
  int32_t count1_ = 0;
  int32_t count2_ = 0;
};

TEST_F(SpectrumHandoutTest, AWrappingRangeIsSplitAndAppendedTo) {
  Send(495, 503);
  EXPECT_EQ(block1_, Row(495));
  EXPECT_EQ(count1_, 5);
  EXPECT_EQ(block2_, Row(0));
  EXPECT_EQ(count2_, 4);
  Send(504, 504);
  EXPECT_EQ(count1_, 5);
  EXPECT_EQ(count2_, 5);
}

TEST_F(SpectrumHandoutTest, AppendingAcrossTheLastRowStartsTheSecondBlock) {
  Send(1495, 1499);
  EXPECT_EQ(block1_, Row(495));
  EXPECT_EQ(count1_, 5);
  EXPECT_EQ(block2_, nullptr);
  Send(1500, 1500);
  EXPECT_EQ(block2_, Row(0));
  EXPECT_EQ(count2_, 1);
  Send(1501, 1501);
  EXPECT_EQ(count1_, 5);
  EXPECT_EQ(count2_, 2);
}

TEST_F(SpectrumHandoutTest, RefusedRequestsChangeNothing) {
  Send(10, 409);  // 400 rows
  EXPECT_EQ(count1_, 400);
  Send(410, 410);
  EXPECT_EQ(count1_, 401);
  // A range after rows were handed out in the same call.
  EXPECT_NE(kvdtest::CaptureLog([&] { Send(411, 420); }).find("Send Spectrum error!\n"),
            std::string::npos);
  EXPECT_EQ(block1_, Row(10));
  EXPECT_EQ(count1_, 401);
  EXPECT_EQ(count2_, 0);
  // More than 500 rows in one request or in all.
  count1_ = 0;
  EXPECT_NE(kvdtest::CaptureLog([&] { Send(0, 500); })
                .find("Too much spectrum to send! Buffer overflow!\n"),
            std::string::npos);
  EXPECT_EQ(count1_, 0);
  count1_ = 500;
  Send(600, 600);
  EXPECT_EQ(count1_, 500);
  EXPECT_EQ(count2_, 0);
}

}  // namespace
