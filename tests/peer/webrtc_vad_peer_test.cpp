// The WebRTC peer finds voice where there is voice and not in the noise
// before it (loosely: it is someone else's detector), and refuses what its
// module cannot take.
#include "peer/webrtc_vad_peer.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "peer/riff_wave.h"
#include "test_signals.h"

namespace {

constexpr double kPi = 3.14159265358979323846;

// Flags of every complete 10 ms frame, '1' voice.
std::string Flags(const std::vector<int16_t>& samples, int sampleRate, int likelihood) {
  std::string error;
  const auto peer = kvdpeer::WebRtcVadPeer::Create(sampleRate, likelihood, &error);
  EXPECT_TRUE(peer) << error;
  std::string flags;
  if (!peer) return flags;
  const size_t frame = static_cast<size_t>(peer->FrameSamples());
  for (size_t first = 0; first + frame <= samples.size(); first += frame) {
    const std::optional<bool> voice = peer->HasVoice(samples.data() + first);
    EXPECT_TRUE(voice.has_value());
    flags += voice.value_or(false) ? '1' : '0';
  }
  return flags;
}

// Share of voice flags in frames [firstFrame, lastFrame).
double VoiceShare(const std::string& flags, size_t firstFrame, size_t lastFrame) {
  const auto begin = flags.begin() + static_cast<long>(firstFrame);
  const auto end = flags.begin() + static_cast<long>(lastFrame);
  return static_cast<double>(std::count(begin, end, '1')) / static_cast<double>(lastFrame - firstFrame);
}

// noiseSeconds of faint white noise, then voicedSeconds of a 120 Hz pulse-like
// tone (harmonics up to 3.4 kHz, weighted by two formant-like peaks near 500
// and 1500 Hz) over the same noise.
std::vector<int16_t> NoiseThenVowel(int sampleRate, double noiseSeconds, double voicedSeconds) {
  const int noiseCount = static_cast<int>(noiseSeconds * sampleRate);
  const int count = noiseCount + static_cast<int>(voicedSeconds * sampleRate);
  std::vector<int16_t> pcm = kvdtest::WhiteNoisePcm(60.0, 7, count);
  for (int n = noiseCount; n < count; ++n) {
    const double t = static_cast<double>(n - noiseCount) / sampleRate;
    double value = 0.0;
    for (int h = 1; h * 120.0 < 3400.0; ++h) {
      const double hz = h * 120.0;
      const double formants = std::exp(-std::pow((hz - 500.0) / 200.0, 2)) +
                              0.5 * std::exp(-std::pow((hz - 1500.0) / 300.0, 2));
      value += (0.1 + formants) * std::cos(2.0 * kPi * hz * t);
    }
    pcm[static_cast<size_t>(n)] = static_cast<int16_t>(
        std::clamp(pcm[static_cast<size_t>(n)] + 2500.0 * value, -32768.0, 32767.0));
  }
  return pcm;
}

TEST(WebRtcVadPeer, FindsTheSpeechOfTheBundledSampleAndNotTheNoiseBeforeIt) {
  std::ifstream file(kvdtest::SamplePath("kvd_sample.wav"), std::ios::binary);
  const std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(file)),
                                   std::istreambuf_iterator<char>());
  kvdpeer::MonoPcm pcm;
  std::string error;
  ASSERT_TRUE(kvdpeer::ReadRiffWave(bytes, pcm, error)) << error;
  ASSERT_EQ(pcm.sampleRate, 8000);
  for (int likelihood = 0; likelihood <= 3; ++likelihood) {
    const std::string flags = Flags(pcm.samples, pcm.sampleRate, likelihood);
    ASSERT_EQ(flags.size(), pcm.samples.size() / 80);
    // Speech 1.55 - 6.62 s; the first 0.2 s let the detector settle.
    EXPECT_GT(VoiceShare(flags, 180, 640), 0.7) << "likelihood " << likelihood;
    EXPECT_LT(VoiceShare(flags, 20, 145), 0.2) << "likelihood " << likelihood;
  }
}

TEST(WebRtcVadPeer, FindsASyntheticVowelAtEveryRate) {
  for (const int rate : {8000, 16000, 32000, 48000}) {
    const std::string flags = Flags(NoiseThenVowel(rate, 1.0, 2.0), rate, 1);
    ASSERT_EQ(flags.size(), 300u) << rate;
    EXPECT_LT(VoiceShare(flags, 20, 100), 0.2) << rate;
    EXPECT_GT(VoiceShare(flags, 110, 300), 0.7) << rate;
  }
}

TEST(WebRtcVadPeer, RefusesRatesAndLikelihoodsTheModuleCannotTake) {
  for (const int rate : {0, 7999, 11025, 22050, 44100, 96000}) {
    std::string error;
    EXPECT_FALSE(kvdpeer::WebRtcVadPeer::Create(rate, 1, &error)) << rate;
    EXPECT_NE(error.find("unsupported sample rate"), std::string::npos) << error;
  }
  for (const int likelihood : {-1, 4}) {
    std::string error;
    EXPECT_FALSE(kvdpeer::WebRtcVadPeer::Create(8000, likelihood, &error));
    EXPECT_NE(error.find("likelihood"), std::string::npos) << error;
  }
}

}  // namespace
