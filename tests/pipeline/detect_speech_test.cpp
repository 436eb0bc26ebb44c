// KVD_DetectSpeech: line checks, missing pointers, sticky failures, the
// spectrum hand-out, and SendSpectrum handing out ring rows as at most two
// blocks.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "engine/kvd_api.h"
#include "engine/speech_detector.h"
#include "online_fixtures.h"
#include "pipeline/frame_front_end.h"
#include "test_signals.h"

namespace {

class DetectSpeech : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(engine_.InitResult(), 0);
    line_ = engine_.StartLine();
    ASSERT_GE(line_, 0);
  }

  int32_t Call(const int16_t* samples, int32_t count) {
    return KVD_DetectSpeech(line_, samples, count, &state_, &start_, &end_, &position_);
  }

  kvdtest::OnlineEngine engine_{kvdtest::StreamTestConfig(), 2};
  int32_t line_ = -1;
  int32_t state_ = -7;
  int32_t start_ = -7;
  int32_t end_ = -7;
  int32_t position_ = -7;
  std::vector<int16_t> noise_ = kvdtest::WhiteNoisePcm(300.0, 5u, 4000);
};

TEST_F(DetectSpeech, LinesOutOfRangeNotOpenOrNotStartedAreRefused) {
  EXPECT_EQ(KVD_DetectSpeech(-1, noise_.data(), 80, &state_, &start_, &end_, &position_), -98);
  EXPECT_EQ(KVD_DetectSpeech(2, noise_.data(), 80, &state_, &start_, &end_, &position_), -98);
  EXPECT_EQ(KVD_DetectSpeech(1, noise_.data(), 80, &state_, &start_, &end_, &position_), -96);
  int32_t idle = -1;
  ASSERT_EQ(KVD_Open(&idle), 0);
  EXPECT_EQ(KVD_DetectSpeech(idle, noise_.data(), 80, &state_, &start_, &end_, &position_), -95);
  EXPECT_EQ(state_, -7);
}

TEST_F(DetectSpeech, MissingPointersAreRefusedWithoutBreakingTheLine) {
  EXPECT_EQ(Call(nullptr, 80), -98);
  EXPECT_EQ(KVD_DetectSpeech(line_, noise_.data(), 80, nullptr, &start_, &end_, &position_), -98);
  EXPECT_EQ(KVD_DetectSpeech(line_, noise_.data(), 80, &state_, nullptr, &end_, &position_), -98);
  EXPECT_EQ(KVD_DetectSpeech(line_, noise_.data(), 80, &state_, &start_, nullptr, &position_), -98);
  EXPECT_EQ(KVD_DetectSpeech(line_, noise_.data(), 80, &state_, &start_, &end_, nullptr), -98);
  EXPECT_EQ(GetLine(line_)->errorStatus, 0);
  EXPECT_EQ(Call(nullptr, 0), 0);  // no samples need no pointer
  EXPECT_EQ(Call(noise_.data(), 4000), 0);
  EXPECT_EQ(state_, before_speech);
  EXPECT_EQ(position_, 48 * 80);  // frames 0 .. 47 of 4000 samples
}

TEST_F(DetectSpeech, NoSamplesWriteTheStateAndPosition) {
  EXPECT_EQ(Call(noise_.data(), 0), 0);
  EXPECT_EQ(state_, before_speech);
  EXPECT_EQ(start_, -1);
  EXPECT_EQ(end_, -1);
  EXPECT_EQ(position_, 0);
}

TEST_F(DetectSpeech, ANegativeCountBreaksTheLineForGood) {
  std::string log = kvdtest::CaptureLog([&] { EXPECT_EQ(Call(noise_.data(), -1), -90); });
  EXPECT_NE(log.find("KVD_DetectSpeech error! Error data sent to KVD_DetectSpeech.\n"),
            std::string::npos);
  EXPECT_EQ(GetLine(line_)->errorStatus, -90);
  log = kvdtest::CaptureLog([&] { EXPECT_EQ(Call(noise_.data(), 80), -90); });
  EXPECT_NE(log.find("Error to begin Detect!\n"), std::string::npos);
  EXPECT_NE(log.find("KVD_DetectSpeech Error! Fail in Detect.\n"), std::string::npos);
  EXPECT_EQ(state_, -7);
  // Starting again does not heal it: the failure is kept for the engine's life.
  EXPECT_NE(KVD_Start(line_), 0);
}

TEST_F(DetectSpeech, SpectraAreHandedOutOnlyWithAllFourPointers) {
  const std::vector<int16_t> sample = kvdtest::ReadPcmFile(kvdtest::SamplePath("kvd_sample.wav"));
  float* block1 = nullptr;
  float* block2 = nullptr;
  int32_t count1 = -5;
  int32_t count2 = -5;
  // Counts without blocks: zeroed, nothing handed out.
  EXPECT_EQ(KVD_DetectSpeech(line_, sample.data(), 16000, &state_, &start_, &end_, &position_,
                             nullptr, &count1, nullptr, &count2, 1),
            0);
  EXPECT_EQ(count1, 0);
  EXPECT_EQ(count2, 0);
  ASSERT_EQ(state_, in_speech);
  // Within the utterance every analysed frame is appended.
  const int32_t before = position_;
  EXPECT_EQ(KVD_DetectSpeech(line_, sample.data() + 16000, 800, &state_, &start_, &end_, &position_,
                             &block1, &count1, &block2, &count2, 1),
            0);
  EXPECT_EQ(count1 + count2, (position_ - before) / 80);
  const SpeechDetector* detector = GetLine(line_);
  EXPECT_EQ(block1, detector->spectrumRing + (before / 80) % 500 * kReducedBins);
  // Null row counts: nothing is written or reset.
  count1 = -5;
  EXPECT_EQ(KVD_DetectSpeech(line_, sample.data() + 16800, 800, &state_, &start_, &end_, &position_,
                             &block1, nullptr, &block2, nullptr, 1),
            0);
  EXPECT_EQ(count1, -5);
}

TEST_F(DetectSpeech, TheStartCallHandsOutTheRowsFromTheStart) {
  const std::vector<int16_t> sample = kvdtest::ReadPcmFile(kvdtest::SamplePath("kvd_sample.wav"));
  float* block1 = nullptr;
  float* block2 = nullptr;
  int32_t count1 = 0;
  int32_t count2 = 0;
  int32_t offset = 0;
  while (state_ != in_speech && offset < 40000) {
    ASSERT_EQ(KVD_DetectSpeech(line_, sample.data() + offset, 80, &state_, &start_, &end_,
                               &position_, &block1, &count1, &block2, &count2, 1),
              0);
    offset += 80;
  }
  ASSERT_EQ(state_, in_speech);
  // Rows from the start frame (before relaxation: none here) to the
  // decision frame, which is the last analysed.
  const int32_t startFrame = start_ / 80;
  const int32_t decisionFrame = position_ / 80 - 1;
  EXPECT_EQ(block1, GetLine(line_)->spectrumRing + startFrame % 500 * kReducedBins);
  EXPECT_EQ(count1 + count2, decisionFrame - startFrame + 1);
}

TEST(DetectSpeechEmptySlots, AFailedInitLeavesLinesThatAreRefused) {
  // KVD_Init stopped at a missing key: the line count stays, the slots are empty.
  kvdtest::OnlineEngine engine(kvdtest::StreamTestConfig().Remove("MaxSilence"), 2);
  ASSERT_EQ(engine.InitResult(), -92);
  const std::vector<int16_t> noise = kvdtest::WhiteNoisePcm(300.0, 5u, 800);
  int32_t state = -7;
  int32_t start = -7;
  int32_t end = -7;
  int32_t position = -7;
  for (int32_t line : {0, 1})
    EXPECT_EQ(KVD_DetectSpeech(line, noise.data(), 800, &state, &start, &end, &position), -98);
}

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
