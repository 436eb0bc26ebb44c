// CDetectVoice over streams of synthetic spectra: voiced counts and
// pitches, rejection of noise, the 6-frame minimum, and feeding backwards.
#include <gtest/gtest.h>

#include <cmath>
#include <utility>
#include <vector>

#include "kvd/detect_voice.h"
#include "test_signals.h"
#include "voice_signals.h"

namespace {

using kvdtest::FlatSpectrum;
using kvdtest::HarmonicShape;
using kvdtest::HarmonicSpectrum;
using kvdtest::NoiseSpectrum;
using Spectrum = std::vector<float>;

constexpr int kRate = 8000;
constexpr double kBinWidthHz = 15.625;
constexpr int kWindow = CDetectVoice::kWindowFrames;

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

// Steady vowels: at least 24 of 30 slots voiced, every pitch within one bin
// of the true pitch. 100 Hz (6.4 bins) passes too under this detector's
// reading of TestTrueHarmo (track-area sum not held at 32765).
TEST(SteadyVowel, MostSlotsVoicedAtTheTruePitch) {
  for (const auto& [f0Hz, harmonics] : {std::pair{150.0, 12}, {220.0, 8}, {100.0, 10}}) {
    CDetectVoice voice(kRate, 512, 65, 480, 2000);
    ASSERT_EQ(voice.ReInit(), 0);
    EXPECT_GE(FeedForwards(voice, std::vector<Spectrum>(40, Voiced(f0Hz, harmonics))), 24) << f0Hz;
    for (int slot = 0; slot < kWindow; ++slot) {
      if (voice.VoicePitch[slot] <= 0) continue;
      EXPECT_LE(std::fabs(voice.VoicePitch[slot] - f0Hz / kBinWidthHz), 1.0) << f0Hz << " slot " << slot;
    }
  }
}

TEST_F(VoiceTracking, NoiseIsNeverVoiced) {
  // Noise of amplitude 6000: a mean power per bin of about 1.0e-4 x 6000^2 =
  // 3600 (a^2 / 3 x sum(w^2) / 512^2), far above the gate (100): analysed.
  std::vector<Spectrum> noise;
  for (uint32_t seed = 1; seed <= 60; ++seed) noise.push_back(NoiseSpectrum(6000.0, seed, kRate));
  EXPECT_EQ(FeedForwards(voice_, noise), 0);
}

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

TEST_F(VoiceTracking, ThirtyFramesFedBackwardsGiveTheForwardVerdicts) {
  // A mixed window: silence, a 150 Hz vowel, noise, a 220 Hz vowel, and
  // real speech from the bundled sample.
  std::vector<Spectrum> frames;
  for (int i = 0; i < 4; ++i) frames.push_back(Silence());
  for (int i = 0; i < 9; ++i) frames.push_back(Voiced(150.0, 10));
  for (uint32_t i = 0; i < 3; ++i) frames.push_back(NoiseSpectrum(6000.0, 100 + i, kRate));
  for (int i = 0; i < 14; ++i) frames.push_back(Voiced(220.0, 8));
  ASSERT_EQ(frames.size(), static_cast<size_t>(kWindow));

  const auto speech = kvdtest::PowerFrames(
      kvdtest::ReadPcmFile(kvdtest::SamplePath("kvd_sample.wav")), kRate);
  ASSERT_GE(speech.size(), 450u);

  for (const std::vector<Spectrum>& window :
       {frames, std::vector<Spectrum>(speech.begin() + 420, speech.begin() + 450)}) {
    CDetectVoice forwards(kRate, 512, 65, 480, 2000);
    CDetectVoice backwards(kRate, 512, 65, 480, 2000);
    ASSERT_EQ(forwards.ReInit(), 0);
    ASSERT_EQ(backwards.ReInit(), 0);
    for (int t = 0; t < kWindow; ++t) {
      forwards.UpdateBuf(const_cast<float*>(window[t].data()), true);
      backwards.ReverseUpdateBuf(const_cast<float*>(window[kWindow - 1 - t].data()), true);
    }
    const int16_t countForwards = forwards.DetectVoice();
    EXPECT_EQ(backwards.DetectVoice(), countForwards);
    for (int slot = 0; slot < kWindow; ++slot) {
      EXPECT_EQ(backwards.VoicePitch[slot], forwards.VoicePitch[slot]) << slot;
    }
  }
}

}  // namespace
