// CheckDTMF on a key tone, a close pair and spectra built bin by bin (8000
// Hz, 15.625 Hz per bin: groups at most 9 bins wide, at least 16 bins
// apart). The key tone's two peaks are checked here; its verdicts over a
// stream in online_detection_test, those of voiced frames by the golden
// outputs.
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

std::vector<int16_t> TonePair(double lowHz, double highHz, double lowAmplitude,
                              double highAmplitude, int32_t samples) {
  const std::vector<int16_t> low = kvdtest::CosinePcm(lowHz, lowAmplitude, kRate, samples);
  const std::vector<int16_t> high = kvdtest::CosinePcm(highHz, highAmplitude, kRate, samples);
  std::vector<int16_t> pair(low.size());
  for (size_t i = 0; i < pair.size(); ++i) pair[i] = static_cast<int16_t>(low[i] + high[i]);
  return pair;
}

class DtmfCheck : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(detector_->errorStatus, 0);
    ASSERT_EQ(detector_->DetectState, before_speech);
  }

  // The verdict of every frame of pcm, frame 0 first.
  std::vector<bool> Verdicts(const std::vector<int16_t>& pcm) {
    std::vector<bool> verdicts;
    int32_t t = 0;
    for (const std::vector<float>& power : kvdtest::PowerFrames(pcm, kRate))
      verdicts.push_back(CheckDTMF(detector_->ToneState(), t++, power.data()));
    return verdicts;
  }

  std::unique_ptr<SpeechDetector> detector_ = kvdtest::StartedOnlineDetector();
};

TEST_F(DtmfCheck, AKeyToneIsRecognisedFromTheFourthFrame) {
  const std::vector<bool> verdicts = Verdicts(TonePair(697.0, 1209.0, 4000.0, 4000.0, 2000));
  ASSERT_EQ(verdicts.size(), 23u);
  EXPECT_FALSE(verdicts[0]);
  EXPECT_FALSE(verdicts[1]);
  EXPECT_FALSE(verdicts[2]);
  for (size_t t = 3; t < verdicts.size(); ++t) EXPECT_TRUE(verdicts[t]) << "frame " << t;
  // 697 Hz is bin 44.6, 1209 Hz bin 77.4; the stronger peak comes first.
  const int32_t* peaks = detector_->TonePeak[22 % 10];
  EXPECT_NEAR(std::min(peaks[0], peaks[1]), 45, 1);
  EXPECT_NEAR(std::max(peaks[0], peaks[1]), 77, 1);
}

TEST_F(DtmfCheck, PeaksTwoHundredHertzApartAreNoTone) {
  // 1000 and 1200 Hz: 12.8 bins apart, wider than a group, closer than a pair.
  for (bool verdict : Verdicts(TonePair(1000.0, 1200.0, 4000.0, 4000.0, 1000)))
    EXPECT_FALSE(verdict);
  EXPECT_FALSE(detector_->ToneFlag[5]);
  EXPECT_EQ(detector_->TonePeak[5][0], -1000);
}

// Spectra built bin by bin: a peak group of one bin each.
class DtmfSpectra : public DtmfCheck {
 protected:
  bool Check(int32_t t, std::initializer_list<std::pair<int32_t, float>> bins) {
    std::vector<float> spectrum(kBins, 0.0f);
    for (const auto& [bin, power] : bins) spectrum[bin] = power;
    return CheckDTMF(detector_->ToneState(), t, spectrum.data());
  }
};

TEST_F(DtmfSpectra, EnergyMustStayWithinOnePercentDownAndTwoUp) {
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

TEST_F(DtmfSpectra, SilentFramesAreNeverTones) {
  for (int32_t t = 0; t < 8; ++t) EXPECT_FALSE(Check(t, {})) << "frame " << t;
  // A tone after silence needs three tonal frames of its own.
  EXPECT_FALSE(Check(8, {{60, 100.0f}}));
  EXPECT_FALSE(Check(9, {{60, 100.0f}}));
  EXPECT_FALSE(Check(10, {{60, 100.0f}}));
  EXPECT_TRUE(Check(11, {{60, 100.0f}}));
}

}  // namespace
