// CDetectVoice::operator= is a deep copy: both objects own their buffers
// and can be used and destroyed independently (run under ASan in CI).
#include <gtest/gtest.h>

#include <memory>
#include <vector>

#include "kvd/detect_voice.h"
#include "test_signals.h"
#include "voice_signals.h"
#include "voice_test_peer.h"

namespace {

constexpr int kRate = 8000;
constexpr int kWindow = CDetectVoice::kWindowFrames;

std::vector<std::vector<float>> SpeechFrames() {
  return kvdtest::PowerFrames(kvdtest::ReadPcmFile(kvdtest::SamplePath("kvd_sample.wav")), kRate);
}

// Feeds frames [from, to) and checks after every frame from the 30th that
// both detectors give the same count and pitches.
void ExpectSameVerdicts(CDetectVoice& a, CDetectVoice& b,
                        const std::vector<std::vector<float>>& frames, size_t from, size_t to) {
  for (size_t t = from; t < to; ++t) {
    a.UpdateBuf(const_cast<float*>(frames[t].data()), true);
    b.UpdateBuf(const_cast<float*>(frames[t].data()), true);
    if (t + 1 - from >= static_cast<size_t>(kWindow)) {
      ASSERT_EQ(a.DetectVoice(), b.DetectVoice()) << t;
      for (int slot = 0; slot < kWindow; ++slot) ASSERT_EQ(a.VoicePitch[slot], b.VoicePitch[slot]);
    }
  }
}

TEST(VoiceAssignment, CopyOwnsItsBuffersAndOutlivesTheSource) {
  const auto frames = SpeechFrames();
  ASSERT_GE(frames.size(), 400u);
  CDetectVoice reference(kRate, 512, 65, 480, 2000);
  CDetectVoice copy(kRate, 512, 65, 480, 2000);
  ASSERT_EQ(reference.ReInit(), 0);
  {
    auto source = std::make_unique<CDetectVoice>(kRate, 512, 65, 480, 2000);
    ASSERT_EQ(source->ReInit(), 0);
    // Mid-stream state: a window full of speech.
    ExpectSameVerdicts(*source, reference, frames, 150, 250);
    copy = *source;
    CDetectVoiceTestPeer sourcePeer(*source);
    CDetectVoiceTestPeer copyPeer(copy);
    EXPECT_NE(copyPeer.AllMatchPitchBuffer(), sourcePeer.AllMatchPitchBuffer());
    EXPECT_NE(copyPeer.MostDifTabZoom(), sourcePeer.MostDifTabZoom());
  }  // the source and its buffers are gone
  EXPECT_EQ(copy.Status, 0);
  // The copy goes on exactly as the detector that saw the same frames.
  ExpectSameVerdicts(copy, reference, frames, 250, 400);
}

TEST(VoiceAssignment, CopyTakesTheSourceGeometry) {
  const auto frames = SpeechFrames();
  CDetectVoice source(kRate, 512, 65, 480, 2000);
  CDetectVoice copy(16000, 1024, 100, 300, 4000);
  ASSERT_EQ(source.ReInit(), 0);
  copy = source;
  CDetectVoiceTestPeer peer(copy);
  EXPECT_EQ(peer.BinNum(), 256);
  EXPECT_EQ(peer.MinPitchBin(), 4);
  EXPECT_EQ(peer.HarmoNum(), 31);
  ExpectSameVerdicts(copy, source, frames, 150, 300);
}

TEST(VoiceAssignment, SelfAssignmentKeepsTheDetector) {
  const auto frames = SpeechFrames();
  CDetectVoice voice(kRate, 512, 65, 480, 2000);
  CDetectVoice reference(kRate, 512, 65, 480, 2000);
  ASSERT_EQ(voice.ReInit(), 0);
  ASSERT_EQ(reference.ReInit(), 0);
  ExpectSameVerdicts(voice, reference, frames, 150, 200);
  CDetectVoice& alias = voice;
  voice = alias;
  EXPECT_EQ(voice.Status, 0);
  ExpectSameVerdicts(voice, reference, frames, 200, 260);
}

TEST(VoiceAssignment, CopyOfARefusedDetectorIsRefused) {
  testing::internal::CaptureStdout();
  CDetectVoice refused(kRate, 512, 10, 480, 2000);
  testing::internal::GetCapturedStdout();
  CDetectVoice voice(kRate, 512, 65, 480, 2000);
  voice = refused;
  EXPECT_EQ(voice.Status, -1);
  EXPECT_FALSE(CDetectVoiceTestPeer(voice).HasBuffers());
  testing::internal::CaptureStdout();
  EXPECT_EQ(voice.ReInit(), -1);
  testing::internal::GetCapturedStdout();
}

}  // namespace
