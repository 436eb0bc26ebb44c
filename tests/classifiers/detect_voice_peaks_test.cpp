// CDetectVoice peak picking (GetMax) and pitch matching (MatchPitch).
#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "kvd/detect_voice.h"
#include "voice_signals.h"
#include "voice_test_peer.h"

namespace {

using kvdtest::FlatSpectrum;
using kvdtest::HarmonicShape;
using kvdtest::HarmonicSpectrum;

constexpr int kRate = 8000;
constexpr int kNewest = 29;
// Power of a flat spectrum that passes the energy gate: the gate asks for a
// mean of EnergyFloor x 1000 = 100 over bins 19 .. 127.
constexpr float kLoudFlat = 1000.0f;

class VoicePeaks : public testing::Test {
 protected:
  VoicePeaks() : voice_(kRate, 512, 65, 480, 2000), peer_(voice_) {
    EXPECT_EQ(voice_.ReInit(), 0);
  }
  std::vector<int16_t> KeptPeaks(int slot) {
    return std::vector<int16_t>(peer_.AllMax(slot), peer_.AllMax(slot) + peer_.MaxNum(slot));
  }
  bool AnyMatch(int slot) {
    for (int p = peer_.MinPitchBin(); p <= peer_.MaxPitchBin(); ++p) {
      if (peer_.CanMatch(slot, p)) return true;
    }
    return false;
  }
  CDetectVoice voice_;
  CDetectVoiceTestPeer peer_;
};

TEST_F(VoicePeaks, QuietFrameFailsTheGateAndStaysUnanalysed) {
  // A mean power of 99 over 19 .. 127 is below 100.
  std::vector<float> quiet = FlatSpectrum(99.0, kRate);
  voice_.UpdateBuf(quiet.data(), true);
  EXPECT_EQ(peer_.AllMax(kNewest)[0], -1);
  EXPECT_EQ(peer_.MaxNum(kNewest), 0);
}

TEST_F(VoicePeaks, AnalysedFrameWithoutPeakHasAnEmptyRowReadingZero) {
  std::vector<float> flat = FlatSpectrum(kLoudFlat, kRate);
  voice_.UpdateBuf(flat.data(), true);
  EXPECT_EQ(peer_.AllMax(kNewest)[0], 0);
  EXPECT_EQ(peer_.MaxNum(kNewest), 0);
}

TEST_F(VoicePeaks, InvalidFrameIsNotAnalysed) {
  HarmonicShape shape;
  std::vector<float> voiced = HarmonicSpectrum(150.0, shape, kRate);
  voice_.UpdateBuf(voiced.data(), false);
  EXPECT_EQ(peer_.AllMax(kNewest)[0], -1);
  EXPECT_FALSE(AnyMatch(kNewest));
}

TEST_F(VoicePeaks, SinglePeakAreaIsMeasuredAboveTheChordOfItsValleys) {
  // ln power relative to the flat floor: +2, +4, +2 at bins 39, 40, 41; the
  // valleys are 38 and 42, both on the floor, so the chord is the floor and
  // the area is 2 + 4 + 2 = 8 (ln power x bins), the whole frame's area.
  std::vector<float> x = FlatSpectrum(kLoudFlat, kRate);
  x[39] = kLoudFlat * std::exp(2.0f);
  x[40] = kLoudFlat * std::exp(4.0f);
  x[41] = kLoudFlat * std::exp(2.0f);
  voice_.UpdateBuf(x.data(), true);
  ASSERT_EQ(KeptPeaks(kNewest), std::vector<int16_t>({40}));
  EXPECT_EQ(peer_.AllMaxArea(kNewest)[0], 10000);
  // Float logarithms of values near 5e4: a few ulps of ln (about 1e-6 each).
  EXPECT_NEAR(peer_.AllMaxAbsArea(kNewest)[0], 8.0f, 1e-4f);
}

TEST_F(VoicePeaks, PeakWidensOverALowerRightNeighbour) {
  // ln power above the floor:   bin 38: 0, 39: 2, 40: 4, 41: 3.5, 42: 3,
  //                             43: 3.2, 44: 0.
  // Peaks 40 and 43 (e^3.2 = 24.5 times the floor, above 20); valleys 38,
  // 42, 44. Peak 40 (width 4) is higher than 43 (width 2), its right valley
  // equals 43's left one, and 43's left valley (3) is above its right (0):
  // 40's right edge becomes 44. Its area is then measured over 39 .. 43
  // above the floor chord: 2 + 4 + 3.5 + 3 + 3.2 = 15.7 (without widening,
  // above the chord 0 .. 3 from 38 to 42: 1.25 + 2.5 + 1.25 = 5). Peak 43
  // keeps its own edges 42 .. 44: 3.2 - 1.5 = 1.7.
  std::vector<float> x = FlatSpectrum(kLoudFlat, kRate);
  const float lnAbove[] = {0.0f, 2.0f, 4.0f, 3.5f, 3.0f, 3.2f, 0.0f};
  for (int i = 0; i < 7; ++i) x[38 + i] = kLoudFlat * std::exp(lnAbove[i]);
  voice_.UpdateBuf(x.data(), true);
  ASSERT_EQ(KeptPeaks(kNewest), std::vector<int16_t>({40, 43}));
  EXPECT_NEAR(peer_.AllMaxAbsArea(kNewest)[0], 15.7f, 1e-4f);
  EXPECT_NEAR(peer_.AllMaxAbsArea(kNewest)[1], 1.7f, 1e-4f);
  // 15.7 / 17.4 = 0.90230; 1.7 / 17.4 = 0.09770 (truncated to 1/10000).
  EXPECT_EQ(peer_.AllMaxArea(kNewest)[0], 9022);
  EXPECT_EQ(peer_.AllMaxArea(kNewest)[1], 977);
}

TEST_F(VoicePeaks, HarmonicPeaksSitAtTheHarmonicBins) {
  // 150 Hz is 9.6 bins: harmonics 1 .. 10 at 9.6 h bins, nearest bins below.
  HarmonicShape shape;
  shape.harmonicCount = 10;
  std::vector<float> x = HarmonicSpectrum(150.0, shape, kRate);
  voice_.UpdateBuf(x.data(), true);
  EXPECT_EQ(KeptPeaks(kNewest),
            std::vector<int16_t>({10, 19, 29, 38, 48, 58, 67, 77, 86, 96}));
  int areaSum = 0;
  for (int i = 0; i < peer_.MaxNum(kNewest); ++i) areaSum += peer_.AllMaxArea(kNewest)[i];
  // Truncation loses less than one unit per peak.
  EXPECT_LE(areaSum, 10000);
  EXPECT_GT(areaSum, 10000 - peer_.MaxNum(kNewest));
}

TEST_F(VoicePeaks, TruePitchCandidateMatchesFromTheFundamental) {
  // 220 Hz = 14.08 bins; harmonics at 14, 28, 42, ...
  HarmonicShape shape;
  shape.harmonicCount = 8;
  std::vector<float> x = HarmonicSpectrum(220.0, shape, kRate);
  voice_.UpdateBuf(x.data(), true);
  EXPECT_TRUE(peer_.CanMatch(kNewest, 14));
  EXPECT_TRUE(peer_.AllMatch(kNewest, 14, 0));
  EXPECT_FALSE(peer_.CanMatch(kNewest, 22));
  // The last candidate (MaxPitchBin) is never tried.
  EXPECT_FALSE(peer_.CanMatch(kNewest, peer_.MaxPitchBin()));
}

TEST_F(VoicePeaks, FrameWithTwoPeaksNeverMatches) {
  HarmonicShape shape;
  shape.harmonicCount = 2;
  std::vector<float> x = HarmonicSpectrum(150.0, shape, kRate);
  voice_.UpdateBuf(x.data(), true);
  ASSERT_EQ(peer_.MaxNum(kNewest), 2);
  EXPECT_FALSE(AnyMatch(kNewest));
}

TEST_F(VoicePeaks, ReverseUpdateAnalysesIntoSlotZero) {
  HarmonicShape shape;
  std::vector<float> x = HarmonicSpectrum(150.0, shape, kRate);
  voice_.ReverseUpdateBuf(x.data(), true);
  EXPECT_EQ(peer_.MaxNum(0), 10);
  EXPECT_TRUE(peer_.CanMatch(0, 10));
  EXPECT_EQ(peer_.AllMax(kNewest)[0], -1);
}

// Spikes of one bin (e^3 = 20.1 times the floor) at the given bins.
std::vector<float> Spikes(int binCount, const std::vector<int>& bins) {
  std::vector<float> x(static_cast<size_t>(binCount), kLoudFlat);
  for (int b : bins) x[static_cast<size_t>(b)] = kLoudFlat * std::exp(3.0f);
  return x;
}

TEST(VoiceMatchPitch, ReachesHarmonicThirtyAt11025And22050HzWithinHarmoDiff) {
  // MinPitchBin 6, MaxHarmoBin 185: for the lowest candidate (6.0 bins,
  // tolerance 1.1 bins) harmonics 1 .. 5 match the peaks 7 .. 31, harmonics
  // 6 .. 29 are missed and harmonic 30 (180 < 185) matches the peak at 180:
  // HarmoDiff[30] is written, one past HarmoNum + 1 = 30 entries
  // (ASan checks the bound). A peak at PeakStartBin itself would have no
  // area (its left edge is the peak), hence 7 rather than 6.
  for (int rate : {11025, 22050}) {
    CDetectVoice voice(rate, rate == 11025 ? 1024 : 2048, 65, 480, 2000);
    CDetectVoiceTestPeer peer(voice);
    ASSERT_EQ(voice.ReInit(), 0);
    std::vector<float> x = Spikes(peer.BinNum(), {7, 13, 19, 25, 31, 180});
    voice.UpdateBuf(x.data(), true);
    ASSERT_EQ(peer.MaxNum(kNewest), 6) << rate;
    EXPECT_EQ(peer.AllMax(kNewest)[5], 180) << rate;
    // Harmonics 1 .. 5 evenly spaced: series positions 0 and 1 match.
    EXPECT_TRUE(peer.AllMatch(kNewest, 6, 0)) << rate;
    EXPECT_TRUE(peer.AllMatch(kNewest, 6, 1)) << rate;
  }
}

TEST(VoiceMatchPitch, HarmonicFourStaysInsideHarmoDiffWhenHarmoNumIsThree) {
  // Harmonics to 300 Hz: MaxHarmoBin 19, HarmoNum 3; harmonic 4 of the
  // 4-bin candidate (tolerance 1.1 bins) is searched and found at bin 17.
  CDetectVoice voice(kRate, 512, 65, 100, 300);
  CDetectVoiceTestPeer peer(voice);
  ASSERT_EQ(voice.ReInit(), 0);
  std::vector<float> x = Spikes(peer.BinNum(), {5, 9, 13, 17});
  voice.UpdateBuf(x.data(), true);
  ASSERT_EQ(peer.MaxNum(kNewest), 4);
  EXPECT_TRUE(peer.AllMatch(kNewest, 4, 0));
}

}  // namespace
