// FastMode and the key-tone check in the streaming loop (8000 Hz, 80
// samples a frame).
#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

#include "engine/kvd_api.h"
#include "engine/speech_detector.h"
#include "online_fixtures.h"
#include "test_signals.h"

namespace {

constexpr int32_t kShift = 80;
constexpr int32_t kSpeechStart = 1550 * 8;    // samples
constexpr int32_t kSpeechEnd = 6620 * 8;      // samples
constexpr int32_t kStartTolerance = 150 * 8;  // samples

std::vector<int16_t> Sample() {
  return kvdtest::ReadPcmFile(kvdtest::SamplePath("kvd_sample.wav"));
}

std::vector<int16_t> KeyTone(int32_t samples) {
  const std::vector<int16_t> low = kvdtest::CosinePcm(697.0, 3000.0, 8000, samples);
  const std::vector<int16_t> high = kvdtest::CosinePcm(1209.0, 3000.0, 8000, samples);
  std::vector<int16_t> tone(low.size());
  for (size_t i = 0; i < tone.size(); ++i) tone[i] = static_cast<int16_t>(low[i] + high[i]);
  return tone;
}

std::vector<int16_t> Joined(std::initializer_list<std::vector<int16_t>> parts) {
  std::vector<int16_t> joined;
  for (const std::vector<int16_t>& part : parts)
    joined.insert(joined.end(), part.begin(), part.end());
  return joined;
}

// A started line of an engine configured with config, streamed frame by
// frame; the key-tone verdict of every analysed frame is kept.
class SteppedLine {
 public:
  explicit SteppedLine(const kvdtest::ConfigText& config) : engine_(config) {
    EXPECT_EQ(engine_.InitResult(), 0);
    line_ = engine_.StartLine();
    EXPECT_GE(line_, 0);
  }

  void Stream(const std::vector<int16_t>& pcm) {
    for (size_t offset = 0; offset + kShift <= pcm.size(); offset += kShift) {
      const int32_t before = position;
      ASSERT_EQ(
          KVD_DetectSpeech(line_, pcm.data() + offset, kShift, &state, &start, &end, &position), 0);
      if (position > before && Detector().finalEnd < 0) toneFrames.push_back(Detector().isDtmf);
      if (state == in_speech && startDecisionFrame < 0) startDecisionFrame = position / kShift - 1;
      if (state == speech_end && endDecisionFrame < 0) endDecisionFrame = position / kShift - 1;
    }
  }

  const SpeechDetector& Detector() const { return *GetLine(line_); }

  int32_t state = before_speech;
  int32_t start = -1;
  int32_t end = -1;
  int32_t position = 0;
  int32_t startDecisionFrame = -1;
  int32_t endDecisionFrame = -1;
  std::vector<bool> toneFrames;  // isDtmf of frames 0, 1, ... while detecting

 private:
  kvdtest::OnlineEngine engine_;
  int32_t line_ = -1;
};

TEST(OnlineModes, FastModeRunsTheVoiceDetectorOnlyWhileAStartIsPossible) {
  SteppedLine line(kvdtest::StreamTestConfig().Set("FastMode", "1"));
  line.Stream(Sample());
  EXPECT_EQ(line.state, speech_end);
  EXPECT_NEAR(line.start, kSpeechStart, kStartTolerance);
  EXPECT_GE(line.end, kSpeechEnd);
  ASSERT_GT(line.endDecisionFrame, line.startDecisionFrame + kHistoryFrames);
  // The last voice check was the start; the utterance (longer than the
  // 500-frame ring) reads no voicing left from 500 frames before.
  const SpeechDetector& detector = line.Detector();
  EXPECT_EQ(detector.lastVoiceCheckFrame, line.startDecisionFrame);
  for (int32_t f = line.startDecisionFrame + 1; f <= line.endDecisionFrame; ++f)
    EXPECT_EQ(detector.voiceFlagsRing[f % kHistoryFrames], 0) << "frame " << f;
}

TEST(OnlineModes, KeyTonesBeforeSpeechDoNotStartItWithTheCheckOn) {
  const std::vector<int16_t> pcm =
      Joined({kvdtest::WhiteNoisePcm(20.0, 3u, 4000), KeyTone(8000), Sample()});
  SteppedLine line(kvdtest::StreamTestConfig());
  line.Stream(pcm);
  EXPECT_EQ(line.state, speech_end);
  EXPECT_NEAR(line.start, 12000 + kSpeechStart, kStartTolerance);
  // Frames 50 .. 147 lie wholly in the tone; from the fourth on they are tones.
  for (size_t f = 53; f <= 147; ++f) EXPECT_TRUE(line.toneFrames[f]) << "frame " << f;
  EXPECT_EQ(std::count(line.toneFrames.begin(), line.toneFrames.end(), true), 147 - 53 + 1);

  SteppedLine unchecked(kvdtest::StreamTestConfig().Set("UseCheckDTMF", "0"));
  unchecked.Stream(pcm);
  EXPECT_EQ(std::count(unchecked.toneFrames.begin(), unchecked.toneFrames.end(), true), 0);
}

TEST(OnlineModes, FramesWithoutTheCheckLeaveNoToneInItsRing) {
  // A tone, then digital silence: dead frames are not checked, and their
  // slots must not keep the verdicts of ten frames before.
  SteppedLine line(kvdtest::StreamTestConfig());
  line.Stream(Joined({KeyTone(4000), std::vector<int16_t>(4000, 0)}));
  const SpeechDetector& detector = line.Detector();
  EXPECT_TRUE(std::none_of(std::begin(detector.ToneFlag), std::end(detector.ToneFlag),
                           [](bool flag) { return flag; }));
}

}  // namespace
