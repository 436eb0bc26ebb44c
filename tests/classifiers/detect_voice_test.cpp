// CDetectVoice: construction (geometry, refused arguments, a detector that
// was not built); peak picking (the energy gate, the row of a frame without
// peaks) and pitch matching at the geometries where its harmonic count once
// ran past its table (the ASan build checks the bound); the acceptance tests
// of the harmonic search where they once went wrong; the shortest voiced
// track over synthetic spectra (steady vowels and noise over whole
// recordings are pinned by the golden outputs); and its state across ReInit
// and assignment.
#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <string>
#include <vector>

#include "kvd/detect_voice.h"
#include "test_signals.h"
#include "voice_signals.h"
#include "voice_test_peer.h"

namespace {

constexpr int kRate = 8000;
constexpr int kWindow = CDetectVoice::kWindowFrames;
constexpr int kNewest = kWindow - 1;  // the slot of the newest frame
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

TEST(VoiceGeometry, RefusedDetectorHasNoBuffersIsInertAndCopiesAsRefused) {
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
  // A built detector assigned a refused one is refused as well.
  CDetectVoice copy(8000, 512, kLowHz, kHighHz, kTopHz);
  copy = voice;
  EXPECT_EQ(copy.Status, -1);
  EXPECT_FALSE(CDetectVoiceTestPeer(copy).HasBuffers());
  testing::internal::CaptureStdout();
  EXPECT_EQ(copy.ReInit(), -1);
  testing::internal::GetCapturedStdout();
}

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

using kvdtest::FlatSpectrum;
using kvdtest::HarmonicShape;
using kvdtest::HarmonicSpectrum;
using Spectrum = std::vector<float>;

// A frame below the energy gate (mean power 1, gate 100).
Spectrum Silence() { return FlatSpectrum(1.0, kRate); }

Spectrum Voiced(double f0Hz, int harmonics) {
  HarmonicShape shape;
  shape.harmonicCount = harmonics;
  return HarmonicSpectrum(f0Hz, shape, kRate);
}

// Feeds every frame with UpdateBuf, calling DetectVoice once 30 frames have
// entered and after every frame from then on, as the engine does. Returns
// the last count.
int FeedForwards(CDetectVoice& voice, const std::vector<Spectrum>& frames) {
  int voiced = 0;
  for (size_t t = 0; t < frames.size(); ++t) {
    voice.UpdateBuf(const_cast<float*>(frames[t].data()), true);
    if (t + 1 >= static_cast<size_t>(kWindow)) voiced = voice.DetectVoice();
  }
  return voiced;
}

class VoiceTracking : public testing::Test {
 protected:
  VoiceTracking() : voice_(kRate, 512, 65, 480, 2000) { EXPECT_EQ(voice_.ReInit(), 0); }
  CDetectVoice voice_;
};

// 12 silent frames, `voicedFrames` of a 150 Hz vowel, silence to 30 frames,
// then one DetectVoice.
int VoicedStretch(CDetectVoice& voice, int voicedFrames) {
  std::vector<Spectrum> frames(12, Silence());
  for (int i = 0; i < voicedFrames; ++i) frames.push_back(Voiced(150.0, 10));
  while (frames.size() < static_cast<size_t>(kWindow)) frames.push_back(Silence());
  return FeedForwards(voice, frames);
}

TEST_F(VoiceTracking, SixVoicedFramesAreTheShortestTrack) {
  EXPECT_EQ(VoicedStretch(voice_, 5), 0);
  for (int16_t p : voice_.VoicePitch) EXPECT_EQ(p, -1);
  ASSERT_EQ(voice_.ReInit(), 0);
  EXPECT_EQ(VoicedStretch(voice_, 6), 6);
  for (int slot = 0; slot < kWindow; ++slot) {
    const bool inside = slot >= 12 && slot < 18;
    if (inside) {
      EXPECT_EQ(voice_.VoicePitch[slot], 10) << slot;  // 9.6 bins, harmonic 1 at bin 10
    } else {
      EXPECT_EQ(voice_.VoicePitch[slot], -1) << slot;
    }
  }
}

using Frames = std::vector<std::vector<float>>;

const Frames& SpeechFrames() {
  static const Frames frames =
      kvdtest::PowerFrames(kvdtest::ReadPcmFile(kvdtest::SamplePath("kvd_sample.wav")), kRate);
  return frames;
}

std::unique_ptr<CDetectVoice> Voice() {
  auto voice = std::make_unique<CDetectVoice>(kRate, 512, 65, 480, 2000);
  EXPECT_EQ(voice->ReInit(), 0);
  return voice;
}

void Feed(CDetectVoice& voice, size_t from, size_t to) {
  for (size_t t = from; t < to; ++t) {
    voice.UpdateBuf(const_cast<float*>(SpeechFrames()[t].data()), true);
    voice.DetectVoice();
  }
}

// Feeds frames [from, to) to both, comparing count and pitches after every frame.
void ExpectSameVerdicts(CDetectVoice& a, CDetectVoice& b, size_t from, size_t to) {
  for (size_t t = from; t < to; ++t) {
    a.UpdateBuf(const_cast<float*>(SpeechFrames()[t].data()), true);
    b.UpdateBuf(const_cast<float*>(SpeechFrames()[t].data()), true);
    ASSERT_EQ(a.DetectVoice(), b.DetectVoice()) << t;
    for (int slot = 0; slot < kWindow; ++slot) ASSERT_EQ(a.VoicePitch[slot], b.VoicePitch[slot]) << t << " " << slot;
  }
}

bool HasTrackAtTheNewestFrame(CDetectVoice& voice) {
  CDetectVoiceTestPeer peer(voice);
  for (int slot = 0; slot < kWindow; ++slot)
    if (peer.FrameState(slot) == 2) return true;
  return false;
}

// Feeds frames from `from` on until, `atLeast` frames in, a track reaches
// the newest slot (the detector then holds seed records); the next frame.
size_t FeedToATrackAtTheNewestFrame(CDetectVoice& voice, size_t from, size_t atLeast) {
  for (size_t t = from; t < SpeechFrames().size(); ++t) {
    Feed(voice, t, t + 1);
    if (t + 1 - from >= atLeast && HasTrackAtTheNewestFrame(voice)) return t + 1;
  }
  return SpeechFrames().size();
}

TEST(VoiceState, ReInitInsideSpeechGivesTheVerdictsOfAFreshDetector) {
  ASSERT_GE(SpeechFrames().size(), 450u);
  for (size_t atLeast : {40u, 70u, 100u}) {
    auto voice = Voice();
    ASSERT_LT(FeedToATrackAtTheNewestFrame(*voice, 150, atLeast), 350u) << atLeast;
    ASSERT_EQ(voice->ReInit(), 0);
    // The same frames again: the records of the first pass must not be
    // taken for the second.
    ExpectSameVerdicts(*voice, *Voice(), 150, 350);
  }
}

TEST(VoiceState, FramesFedBackwardsAfterForwardsWithoutReInit) {
  // The window turns around without a reset: the frames keep their
  // identities but sit in other slots. A detector that saw only the
  // backward part decides alike once its window has been replaced.
  auto voice = Voice();
  auto fresh = Voice();
  Feed(*voice, 150, 250);
  for (size_t t = 249; t >= 150; --t) {
    voice->ReverseUpdateBuf(const_cast<float*>(SpeechFrames()[t].data()), true);
    fresh->ReverseUpdateBuf(const_cast<float*>(SpeechFrames()[t].data()), true);
    voice->DetectVoice();
    fresh->DetectVoice();
    if (t > 249 - 2 * kWindow) continue;
    for (int slot = 0; slot < kWindow; ++slot) ASSERT_EQ(voice->VoicePitch[slot], fresh->VoicePitch[slot]) << t;
  }
}

TEST(VoiceState, CopyOwnsItsBuffersAndOutlivesTheSource) {
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
  ExpectSameVerdicts(copy, *reference, 250, 400);
}

TEST(VoiceState, AssignedDetectorForgetsItsOwnRecords) {
  // As many frames each, different ones: both detectors number their
  // frames alike and both hold records.
  auto source = Voice();
  auto target = Voice();
  auto reference = Voice();
  const size_t next = FeedToATrackAtTheNewestFrame(*source, 150, 40);
  ASSERT_LT(next, 300u);
  Feed(*reference, 150, next);
  Feed(*target, 300, 300 + next - 150);
  ASSERT_TRUE(HasTrackAtTheNewestFrame(*target));
  *target = *source;
  ExpectSameVerdicts(*target, *reference, next, next + 150);
}

TEST(VoiceState, SelfAssignmentKeepsTheDetector) {
  auto voice = Voice();
  auto reference = Voice();
  ExpectSameVerdicts(*voice, *reference, 150, 200);
  CDetectVoice& alias = *voice;
  *voice = alias;
  EXPECT_EQ(voice->Status, 0);
  ExpectSameVerdicts(*voice, *reference, 200, 260);
}

}  // namespace
