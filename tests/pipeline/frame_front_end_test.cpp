// The front end of a line (8000 Hz: frames of 200 samples every 80, a
// 512-point FFT): GetOneFrame out of chunks of any length, and the offline
// passes' kept spectra against a new transform. The spectra themselves and
// which frames are dead are pinned by the golden outputs, the per-frame
// trace by the kvd trace tests.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <numeric>
#include <utility>
#include <vector>

#include "engine/kvd_api.h"
#include "online_fixtures.h"
#include "pipeline/frame_front_end.h"
#include "pipeline/offline_frame.h"
#include "test_signals.h"

namespace {

// Chunks of the ramp (sample n holds the value n) handed to the cutter one
// after the other. Once n samples have come, frame k (samples 80 k ..
// 80 k + 199) has been cut for every k with 80 k + 200 <= n, and the samples
// from the next frame's start on are kept: at most 199.
TEST(FrameCutter, FramesAndKeptSamplesFollowFromTheSamplesSoFar) {
  std::unique_ptr<SpeechDetector> detector = kvdtest::StartedOnlineDetector();
  ASSERT_EQ(detector->DetectState, before_speech);
  std::vector<int16_t> ramp(3000);
  std::iota(ramp.begin(), ramp.end(), int16_t{0});
  // One sample completing a frame of 199 kept, a long chunk, kept samples
  // longer than a shift (the overlapping moves must not smear them, whether
  // new samples are appended behind them or stay pending), nothing at all.
  int32_t fed = 0;
  int32_t cut = 0;
  for (int32_t count : {199, 0, 1, 800, 80, 150, 60, 150, 7, 33, 1000}) {
    SCOPED_TRACE(testing::Message() << count << " samples after " << fed);
    detector->newData = ramp.data() + fed;
    detector->newDataLength = count;
    fed += count;
    ASSERT_EQ(GetOneFrame(*detector), 0);
    for (; detector->frameReady; ++cut) {
      ASSERT_LE(cut * 80 + 200, fed);
      for (int32_t i = 0; i < detector->frameLength; ++i)
        ASSERT_EQ(detector->ffts[i], static_cast<float>(cut * 80 + i)) << "frame " << cut;
      ASSERT_EQ(GetOneFrame(*detector), 0);
    }
    EXPECT_GT(cut * 80 + 200, fed);
    ASSERT_EQ(detector->historyLength, fed - cut * 80);
    for (int32_t i = 0; i < detector->historyLength; ++i)
      ASSERT_EQ(detector->DataBuffer[i], cut * 80 + i);
  }
  EXPECT_EQ(cut, (2480 - 200) / 80 + 1);
  // A negative length breaks the line for good (KVD_DetectSpeech refuses one
  // before the cutter sees it).
  detector->newDataLength = -1;
  EXPECT_EQ(GetOneFrame(*detector), -90);
  EXPECT_EQ(detector->errorStatus, -90);
  detector->newDataLength = 1000;
  EXPECT_EQ(GetOneFrame(*detector), -90);
  EXPECT_FALSE(detector->frameReady);
}

constexpr int32_t kBins = 256;  // of the 512-point transform

// The offline passes after the energy pass take the spectra it kept instead
// of transforming the frames again: the power spectrum and band variance of
// every frame must be those a new transform gives, bit for bit, on speech,
// noise, silence (dead frames) and with an empty detection band.
TEST(FrameSpectrum, KeptSpectraEqualANewTransform) {
  constexpr int32_t kFrames = 40;
  std::vector<int16_t> signal = kvdtest::CosinePcm(440.0, 3000.0, 8000, 80 * kFrames + 120);
  for (size_t i = 0; i < signal.size(); ++i) {
    if (i >= 800 && i < 1600) signal[i] = 0;                                     // dead frames
    if (i >= 2000) signal[i] = static_cast<int16_t>((i * 7919u) % 601u) - 300;  // noise
  }
  for (const auto& band : {std::pair<int32_t, int32_t>{19, 217}, {100, 100}}) {
    std::unique_ptr<SpeechDetector> detector = kvdtest::StartedOnlineDetector();
    SpeechDetector& d = *detector;
    d.frameCount = kFrames;
    d.DetectSpecLowBorder_Hz = band.first;
    d.DetectSpecHighBorder_Hz = band.second;
    d.BackgroundEnergyOffline = 1.0f;
    d.BakgroundEnergyRelativeOffline = 0.1f;
    d.frameEnergy.assign(kFrames, 0.0f);
    d.bandVar.assign(kFrames, -1.0f);
    d.framePowers.assign(static_cast<size_t>(kFrames) * kBins, 0.0f);
    d.frameBandVar.assign(kFrames, 0.0f);
    ComputeFrameEnergies(d, signal.data());
    std::vector<float> keptPower(kBins);
    std::vector<float> keptVariance(kFrames);
    for (int32_t f = 0; f < kFrames; ++f) {
      AnalyseFrame(d, signal.data(), f);
      std::copy_n(d.currentPower, kBins, keptPower.begin());
      keptVariance[f] = d.bandVar[f];
      // Without kept spectra the frame is transformed again.
      std::vector<float> powers;
      std::vector<float> variances;
      powers.swap(d.framePowers);
      variances.swap(d.frameBandVar);
      AnalyseFrame(d, signal.data(), f);
      powers.swap(d.framePowers);
      variances.swap(d.frameBandVar);
      EXPECT_EQ(std::memcmp(keptPower.data(), d.currentPower, kBins * sizeof(float)), 0)
          << "frame " << f;
      EXPECT_EQ(std::memcmp(&keptVariance[f], &d.bandVar[f], sizeof(float)), 0)
          << "frame " << f << ": " << keptVariance[f] << " against " << d.bandVar[f];
    }
  }
}

}  // namespace
