// CDetectEnergy on statistics and slots set by hand: its band edges, the
// statistics of unusable frames (dual tones, digital silence), the rules its
// background follows, and the edges of its start and end decisions.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <string>
#include <vector>

#include "classifiers/detect_energy.h"

namespace {

constexpr int kBands = CDetectEnergy::kBandCount;
using BandLevels = std::array<float, kBands>;

// A detector at 8000 Hz (512-point FFT) loaded with the owner's settings at
// Sensitivity 0.5 and AverageGain 0 dB: SpreadFactor 1000, cap 1e6, initial
// threshold 5e5, floor 5e3, NoiseFloor 0.4; thresholds at their initial
// value, histories cleared. Frames go to UpdateBandEnergy with their own
// usable-frame ring, as the online loop feeds them.
struct Loaded {
  explicit Loaded(int32_t maxSilenceFrames = 50) {
    detector.SpreadFactor = 1000.0f;
    detector.MaxSilence = maxSilenceFrames;
    detector.NoiseFloor = 0.4f;
    std::fill(detector.BandThdCap, detector.BandThdCap + kBands, 1000000.0f);
    std::fill(detector.BandThdInit, detector.BandThdInit + kBands, 500000.0f);
    std::fill(detector.BandThdFloor, detector.BandThdFloor + kBands, 5000.0f);
    std::fill(detector.BandThd, detector.BandThd + kBands, 500000.0f);
    detector.ReInit();
  }
  // Frame t, each band's energy in the first bin of the band (the band sums
  // are exact); an unusable frame is stored as 0.
  int32_t Feed(int32_t t, const BandLevels& energies, bool usable = true) {
    usable_[t % CDetectEnergy::kUsableRingFrames] = usable;
    std::vector<float> spectrum(static_cast<size_t>(detector.BinNum), 0.0f);
    for (int band = 0; band < kBands; ++band)
      spectrum[static_cast<size_t>(detector.BandEdge[band][0])] = energies[band];
    return detector.UpdateBandEnergy(spectrum.data(), t, usable_);
  }
  void FeedConstant(int32_t first, int32_t last, const BandLevels& energies) {
    for (int32_t t = first; t <= last; ++t) Feed(t, energies);
  }
  CDetectEnergy detector{8000, 512};
  bool usable_[CDetectEnergy::kUsableRingFrames] = {};
};

TEST(BandEdges, OctavesBelow4000HzFrom60HzAndNoneBelow8000Hz) {
  // Hand computation: top = trunc(4000 / (rate / fft)), edges halve down from
  // it, band 0 starts at trunc(60 / (rate / fft)).
  //   8000/512 and 16000/1024: 15.625 Hz per bin, top 256, low 3.
  //   11025/1024: 10.7666 Hz per bin, top 371 (371.52), low 5 (5.57).
  //   48000/4096: 11.71875 Hz per bin, top 341 (341.33), low 5 (5.12).
  struct Case {
    int32_t rate, fft, edges[4][2];  // first bin, end bin (excluded)
  };
  const Case cases[] = {{8000, 512, {{3, 32}, {32, 64}, {64, 128}, {128, 256}}},
                        {16000, 1024, {{3, 32}, {32, 64}, {64, 128}, {128, 256}}},
                        {11025, 1024, {{5, 46}, {46, 92}, {92, 185}, {185, 371}}},
                        {48000, 4096, {{5, 42}, {42, 85}, {85, 170}, {170, 341}}}};
  for (const Case& c : cases) {
    CDetectEnergy detector(c.rate, c.fft);
    ASSERT_EQ(detector.Status, 0) << c.rate;
    EXPECT_EQ(detector.BinNum, c.fft / 2) << c.rate;
    for (int band = 0; band < 4; ++band) {
      EXPECT_EQ(detector.BandEdge[band][0], c.edges[band][0]) << c.rate << " band " << band;
      EXPECT_EQ(detector.BandEdge[band][1], c.edges[band][1]) << c.rate << " band " << band;
    }
  }
  testing::internal::CaptureStdout();  // the facade's default console output
  CDetectEnergy detector(7999, 512);
  const std::string logged = testing::internal::GetCapturedStdout();
  EXPECT_EQ(detector.Status, -1);
  EXPECT_THAT(logged, testing::EndsWith(":Cannot process data with such low sample rate.\n"));
}

// Each slot's statistics: the ten energies of the ring (ring slot = frame
// mod 10) summed in one chain of double additions from slot 0, the mean
// that over 10, the squared deviations from it in one chain again, the
// deviation the root of that over 9; BandCV that deviation times sqrt(0.9)
// over the mean. Energies over seven decades, so that every chain rounds.
TEST(BandStatistics, MeanAndDeviationOfEachBandsRing) {
  Loaded loaded;
  uint32_t seed = 7;
  auto next = [&seed] {
    seed = seed * 1664525u + 1013904223u;
    return seed >> 8;
  };
  float ring[kBands][10] = {};
  for (int32_t t = 0; t < 40; ++t) {
    BandLevels energies;
    for (int band = 0; band < kBands; ++band) {
      energies[band] = std::ldexp(1.0f + static_cast<float>(next() % 8388608u) * 0x1p-23f,
                                  static_cast<int>(7 + next() % 23));
      ring[band][t % 10] = energies[band];
    }
    loaded.Feed(t, energies);
    if (t < 9) continue;
    for (int band = 0; band < kBands; ++band) {
      double sum = 0.0;
      for (float e : ring[band]) sum += e;
      const double mean = sum / 10;
      double squares = 0.0;
      for (float e : ring[band]) squares += (e - mean) * (e - mean);
      const float deviation = static_cast<float>(std::sqrt(squares / 9));
      const float expectedMean = static_cast<float>(mean);
      const int32_t slot = t - 9;
      EXPECT_EQ(loaded.detector.BandMean[band][slot], expectedMean)
          << "t " << t << " band " << band;
      EXPECT_EQ(loaded.detector.BandCV[band][slot],
                static_cast<float>(deviation * std::sqrt(0.9) / expectedMean))
          << "t " << t << " band " << band;
    }
  }
}

struct UnusableFrames : testing::Test, Loaded {};

TEST_F(UnusableFrames, BeforeTheFirstStatisticsGiveZeroStatistics) {
  // Slot 499 holds the statistics of an earlier run; it is not slot -1 of this one.
  for (int band = 0; band < 4; ++band) {
    detector.BandMean[band][499] = 7.0f;
    detector.BandCV[band][499] = 0.7f;
  }
  for (int32_t t = 0; t <= 9; ++t) Feed(t, {5.0f, 6.0f, 7.0f, 8.0f}, t != 3);
  for (int band = 0; band < 4; ++band) {
    EXPECT_EQ(detector.BandMean[band][0], 0.0f) << "band " << band;
    EXPECT_EQ(detector.BandCV[band][0], 0.0f) << "band " << band;
  }
}

TEST(Background, FirstMatchingRuleGivesTheNewBackground) {
  // Background (N, V) and the statistics of slots c - 1, c, c + 1 give the
  // new background, before speech (-1) or in it.
  struct Rule {
    const char* name;
    int32_t speechStart;
    float level, cv, meanPrev, meanCur, meanNext, cvPrev, cvCur, cvNext, newLevel, newCV;
  };
  const Rule rules[] = {
      // Below NoiseFloor 0.4: pinned to it, CV raised to 0.1.
      {"BelowFloorSteady", -1, 10, 0.2f, 1, 0.3f, 1, 0.5f, 0.05f, 0.5f, 0.4f, 0.1f},
      {"BelowFloorVarying", -1, 10, 0.2f, 1, 0.3f, 1, 0.5f, 0.5f, 0.5f, 0.4f, 0.2f},
      // Flat (CV < 0.1) and not rising, however loud: (50 + 10) / 2, CV 0.1.
      {"FlatNotRising", -1, 10, 0.2f, 60, 50, 40, 0.5f, 0.05f, 0.5f, 30, 0.1f},
      // Within 10 % of level (11) and CV (0.22): (10.5 + 10) / 2.
      {"NearBackground", -1, 10, 0.2f, 1, 10.5f, 100, 0.5f, 0.21f, 0.5f, 10.25f, 0.21f},
      // CV settling (0.9 > 0.5 > 0.3), level falling and below 11: CV of the next slot.
      {"Settling", -1, 10, 0.2f, 20, 10.8f, 30, 0.9f, 0.5f, 0.3f, 10.4f, 0.3f},
      // (0.2 + 1) x 10 = 12 > (1 + 1) x 5 = 10.
      {"QuieterOverall", -1, 10, 0.2f, 1, 5, 1, 0.5f, 1.0f, 0.5f, 7.5f, 1.0f},
      // Background pinned to the floor jumps to a steady level.
      {"PinnedJumps", -1, 0.4f, 0.1f, 1000, 1000, 1000, 0.3f, 0.3f, 0.3f, 1000, 0.3f},
      {"LoudRising", -1, 10, 0.2f, 500, 1000, 2000, 0.5f, 0.5f, 0.5f, 10, 0.2f},
      {"BelowFloorSteadyInSpeech", 800, 10, 0.2f, 1, 0.3f, 1, 0.5f, 0.05f, 0.5f, 0.4f, 0.1f},
      {"QuieterOverallInSpeech", 800, 10, 0.2f, 1, 5, 1, 0.5f, 1.0f, 0.5f, 7.5f, 1.0f},
      // (1.2 x 10 = 12) <= (1.15 x 10.9), but 10.9 < 11 and 0.15 < 0.2.
      {"NearAndSteadierInSpeech", 800, 10, 0.2f, 1, 10.9f, 1, 0.5f, 0.15f, 0.5f, 10.45f, 0.15f},
      // Flat and falling counts only before speech.
      {"FlatNotRisingInSpeech", 800, 10, 0.2f, 60, 50, 40, 0.5f, 0.05f, 0.5f, 10, 0.2f}};
  for (const Rule& r : rules) {
    Loaded loaded;
    CDetectEnergy& detector = loaded.detector;
    const float means[3] = {r.meanPrev, r.meanCur, r.meanNext};
    const float cvs[3] = {r.cvPrev, r.cvCur, r.cvNext};
    for (int band = 0; band < 4; ++band) {
      detector.NoiseLevel[band] = r.level;
      detector.NoiseCV[band] = r.cv;
      for (int k = 0; k < 3; ++k) {
        detector.BandMean[band][99 + k] = means[k];
        detector.BandCV[band][99 + k] = cvs[k];
      }
    }
    detector.UpdateBackground(129, r.speechStart, 0);  // slot c = 129 - 29
    for (int band = 0; band < 4; ++band) {
      EXPECT_FLOAT_EQ(detector.NoiseLevel[band], r.newLevel) << r.name << " band " << band;
      EXPECT_FLOAT_EQ(detector.NoiseCV[band], r.newCV) << r.name << " band " << band;
    }
  }
}

struct ConfirmStart : testing::Test, Loaded {
  void SetVariance(int32_t frame, const BandLevels& v) {
    for (int band = 0; band < 4; ++band) variance[band][frame % 500] = v[band];
  }
  float variance[4][500] = {};
};

TEST_F(ConfirmStart, FourStrongFramesInARowOfARecentCandidateConfirm) {
  // No band energy: the peak frame is t = 100, with variance 1 in every band.
  SetVariance(100, {1, 1, 1, 1});
  // Strong: band 0 or band 1 above the peak, or all of bands 0 .. 2 at 80 %.
  SetVariance(60, {2, 0, 0, 0});
  SetVariance(61, {0, 2, 0, 0});
  SetVariance(62, {0.8f, 0.8f, 0.8f, 0});
  SetVariance(63, {0.8f, 0.8f, 0.79f, 0});  // weak: band 2 below 80 %
  SetVariance(64, {2, 0, 0, 0});
  EXPECT_EQ(detector.ConfirmStart(100, 60, variance, 30), 100);  // runs of 3 and 1
  SetVariance(63, {1, 1, 1, 0});  // equal to the peak in band 2: strong
  EXPECT_EQ(detector.ConfirmStart(100, 60, variance, 30), 60);
  // A missing or old candidate gives the current frame, however strong.
  for (int32_t f = 0; f < 500; ++f) SetVariance(f, {5, 5, 5, 5});
  EXPECT_EQ(detector.ConfirmStart(200, -1, variance, 30), 200);
  EXPECT_EQ(detector.ConfirmStart(200, 149, variance, 30), 200);  // 51 frames old
  EXPECT_EQ(detector.ConfirmStart(200, 150, variance, 30), 150);  // 50 frames old
  EXPECT_EQ(detector.ConfirmStart(200, 200, variance, 30), 200);  // not before t
}

TEST(RefineStart, NeverBeforeFrameZeroAfterTheDecisionOrBeyondTheHistory) {
  struct Case {
    float low, high;  // energy of bands 0 and 1, of bands 2 and 3
    int32_t now, candidate, expected;
    bool loudOldSlots;  // slots of an earlier run where frames -1 .. -10 map
  };
  const Case cases[] = {{20, 2e6f, 40, 5, 0, true},
                        // Nothing above the bound from the candidate on: the
                        // forward walk stops at the decision frame itself.
                        {5, 5, 40, 35, 40, false},
                        {1000, 1000, 800, 700, 800 - 499, false}};
  for (const Case& c : cases) {
    Loaded loaded;
    CDetectEnergy& detector = loaded.detector;
    std::fill(detector.NoiseLevel, detector.NoiseLevel + kBands, 10.0f);  // bound (0 + 1) x 10
    std::fill(detector.BandThd, detector.BandThd + kBands, 100.0f);
    loaded.FeedConstant(0, c.now, {c.low, c.low, c.high, c.high});
    for (int32_t slot = 490; c.loudOldSlots && slot < 500; ++slot) {
      for (int band = 0; band < 4; ++band)
        detector.BandEnergy[band][slot] = detector.BandMean[band][slot] = 2e6f;
    }
    EXPECT_EQ(detector.RefineStart(c.now, c.candidate), c.expected) << c.candidate;
  }
}

// Frames 0 .. 99 of speech (1000 in every band), then frames 100 .. 199 of a
// tail, MaxSilence 20, no background, speech level 600 (loud above 100).
struct SpeechThenTail : Loaded {
  static constexpr int32_t kNow = 199;
  SpeechThenTail(const BandLevels& energies, bool usable) : Loaded(20) {
    std::fill(detector.SpeechLevel, detector.SpeechLevel + kBands, 600.0f);
    FeedConstant(0, 99, {1000, 1000, 1000, 1000});
    for (int32_t t = 100; t <= kNow; ++t) Feed(t, energies, usable);
  }
  int32_t End() { return detector.FindEnd(50, voice, kNow); }
  int16_t voice[CDetectEnergy::kHistoryFrames] = {};
};

TEST(EndAfterSpeech, DeadFramesEndSpeechAsQuietOnesDoRejectedFramesWithEnergyDoNot) {
  // Slot 99 (frames 99 .. 108) still holds a loud frame: the first quiet
  // slot is 100, and the end is extended over the ten slots before it. A
  // band without energy (mean 0, no deviation) is as quiet as the others.
  ASSERT_EQ(SpeechThenTail({10, 10, 10, 0}, true).End(), 110);
  SpeechThenTail dead({0, 0, 0, 0}, false);
  EXPECT_EQ(dead.End(), 110);
  CDetectEnergy& d = dead.detector;
  for (int32_t slot = 91; slot <= SpeechThenTail::kNow - 9; ++slot) {
    EXPECT_EQ(d.BandMean[0][slot], 1000.0f) << slot;
    EXPECT_EQ(d.SilentSlot[slot], slot >= 100) << slot;
  }
  // No band is active in a silent slot, whatever it carries.
  std::fill(d.BandThd, d.BandThd + kBands, 500.0f);
  EXPECT_EQ(d.CountBandsAbove(99), 4);
  EXPECT_EQ(d.CountBandsAbove(100), 0);
  EXPECT_EQ(d.GetActiveBands(SpeechThenTail::kNow), 0);

  // Dual-tone frames: not usable, but their spectrum holds real energy.
  SpeechThenTail tones({1000, 1000, 1000, 1000}, false);
  EXPECT_FALSE(tones.detector.SilentSlot[150]);
  EXPECT_EQ(tones.End(), -1);
}

}  // namespace
