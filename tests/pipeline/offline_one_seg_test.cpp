// Single-segment offline detection of whole recordings made of known pieces.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <thread>
#include <vector>

#include "engine/kvd_api.h"
#include "engine/speech_detector.h"
#include "offline_engine.h"
#include "offline_signals.h"
#include "pipeline/offline_detection.h"
#include "test_signals.h"

namespace {

using kvdtest::OfflineEngine;
using kvdtest::OfflineMode;
using kvdtest::OfflineResult;

constexpr int kRateHz = 8000;
// Detected edges lie within this much of the true ones: the margin of 30 ms
// on each side, the variance step of at most as much, and a frame or two of
// voicing and slope.
constexpr int kToleranceMs = 100;
// White noise of this amplitude (about -50 dBFS) lies under every recording.
constexpr double kNoiseAmplitude = 100.0;

int ToMs(int32_t samples) { return kvdtest::SamplesToMs(samples, kRateHz); }


TEST(OfflineOneSeg, UtteranceInNoiseIsFoundWithinTolerance) {
  OfflineEngine engine(OfflineMode::kOneSegment);
  ASSERT_EQ(engine.initResult(), KVD_OK);
  const auto pcm = kvdtest::BuildRecording(kRateHz, 4000, kNoiseAmplitude, 7, {{1200, 1500, {}}});
  const OfflineResult r = engine.Run(pcm);
  EXPECT_EQ(r.result, KVD_OK);
  EXPECT_EQ(r.state, speech_end);
  EXPECT_EQ(r.processed, static_cast<int32_t>(pcm.size()));
  EXPECT_NEAR(ToMs(r.start), 1200, kToleranceMs);
  EXPECT_NEAR(ToMs(r.end), 2700, kToleranceMs);
  kvdtest::ExpectFrameArraysReleased(engine);
}

TEST(OfflineOneSeg, BundledSampleStartsAtItsFirstSpeech) {
  OfflineEngine engine(OfflineMode::kOneSegment);
  ASSERT_EQ(engine.initResult(), KVD_OK);
  const auto pcm = kvdtest::ReadPcmFile(kvdtest::SamplePath("kvd_sample.pcm"));
  ASSERT_FALSE(pcm.empty());
  const OfflineResult r = engine.Run(pcm);
  EXPECT_EQ(r.state, speech_end);
  EXPECT_NEAR(ToMs(r.start), 1550, kToleranceMs);  // samples/README.md
  EXPECT_NEAR(ToMs(r.end), 6620, kToleranceMs);
}

TEST(OfflineOneSeg, SpeechAtBothEndsSnapsToTheRecordingEdges) {
  // Speech from the first sample to the last: the runs lie within 3 frames
  // of either end.
  OfflineEngine engine(OfflineMode::kOneSegment);
  const auto pcm = kvdtest::BuildRecording(kRateHz, 3000, kNoiseAmplitude, 3,
                                           {{0, 1000, {}}, {2000, 1000, {}}});
  const OfflineResult r = engine.Run(pcm);
  EXPECT_EQ(r.state, speech_end);
  EXPECT_EQ(r.start, 0);
  EXPECT_EQ(r.end, static_cast<int32_t>(pcm.size()) - 1);
}

struct ShortCase {
  int sampleCount;
  const char* name;
};

class OfflineOneSegShort : public ::testing::TestWithParam<ShortCase> {};

TEST_P(OfflineOneSegShort, DefaultSpeechDecides) {
  const auto pcm = kvdtest::WhiteNoisePcm(kNoiseAmplitude, 5, GetParam().sampleCount);
  const auto n = static_cast<int32_t>(pcm.size());
  {
    OfflineEngine engine(OfflineMode::kOneSegment, {{"DefaultSpeech", "1"}});
    const OfflineResult r = engine.Run(pcm);
    EXPECT_EQ(r.result, KVD_OK);
    EXPECT_EQ(r.state, speech_end);
    EXPECT_EQ(r.start, 0);
    EXPECT_EQ(r.end, n - 1);
    EXPECT_EQ(r.processed, n);
  }
  OfflineEngine engine(OfflineMode::kOneSegment, {{"DefaultSpeech", "0"}});
  const OfflineResult r = engine.Run(pcm);
  EXPECT_EQ(r.result, KVD_OK);
  EXPECT_EQ(r.state, -7);  // untouched
  EXPECT_EQ(r.start, -7);
  EXPECT_EQ(r.end, -7);
  EXPECT_EQ(r.processed, n);
}

// 29 frames: 200 + 28 * 80 = 2440 samples; 2519 samples still give 29
// frames. 40 frames (3320 samples) are fewer than MinSignalLen (50).
INSTANTIATE_TEST_SUITE_P(Recordings, OfflineOneSegShort,
                         ::testing::Values(ShortCase{2519, "Below30Frames"},
                                           ShortCase{3320, "BelowMinSignalLen"},
                                           ShortCase{1, "OneSample"}),
                         [](const auto& testInfo) { return std::string(testInfo.param.name); });

// A steady 1000 Hz hum in light noise: every 100-frame window varies by far
// less than 10 %.
std::vector<int16_t> HumInNoise(int sampleCount) {
  std::vector<int16_t> pcm = kvdtest::CosinePcm(1000.0, 2000.0, kRateHz, sampleCount);
  const std::vector<int16_t> noise = kvdtest::WhiteNoisePcm(kNoiseAmplitude, 11, sampleCount);
  for (size_t i = 0; i < pcm.size(); ++i) pcm[i] = static_cast<int16_t>(pcm[i] + noise[i]);
  return pcm;
}

TEST(OfflineOneSeg, StationaryNoiseHasNoDynamicRange) {
  OfflineEngine engine(OfflineMode::kOneSegment, {{"DefaultSpeech", "0"}});
  const auto pcm = HumInNoise(3 * kRateHz);
  OfflineResult r;
  const std::string log = kvdtest::CaptureLog([&] { r = engine.Run(pcm); });
  EXPECT_NE(log.find("Signal dynamic range too small!\n"), std::string::npos);
  EXPECT_NE(log.find("Default as noise or silence.\n"), std::string::npos);
  EXPECT_EQ(r.result, KVD_OK);
  EXPECT_EQ(r.state, -7);
  EXPECT_EQ(r.processed, static_cast<int32_t>(pcm.size()));
  kvdtest::ExpectFrameArraysReleased(engine);
}

TEST(OfflineOneSeg, NoRunLoudEnoughGivesNoSegment) {
  OfflineEngine engine(OfflineMode::kOneSegment, {{"CommonSpeechSegEnergyThd", "1e9"},
                                                  {"ShortSpeechSegEnergyThd", "1000000"}});
  const auto pcm = kvdtest::BuildRecording(kRateHz, 3000, kNoiseAmplitude, 7, {{1000, 1000, {}}});
  const OfflineResult r = engine.Run(pcm);
  EXPECT_EQ(r.result, KVD_OK);
  EXPECT_EQ(r.state, before_speech);
  EXPECT_EQ(r.start, 0);
  EXPECT_EQ(r.end, 0);
  EXPECT_EQ(r.processed, static_cast<int32_t>(pcm.size()));
  kvdtest::ExpectFrameArraysReleased(engine);
}

// Runs the recording on a started line while another thread calls KVD_Stop
// shortly after the call began.
OfflineResult RunAndStopFromOutside(const OfflineEngine& engine, const std::vector<int16_t>& pcm) {
  OfflineResult r;
  r.result = KVD_Start(engine.line());
  if (r.result != KVD_OK) return r;
  std::atomic<bool> calling{false};
  std::thread stopper([&] {
    while (!calling.load()) std::this_thread::yield();
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
    KVD_Stop(engine.line());
  });
  calling.store(true);
  r.result = KVD_DetectSpeech(engine.line(), pcm.data(), static_cast<int32_t>(pcm.size()),
                              &r.state, &r.start, &r.end, &r.processed);
  stopper.join();
  return r;
}

TEST(OfflineOneSeg, StopFromAnotherThreadEndsTheVoicePass) {
  OfflineEngine engine(OfflineMode::kOneSegment);
  // A minute of audio: its energy pass, background search and voice pass
  // last far longer than the stopping thread's pause. Should a busy machine
  // still let the stop come before the call looked at the line (which is
  // then refused as not started) or after the call ended, the attempt is
  // repeated.
  const auto pcm = kvdtest::BuildRecording(kRateHz, 60000, kNoiseAmplitude, 13, {{1000, 1500, {}}});
  OfflineResult r;
  std::string log;
  for (int attempt = 0; attempt < 5; ++attempt) {
    log = kvdtest::CaptureLog([&] { r = RunAndStopFromOutside(engine, pcm); });
    const bool tooEarly = r.result == KVD_ERR_NOT_STARTED;
    const bool tooLate = r.result == KVD_OK && r.state == speech_end;
    if (!tooEarly && !tooLate) break;
  }
  EXPECT_EQ(r.result, KVD_OK);
  EXPECT_EQ(r.state, before_speech);
  EXPECT_EQ(r.start, 0);
  EXPECT_EQ(r.end, -1);
  EXPECT_EQ(r.processed, 0);
  EXPECT_NE(log.find("KVD_DetectSpeech warning! Stop KVD_DetectSpeech from outside!\n"),
            std::string::npos);
  kvdtest::ExpectFrameArraysReleased(engine);
}

TEST(OfflineOneSeg, RefusesNullPointersAndUnstartedLines) {
  OfflineEngine engine(OfflineMode::kOneSegment);
  SpeechDetector& d = *GetLine(engine.line());
  const std::vector<int16_t> pcm(8000);
  int32_t state = 0;
  int32_t start = 0;
  int32_t end = 0;
  int32_t processed = 0;
  // Opened, not started.
  EXPECT_EQ(DetectOfflineOneSeg(d, pcm.data(), 8000, &state, &start, &end, &processed),
            KVD_ERR_NOT_STARTED);
  EXPECT_EQ(DetectOfflineOneSeg(d, pcm.data(), 8000, &state, &start, nullptr, &processed),
            KVD_ERR_BAD_DATA);
  EXPECT_EQ(DetectOfflineOneSeg(d, nullptr, 8000, &state, &start, &end, &processed),
            KVD_ERR_BAD_DATA);
  EXPECT_EQ(d.errorStatus, KVD_ERR_BAD_DATA);
}

}  // namespace
