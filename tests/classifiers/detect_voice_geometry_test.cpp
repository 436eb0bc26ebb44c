// CDetectVoice construction: geometry, tolerance table, refused arguments
// and the behaviour of a detector that was not built.
#include <gtest/gtest.h>

#include <string>

#include "kvd/detect_voice.h"
#include "voice_test_peer.h"

namespace {

// The speech detector's arguments: pitch 65 .. 480 Hz, harmonics to 2000 Hz.
constexpr int kLowHz = 65;
constexpr int kHighHz = 480;
constexpr int kTopHz = 2000;

std::string ConstructionOutput(int rate, int fft, int low, int high, int top, int* status) {
  testing::internal::CaptureStdout();
  CDetectVoice voice(rate, fft, low, high, top);
  *status = voice.Status;
  return testing::internal::GetCapturedStdout();
}

TEST(VoiceGeometry, At8000HzWith512Points) {
  // 15.625 Hz per bin: 65 / 15.625 = 4.16, 480 / 15.625 = 30.72,
  // 2000 / 15.625 = 128, 40 / 15.625 = 2.56, 157 / 15.625 = 10.05.
  CDetectVoice voice(8000, 512, kLowHz, kHighHz, kTopHz);
  CDetectVoiceTestPeer peer(voice);
  ASSERT_EQ(voice.Status, 0);
  EXPECT_EQ(peer.BinNum(), 256);
  EXPECT_FLOAT_EQ(peer.BinWidth(), 15.625f);
  EXPECT_EQ(peer.MinPitchBin(), 4);
  EXPECT_EQ(peer.PeakStartBin(), 4);
  EXPECT_EQ(peer.MaxPitchBin(), 30);
  EXPECT_EQ(peer.MaxHarmoBin(), 128);
  EXPECT_EQ(peer.PitchNum(), 27);
  EXPECT_EQ(peer.HarmoNum(), 31);  // 128 / 4 - 1
  EXPECT_EQ(peer.Bin40(), 2);
  EXPECT_EQ(peer.Bin157(), 10);
  // 128 is a multiple of 4: harmonics up to 31 (31 x 4 < 128): 32 entries.
  EXPECT_EQ(peer.HarmoDiffCount(), 32);
  EXPECT_FLOAT_EQ(voice.EnergyFloor, 0.1f);  // 0.1 x 10^(0.1 x 0 dB)
}

TEST(VoiceGeometry, ToleranceTableIsFifteenPercentOfThePitchWithinElevenToThirtyTenths) {
  CDetectVoice voice(8000, 512, kLowHz, kHighHz, kTopHz);
  CDetectVoiceTestPeer peer(voice);
  ASSERT_EQ(voice.Status, 0);
  const int16_t* table = peer.MostDifTabZoom();
  // Entry i is the pitch 4 + i / 10 bins; 270 entries (27 candidates x 10).
  for (int i = 0; i < 40; ++i) EXPECT_EQ(table[i], 11) << "pitch " << 4 + i / 10.0;  // < 8.0
  EXPECT_EQ(table[40], 12);   // 8.0 bins x 1.5 = 12
  EXPECT_EQ(table[47], 13);   // 8.7 x 1.5 = 13.05
  EXPECT_EQ(table[159], 29);  // 19.9 x 1.5 = 29.85
  for (int i = 160; i < 270; ++i) EXPECT_EQ(table[i], 30) << "pitch " << 4 + i / 10.0;
}

TEST(VoiceGeometry, At16000HzWith1024PointsTheBinsAreThoseOf8000Hz) {
  CDetectVoice voice(16000, 1024, kLowHz, kHighHz, kTopHz);
  CDetectVoiceTestPeer peer(voice);
  ASSERT_EQ(voice.Status, 0);
  EXPECT_EQ(peer.BinNum(), 512);
  EXPECT_EQ(peer.MinPitchBin(), 4);
  EXPECT_EQ(peer.MaxPitchBin(), 30);
  EXPECT_EQ(peer.MaxHarmoBin(), 128);
  EXPECT_EQ(peer.PitchNum(), 27);
  EXPECT_EQ(peer.HarmoNum(), 31);
  EXPECT_EQ(peer.Bin40(), 2);
  EXPECT_EQ(peer.Bin157(), 10);
}

TEST(VoiceGeometry, At11025HzHarmoDiffHoldsHarmonicThirty) {
  // 10.7666 Hz per bin: 65 / 10.77 = 6.04, 2000 / 10.77 = 185.8. HarmoNum is
  // 185 / 6 - 1 = 29, but 30 x 6 = 180 < 185: MatchPitch reaches harmonic
  // 30, so HarmoDiff needs 31 entries (HarmoNum + 1 would be 30).
  for (int rate : {11025, 22050}) {
    CDetectVoice voice(rate, rate == 11025 ? 1024 : 2048, kLowHz, kHighHz, kTopHz);
    CDetectVoiceTestPeer peer(voice);
    ASSERT_EQ(voice.Status, 0) << rate;
    EXPECT_EQ(peer.MinPitchBin(), 6) << rate;
    EXPECT_EQ(peer.MaxPitchBin(), 44) << rate;
    EXPECT_EQ(peer.MaxHarmoBin(), 185) << rate;
    EXPECT_EQ(peer.HarmoNum(), 29) << rate;
    EXPECT_EQ(peer.HarmoDiffCount(), 31) << rate;
  }
}

TEST(VoiceGeometry, HarmoDiffCoversHarmonicFourWhenHarmoNumIsBelowFour) {
  // Harmonics to 300 Hz: MaxHarmoBin 19, HarmoNum 19 / 4 - 1 = 3; harmonic 4
  // is always searched, so HarmoDiff needs 5 entries.
  CDetectVoice voice(8000, 512, kLowHz, 100, 300);
  CDetectVoiceTestPeer peer(voice);
  ASSERT_EQ(voice.Status, 0);
  EXPECT_EQ(peer.HarmoNum(), 3);
  EXPECT_EQ(peer.HarmoDiffCount(), 5);
}

TEST(VoiceGeometry, BinWidthOfExactly16_625HzIsAccepted) {
  int status = 0;
  // 8512 / 512 = 16.625 exactly.
  EXPECT_EQ(ConstructionOutput(8512, 512, kLowHz, kHighHz, kTopHz, &status), "");
  EXPECT_EQ(status, 0);
}

TEST(VoiceGeometry, WiderBinIsRefused) {
  int status = 0;
  // 8520 / 512 = 16.64 Hz.
  EXPECT_EQ(ConstructionOutput(8520, 512, kLowHz, kHighHz, kTopHz, &status),
            "Too low FFT size to initialize Voice Detector!\n");
  EXPECT_EQ(status, -1);
  EXPECT_EQ(ConstructionOutput(8000, 256, kLowHz, kHighHz, kTopHz, &status),
            "Too low FFT size to initialize Voice Detector!\n");
  EXPECT_EQ(status, -1);
}

TEST(VoiceGeometry, SampleRateBelowTwiceTheHarmonicLimitIsRefused) {
  int status = 0;
  EXPECT_EQ(ConstructionOutput(3999, 512, kLowHz, kHighHz, kTopHz, &status),
            "Too low Sample Rate to initialize Voice Detector!\n");
  EXPECT_EQ(status, -1);
  EXPECT_EQ(ConstructionOutput(4000, 512, kLowHz, kHighHz, kTopHz, &status), "");
  EXPECT_EQ(status, 0);
}

TEST(VoiceGeometry, LowestPitchBelowOneBinIsRefused) {
  int status = 0;
  // 15 / 15.625 = 0.96: MinPitchBin would be 0.
  EXPECT_EQ(ConstructionOutput(8000, 512, 15, kHighHz, kTopHz, &status),
            "Too low lowest pitch to initialize Voice Detector!\n");
  EXPECT_EQ(status, -1);
  EXPECT_EQ(ConstructionOutput(8000, 512, 16, kHighHz, kTopHz, &status), "");
  EXPECT_EQ(status, 0);
}

TEST(VoiceGeometry, OtherMeaninglessArgumentsAreRefused) {
  int status = 0;
  EXPECT_NE(ConstructionOutput(8000, 0, kLowHz, kHighHz, kTopHz, &status), "");
  EXPECT_EQ(status, -1);
  EXPECT_NE(ConstructionOutput(0, 512, kLowHz, kHighHz, kTopHz, &status), "");
  EXPECT_EQ(status, -1);
  EXPECT_EQ(ConstructionOutput(8000, 512, 480, 65, kTopHz, &status),
            "Too low highest pitch to initialize Voice Detector!\n");
  EXPECT_EQ(status, -1);
  // Harmonics to 100 Hz with pitches from 65 Hz: no second harmonic fits.
  EXPECT_EQ(ConstructionOutput(8000, 512, kLowHz, kHighHz, 100, &status),
            "Too low harmonic limit to initialize Voice Detector!\n");
  EXPECT_EQ(status, -1);
}

TEST(VoiceGeometry, RefusedDetectorHasNoBuffersAndIsInert) {
  testing::internal::CaptureStdout();
  CDetectVoice voice(8000, 512, 15, kHighHz, kTopHz);
  CDetectVoiceTestPeer peer(voice);
  testing::internal::GetCapturedStdout();
  EXPECT_FALSE(peer.HasBuffers());

  testing::internal::CaptureStdout();
  EXPECT_EQ(voice.ReInit(), -1);
  // The message goes through the format "%s\n": two line ends.
  EXPECT_EQ(testing::internal::GetCapturedStdout(),
            "Error Memory of AllMatchPitch when Reinit VoiceDetector!\n\n");
  float power[256] = {};
  voice.UpdateBuf(power, true);
  voice.ReverseUpdateBuf(power, true);
  EXPECT_EQ(voice.DetectVoice(), 0);
}

TEST(VoiceGeometry, BuiltDetectorHasEveryBuffer) {
  CDetectVoice voice(8000, 512, kLowHz, kHighHz, kTopHz);
  CDetectVoiceTestPeer peer(voice);
  EXPECT_TRUE(peer.HasBuffers());
  EXPECT_EQ(voice.ReInit(), 0);
}

}  // namespace
