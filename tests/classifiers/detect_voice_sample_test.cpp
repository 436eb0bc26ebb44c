// CDetectVoice over the bundled sample (samples/README.md: speech from
// 1.55 s to 6.62 s between light noise), through a window-and-FFT front end
// made of the signal layer, fed as the engine feeds it.
#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

#include "kvd/detect_voice.h"
#include "test_signals.h"
#include "voice_signals.h"

namespace {

constexpr int kRate = 8000;
constexpr int kWindow = CDetectVoice::kWindowFrames;
constexpr double kFrameShiftSec = 0.010;
constexpr double kFrameSec = 0.025;
constexpr double kSpeechStartSec = 1.55;
constexpr double kSpeechEndSec = 6.62;
constexpr double kBinWidthHz = 15.625;

// Final pitch (bins) of every frame: its VoicePitch when it leaves the
// window, or at the end.
std::vector<int16_t> FramePitches(const std::vector<int16_t>& pcm) {
  const auto frames = kvdtest::PowerFrames(pcm, kRate);
  CDetectVoice voice(kRate, 512, 65, 480, 2000);
  EXPECT_EQ(voice.ReInit(), 0);
  std::vector<int16_t> pitch(frames.size(), -1);
  for (size_t t = 0; t < frames.size(); ++t) {
    if (t >= static_cast<size_t>(kWindow)) pitch[t - kWindow] = voice.VoicePitch[0];
    voice.UpdateBuf(const_cast<float*>(frames[t].data()), true);
    if (t + 1 >= static_cast<size_t>(kWindow)) voice.DetectVoice();
  }
  for (int i = 0; i < kWindow; ++i) pitch[frames.size() - kWindow + i] = voice.VoicePitch[i];
  return pitch;
}

TEST(VoiceOnSample, VoicedFramesLieInsideTheSpeech) {
  const std::vector<int16_t> pcm = kvdtest::ReadPcmFile(kvdtest::SamplePath("kvd_sample.wav"));
  ASSERT_EQ(pcm.size(), 76091u);
  const std::vector<int16_t> pitch = FramePitches(pcm);
  int voiced = 0;
  int speechFrames = 0;
  std::vector<int16_t> voicedPitches;
  for (size_t t = 0; t < pitch.size(); ++t) {
    const double startSec = t * kFrameShiftSec;
    const double endSec = startSec + kFrameSec;
    const bool inSpeech = endSec > kSpeechStartSec && startSec < kSpeechEndSec;
    if (inSpeech) ++speechFrames;
    if (pitch[t] > 0) {
      ++voiced;
      voicedPitches.push_back(pitch[t]);
      EXPECT_TRUE(inSpeech) << "voiced frame " << t << " at " << startSec << " s";
    }
  }
  // Voiced speech (vowels, nasals) is a good part of a sentence; a quarter
  // of the speech frames is a floor well below what a sentence holds.
  EXPECT_GE(voiced, speechFrames / 4);
  // espeak-ng's en-us voice at pitch 45 speaks around 100 Hz: the median
  // lies within the range of a male voice.
  std::nth_element(voicedPitches.begin(), voicedPitches.begin() + voicedPitches.size() / 2,
                   voicedPitches.end());
  const double medianHz = voicedPitches[voicedPitches.size() / 2] * kBinWidthHz;
  EXPECT_GE(medianHz, 80.0);
  EXPECT_LE(medianHz, 160.0);
}

}  // namespace
