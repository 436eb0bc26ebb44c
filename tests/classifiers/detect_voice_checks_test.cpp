// The acceptance tests of CDetectVoice's harmonic search where they once went
// wrong: the tolerated tenfold harmonic (a real half), reading the areas of
// a set (never before its row), the pitch of a set in real divisions.
#include <gtest/gtest.h>


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

}  // namespace
