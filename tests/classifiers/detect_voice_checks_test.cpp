// The acceptance tests of CDetectVoice's harmonic search:
// TestEven, GetHarmoArea, CompareArea, CompareAbsArea, TestTrueFullHarmo,
// and the pitch of a set.
#include <gtest/gtest.h>

#include <cstring>

#include "kvd/detect_voice.h"
#include "voice_test_peer.h"

namespace {

class VoiceChecks : public testing::Test {
 protected:
  VoiceChecks() : voice_(8000, 512, 65, 480, 2000), peer_(voice_) {
    EXPECT_EQ(voice_.ReInit(), 0);
  }
  // Kept peaks of a slot with their relative and absolute areas.
  void SetPeaks(int slot, std::initializer_list<int16_t> bins,
                std::initializer_list<int16_t> areas, std::initializer_list<float> absAreas) {
    int i = 0;
    for (int16_t b : bins) peer_.AllMax(slot)[i++] = b;
    peer_.MaxNum(slot) = static_cast<int16_t>(i);
    i = 0;
    for (int16_t a : areas) peer_.AllMaxArea(slot)[i++] = a;
    i = 0;
    for (float a : absAreas) peer_.AllMaxAbsArea(slot)[i++] = a;
  }
  CDetectVoice voice_;
  CDetectVoiceTestPeer peer_;
};

TEST_F(VoiceChecks, TestEvenIsTheSpreadOfTheSpacings) {
  // Harmonics 1 .. 3 in entries 1 .. 3: spacings 10, 10, 11.
  const int16_t low[] = {0, 10, 20, 31};
  const int16_t lowNumbers[] = {0, 1, 2, 3};
  EXPECT_EQ(peer_.TestEven(low, lowNumbers), 1);
  // Harmonics 2 .. 5: 20 / 2 = 10, then 10, 10, 10.
  const int16_t high[] = {20, 30, 40, 50};
  const int16_t highNumbers[] = {2, 3, 4, 5};
  EXPECT_EQ(peer_.TestEven(high, highNumbers), 0);
  // 21 / 2 = 10 (integer division), then 9, 10, 10.
  const int16_t odd[] = {21, 30, 40, 50};
  EXPECT_EQ(peer_.TestEven(odd, highNumbers), 1);
}

TEST_F(VoiceChecks, CompareAreaCountsFivefoldDifferencesBothWays) {
  const int16_t a[] = {0, 600, 100, 50};
  const int16_t b[] = {0, 100, 100, 300};
  // 600 > 5 x 100 and 50 < 0.2 x 300.
  EXPECT_EQ(peer_.CompareArea(a, b), 2);
  // Exactly five times either way is no mismatch.
  const int16_t edgeA[] = {0, 500, 20, 0};
  const int16_t edgeB[] = {0, 100, 100, 0};
  EXPECT_EQ(peer_.CompareArea(edgeA, edgeB), 0);
  // A harmonic present on one side only.
  const int16_t presentA[] = {0, 0, 100, 100};
  const int16_t presentB[] = {0, 100, 100, 100};
  EXPECT_EQ(peer_.CompareArea(presentA, presentB), 1);
}

TEST_F(VoiceChecks, CompareAbsAreaNeedsASharedHarmonic) {
  const float a[] = {0.0f, 5.0f, 0.0f, 0.0f};
  const float b[] = {0.0f, 0.0f, 5.0f, 5.0f};
  EXPECT_EQ(peer_.CompareAbsArea(a, b, 6.0f), -1);
  // One shared entry that agrees: 0 of 1 differ, below half.
  const float c[] = {0.0f, 5.0f, 5.0f, 0.0f};
  EXPECT_EQ(peer_.CompareAbsArea(a, c, 6.0f), 1);
}

TEST_F(VoiceChecks, CompareAbsAreaToleratesOneTenfoldHarmonicOnlyBelowBin157) {
  // Three shared harmonics, the second 20 times larger in b.
  const float a[] = {0.0f, 5.0f, 1.0f, 5.0f};
  const float b[] = {0.0f, 5.0f, 20.0f, 5.0f};
  ASSERT_EQ(peer_.Bin157(), 10);
  EXPECT_EQ(peer_.CompareAbsArea(a, b, 10.0f), -1);  // at Bin157: none tolerated
  // Below: 1 of 3 shared entries differs, below half of 3 (real half).
  EXPECT_EQ(peer_.CompareAbsArea(a, b, 9.5f), 1);
  // Two differing entries are never tolerated.
  const float c[] = {0.0f, 60.0f, 20.0f, 5.0f};
  EXPECT_EQ(peer_.CompareAbsArea(a, c, 6.0f), -1);
  // With two shared entries one differing is half, not below it.
  const float d[] = {0.0f, 5.0f, 20.0f, 0.0f};
  EXPECT_EQ(peer_.CompareAbsArea(a, d, 6.0f), -1);
}

TEST_F(VoiceChecks, GetHarmoAreaCopiesTheAreasOfTheFoundPeaks) {
  SetPeaks(5, {10, 20, 30}, {1000, 2000, 3000}, {1.0f, 2.0f, 3.0f});
  const int16_t set[] = {0, 10, 20, 30};
  EXPECT_EQ(peer_.GetHarmoArea(set, 5), 2000);  // (1000 + 2000 + 3000) / 3
  EXPECT_EQ(peer_.HarmoArea(5)[0], 0);
  EXPECT_EQ(peer_.HarmoArea(5)[3], 3000);
  EXPECT_FLOAT_EQ(peer_.HarmoAbsArea(5)[2], 2.0f);
}

TEST_F(VoiceChecks, GetHarmoAreaSkipsABinBetweenKeptPeaks) {
  SetPeaks(5, {10, 20, 30}, {1000, 2000, 3000}, {1.0f, 2.0f, 3.0f});
  const int16_t set[] = {0, 10, 25, 30};
  EXPECT_EQ(peer_.GetHarmoArea(set, 5), 2000);  // (1000 + 3000) / 2
  EXPECT_EQ(peer_.HarmoArea(5)[2], 0);
  EXPECT_EQ(peer_.HarmoArea(5)[3], 3000);
}

TEST_F(VoiceChecks, GetHarmoAreaCountsABinBeyondTheLastKeptPeakWithNoArea) {
  SetPeaks(5, {10, 20, 30}, {1000, 2000, 3000}, {1.0f, 2.0f, 3.0f});
  const int16_t set[] = {0, 10, 20, 40};
  EXPECT_EQ(peer_.GetHarmoArea(set, 5), 1000);  // (1000 + 2000 + 0) / 3
  EXPECT_EQ(peer_.HarmoArea(5)[3], 0);
}

TEST_F(VoiceChecks, GetHarmoAreaNeverReadsBeforeTheRow) {
  // A virtual peak (bin 5) below the first kept peak. The entry before row 5
  // is the last entry of row 4: make it look like bin 10 with a large area,
  // which a walk stepping back before the row would pick up.
  SetPeaks(4, {1, 2, 3, 4, 5, 6, 7, 8, 9, 11, 12, 13, 14, 15, 16, 17, 18, 19, 21, 22, 23, 24,
               25, 26, 10},
           {}, {});
  peer_.AllMaxArea(4)[24] = 7777;
  SetPeaks(5, {10, 20, 30}, {1000, 2000, 3000}, {1.0f, 2.0f, 3.0f});
  const int16_t set[] = {5, 10, 20, 30};
  EXPECT_EQ(peer_.GetHarmoArea(set, 5), 2000);  // 5 not found; 10, 20, 30 are
  EXPECT_EQ(peer_.HarmoArea(5)[0], 0);
  EXPECT_EQ(peer_.HarmoArea(5)[1], 1000);
  EXPECT_EQ(peer_.HarmoArea(5)[2], 2000);
  // The same in slot 0, where the row before is outside the array.
  SetPeaks(0, {10, 20, 30}, {1000, 2000, 3000}, {1.0f, 2.0f, 3.0f});
  EXPECT_EQ(peer_.GetHarmoArea(set, 0), 2000);
}

TEST_F(VoiceChecks, GetHarmoAreaOfAFrameWithoutPeaksIsZero) {
  const int16_t set[] = {0, 10, 20, 30};
  EXPECT_EQ(peer_.GetHarmoArea(set, 7), 0);
}

TEST_F(VoiceChecks, TestTrueFullHarmoRejectsASetWithoutAStrongHarmonic) {
  const int16_t weak[] = {0, 99, 99, 99};
  std::memcpy(peer_.HarmoArea(3), weak, sizeof(weak));
  peer_.FramePitch(3) = 8.0f;
  EXPECT_EQ(peer_.TestTrueFullHarmo(3, 3, 3), -1);
  peer_.HarmoArea(3)[2] = 100;
  EXPECT_EQ(peer_.TestTrueFullHarmo(3, 3, 3), 1);  // a lone frame: accepted
}

TEST_F(VoiceChecks, TestTrueFullHarmoWantsTheExpectedShareBelowBin157) {
  // Pitch 8 bins: a harmonic of a fully harmonic band holds 8 / 128 of the
  // area, E = 625; frames 3 and 4 with three harmonics each: T = 6 x 625.
  const int16_t peaks3[] = {0, 8, 16, 24};
  for (int f : {3, 4}) {
    std::memcpy(peer_.HarmoPeak(f), peaks3, sizeof(peaks3));
    peer_.FramePitch(f) = 8.0f;
    for (int h = 1; h < 4; ++h) peer_.HarmoAbsArea(f)[h] = 5.0f;
  }
  const int16_t enough[] = {0, 700, 600, 600};  // mean 633 >= 625
  const int16_t short_[] = {0, 700, 600, 500};  // mean 600 < 625
  std::memcpy(peer_.HarmoArea(3), enough, sizeof(enough));
  std::memcpy(peer_.HarmoArea(4), enough, sizeof(enough));
  EXPECT_EQ(peer_.TestTrueFullHarmo(4, 3, 4), 1);
  std::memcpy(peer_.HarmoArea(4), short_, sizeof(short_));
  std::memcpy(peer_.HarmoArea(3), short_, sizeof(short_));
  EXPECT_EQ(peer_.TestTrueFullHarmo(4, 3, 4), -1);
}

TEST_F(VoiceChecks, SetPitchUsesRealDivisions) {
  // Peaks 7, 13, 20 as harmonics 1 .. 3: (7 + 13 / 2 + 20 / 3) / 3 = 6.7222
  // (integer divisions would give (7 + 6 + 6) / 3 = 6.33).
  SetPeaks(6, {7, 13, 20}, {3000, 3000, 3000}, {5.0f, 5.0f, 5.0f});
  EXPECT_EQ(peer_.SearchHarmo(7, 0, 6, 6, 6), 3000);
  EXPECT_EQ(peer_.HarmoPeak(6)[0], 0);
  EXPECT_EQ(peer_.HarmoPeak(6)[1], 7);
  EXPECT_EQ(peer_.HarmoPeak(6)[3], 20);
  EXPECT_NEAR(peer_.FramePitch(6), (7.0f + 6.5f + 20.0f / 3.0f) / 3.0f, 1e-5f);
}

TEST_F(VoiceChecks, SearchHarmoClearsTheFrameWhenNoSetFits) {
  // Spacing 6 then 9: outside 7 +- 1.01 bins.
  SetPeaks(6, {7, 13, 22}, {3000, 3000, 3000}, {5.0f, 5.0f, 5.0f});
  peer_.FramePitch(6) = 3.0f;
  EXPECT_EQ(peer_.SearchHarmo(7, 0, 6, 6, 6), -1);
  for (int h = 0; h < 4; ++h) EXPECT_EQ(peer_.HarmoPeak(6)[h], 0);
  EXPECT_EQ(peer_.FramePitch(6), 0.0f);
}

}  // namespace
