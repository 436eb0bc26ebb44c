// Find replays, in its next call, the seed searches of slots whose track
// reached the newest frame. A detector that kept such records across a
// reset or an assignment must decide exactly as a fresh detector fed the
// same frames: these tests compare the two after every frame.
#include <gtest/gtest.h>

#include <vector>

#include "kvd/detect_voice.h"
#include "test_signals.h"
#include "voice_signals.h"
#include "voice_test_peer.h"

namespace {

constexpr int kRate = 8000;
constexpr int kWindow = CDetectVoice::kWindowFrames;
using Frames = std::vector<std::vector<float>>;

Frames SpeechFrames() {
  return kvdtest::PowerFrames(kvdtest::ReadPcmFile(kvdtest::SamplePath("kvd_sample.wav")), kRate);
}

void Feed(CDetectVoice& voice, const Frames& frames, size_t from, size_t to) {
  for (size_t t = from; t < to; ++t) {
    voice.UpdateBuf(const_cast<float*>(frames[t].data()), true);
    voice.DetectVoice();
  }
}

// Feeds frames [from, to) to both and compares count and pitches after
// every frame, DetectVoice called from the first frame on.
void ExpectSameVerdicts(CDetectVoice& voice, CDetectVoice& fresh, const Frames& frames,
                        size_t from, size_t to) {
  for (size_t t = from; t < to; ++t) {
    voice.UpdateBuf(const_cast<float*>(frames[t].data()), true);
    fresh.UpdateBuf(const_cast<float*>(frames[t].data()), true);
    ASSERT_EQ(voice.DetectVoice(), fresh.DetectVoice()) << t;
    for (int slot = 0; slot < kWindow; ++slot) {
      ASSERT_EQ(voice.VoicePitch[slot], fresh.VoicePitch[slot]) << t << " " << slot;
    }
  }
}

bool HasTrackAtTheNewestFrame(CDetectVoice& voice) {
  CDetectVoiceTestPeer peer(voice);
  for (int slot = 0; slot < kWindow; ++slot) {
    if (peer.FrameState(slot) == 2) return true;
  }
  return false;
}

// Feeds frames from `from` on until, `atLeast` frames in, a track reaches
// the newest slot (the detector then holds seed records); returns the next
// frame, or frames.size() when that never happens.
size_t FeedToATrackAtTheNewestFrame(CDetectVoice& voice, const Frames& frames, size_t from,
                                    size_t atLeast) {
  for (size_t t = from; t < frames.size(); ++t) {
    Feed(voice, frames, t, t + 1);
    if (t + 1 - from >= atLeast && HasTrackAtTheNewestFrame(voice)) return t + 1;
  }
  return frames.size();
}

TEST(VoiceReplay, ReInitInsideSpeechGivesTheVerdictsOfAFreshDetector) {
  const Frames frames = SpeechFrames();
  ASSERT_GE(frames.size(), 400u);
  for (size_t atLeast : {40u, 70u, 100u}) {
    CDetectVoice voice(kRate, 512, 65, 480, 2000);
    ASSERT_EQ(voice.ReInit(), 0);
    ASSERT_LT(FeedToATrackAtTheNewestFrame(voice, frames, 150, atLeast), 350u) << atLeast;
    ASSERT_EQ(voice.ReInit(), 0);
    CDetectVoice fresh(kRate, 512, 65, 480, 2000);
    ASSERT_EQ(fresh.ReInit(), 0);
    // The same frames again: the records of the first pass must not be
    // taken for the second.
    ExpectSameVerdicts(voice, fresh, frames, 150, 350);
  }
}

TEST(VoiceReplay, AssignedDetectorForgetsItsOwnRecords) {
  const Frames frames = SpeechFrames();
  ASSERT_GE(frames.size(), 450u);
  CDetectVoice source(kRate, 512, 65, 480, 2000);
  CDetectVoice target(kRate, 512, 65, 480, 2000);
  CDetectVoice reference(kRate, 512, 65, 480, 2000);
  ASSERT_EQ(source.ReInit(), 0);
  ASSERT_EQ(target.ReInit(), 0);
  ASSERT_EQ(reference.ReInit(), 0);
  // As many frames each, different ones: both detectors number their
  // frames alike and both hold records.
  const size_t next = FeedToATrackAtTheNewestFrame(source, frames, 150, 40);
  ASSERT_LT(next, 300u);
  Feed(reference, frames, 150, next);
  const size_t count = next - 150;
  Feed(target, frames, 300, 300 + count);
  ASSERT_TRUE(HasTrackAtTheNewestFrame(target));
  target = source;
  ExpectSameVerdicts(target, reference, frames, next, next + 150);
}

TEST(VoiceReplay, FramesFedBackwardsAfterForwardsWithoutReInit) {
  // The window turns around without a reset: the frames keep their
  // identities but sit in other slots. A detector that saw only the
  // backward part decides alike once its window has been replaced.
  const Frames frames = SpeechFrames();
  ASSERT_GE(frames.size(), 400u);
  CDetectVoice voice(kRate, 512, 65, 480, 2000);
  CDetectVoice fresh(kRate, 512, 65, 480, 2000);
  ASSERT_EQ(voice.ReInit(), 0);
  ASSERT_EQ(fresh.ReInit(), 0);
  Feed(voice, frames, 150, 250);
  for (size_t t = 249; t >= 150; --t) {
    voice.ReverseUpdateBuf(const_cast<float*>(frames[t].data()), true);
    fresh.ReverseUpdateBuf(const_cast<float*>(frames[t].data()), true);
    voice.DetectVoice();
    fresh.DetectVoice();
    if (t <= 249 - 2 * kWindow) {
      for (int slot = 0; slot < kWindow; ++slot) {
        ASSERT_EQ(voice.VoicePitch[slot], fresh.VoicePitch[slot]) << t << " " << slot;
      }
    }
  }
}

}  // namespace
