// CDetectVoice construction: geometry, refused arguments
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

struct Geometry {
  int rate, fft, topHz;
  int minPitchBin, maxPitchBin, maxHarmoBin, pitchNum, harmoNum;
};

TEST(VoiceGeometry, BinsOfEachRate) {
  // 8000 / 512 and 16000 / 1024: 15.625 Hz per bin: 65 / 15.625 = 4.16,
  // 480 / 15.625 = 30.72, 2000 / 15.625 = 128; HarmoNum 128 / 4 - 1 = 31.
  // 11025 / 1024 (and 22050 / 2048): 10.7666 Hz per bin: 65 / 10.77 = 6.04,
  // 2000 / 10.77 = 185.8; HarmoNum 185 / 6 - 1 = 29.
  // Harmonics to 300 Hz: MaxHarmoBin 19, HarmoNum 19 / 4 - 1 = 3.
  const Geometry cases[] = {{8000, 512, kTopHz, 4, 30, 128, 27, 31},
                            {16000, 1024, kTopHz, 4, 30, 128, 27, 31},
                            {11025, 1024, kTopHz, 6, 44, 185, 39, 29},
                            {22050, 2048, kTopHz, 6, 44, 185, 39, 29},
                            {8000, 512, 300, 4, 30, 19, 27, 3}};
  for (const Geometry& g : cases) {
    SCOPED_TRACE(std::to_string(g.rate) + " Hz, harmonics to " + std::to_string(g.topHz) + " Hz");
    CDetectVoice voice(g.rate, g.fft, kLowHz, g.topHz == kTopHz ? kHighHz : 100, g.topHz);
    CDetectVoiceTestPeer peer(voice);
    ASSERT_EQ(voice.Status, 0);
    EXPECT_TRUE(peer.HasBuffers());
    EXPECT_EQ(peer.BinNum(), g.fft / 2);
    EXPECT_EQ(peer.MinPitchBin(), g.minPitchBin);
    EXPECT_EQ(peer.PeakStartBin(), g.minPitchBin);
    EXPECT_EQ(peer.MaxHarmoBin(), g.maxHarmoBin);
    EXPECT_EQ(peer.HarmoNum(), g.harmoNum);
    if (g.topHz == kTopHz) {
      EXPECT_EQ(peer.MaxPitchBin(), g.maxPitchBin);
      EXPECT_EQ(peer.PitchNum(), g.pitchNum);
    }
  }
  CDetectVoice voice(8000, 512, kLowHz, kHighHz, kTopHz);
  CDetectVoiceTestPeer peer(voice);
  EXPECT_FLOAT_EQ(peer.BinWidth(), 15.625f);
  EXPECT_EQ(peer.Bin40(), 2);    // 40 / 15.625 = 2.56
  EXPECT_EQ(peer.Bin157(), 10);  // 157 / 15.625 = 10.05
  EXPECT_FLOAT_EQ(voice.EnergyFloor, 0.1f);  // 0.1 x 10^(0.1 x 0 dB)
  EXPECT_EQ(voice.ReInit(), 0);
}

struct Construction {
  int rate, fft, low, high, top;
  const char* message;  // printed on standard output; "" when accepted
};

TEST(VoiceGeometry, MeaninglessArgumentsAreRefusedWithTheirMessage) {
  const Construction cases[] = {
      {8512, 512, kLowHz, kHighHz, kTopHz, ""},  // 8512 / 512 = 16.625 Hz exactly
      {8520, 512, kLowHz, kHighHz, kTopHz, "Too low FFT size to initialize Voice Detector!\n"},
      {8000, 256, kLowHz, kHighHz, kTopHz, "Too low FFT size to initialize Voice Detector!\n"},
      {3999, 512, kLowHz, kHighHz, kTopHz, "Too low Sample Rate to initialize Voice Detector!\n"},
      {4000, 512, kLowHz, kHighHz, kTopHz, ""},
      // 15 / 15.625 = 0.96: MinPitchBin would be 0.
      {8000, 512, 15, kHighHz, kTopHz, "Too low lowest pitch to initialize Voice Detector!\n"},
      {8000, 512, 16, kHighHz, kTopHz, ""},
      {8000, 512, 480, 65, kTopHz, "Too low highest pitch to initialize Voice Detector!\n"},
      // Harmonics to 100 Hz with pitches from 65 Hz: no second harmonic fits.
      {8000, 512, kLowHz, kHighHz, 100, "Too low harmonic limit to initialize Voice Detector!\n"},
  };
  for (const Construction& c : cases) {
    testing::internal::CaptureStdout();
    CDetectVoice voice(c.rate, c.fft, c.low, c.high, c.top);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), c.message) << c.rate << " " << c.low;
    EXPECT_EQ(voice.Status, *c.message ? -1 : 0) << c.rate << " " << c.low;
  }
  for (const Construction& c : {Construction{8000, 0, kLowHz, kHighHz, kTopHz, ""},
                                Construction{0, 512, kLowHz, kHighHz, kTopHz, ""}}) {
    testing::internal::CaptureStdout();
    CDetectVoice voice(c.rate, c.fft, c.low, c.high, c.top);
    EXPECT_NE(testing::internal::GetCapturedStdout(), "");
    EXPECT_EQ(voice.Status, -1);
  }
}

TEST(VoiceGeometry, NarrowBinsAreRefused) {
  // Bin counts beyond 16 bits: 3 Hz / 2048 points puts 175 Hz at bin
  // 119467; 100 Hz / 4096 the highest pitch, 1000 Hz, at bin 40960.
  EXPECT_EQ(CDetectVoice(3, 2048, 175, -1, 0).Status, -1);
  EXPECT_EQ(CDetectVoice(100, 4096, 1, 1000, 50).Status, -1);
  // 0.0244 Hz bins: every limit fits 16 bits, but the track search tries
  // the 3277 pitches within 40 Hz of its reference (one fuzzed frame took
  // six minutes). Bins narrower than 3.9 Hz are refused.
  EXPECT_EQ(CDetectVoice(100, 4096, 1, 600, 50).Status, -1);
  EXPECT_EQ(CDetectVoice(8000, 4096, kLowHz, kHighHz, kTopHz).Status, -1);   // 1.95 Hz
  EXPECT_EQ(CDetectVoice(15974, 4096, kLowHz, kHighHz, kTopHz).Status, -1);  // 3.8999 Hz
  EXPECT_EQ(CDetectVoice(8000, 2048, kLowHz, kHighHz, kTopHz).Status, 0);    // 3.90625 Hz
  EXPECT_EQ(CDetectVoice(16000, 4096, kLowHz, kHighHz, kTopHz).Status, 0);   // 3.90625 Hz
}

TEST(VoiceGeometry, RefusedDetectorHasNoBuffersAndIsInert) {
  testing::internal::CaptureStdout();
  CDetectVoice voice(8000, 512, 15, kHighHz, kTopHz);
  testing::internal::GetCapturedStdout();
  EXPECT_FALSE(CDetectVoiceTestPeer(voice).HasBuffers());
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

}  // namespace
