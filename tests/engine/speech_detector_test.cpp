// Construction and release of one line's detector, and its ring slots.
#include "engine/speech_detector.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "engine/kvd_api.h"
#include "engine_fixtures.h"

namespace {

using kvdtest::CaptureLog;

// 25 ms and 10 ms of samples; the FFT doubles from 256 until a bin is at
// most 15.625 Hz wide.
TEST(DetectorGeometry, FollowsTheSampleRate) {
  const struct {
    int32_t sampleRate, frameLength, frameShift, fftSize;
    float binWidthHz;
  } rates[] = {{8000, 200, 80, 512, 15.625f},
               {11025, 275, 110, 1024, 10.7666015625f},
               {48000, 1200, 480, 4096, 11.71875f}};
  for (const auto& expected : rates) {
    SCOPED_TRACE(expected.sampleRate);
    SpeechDetector detector(expected.sampleRate);
    ASSERT_EQ(detector.errorStatus, 0);
    EXPECT_EQ(detector.frameLength, expected.frameLength);
    EXPECT_EQ(detector.frameShift, expected.frameShift);
    EXPECT_EQ(detector.fftSize, expected.fftSize);
    EXPECT_EQ(detector.binCount, expected.fftSize / 2);
    EXPECT_EQ(detector.binWidthHz, expected.binWidthHz);
    EXPECT_EQ(detector.DetectState, KVD_STATE_UNINIT);
  }
}

// Every buffer and plan a detector owns.
std::vector<const void*> Owned(const SpeechDetector& d) {
  return {d.spectrumRing, d.DataBuffer,  d.hamwin,    d.ffts,
          d.FFTSpec1,     d.enhanced,    d.magnitude, d.AllFramesBinEnergy,
          d.detectVoice,  d.detectEnergy};
}

TEST(DetectorLifetime, RateBelow8000AllocatesNothingAndFreeingTwiceLeavesNothing) {
  std::unique_ptr<SpeechDetector> low;
  const std::string log = CaptureLog([&] { low = std::make_unique<SpeechDetector>(7999); });
  EXPECT_NE(log.find("KVD_API Cannot process data with so low sample rate.\n"), std::string::npos);
  EXPECT_EQ(low->errorStatus, KVD_ERR_LOW_SAMPLE_RATE);
  for (const void* pointer : Owned(*low)) EXPECT_EQ(pointer, nullptr);
  low->Free();
  EXPECT_EQ(low->errorStatus, KVD_ERR_LOW_SAMPLE_RATE);

  SpeechDetector detector(16000);
  detector.Free();
  detector.Free();
  EXPECT_EQ(detector.errorStatus, 0);
  for (const void* pointer : Owned(detector)) EXPECT_EQ(pointer, nullptr);
}

// Lines of one frame length read one window; its ends and middle are those
// of 0.54 - 0.46 cos(2 pi n / (N - 1)): 0.08 at both ends, within a hair of
// 1 in the middle.
TEST(DetectorLifetime, LinesOfOneFrameLengthShareTheirWindow) {
  SpeechDetector first(8000);
  SpeechDetector second(8000);
  SpeechDetector wide(16000);
  ASSERT_NE(first.hamwin, nullptr);
  EXPECT_EQ(first.hamwin, second.hamwin);
  EXPECT_NE(first.hamwin, wide.hamwin);
  for (const SpeechDetector* d : {&first, &wide}) {
    const float* w = d->hamwin;
    const int n = d->frameLength;
    EXPECT_EQ(w[0], static_cast<float>(0.54 - 0.46));
    EXPECT_NEAR(w[n - 1], 0.08f, 1e-6f);
    EXPECT_NEAR(w[(n - 1) / 2], 1.0f, 1e-3f);
  }
  first.Free();  // the window stays for the other lines
  EXPECT_EQ(first.hamwin, nullptr);
  EXPECT_EQ(second.hamwin[0], static_cast<float>(0.54 - 0.46));
}

TEST(RingSlots, FramesBeforeZeroWrapToTheEnd) {
  EXPECT_EQ(RingSlot(0, kHistoryFrames), 0);
  EXPECT_EQ(RingSlot(501, kHistoryFrames), 1);
  EXPECT_EQ(RingSlot(-1, kHistoryFrames), 499);
  EXPECT_EQ(RingSlot(-30, kPowerRingFrames), 0);
  EXPECT_EQ(RingSlot(-31, kPowerRingFrames), 29);
}

}  // namespace
