// CDetectVoice peak picking: the energy gate and the row of a frame without
// peaks; and pitch matching (MatchPitch) at the geometries where its harmonic
// count once ran past its table: the highest harmonic searched must stay
// inside it (the ASan build checks the bound).
#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "kvd/detect_voice.h"
#include "voice_signals.h"
#include "voice_test_peer.h"

namespace {

constexpr int kRate = 8000;
constexpr int kNewest = 29;
// Power of a flat spectrum that passes the energy gate: the gate asks for a
// mean of EnergyFloor x 1000 = 100 over bins 19 .. 127.
constexpr float kLoudFlat = 1000.0f;

TEST(VoicePeaks, QuietOrInvalidFramesStayUnanalysedAndAPeaklessRowReadsZero) {
  CDetectVoice voice(kRate, 512, 65, 480, 2000);
  CDetectVoiceTestPeer peer(voice);
  ASSERT_EQ(voice.ReInit(), 0);
  // A mean power of 99 over 19 .. 127 is below 100.
  std::vector<float> quiet = kvdtest::FlatSpectrum(99.0, kRate);
  voice.UpdateBuf(quiet.data(), true);
  EXPECT_EQ(peer.AllMax(kNewest)[0], -1);
  EXPECT_EQ(peer.MaxNum(kNewest), 0);
  // Loud enough but without a peak: an empty row reading zero.
  std::vector<float> flat = kvdtest::FlatSpectrum(kLoudFlat, kRate);
  voice.UpdateBuf(flat.data(), true);
  EXPECT_EQ(peer.AllMax(kNewest)[0], 0);
  EXPECT_EQ(peer.MaxNum(kNewest), 0);
  std::vector<float> voiced = kvdtest::HarmonicSpectrum(150.0, kvdtest::HarmonicShape(), kRate);
  voice.UpdateBuf(voiced.data(), false);
  EXPECT_EQ(peer.AllMax(kNewest)[0], -1);
}

// Spikes of one bin (e^3 = 20.1 times the floor) at the given bins.
std::vector<float> Spikes(int binCount, const std::vector<int>& bins) {
  std::vector<float> x(static_cast<size_t>(binCount), kLoudFlat);
  for (int b : bins) x[static_cast<size_t>(b)] = kLoudFlat * std::exp(3.0f);
  return x;
}

TEST(VoiceMatchPitch, ReachesHarmonicThirtyAt11025And22050Hz) {
  // MinPitchBin 6, MaxHarmoBin 185: for the lowest candidate (6.0 bins,
  // tolerance 1.1 bins) harmonics 1 .. 5 match the peaks 7 .. 31, harmonics
  // 6 .. 29 are missed and harmonic 30 (180 < 185) matches the peak at 180
  // (ASan checks the bound of the table read). A peak at PeakStartBin itself would have no
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

TEST(VoiceMatchPitch, HarmonicFourIsSearchedWhenHarmoNumIsThree) {
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

TEST(VoiceMatchPitch, APositionPastTheFirstWordMatchesFromFourHighHarmonicsAlone) {
  // 8000 Hz with 2048 points: 3.906 Hz bins, MinPitchBin 12, MaxHarmoBin
  // 998, HarmoNum 998 / 12 - 1 = 82: positions 64 .. 81 live in a second
  // 64-bit word. Four peaks 13 bins apart (910 .. 949) and nothing else:
  // pitch 13.0 (tolerance 1.9 bins) finds them as harmonics 70 .. 73
  // (position 69; harmonic 69's window 895.1 .. 898.9 is empty), 13.2 as
  // harmonics 69 .. 72 (position 68; 73 at 963.6 is missed). 13.1 and
  // 13.3 .. 13.9 find at most three of them in a row (13.1: harmonic 70 at
  // 917 +- 1.9; 13.4: harmonic 71's window 949.4 .. 953.4 misses 949).
  CDetectVoice voice(kRate, 2048, 50, 120, 3900);
  CDetectVoiceTestPeer peer(voice);
  ASSERT_EQ(voice.ReInit(), 0);
  ASSERT_EQ(peer.HarmoNum(), 82);
  std::vector<float> x = Spikes(peer.BinNum(), {910, 923, 936, 949});
  voice.UpdateBuf(x.data(), true);
  ASSERT_EQ(peer.MaxNum(kNewest), 4);
  ASSERT_EQ(peer.MinPitchBin(), 12);
  for (int m = 0; m < 82; ++m) {
    EXPECT_EQ(peer.AllMatch(kNewest, 13, m), m == 68 || m == 69) << m;
  }
}

}  // namespace
