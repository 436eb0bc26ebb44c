// The end decision of an utterance, on a hand-set line (8000 Hz: 80 samples
// a frame).
#include <gtest/gtest.h>

#include "engine/kvd_api.h"
#include "online_fixtures.h"
#include "pipeline/online_decisions.h"

namespace {

class EndDecision : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(detector_->errorStatus, 0);
    ASSERT_EQ(detector_->DetectState, before_speech);
    detector_->MinSpeechDuration = 200;  // samples
    detector_->MaxSpeechDuration = 300;  // frames
    detector_->MaxSilence = 50;
    detector_->MaxHoldFrame = 150;
    // An utterance that started on frame 100, reported from frame 100.
    detector_->DetectState = in_speech;
    detector_->speechStartSamples = 100 * 80;
    detector_->reportedStart = 100 * 80;
  }

  // Decides on frame t with FindEnd's answer endFrame; returns the end
  // written for the caller (-7 when none).
  int32_t Decide(int32_t t, int32_t endFrame) {
    detector_->endFrame = endFrame;
    int32_t end = -7;
    DecideEnd(*detector_, t, &end);
    return end;
  }

  std::unique_ptr<SpeechDetector> detector_ = kvdtest::StartedOnlineDetector();
};

TEST_F(EndDecision, TwoFramesAreTooShortThreeAreEnough) {
  EXPECT_EQ(Decide(200, 102), 102 * 80);  // 160 samples < 200
  EXPECT_EQ(detector_->DetectState, speech_too_short);
  EXPECT_EQ(detector_->finalEnd, 102 * 80);
}

TEST_F(EndDecision, ThreeFramesAreLongEnough) {
  EXPECT_EQ(Decide(200, 103), 103 * 80);  // 240 samples
  EXPECT_EQ(detector_->DetectState, speech_end);
}

TEST_F(EndDecision, AnOldEndIsHeldToMaxHoldFrameBack) {
  EXPECT_EQ(Decide(400, 120), (400 - 150) * 80);
  EXPECT_EQ(detector_->DetectState, speech_end);
}

TEST_F(EndDecision, ALongUtteranceIsCutAtMaxSpeechDuration) {
  EXPECT_EQ(Decide(420, 401), 400 * 80);  // 301 frames > 300
  EXPECT_EQ(detector_->DetectState, speech_too_long);
}

TEST_F(EndDecision, WithoutAnEndTheUtteranceIsCutOnceTooOld) {
  // Cut when more than MaxSilence + MaxSpeechDuration = 350 frames old.
  EXPECT_EQ(Decide(450, -1), -7);
  EXPECT_EQ(detector_->finalEnd, -1);
  EXPECT_EQ(detector_->DetectState, in_speech);
  EXPECT_EQ(Decide(451, -1), (100 + 300) * 80);
  EXPECT_EQ(detector_->DetectState, speech_too_long);
  EXPECT_EQ(detector_->finalEnd, 400 * 80);
}

TEST_F(EndDecision, RelaxFramesStayBeforeTheDecisionFrame) {
  detector_->edRelaxFrames = 40;
  EXPECT_EQ(Decide(160, 130), 159 * 80);  // 170 would pass the decision frame
}

TEST_F(EndDecision, TheEndStaysAfterTheReportedStart) {
  detector_->reportedStart = 110 * 80;  // a start moved later than the end found
  EXPECT_EQ(Decide(200, 105), 111 * 80);
}

TEST_F(EndDecision, StateWritesGiveWayToAStopFromOutside) {
  detector_->DetectState = KVD_STATE_IDLE;  // KVD_Stop came in between
  Decide(200, 150);
  EXPECT_EQ(detector_->DetectState, KVD_STATE_IDLE);
}

}  // namespace
