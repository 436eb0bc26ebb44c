// CDetectVoice: its geometry and refused arguments; peak picking and pitch
// matching where the harmonic count once ran past its table (the ASan build
// checks the bound); the harmonic search's checks where they once went
// wrong; its state across ReInit and assignment. Voiced tracks, quiet frames
// and noise over whole recordings are pinned by the golden outputs.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <map>
#include <memory>
#include <random>
#include <string>
#include <tuple>
#include <vector>

#include "kvd/detect_voice.h"
#include "platform/ipps.h"
#include "test_signals.h"
#include "voice_signals.h"
#include "voice_test_peer.h"

namespace {

constexpr int kRate = 8000;
constexpr int kWindow = CDetectVoice::kWindowFrames;
constexpr int kNewest = kWindow - 1;  // the slot of the newest frame

// Standard output of f.
template <typename F>
std::string Printed(F f) {
  testing::internal::CaptureStdout();
  f();
  return testing::internal::GetCapturedStdout();
}

TEST(VoiceGeometry, BinsOfEachRateAndMeaninglessArgumentsRefusedWithTheirMessage) {
  // 8000 / 512 and 16000 / 1024: 15.625 Hz per bin: 65 / 15.625 = 4.16,
  // 480 / 15.625 = 30.72, 2000 / 15.625 = 128; HarmoNum 128 / 4 - 1 = 31.
  // 11025 / 1024 (and 22050 / 2048): 10.7666 Hz per bin: 65 / 10.77 = 6.04,
  // 480 / 10.77 = 44.6, 2000 / 10.77 = 185.8; HarmoNum 185 / 6 - 1 = 29.
  // Harmonics to 300 Hz, pitches to 100 Hz: 19 and 6 bins, HarmoNum 3.
  // 8000 / 2048: 3.906 Hz per bin; 50, 120 and 3900 Hz are bins 12, 30, 998;
  // HarmoNum 998 / 12 - 1 = 82: positions 64 .. 81 live in a second word.
  struct Construction {
    int rate, fft, low, high, top;
    // Printed on standard output: "" when accepted, nullptr for any refusal.
    const char* message;
    int minPitchBin = 0, maxPitchBin = 0, maxHarmoBin = 0, harmoNum = 0;  // 0: not checked
  };
  const char* fft = "Too low FFT size to initialize Voice Detector!\n";
  const Construction cases[] = {
      {8000, 512, 65, 480, 2000, "", 4, 30, 128, 31},
      {16000, 1024, 65, 480, 2000, "", 4, 30, 128, 31},
      {11025, 1024, 65, 480, 2000, "", 6, 44, 185, 29},
      {22050, 2048, 65, 480, 2000, "", 6, 44, 185, 29},
      {8000, 512, 65, 100, 300, "", 4, 6, 19, 3},
      {8000, 2048, 50, 120, 3900, "", 12, 30, 998, 82},
      {8512, 512, 65, 480, 2000, ""},  // 8512 / 512 = 16.625 Hz exactly
      {8520, 512, 65, 480, 2000, fft},
      {8000, 256, 65, 480, 2000, fft},
      {3999, 512, 65, 480, 2000, "Too low Sample Rate to initialize Voice Detector!\n"},
      {4000, 512, 65, 480, 2000, ""},
      // 15 / 15.625 = 0.96: MinPitchBin would be 0.
      {8000, 512, 15, 480, 2000, "Too low lowest pitch to initialize Voice Detector!\n"},
      {8000, 512, 16, 480, 2000, ""},
      {8000, 512, 480, 65, 2000, "Too low highest pitch to initialize Voice Detector!\n"},
      // Harmonics to 100 Hz with pitches from 65 Hz: no second harmonic fits.
      {8000, 512, 65, 480, 100, "Too low harmonic limit to initialize Voice Detector!\n"},
      {8000, 0, 65, 480, 2000, nullptr},
      {0, 512, 65, 480, 2000, nullptr},
      // Bin counts beyond 16 bits: 3 Hz / 2048 points puts 175 Hz at bin
      // 119467; 100 Hz / 4096 the highest pitch, 1000 Hz, at bin 40960.
      {3, 2048, 175, -1, 0, nullptr},
      {100, 4096, 1, 1000, 50, nullptr},
      // 0.0244 Hz bins: every limit fits 16 bits, but the track search tries
      // the 3277 pitches within 40 Hz of its reference (one fuzzed frame took
      // six minutes). Bins narrower than 3.9 Hz are refused.
      {100, 4096, 1, 600, 50, nullptr},
      {8000, 4096, 65, 480, 2000, nullptr},   // 1.95 Hz
      {15974, 4096, 65, 480, 2000, nullptr},  // 3.8999 Hz
      {8000, 2048, 65, 480, 2000, ""},        // 3.90625 Hz
      {16000, 4096, 65, 480, 2000, ""},       // 3.90625 Hz
  };
  for (const Construction& c : cases) {
    SCOPED_TRACE(std::to_string(c.rate) + " Hz, " + std::to_string(c.fft) + " points, " +
                 std::to_string(c.low) + " Hz");
    std::unique_ptr<CDetectVoice> voice;
    const std::string printed = Printed(
        [&] { voice = std::make_unique<CDetectVoice>(c.rate, c.fft, c.low, c.high, c.top); });
    if (c.message != nullptr) {
      EXPECT_EQ(printed, c.message);
    }
    const bool accepted = c.message != nullptr && *c.message == '\0';
    EXPECT_EQ(voice->Status, accepted ? 0 : -1);
    CDetectVoiceTestPeer peer(*voice);
    EXPECT_EQ(peer.HasBuffers(), accepted);
    if (c.harmoNum == 0) continue;
    EXPECT_EQ(peer.BinNum(), c.fft / 2);
    EXPECT_EQ(peer.MinPitchBin(), c.minPitchBin);
    EXPECT_EQ(peer.PeakStartBin(), c.minPitchBin);
    EXPECT_EQ(peer.MaxPitchBin(), c.maxPitchBin);
    EXPECT_EQ(peer.PitchNum(), c.maxPitchBin - c.minPitchBin + 1);
    EXPECT_EQ(peer.MaxHarmoBin(), c.maxHarmoBin);
    EXPECT_EQ(peer.HarmoNum(), c.harmoNum);
  }
}

TEST(VoiceGeometry, RefusedDetectorIsInertAndCopiesAsRefused) {
  std::unique_ptr<CDetectVoice> refused;
  Printed([&] { refused = std::make_unique<CDetectVoice>(8000, 512, 15, 480, 2000); });
  CDetectVoice& voice = *refused;
  // The message goes through the format "%s\n": two line ends.
  EXPECT_EQ(Printed([&] { EXPECT_EQ(voice.ReInit(), -1); }),
            "Error Memory of AllMatchPitch when Reinit VoiceDetector!\n\n");
  float power[256] = {};
  voice.UpdateBuf(power, true);
  voice.ReverseUpdateBuf(power, true);
  EXPECT_EQ(voice.DetectVoice(), 0);
  // A built detector assigned a refused one is refused as well.
  CDetectVoice copy(8000, 512, 65, 480, 2000);
  copy = voice;
  EXPECT_EQ(copy.Status, -1);
  EXPECT_FALSE(CDetectVoiceTestPeer(copy).HasBuffers());
  Printed([&] { EXPECT_EQ(copy.ReInit(), -1); });
}

// Power of a flat spectrum that passes the energy gate: the gate asks for a
// mean of EnergyFloor x 1000 = 100 over bins 19 .. 127.
constexpr float kLoudFlat = 1000.0f;

TEST(VoiceMatchPitch, HighHarmonicsAreSearchedUpToTheLastOne) {
  struct Case {
    int rate, fft, low, high, top;
    std::vector<int> spikes;  // bins of one-bin peaks, e^3 = 20.1 times the floor
    int pitchBin;
    std::vector<int> matched;  // series positions that must match
    bool onlyThese;            // and no other position
  };
  const Case cases[] = {
      // MinPitchBin 6, MaxHarmoBin 185: for the lowest candidate (6.0 bins,
      // tolerance 1.1 bins) harmonics 1 .. 5 match the peaks 7 .. 31
      // (positions 0 and 1), harmonics 6 .. 29 are missed and harmonic 30
      // (180 < 185) matches the peak at 180. A peak at PeakStartBin itself
      // would have no area (its left edge is the peak), hence 7 rather than 6.
      {11025, 1024, 65, 480, 2000, {7, 13, 19, 25, 31, 180}, 6, {0, 1}, false},
      {22050, 2048, 65, 480, 2000, {7, 13, 19, 25, 31, 180}, 6, {0, 1}, false},
      // HarmoNum 3: harmonic 4 of the 4-bin candidate (tolerance 1.1 bins)
      // is searched and found at bin 17.
      {8000, 512, 65, 100, 300, {5, 9, 13, 17}, 4, {0}, false},
      // HarmoNum 82. Pitch 13.0 (tolerance 1.9 bins) finds the peaks as
      // harmonics 70 .. 73 (position 69; harmonic 69's window 895.1 ..
      // 898.9 is empty), 13.2 as harmonics 69 .. 72 (position 68; 73 at
      // 963.6 is missed). 13.1 and 13.3 .. 13.9 find at most three of them
      // in a row (13.1: harmonic 70 at 917 +- 1.9; 13.4: harmonic 71's
      // window 949.4 .. 953.4 misses 949).
      {8000, 2048, 50, 120, 3900, {910, 923, 936, 949}, 13, {68, 69}, true},
      // Loud but flat: no peak has an area, the row is empty.
      {8000, 512, 65, 480, 2000, {}, 4, {}, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.rate) + " Hz, " + std::to_string(c.fft) + " points");
    CDetectVoice voice(c.rate, c.fft, c.low, c.high, c.top);
    CDetectVoiceTestPeer peer(voice);
    ASSERT_EQ(voice.ReInit(), 0);
    std::vector<float> x(static_cast<size_t>(peer.BinNum()), kLoudFlat);
    for (int b : c.spikes) x[static_cast<size_t>(b)] = kLoudFlat * std::exp(3.0f);
    voice.UpdateBuf(x.data(), true);
    ASSERT_EQ(peer.MaxNum(kNewest), static_cast<int>(c.spikes.size()));
    for (size_t i = 0; i < c.spikes.size(); ++i) EXPECT_EQ(peer.AllMax(kNewest)[i], c.spikes[i]);
    for (int m : c.matched) EXPECT_TRUE(peer.AllMatch(kNewest, c.pitchBin, m)) << m;
    for (int m = 0; c.onlyThese && m < peer.HarmoNum(); ++m) {
      const bool listed = std::find(c.matched.begin(), c.matched.end(), m) != c.matched.end();
      EXPECT_EQ(peer.AllMatch(kNewest, c.pitchBin, m), listed) << m;
    }
  }
}

// Forty equal spikes three bins apart on a flat floor: every spike is a
// peak with a valley on each side, ln of its power 3 above the chord
// between them, but the list holds the first 25 peaks (ascending) and the
// first 75 valleys. Each of the 25 has a 25th of the area: all are kept.
TEST(VoiceMatchPitch, PeakListKeepsTheFirst25Peaks) {
  CDetectVoice voice(8000, 512, 65, 480, 2000);
  CDetectVoiceTestPeer peer(voice);
  ASSERT_EQ(voice.ReInit(), 0);
  std::vector<float> x(static_cast<size_t>(peer.BinNum()), kLoudFlat);
  std::vector<int16_t> spikes;
  for (int b = 8; b < peer.MaxHarmoBin() - 2; b += 3) spikes.push_back(static_cast<int16_t>(b));
  ASSERT_EQ(spikes.size(), 40u);
  for (int b : spikes) x[static_cast<size_t>(b)] = kLoudFlat * std::exp(3.0f);
  voice.UpdateBuf(x.data(), true);
  ASSERT_EQ(peer.MaxNum(kNewest), CDetectVoice::kMaxPeaks);
  for (int i = 0; i < CDetectVoice::kMaxPeaks; ++i) {
    EXPECT_EQ(peer.AllMax(kNewest)[i], spikes[static_cast<size_t>(i)]) << i;
    EXPECT_EQ(peer.AllMaxArea(kNewest)[i], 400) << i;  // 1 / 25 in 1 / 10000
  }
}

// Find skips the seed search of three frames when one of them has fewer
// than three kept peaks: no pitch candidate may match in such a frame.
TEST(VoiceMatchPitch, TwoPeaksMatchNoCandidate) {
  CDetectVoice voice(8000, 512, 65, 480, 2000);
  CDetectVoiceTestPeer peer(voice);
  ASSERT_EQ(voice.ReInit(), 0);
  // Harmonics 1 and 2 of the 8-bin pitch, in step for it and for 4 bins.
  std::vector<float> x(static_cast<size_t>(peer.BinNum()), kLoudFlat);
  for (int b : {8, 16}) x[static_cast<size_t>(b)] = kLoudFlat * std::exp(3.0f);
  voice.UpdateBuf(x.data(), true);
  ASSERT_EQ(peer.MaxNum(kNewest), 2);
  for (int p = peer.MinPitchBin(); p <= peer.MaxPitchBin(); ++p) {
    for (int m = 0; m < peer.HarmoNum(); ++m) EXPECT_FALSE(peer.AllMatch(kNewest, p, m)) << p;
  }
}

// The match rows of MatchPitch against the rule written out F by F,
// harmonic by harmonic: harmonic h of F (tenths of a bin, tolerance d) is
// found when a peak lies in [h F - d, h F + d], its peak the first at or
// above h F - d; position 0 matches with harmonics 1 .. 3 found and spaced
// in [F - d, F + d], position m >= 1 (m < HarmoNum, (m + 4) F below the
// harmonic limit) with harmonics m + 1 .. m + 4 found and spaced in
// (F - d, F + d). A row holds the positions of any F of its bin; pitches
// from MinPitchBin up to, not including, MaxPitchBin are tried.
void ExpectRowsFollowTheRule() {
  struct Geometry {
    int rate, fft, low, high, top;
  };
  const Geometry geometries[] = {
      {8000, 512, 65, 480, 2000},    // the engine's
      {11025, 1024, 65, 480, 2000},  // 185 bins
      {8000, 512, 16, 100, 2000},    // pitches from 1 bin: overlapping windows
      {8000, 1024, 16, 1000, 2000},  // 127 positions, 125 candidates
      {8000, 2048, 50, 120, 3900},   // past the table by tenths
      {8000, 512, 65, 100, 300},     // HarmoNum 3
  };
  uint32_t seed = 12345;
  auto next = [&seed](int n) {
    seed = seed * 1103515245u + 12345u;
    return static_cast<int>((seed >> 8) % static_cast<uint32_t>(n));
  };
  for (const Geometry& g : geometries) {
    SCOPED_TRACE(std::to_string(g.rate) + " / " + std::to_string(g.fft) + ", " +
                 std::to_string(g.low) + " Hz");
    CDetectVoice voice(g.rate, g.fft, g.low, g.high, g.top);
    ASSERT_EQ(voice.Status, 0);
    ASSERT_EQ(voice.ReInit(), 0);
    CDetectVoiceTestPeer peer(voice);
    const int first = peer.PeakStartBin();
    const int last = peer.MaxHarmoBin() - 2;  // the peaks GetMax can keep
    const int top = peer.MaxHarmoBin() * 10;
    for (int trial = 0; trial < 300; ++trial) {
      // Random bins, or a jittered harmonic series from a random bin on.
      std::vector<int16_t> bins;
      const int count = 3 + next(CDetectVoice::kMaxPeaks - 2);
      const int pitch = peer.MinPitchBin() + next(peer.MaxPitchBin() - peer.MinPitchBin() + 1);
      for (int i = 0; i < count; ++i) {
        const int bin = trial % 2 == 0 ? first + next(last - first + 1)
                                       : pitch * (1 + i + next(2)) + next(3) - 1;
        bins.push_back(static_cast<int16_t>(bin));
      }
      std::sort(bins.begin(), bins.end());
      bins.erase(std::unique(bins.begin(), bins.end()), bins.end());
      bins.erase(std::remove_if(bins.begin(), bins.end(),
                                [&](int16_t b) { return b < first || b > last; }),
                 bins.end());
      if (bins.size() < 3) continue;
      peer.MatchPeaks(kNewest, bins.data(), static_cast<int>(bins.size()));
      auto peakFrom = [&](int t) {  // first peak (tenths) at or above t, or -1
        for (int16_t b : bins)
          if (b * 10 >= t) return b * 10;
        return -1;
      };
      for (int p = peer.MinPitchBin(); p < peer.MaxPitchBin(); ++p) {
        std::vector<bool> expected(static_cast<size_t>(peer.HarmoNum()), false);
        for (int F = 10 * p; F < 10 * p + 10; ++F) {
          const int d = peer.MostDifTabZoom()[F - 10 * peer.MinPitchBin()];
          std::vector<int> peakOf(static_cast<size_t>(peer.HarmoNum()) + 5, -1);
          for (int h = 1; h < static_cast<int>(peakOf.size()); ++h) {
            const int v = peakFrom(h * F - d);
            if (v >= 0 && v <= h * F + d) peakOf[static_cast<size_t>(h)] = v;
          }
          auto spaced = [&](int h, bool closed) {  // harmonics h - 1 and h
            const int a = peakOf[static_cast<size_t>(h - 1)], b = peakOf[static_cast<size_t>(h)];
            if (a < 0 || b < 0) return false;
            return closed ? b - a >= F - d && b - a <= F + d : b - a > F - d && b - a < F + d;
          };
          if (peakOf[1] >= 0 && spaced(2, true) && spaced(3, true)) expected[0] = true;
          for (int m = 1; m < peer.HarmoNum() && (m + 4) * F < top; ++m) {
            if (spaced(m + 2, false) && spaced(m + 3, false) && spaced(m + 4, false))
              expected[static_cast<size_t>(m)] = true;
          }
        }
        bool any = false;
        for (int m = 0; m < peer.HarmoNum(); ++m) {
          any = any || expected[static_cast<size_t>(m)];
          ASSERT_EQ(peer.AllMatch(kNewest, p, m), expected[static_cast<size_t>(m)])
              << "trial " << trial << ", pitch bin " << p << ", position " << m;
        }
        ASSERT_EQ(peer.CanMatch(kNewest, p), any) << "trial " << trial << ", pitch bin " << p;
      }
    }
  }
}

TEST(VoiceMatchPitch, RowsFollowTheRuleOnRandomPeaksAndGeometries) {
  const Ipp64u widest = ippGetEnabledCpuFeatures();
  {
    SCOPED_TRACE("the widest instruction set of this CPU");
    ExpectRowsFollowTheRule();
  }
  ippSetCpuFeatures(0);
  {
    SCOPED_TRACE("the x86-64 baseline");
    ExpectRowsFollowTheRule();
  }
  ippSetCpuFeatures(widest);
}

// A steady voiced sound: harmonics h0 .. h1 of a 100 Hz pitch, each a peak
// over a flat floor. Once the window holds only it, every slot is voiced at
// 100 Hz, whichever way the seed search takes the pitch candidates: from
// their words of series positions (one word, at most 128 candidates: the
// engine's geometry, harmonics 1 .. 19), or pitch by pitch (3.9 Hz bins:
// over 128 candidates, harmonics 1 .. 19; and with a 3900 Hz limit two
// words of positions, harmonics 20 .. 38 only). The pitch is whole bins
// (within one bin); from harmonic h0 on the next position explains the
// same peaks within the spacing tolerance, a pitch 1 / h0 apart.
TEST(VoiceTracks, SteadyHarmonicSeriesIsVoicedAtItsPitchOnEachSeedSearch) {
  struct Case {
    int rate, fft, low, high, top, h0, h1;
    bool byWords;  // one word of positions and at most 128 candidates
  };
  const Case cases[] = {
      {8000, 512, 65, 480, 2000, 1, 19, true},
      {8000, 2048, 50, 1000, 2000, 1, 19, false},
      {8000, 2048, 50, 120, 3900, 20, 38, false},
  };
  constexpr float kPitchHz = 100.0f;
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.fft) + " points, " + std::to_string(c.low) + " .. " +
                 std::to_string(c.high) + " Hz, limit " + std::to_string(c.top) + " Hz");
    CDetectVoice voice(c.rate, c.fft, c.low, c.high, c.top);
    ASSERT_EQ(voice.Status, 0);
    ASSERT_EQ(voice.ReInit(), 0);
    CDetectVoiceTestPeer peer(voice);
    EXPECT_EQ(peer.HarmoNum() <= 64 && peer.PitchNum() <= 128, c.byWords);
    const float binHz = static_cast<float>(c.rate) / static_cast<float>(c.fft);
    const float toleranceHz = binHz + (c.h0 > 1 ? kPitchHz / static_cast<float>(c.h0) : 0.0f);
    std::vector<float> x(static_cast<size_t>(peer.BinNum()), kLoudFlat);
    for (int h = c.h0; h <= c.h1; ++h) {
      const int bin = static_cast<int>(std::lround(h * kPitchHz / binHz));
      x[static_cast<size_t>(bin)] = kLoudFlat * std::exp(3.0f);
    }
    int voiced = 0;
    for (int t = 0; t < 40; ++t) {
      voice.UpdateBuf(x.data(), true);
      if (t >= kWindow - 1) voiced = voice.DetectVoice();
    }
    EXPECT_EQ(voiced, kWindow);
    for (int slot = 0; slot < kWindow; ++slot) {
      EXPECT_NEAR(voice.VoicePitch[slot] * binHz, kPitchHz, toleranceHz) << slot;
    }
  }
}

class VoiceChecks : public testing::Test {
 protected:
  VoiceChecks() { EXPECT_EQ(voice_.ReInit(), 0); }
  // Kept peaks of a slot with their relative and absolute areas.
  void SetPeaks(int slot, std::initializer_list<int16_t> bins,
                std::initializer_list<int16_t> areas = {}, std::initializer_list<float> abs = {}) {
    std::copy(bins.begin(), bins.end(), peer_.AllMax(slot));
    peer_.MaxNum(slot) = static_cast<int16_t>(bins.size());
    std::copy(areas.begin(), areas.end(), peer_.AllMaxArea(slot));
    std::copy(abs.begin(), abs.end(), peer_.AllMaxAbsArea(slot));
  }
  // Kept peaks of a slot 1 to 9 bins apart across the searched band, with
  // random areas.
  void SetRandomPeaks(int slot, std::mt19937& random) {
    std::uniform_int_distribution<int> step(1, 9);
    std::uniform_int_distribution<int> area(0, 2500);
    std::uniform_real_distribution<float> absArea(0.5f, 40.0f);
    int count = 0;
    for (int bin = peer_.PeakStartBin() + step(random);
         bin < peer_.MaxHarmoBin() - 1 && count < CDetectVoice::kMaxPeaks; bin += step(random)) {
      peer_.AllMax(slot)[count] = static_cast<int16_t>(bin);
      peer_.AllMaxArea(slot)[count] = static_cast<int16_t>(area(random));
      peer_.AllMaxAbsArea(slot)[count] = absArea(random);
      ++count;
    }
    peer_.MaxNum(slot) = static_cast<int16_t>(count);
  }
  CDetectVoice voice_{8000, 512, 65, 480, 2000};
  CDetectVoiceTestPeer peer_{voice_};
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
               25, 26, 10});
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

// Backward growth looks at the backLook slots before the seed: slot u
// counts for seed slot f exactly when f - backLook <= u < f. One unvoiced
// slot (pitch 0 or -1) among voiced ones, at every place, for every f.
TEST_F(VoiceChecks, UnvoicedBeforeSeesExactlyTheSlotsBeforeTheSeed) {
  constexpr int kSlots = CDetectVoice::kWindowFrames;
  for (int backLook : {1, 10, 16, 17, 29}) {
    for (int16_t unvoiced : {int16_t{0}, int16_t{-1}}) {
      for (int u = 0; u < kSlots; ++u) {
        std::fill(voice_.VoicePitch, voice_.VoicePitch + kSlots, int16_t{12});
        voice_.VoicePitch[u] = unvoiced;
        for (int f = 0; f <= kSlots; ++f) {
          EXPECT_EQ(peer_.UnvoicedBefore(f, backLook), u < f && u >= f - backLook)
              << "back look " << backLook << ", unvoiced slot " << u << ", seed slot " << f;
        }
      }
    }
  }
  std::fill(voice_.VoicePitch, voice_.VoicePitch + kSlots, int16_t{1});
  for (int f = 0; f <= kSlots; ++f) EXPECT_FALSE(peer_.UnvoicedBefore(f, 10)) << f;
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

// SearchHarmo keeps the sets it finds for a frame, pitch and series position
// and replays them for the next search of the same key. On random kept
// peaks (dense enough that some searches meet more sets than a list holds),
// every search replayed from a list, alone and against the set of the frame
// before, leaves the rows and result of the search enumerated afresh.
TEST_F(VoiceChecks, SeedSearchReplayedFromItsListGivesTheRowsOfTheFreshSearch) {
  struct Rows {
    int16_t result;
    int16_t peak[4];
    int16_t area[4];
    float absArea[4];
    float pitch;
  };
  auto rowsOf = [&](int slot, int16_t result) {
    Rows rows{result, {}, {}, {}, peer_.FramePitch(slot)};
    std::copy(peer_.HarmoPeak(slot), peer_.HarmoPeak(slot) + 4, rows.peak);
    std::copy(peer_.HarmoArea(slot), peer_.HarmoArea(slot) + 4, rows.area);
    std::copy(peer_.HarmoAbsArea(slot), peer_.HarmoAbsArea(slot) + 4, rows.absArea);
    return rows;
  };
  auto expectSame = [](const Rows& fresh, const Rows& replayed, const std::string& where) {
    EXPECT_EQ(fresh.result, replayed.result) << where;
    for (int h = 0; h < 4; ++h) {
      EXPECT_EQ(fresh.peak[h], replayed.peak[h]) << where << " entry " << h;
      EXPECT_EQ(fresh.area[h], replayed.area[h]) << where << " entry " << h;
      EXPECT_EQ(fresh.absArea[h], replayed.absArea[h]) << where << " entry " << h;
    }
    EXPECT_EQ(fresh.pitch, replayed.pitch) << where;
  };
  std::mt19937 random(20261209);
  int found = 0;
  int foundOnTrack = 0;
  for (int trial = 0; trial < 40; ++trial) {
    SetRandomPeaks(4, random);
    SetRandomPeaks(5, random);
    peer_.RenumberFrames();  // new frames: no list of an earlier trial applies
    for (int p = peer_.MinPitchBin(); p <= peer_.MaxPitchBin(); ++p) {
      for (int m = 0; m <= 6; ++m) {
        const std::string where =
            "trial " + std::to_string(trial) + " p " + std::to_string(p) + " m " + std::to_string(m);
        peer_.ForgetSeedLists();
        const Rows first = rowsOf(4, peer_.SearchHarmo(p, m, 4, 4, 4));
        const Rows second = rowsOf(5, peer_.SearchHarmo(p, m, 5, 4, 5));
        found += first.result > 0;
        foundOnTrack += first.result > 0 && second.result > 0;
        // The same searches again, from the lists the first ones kept.
        expectSame(first, rowsOf(4, peer_.SearchHarmo(p, m, 4, 4, 4)), where + " alone");
        expectSame(second, rowsOf(5, peer_.SearchHarmo(p, m, 5, 4, 5)), where + " on a track");
      }
    }
  }
  // The trials reach sets alone and sets the track test accepts.
  EXPECT_GT(found, 100);
  EXPECT_GT(foundOnTrack, 10);
}

// The seed search's memos tell a frame's set by the kept peaks SearchHarmo
// reports as its members: those must be the peaks the rows hold, and a
// frame, series position and members must always leave the same rows,
// whatever the pitch, the track before the frame or the list that gave them.
TEST_F(VoiceChecks, SeedSearchMembersTellTheRowsWhole) {
  struct Rows {
    int16_t peak[4];
    int16_t area[4];
    float absArea[4];
    float pitch;
  };
  std::mt19937 random(5091226);
  int checked = 0;
  int repeated = 0;
  for (int trial = 0; trial < 20; ++trial) {
    for (int slot : {4, 5}) SetRandomPeaks(slot, random);
    peer_.RenumberFrames();
    std::map<std::tuple<int, int, uint32_t>, Rows> seen;  // slot, m, members
    auto check = [&](int slot, int m, int16_t result, uint32_t members, const std::string& where) {
      if (result <= 0) return;
      Rows rows{{}, {}, {}, peer_.FramePitch(slot)};
      std::copy(peer_.HarmoPeak(slot), peer_.HarmoPeak(slot) + 4, rows.peak);
      std::copy(peer_.HarmoArea(slot), peer_.HarmoArea(slot) + 4, rows.area);
      std::copy(peer_.HarmoAbsArea(slot), peer_.HarmoAbsArea(slot) + 4, rows.absArea);
      const int firstEntry = m == 0 ? 1 : 0;
      for (int j = 0; j < 4 - firstEntry; ++j) {
        const int index = static_cast<int>((members >> (8 * j)) & 0xFFu);
        ASSERT_LT(index, peer_.MaxNum(slot)) << where << " member " << j;
        EXPECT_EQ(rows.peak[firstEntry + j], peer_.AllMax(slot)[index]) << where << " member " << j;
        EXPECT_EQ(rows.area[firstEntry + j], peer_.AllMaxArea(slot)[index]) << where;
      }
      ++checked;
      const auto key = std::make_tuple(slot, m, members);
      const auto known = seen.find(key);
      if (known == seen.end()) {
        seen.emplace(key, rows);
        return;
      }
      ++repeated;
      for (int h = 0; h < 4; ++h) {
        EXPECT_EQ(known->second.peak[h], rows.peak[h]) << where << " entry " << h;
        EXPECT_EQ(known->second.area[h], rows.area[h]) << where << " entry " << h;
        EXPECT_EQ(known->second.absArea[h], rows.absArea[h]) << where << " entry " << h;
      }
      EXPECT_EQ(known->second.pitch, rows.pitch) << where;
    };
    for (int pass = 0; pass < 2; ++pass) {  // enumerated, then replayed from the lists
      for (int p = peer_.MinPitchBin(); p <= peer_.MaxPitchBin(); ++p) {
        for (int m = 0; m <= 6; ++m) {
          const std::string where = "trial " + std::to_string(trial) + " pass " +
                                    std::to_string(pass) + " p " + std::to_string(p) + " m " +
                                    std::to_string(m);
          uint32_t members = 0;
          const int16_t alone = peer_.SearchHarmo(p, m, 4, 4, 4, &members);
          check(4, m, alone, members, where + " alone");
          if (alone <= 0) continue;
          const int16_t second = peer_.SearchHarmo(p, m, 5, 4, 5, &members);
          check(5, m, second, members, where + " on a track");
          // Frame 5 alone may choose another set than on the track.
          const int16_t fifthAlone = peer_.SearchHarmo(p, m, 5, 5, 5, &members);
          check(5, m, fifthAlone, members, where + " 5 alone");
        }
      }
    }
  }
  EXPECT_GT(checked, 200);
  EXPECT_GT(repeated, 100);
}

// Lists are keyed by frame serials, which two detectors give alike: an
// assigned detector searches with the source's lists, never its own.
TEST_F(VoiceChecks, AssignedDetectorSearchesWithTheSourcesSeedLists) {
  CDetectVoice source(8000, 512, 65, 480, 2000);
  ASSERT_EQ(source.ReInit(), 0);
  CDetectVoiceTestPeer sourcePeer(source);
  // The same serials in both (constructed and reinitialised alike), other
  // peaks: harmonics 1 .. 4 of 10 bins here, of 12 bins in the source.
  for (int slot = 0; slot < CDetectVoice::kWindowFrames; ++slot) {
    const int16_t bins[] = {10, 20, 30, 40};
    const int16_t other[] = {12, 24, 36, 48};
    for (int i = 0; i < 4; ++i) {
      peer_.AllMax(slot)[i] = bins[i];
      sourcePeer.AllMax(slot)[i] = other[i];
      peer_.AllMaxArea(slot)[i] = sourcePeer.AllMaxArea(slot)[i] = 2500;
      peer_.AllMaxAbsArea(slot)[i] = sourcePeer.AllMaxAbsArea(slot)[i] = 10.0f;
    }
    peer_.MaxNum(slot) = sourcePeer.MaxNum(slot) = 4;
  }
  // Each detector's list of pitch 10, m = 0 in slot 3: the source's empty.
  ASSERT_EQ(peer_.SearchHarmo(10, 0, 3, 3, 3), 2500);
  EXPECT_EQ(peer_.HarmoPeak(3)[1], 10);
  ASSERT_EQ(sourcePeer.SearchHarmo(10, 0, 3, 3, 3), -1);
  voice_ = source;
  EXPECT_EQ(peer_.SearchHarmo(10, 0, 3, 3, 3), -1);
  EXPECT_EQ(peer_.HarmoPeak(3)[1], 0);
  // And the other way round: the source's list of pitch 12 found.
  ASSERT_EQ(sourcePeer.SearchHarmo(12, 0, 4, 4, 4), 2500);
  voice_ = source;
  EXPECT_EQ(peer_.SearchHarmo(12, 0, 4, 4, 4), 2500);
  EXPECT_EQ(peer_.HarmoPeak(4)[3], 36);
}

const std::vector<std::vector<float>>& SpeechFrames() {
  static const std::vector<std::vector<float>> frames =
      kvdtest::PowerFrames(kvdtest::ReadPcmFile(kvdtest::SamplePath("kvd_sample.wav")), kRate);
  return frames;
}

std::unique_ptr<CDetectVoice> Voice() {
  auto voice = std::make_unique<CDetectVoice>(kRate, 512, 65, 480, 2000);
  EXPECT_EQ(voice->ReInit(), 0);
  return voice;
}

int Step(CDetectVoice& voice, size_t t) {
  voice.UpdateBuf(const_cast<float*>(SpeechFrames()[t].data()), true);
  return voice.DetectVoice();
}

void Feed(CDetectVoice& voice, size_t from, size_t to) {
  for (size_t t = from; t < to; ++t) Step(voice, t);
}

// Feeds frames [from, to) to both, comparing count and pitches after every frame.
void ExpectSameVerdicts(CDetectVoice& a, CDetectVoice& b, size_t from, size_t to) {
  for (size_t t = from; t < to; ++t) {
    ASSERT_EQ(Step(a, t), Step(b, t)) << t;
    for (int slot = 0; slot < kWindow; ++slot)
      ASSERT_EQ(a.VoicePitch[slot], b.VoicePitch[slot]) << t << " " << slot;
  }
}

bool HasATrack(CDetectVoice& voice) {
  CDetectVoiceTestPeer peer(voice);
  for (int slot = 0; slot < kWindow; ++slot)
    if (peer.FrameState(slot) == 2) return true;
  return false;
}

// Feeds frames from `from` on until, `atLeast` frames in, a track is in the
// window (the detector then holds seed records); the next frame.
size_t FeedToATrack(CDetectVoice& voice, size_t from, size_t atLeast) {
  for (size_t t = from; t < SpeechFrames().size(); ++t) {
    Step(voice, t);
    if (t + 1 - from >= atLeast && HasATrack(voice)) return t + 1;
  }
  return SpeechFrames().size();
}

TEST(VoiceState, ReInitInsideSpeechGivesTheVerdictsOfAFreshDetector) {
  ASSERT_GE(SpeechFrames().size(), 450u);
  for (size_t atLeast : {40u, 70u, 100u}) {
    auto voice = Voice();
    ASSERT_LT(FeedToATrack(*voice, 150, atLeast), 350u) << atLeast;
    ASSERT_EQ(voice->ReInit(), 0);
    // The same frames again: the records of the first pass must not be
    // taken for the second.
    ExpectSameVerdicts(*voice, *Voice(), 150, 350);
  }
}

TEST(VoiceState, GrowthReplayedFromItsRecordsGivesTheVerdictsOfStepsSearchedAfresh) {
  // The replayed steps carry the areas the track had gained with them, the
  // searched ones add theirs: a detector that forgets its records before
  // every frame sums every track from its own steps alone. Over the whole
  // sample (onsets, long vowels, pauses) both give the same pitches.
  auto replayed = Voice();
  auto searched = Voice();
  CDetectVoiceTestPeer searchedPeer(*searched);
  bool anyTrack = false;
  for (size_t t = 0; t < SpeechFrames().size(); ++t) {
    searchedPeer.ForgetGrowth();
    const int count = Step(*replayed, t);
    ASSERT_EQ(count, Step(*searched, t)) << t;
    for (int slot = 0; slot < kWindow; ++slot)
      ASSERT_EQ(replayed->VoicePitch[slot], searched->VoicePitch[slot]) << t << " " << slot;
    anyTrack = anyTrack || (t >= 29 && count >= 6);
  }
  EXPECT_TRUE(anyTrack);
}

TEST(VoiceState, GrowthReplayedAcrossTurnsOfTheFeedGivesTheVerdictsOfStepsSearchedAfresh) {
  // Fed forwards, then backwards over earlier frames, then forwards again:
  // a frame that left the window at one end comes back as another frame,
  // and a record's steps past it no longer hold. Both detectors see the
  // same frames at every step.
  auto replayed = Voice();
  auto searched = Voice();
  CDetectVoiceTestPeer searchedPeer(*searched);
  auto compare = [&](int replayedCount, int searchedCount, size_t t) {
    ASSERT_EQ(replayedCount, searchedCount) << t;
    for (int slot = 0; slot < kWindow; ++slot)
      ASSERT_EQ(replayed->VoicePitch[slot], searched->VoicePitch[slot]) << t << " " << slot;
  };
  auto forwards = [&](size_t t) {
    searchedPeer.ForgetGrowth();
    const int count = Step(*replayed, t);
    compare(count, Step(*searched, t), t);
  };
  auto backwards = [&](size_t t) {
    searchedPeer.ForgetGrowth();
    float* power = const_cast<float*>(SpeechFrames()[t].data());
    replayed->ReverseUpdateBuf(power, true);
    searched->ReverseUpdateBuf(power, true);
    compare(replayed->DetectVoice(), searched->DetectVoice(), t);
  };
  ASSERT_GE(SpeechFrames().size(), 450u);
  // Runs of 1 .. 4 frames each way; after a turn the forward frames go on
  // some frames later, so that the frame taking a left one's place differs
  // from it. The backward ones come from below the oldest fed forwards.
  size_t next = 60;
  for (size_t turn = 0; next + 8 < SpeechFrames().size(); ++turn) {
    const size_t ahead = 1 + turn % 4;
    const size_t back = 1 + (turn / 4) % 4;
    for (size_t k = 0; k < ahead; ++k) forwards(next++);
    for (size_t k = 0; k < back; ++k) backwards(next - kWindow - 1 - k);
    next += 1 + turn % 5;
  }
}

TEST(VoiceState, CopyOwnsItsBuffersOutlivesTheSourceAndSurvivesSelfAssignment) {
  auto reference = Voice();
  CDetectVoice copy(16000, 1024, 100, 300, 4000);  // another geometry: the source's is taken
  {
    auto source = Voice();
    ExpectSameVerdicts(*source, *reference, 150, 250);  // mid-stream: a window of speech
    copy = *source;
    CDetectVoiceTestPeer sourcePeer(*source);
    CDetectVoiceTestPeer copyPeer(copy);
    EXPECT_NE(copyPeer.AllMatchPitchBuffer(), sourcePeer.AllMatchPitchBuffer());
    EXPECT_NE(copyPeer.MostDifTabZoom(), sourcePeer.MostDifTabZoom());
    EXPECT_EQ(copyPeer.BinNum(), 256);
    EXPECT_EQ(copyPeer.HarmoNum(), 31);
  }  // the source and its buffers are gone
  EXPECT_EQ(copy.Status, 0);
  ExpectSameVerdicts(copy, *reference, 250, 330);
  CDetectVoice& alias = copy;
  copy = alias;  // assigned itself: kept as it is
  EXPECT_EQ(copy.Status, 0);
  ExpectSameVerdicts(copy, *reference, 330, 400);
}

TEST(VoiceState, AssignedDetectorTakesTheTablesOfTheSourcesPitchRange) {
  // Same bins and highest pitch, another lowest: the target's own tables,
  // worked out while it ran, must not outlive the assignment.
  auto source = Voice();
  auto reference = Voice();
  auto target = std::make_unique<CDetectVoice>(kRate, 512, 100, 480, 2000);
  ASSERT_EQ(target->ReInit(), 0);
  Feed(*target, 150, 250);
  ExpectSameVerdicts(*source, *reference, 150, 250);
  *target = *source;
  ExpectSameVerdicts(*target, *reference, 250, 330);
}

TEST(VoiceState, AssignedDetectorForgetsItsOwnRecords) {
  // As many frames each, different ones: both detectors number their
  // frames alike and both hold records.
  auto source = Voice();
  auto target = Voice();
  auto reference = Voice();
  const size_t next = FeedToATrack(*source, 150, 40);
  ASSERT_LT(next, 300u);
  Feed(*reference, 150, next);
  Feed(*target, 300, 300 + next - 150);
  ASSERT_TRUE(HasATrack(*target));
  *target = *source;
  ExpectSameVerdicts(*target, *reference, next, next + 150);
}

}  // namespace
