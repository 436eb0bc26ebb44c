// CDetectVoice state across ReInit and assignment. operator= is a deep copy:
// both objects own their buffers and can be used and destroyed apart (run
// under ASan in CI). Find replays, in its next call, the seed searches of
// slots whose track reached the newest frame: a detector that kept such
// records across a reset or an assignment must still decide exactly as one
// fed only the same frames. The detectors are compared after every frame.
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

TEST(VoiceState, CopyOfARefusedDetectorIsRefused) {
  testing::internal::CaptureStdout();
  CDetectVoice refused(kRate, 512, 10, 480, 2000);
  CDetectVoice voice(kRate, 512, 65, 480, 2000);
  voice = refused;
  EXPECT_EQ(voice.Status, -1);
  EXPECT_FALSE(CDetectVoiceTestPeer(voice).HasBuffers());
  EXPECT_EQ(voice.ReInit(), -1);
  testing::internal::GetCapturedStdout();
}

}  // namespace
