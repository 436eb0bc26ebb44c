// CheckDTMF on a key tone and on spectra built bin by bin (8000 Hz, 15.625
// Hz per bin: groups at most 9 bins wide, at least 16 bins apart). The key
// tone's two peaks are checked here; its verdicts over a stream in
// online_detection_test, those of voiced frames by the golden outputs.
#include "classifiers/dtmf_check.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

#include "engine/kvd_api.h"
#include "online_fixtures.h"
#include "test_signals.h"
#include "voice_signals.h"

namespace {

constexpr int32_t kRate = 8000;
constexpr int32_t kBins = 256;

class DtmfCheck : public ::testing::Test {
 protected:
  // One group of a single bin per (bin, power) pair.
  bool Check(int32_t t, std::initializer_list<std::pair<int32_t, float>> bins) {
    std::vector<float> spectrum(kBins, 0.0f);
    for (const auto& [bin, power] : bins) spectrum[bin] = power;
    return CheckDTMF(detector_->ToneState(), t, spectrum.data());
  }
  std::unique_ptr<SpeechDetector> detector_ = kvdtest::StartedOnlineDetector();
};

TEST_F(DtmfCheck, AKeyToneIsRecognisedFromTheFourthFrame) {
  // Key 1: 697 and 1209 Hz, 250 ms.
  std::vector<int16_t> pcm = kvdtest::CosinePcm(697.0, 4000.0, kRate, 2000);
  const std::vector<int16_t> high = kvdtest::CosinePcm(1209.0, 4000.0, kRate, 2000);
  for (size_t i = 0; i < pcm.size(); ++i) pcm[i] = static_cast<int16_t>(pcm[i] + high[i]);
  const std::vector<std::vector<float>> frames = kvdtest::PowerFrames(pcm, kRate);
  ASSERT_EQ(frames.size(), 23u);
  for (int32_t t = 0; t < 23; ++t)
    EXPECT_EQ(CheckDTMF(detector_->ToneState(), t, frames[t].data()), t >= 3) << "frame " << t;
  // 697 Hz is bin 44.6, 1209 Hz bin 77.4; the stronger peak comes first.
  const int32_t* peaks = detector_->TonePeak[22 % 10];
  EXPECT_NEAR(std::min(peaks[0], peaks[1]), 45, 1);
  EXPECT_NEAR(std::max(peaks[0], peaks[1]), 77, 1);
}

TEST_F(DtmfCheck, EnergyMustStayWithinOnePercentDownAndTwoUp) {
  for (int32_t t = 0; t < 3; ++t) EXPECT_FALSE(Check(t, {{60, 100.0f}}));
  EXPECT_TRUE(Check(3, {{60, 101.0f}}));  // 1.01, 1.01, 1.01
  for (int32_t t = 4; t < 7; ++t) Check(t, {{60, 100.0f}});
  EXPECT_FALSE(Check(7, {{60, 99.0f}}));  // exactly 0.99
  for (int32_t t = 8; t < 11; ++t) Check(t, {{60, 100.0f}});
  EXPECT_FALSE(Check(11, {{60, 102.0f}}));  // exactly 1.02
  for (int32_t t = 12; t < 15; ++t) Check(t, {{60, 100.0f}});
  EXPECT_FALSE(Check(15, {{61, 100.0f}}));  // one bin off each of three frames
  EXPECT_TRUE(Check(16, {{60, 100.0f}}));   // one bin off one frame
}

TEST_F(DtmfCheck, PicksHoldingJustTheShareMakeATone) {
  // Nine bins of 1 (one group, the most picks that may hold the share) and
  // power below 400 Hz that is counted but never picked: with 2.25 the nine
  // hold exactly 0.8 of 11.25, with 2.26 they fall short and no tenth pick
  // is left. The frame is analysed in full only when its largest value
  // could reach the share; these sit on that edge.
  auto check = [&](int32_t t, float below) {
    std::vector<float> spectrum(kBins, 0.0f);
    std::fill(spectrum.begin() + 60, spectrum.begin() + 69, 1.0f);
    spectrum[10] = below;
    return CheckDTMF(detector_->ToneState(), t, spectrum.data());
  };
  for (int32_t t = 0; t < 4; ++t) EXPECT_EQ(check(t, 2.25f), t == 3) << t;
  for (int32_t t = 4; t < 8; ++t) EXPECT_FALSE(check(t, 2.26f)) << t;
}

TEST_F(DtmfCheck, SilentFramesAreNeverTones) {
  for (int32_t t = 0; t < 8; ++t) EXPECT_FALSE(Check(t, {})) << "frame " << t;
  // A tone after silence needs three tonal frames of its own.
  for (int32_t t = 8; t < 12; ++t) EXPECT_EQ(Check(t, {{60, 100.0f}}), t == 11) << t;
}

}  // namespace
