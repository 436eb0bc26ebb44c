// Digital silence (exact zeros, as a line with silence suppression or a
// muted phone sends) after speech: the end search of the energy detector on
// synthetic band energies, and online detection of the bundled sample
// (8000 Hz; speech from 1.55 s to 6.62 s) with its lead-in or tail replaced.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <vector>

#include "classifiers/detect_energy.h"
#include "energy_signals.h"
#include "engine/kvd_api.h"
#include "online_fixtures.h"
#include "test_signals.h"

namespace {

// Frames 0 .. 99 of speech (band energy 1000 in every band), then frames
// 100 .. 199 of the given tail, with MaxSilence 20, no background and a
// speech level of 600: a slot is loud in a band above 600 / 6 = 100.
class EndAfterSpeech : public testing::Test {
 protected:
  static constexpr int32_t kNow = 199;

  EndAfterSpeech() {
    kvdtest::LoadDefaultSettings(detector, 20);
    std::fill(detector.SpeechLevel, detector.SpeechLevel + CDetectEnergy::kBandCount, 600.0f);
    feeder.FeedConstant(0, 99, {1000, 1000, 1000, 1000});
  }
  void FeedTail(const kvdtest::BandLevels& energies, bool usable) {
    for (int32_t t = 100; t <= kNow; ++t) feeder.Feed(t, energies, usable);
  }

  CDetectEnergy detector{8000, 512};
  kvdtest::EnergyFeeder feeder{detector};
  int16_t voice[CDetectEnergy::kHistoryFrames] = {};
};

TEST_F(EndAfterSpeech, DeadFramesEndSpeechWhereQuietFramesDo) {
  CDetectEnergy quiet{8000, 512};
  kvdtest::LoadDefaultSettings(quiet, 20);
  std::copy(detector.SpeechLevel, detector.SpeechLevel + CDetectEnergy::kBandCount,
            quiet.SpeechLevel);
  kvdtest::EnergyFeeder quietFeeder{quiet};
  quietFeeder.FeedConstant(0, 99, {1000, 1000, 1000, 1000});
  quietFeeder.FeedConstant(100, kNow, {10, 10, 10, 10});
  // Slot 99 (frames 99 .. 108) still holds one loud frame: the first quiet
  // slot is 100, and the end is extended over the ten slots before it.
  ASSERT_EQ(quiet.FindEnd(50, voice, kNow), 110);

  FeedTail({0, 0, 0, 0}, false);
  EXPECT_EQ(detector.FindEnd(50, voice, kNow), 110);
}

TEST_F(EndAfterSpeech, DeadFramesKeepTheCarriedStatistics) {
  FeedTail({0, 0, 0, 0}, false);
  for (int32_t slot = 91; slot <= kNow - 9; ++slot) {
    EXPECT_EQ(detector.BandMean[0][slot], 1000.0f) << slot;
    EXPECT_EQ(detector.SilentSlot[slot], slot >= 100) << slot;
  }
  // No band is active in a silent slot, whatever it carries.
  detector.BandThd[0] = detector.BandThd[1] = detector.BandThd[2] = detector.BandThd[3] = 500.0f;
  EXPECT_EQ(detector.CountBandsAbove(99), 4);
  EXPECT_EQ(detector.CountBandsAbove(100), 0);
  EXPECT_EQ(detector.GetActiveBands(kNow), 0);
}

TEST_F(EndAfterSpeech, RejectedFramesWithEnergyAreNotSilence) {
  // Dual-tone frames: not usable, but their spectrum holds real energy.
  FeedTail({1000, 1000, 1000, 1000}, false);
  EXPECT_FALSE(detector.SilentSlot[150]);
  EXPECT_EQ(detector.FindEnd(50, voice, kNow), -1);
}

constexpr int32_t kShift = 80;                // samples per 10 ms frame
constexpr int32_t kSpeechStart = 1550 * 8;    // samples
constexpr int32_t kSpeechEnd = 6620 * 8;      // samples
constexpr int32_t kStartTolerance = 150 * 8;  // samples
constexpr int32_t kMaxSilence = 80;           // frames, of StreamTestConfig
// Frames FindEnd may extend an end over the still loud slots before it.
constexpr int32_t kExtensionFrames = 20;
// Samples of the stream after the speech: a whole pause and 1 s more.
constexpr int32_t kTailSamples = 1800 * 8;

enum class Tail { kZeros, kLowNoise, kDualTone };

// The sample up to its speech end, then kTailSamples of `tail`; with
// zeroLeadIn the part before the speech is exact zeros as well.
std::vector<int16_t> SampleWithTail(Tail tail, bool zeroLeadIn = false) {
  std::vector<int16_t> pcm = kvdtest::ReadPcmFile(kvdtest::SamplePath("kvd_sample.wav"));
  pcm.resize(kSpeechEnd);
  if (zeroLeadIn) std::fill(pcm.begin(), pcm.begin() + kSpeechStart, int16_t{0});
  std::vector<int16_t> after(kTailSamples, 0);
  if (tail == Tail::kLowNoise) {
    // Well above the flat-frame range, so the frames are analysed.
    after = kvdtest::WhiteNoisePcm(30.0, 5u, kTailSamples);
  } else if (tail == Tail::kDualTone) {
    // Key '1': 697 Hz + 1209 Hz.
    const std::vector<int16_t> low = kvdtest::CosinePcm(697.0, 4000.0, 8000, kTailSamples);
    const std::vector<int16_t> high = kvdtest::CosinePcm(1209.0, 4000.0, 8000, kTailSamples);
    for (int32_t n = 0; n < kTailSamples; ++n)
      after[n] = static_cast<int16_t>(low[n] + high[n]);
  }
  pcm.insert(pcm.end(), after.begin(), after.end());
  return pcm;
}

kvdtest::StreamReport Stream(const std::vector<int16_t>& pcm,
                             const kvdtest::ConfigText& config = kvdtest::StreamTestConfig()) {
  kvdtest::OnlineEngine engine(config);
  EXPECT_EQ(engine.InitResult(), 0);
  const int32_t line = engine.StartLine();
  EXPECT_GE(line, 0);
  return kvdtest::StreamThrough(line, pcm, 160);
}

// An utterance that ended at the sample's speech end, decided after a pause
// of MaxSilence frames plus at most the extension and the statistics lag.
void ExpectEndAfterSpeech(const kvdtest::StreamReport& report) {
  const kvdtest::CallReport& last = report.Last();
  EXPECT_EQ(last.result, 0);
  EXPECT_EQ(last.state, speech_end);
  EXPECT_GE(last.end, kSpeechEnd - 10 * kShift);
  EXPECT_LE(last.end, kSpeechEnd + kExtensionFrames * kShift);
  EXPECT_GE(report.firstSeenAt[speech_end], kSpeechEnd + kMaxSilence * kShift);
  EXPECT_LE(report.firstSeenAt[speech_end],
            kSpeechEnd + (kMaxSilence + kExtensionFrames + 30) * kShift);
}

TEST(OnlineDigitalSilence, ZerosAfterSpeechEndTheUtterance) {
  // At Sensitivity 0.8 two voiced frames and the active bands resume speech
  // in a pause: the silence must not count as active.
  for (const char* sensitivity : {"0.5", "0.8"}) {
    SCOPED_TRACE(sensitivity);
    const kvdtest::StreamReport report = Stream(
        SampleWithTail(Tail::kZeros), kvdtest::StreamTestConfig().Set("Sensitivity", sensitivity));
    ExpectEndAfterSpeech(report);
    EXPECT_NEAR(report.Last().start, kSpeechStart, kStartTolerance);
  }
}

TEST(OnlineDigitalSilence, ZerosEndWhereLowNoiseEnds) {
  const kvdtest::StreamReport zeros = Stream(SampleWithTail(Tail::kZeros));
  const kvdtest::StreamReport noise = Stream(SampleWithTail(Tail::kLowNoise));
  ExpectEndAfterSpeech(noise);
  EXPECT_EQ(zeros.Last().start, noise.Last().start);
  EXPECT_LE(std::abs(zeros.Last().end - noise.Last().end), 10 * kShift);
  EXPECT_LE(std::abs(zeros.firstSeenAt[speech_end] - noise.firstSeenAt[speech_end]),
            10 * kShift);
}

TEST(OnlineDigitalSilence, ZerosAroundSpeechGiveItsStartAndEnd) {
  // No background is learnt from zeros: the start rests on the initial
  // thresholds, which at the shipped gain of -30 dB catch the sample's onset.
  const kvdtest::StreamReport report = Stream(SampleWithTail(Tail::kZeros, true),
                                              kvdtest::StreamTestConfig().Set("AverageGain", "-30"));
  EXPECT_EQ(report.firstSeenAt[no_speech], -1);
  EXPECT_GE(report.firstSeenAt[in_speech], kSpeechStart);
  EXPECT_NEAR(report.Last().start, kSpeechStart, kStartTolerance);
  ExpectEndAfterSpeech(report);
}

TEST(OnlineDigitalSilence, ADualToneAfterSpeechIsNotSilence) {
  // The key tone's frames are rejected but carry real energy: they never
  // count as the pause that digital silence is.
  const kvdtest::StreamReport report = Stream(SampleWithTail(Tail::kDualTone));
  EXPECT_EQ(report.firstSeenAt[speech_end], -1);
  EXPECT_EQ(report.Last().state, in_speech);
}

}  // namespace
