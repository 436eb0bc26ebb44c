#include "pipeline/offline_one_seg_locate.h"

#include <gtest/gtest.h>

#include "engine/speech_detector.h"
#include "pipeline/offline_labels.h"

namespace {

// A detector holding the arrays of a 300-frame recording by hand: noise at
// the background level 100 (already labelled), loudest mean 10100, so the
// histogram step is (10100 - 100) / 100 = 100 and a short run needs a mean
// above 10 steps = 1000.
class LocateOneSegmentTest : public ::testing::Test {
 protected:
  static constexpr int32_t kFrames = 300;

  LocateOneSegmentTest() : detector_(8000) {
    detector_.frameCount = kFrames;
    detector_.floorValue = 100.0f;
    detector_.maxEnergy = 10100.0f;
    detector_.CommonSpeechSegLen_sec = 30;
    detector_.ShortSpeechSegLen_sec = 10;
    detector_.CommonSpeechSegEnergyThd = 3.0f;
    detector_.ShortSpeechSegEnergyThd = 10;
    detector_.ExtendSpeechLen_sec = 3;
    detector_.frameEnergy.assign(kFrames, 100.0f);
    detector_.labels.assign(kFrames, kLabelStationary100);
    detector_.voiceFlags.assign(kFrames, -1);
    detector_.bandVar.assign(kFrames, 0.0f);
  }

  SpeechDetector detector_;
};

TEST_F(LocateOneSegmentTest, EndIsNeverBeforeTheStartRunWhenTheBackwardScanFails) {
  // Frames 100 .. 110: ten at 500 and a last one at 10000. Forwards (11
  // frames, more than 10) the mean is (5000 + 10000) / 11 = 1364 > 1000.
  // Backwards the window is frames 99 .. 109: (100 + 5000) / 11 = 464, so
  // the scan reaches frame 0 without accepting a run.
  for (int32_t i = 100; i < 110; ++i) {
    detector_.frameEnergy[static_cast<size_t>(i)] = 500.0f;
    detector_.labels[static_cast<size_t>(i)] = kLabelCandidate;
  }
  detector_.frameEnergy[110] = 10000.0f;
  detector_.labels[110] = kLabelCandidate;
  SegmentFrames segment{};
  ASSERT_TRUE(LocateOneSegment(detector_, segment));
  // Start: 100, one frame down the slope (500 > 100) to 99, margin 3 -> 96.
  // End: the last frame of the start run, 110, one frame down the slope to
  // 111, margin 3 -> 114.
  EXPECT_EQ(segment.startFrame, 96);
  EXPECT_EQ(segment.endFrame, 114);
}

TEST_F(LocateOneSegmentTest, QuietCandidatesFallBelowTheHistogramThreshold) {
  // Most frames in bin 1 (one step above floor - 1): the threshold is
  // floor + 1 step = 200, so candidates at 150 become noise and no run is
  // left.
  for (int32_t i = 100; i < 200; ++i) {
    detector_.frameEnergy[static_cast<size_t>(i)] = 150.0f;
    detector_.labels[static_cast<size_t>(i)] = kLabelCandidate;
  }
  SegmentFrames segment{};
  EXPECT_FALSE(LocateOneSegment(detector_, segment));
  EXPECT_EQ(detector_.labels[150], kLabelBelowThreshold);
}

}  // namespace
