// IsDeadFrame, ComputeSpectrum, GetBandVariance and ComputeFrameEnergies
// against direct computations (8000 Hz: 200-sample frames, 512-point FFT).
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <complex>
#include <cstring>
#include <utility>
#include <vector>

#include "engine/kvd_api.h"
#include "online_fixtures.h"
#include "pipeline/frame_front_end.h"
#include "pipeline/offline_frame.h"
#include "platform/ipps.h"
#include "test_signals.h"
#include "voice_signals.h"

namespace {

constexpr double kPi = 3.14159265358979323846;
constexpr int32_t kFrame = 200;
constexpr int32_t kFft = 512;
constexpr int32_t kBins = 256;

class FrameSpectrum : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(detector_->errorStatus, 0);
    ASSERT_EQ(detector_->DetectState, before_speech);
    power_.assign(kBins, -1.0f);
    magnitude_.assign(kBins, -1.0f);
  }

  void LoadFrame(const std::vector<float>& samples) {
    std::copy(samples.begin(), samples.end(), detector_->ffts);
  }

  // |X(k)| of the Hamming-windowed frame zero padded to 512 points, forward
  // DFT divided by 512, in double precision; bin 0 carries DC and Nyquist.
  static std::vector<double> DirectMagnitudes(const std::vector<float>& samples) {
    const std::vector<float> window = kvdtest::HammingWindow(kFrame);
    std::vector<std::complex<double>> x(kBins + 1);
    for (int32_t k = 0; k <= kBins; ++k)
      for (int32_t n = 0; n < kFrame; ++n)
        x[k] += std::polar(static_cast<double>(samples[n]) * window[n] / kFft,
                           -2.0 * kPi * k * n / kFft);
    std::vector<double> magnitudes(kBins);
    magnitudes[0] = std::hypot(x[0].real(), x[kBins].real());
    for (int32_t k = 1; k < kBins; ++k) magnitudes[k] = std::abs(x[k]);
    return magnitudes;
  }

  std::unique_ptr<SpeechDetector> detector_ = kvdtest::StartedOnlineDetector();
  std::vector<float> power_;
  std::vector<float> magnitude_;
};

TEST_F(FrameSpectrum, OnlyAConstantFrameIsDead) {
  LoadFrame(std::vector<float>(kFrame, 0.0f));
  EXPECT_TRUE(IsDeadFrame(*detector_));
  LoadFrame(std::vector<float>(kFrame, 1200.0f));  // a DC offset is no signal either
  EXPECT_TRUE(IsDeadFrame(*detector_));
  // Quiet background within +-3 (deadRange is 10 at 0 dB gain) is kept.
  std::vector<float> quiet(kFrame);
  const std::vector<int16_t> noise = kvdtest::WhiteNoisePcm(3.0, 7u, kFrame);
  std::copy(noise.begin(), noise.end(), quiet.begin());
  LoadFrame(quiet);
  EXPECT_FALSE(IsDeadFrame(*detector_));
  LoadFrame(kvdtest::Cosine(1000.0, 3000.0, 8000, kFrame));
  EXPECT_FALSE(IsDeadFrame(*detector_));
}

TEST_F(FrameSpectrum, SpectrumMatchesADirectTransform) {
  // A tone off the bin grid, a ramp and a Nyquist term (alternating signs).
  std::vector<float> frame = kvdtest::Cosine(1234.5, 2000.0, 8000, kFrame, 0.3);
  for (int32_t n = 0; n < kFrame; ++n) frame[n] += 3.0f * n + (n % 2 == 0 ? 500.0f : -500.0f);
  const std::vector<double> expected = DirectMagnitudes(frame);
  LoadFrame(frame);
  ASSERT_EQ(ComputeSpectrum(*detector_, false, 777, power_.data(), magnitude_.data()), 0);

  const double peak = *std::max_element(expected.begin(), expected.end());
  for (int32_t k = 0; k < kBins; ++k) {
    EXPECT_NEAR(magnitude_[k], expected[k], 1e-4 * peak) << "bin " << k;
    EXPECT_NEAR(power_[k], expected[k] * expected[k], 2e-4 * peak * peak) << "bin " << k;
  }
  // Row 777 mod 500 keeps every second magnitude: 0 Hz up to just below 4000 Hz.
  const float* row = detector_->spectrumRing + 277 * kReducedBins;
  for (int32_t j = 0; j < kReducedBins; ++j) EXPECT_EQ(row[j], magnitude_[2 * j]);
}

TEST_F(FrameSpectrum, ADeadFrameHasZeroSpectraAndAZeroRow) {
  float* row = detector_->spectrumRing + 3 * kReducedBins;
  std::fill(row, row + kReducedBins, 5.0f);
  LoadFrame(std::vector<float>(kFrame, 0.0f));
  ComputeSpectrum(*detector_, true, 503, power_.data(), magnitude_.data());
  EXPECT_TRUE(std::all_of(power_.begin(), power_.end(), [](float v) { return v == 0.0f; }));
  EXPECT_TRUE(std::all_of(magnitude_.begin(), magnitude_.end(), [](float v) { return v == 0.0f; }));
  EXPECT_TRUE(std::all_of(row, row + kReducedBins, [](float v) { return v == 0.0f; }));
}

// Online, the band power comes from the energy detector's sum; the variance
// must be the one GetBandVariance makes from the spectra, bit for bit.
TEST(BandVariance, FromAPowerSumEqualsFromTheSpectra) {
  std::vector<float> magnitude(kBins);
  std::vector<float> power(kBins);
  for (int32_t k = 0; k < kBins; ++k) {
    magnitude[k] = static_cast<float>(1.0 + 1000.0 * std::fabs(std::sin(0.37 * k * k + 1.0)));
    power[k] = magnitude[k] * magnitude[k];
  }
  const int32_t ranges[][2] = {{0, kBins}, {19, 217}, {5, 6}, {100, 100}, {40, 30}};
  for (const auto& range : ranges) {
    float powerSum = 0.0f;
    if (range[1] > range[0]) {
      ASSERT_EQ(ippsSum_32f(power.data() + range[0], range[1] - range[0], &powerSum,
                            ippAlgHintNone),
                ippStsNoErr);
    }
    for (bool usable : {true, false}) {
      const float fromSpectra =
          GetBandVariance(power.data(), magnitude.data(), range[0], range[1], usable);
      const float fromSum =
          GetBandVarianceOfPowerSum(powerSum, magnitude.data(), range[0], range[1], usable);
      EXPECT_EQ(std::memcmp(&fromSpectra, &fromSum, sizeof(float)), 0)
          << range[0] << " .. " << range[1] << ": " << fromSpectra << " against " << fromSum;
    }
  }
}

// The offline passes after the energy pass take the spectra it kept instead
// of transforming the frames again: the power spectrum and band variance of
// every frame must be those a new transform gives, bit for bit, on speech,
// noise, silence (dead frames) and with an empty detection band.
TEST_F(FrameSpectrum, KeptSpectraEqualANewTransform) {
  constexpr int32_t kFrames = 40;
  std::vector<int16_t> signal = kvdtest::CosinePcm(440.0, 3000.0, 8000, 80 * kFrames + 120);
  for (size_t i = 0; i < signal.size(); ++i) {
    if (i >= 800 && i < 1600) signal[i] = 0;                                     // dead frames
    if (i >= 2000) signal[i] = static_cast<int16_t>((i * 7919u) % 601u) - 300;  // noise
  }
  for (const auto& band : {std::pair<int32_t, int32_t>{19, 217}, {100, 100}}) {
    SpeechDetector& d = *detector_;
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
