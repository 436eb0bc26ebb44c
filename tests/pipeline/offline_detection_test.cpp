// Offline single- and multi-segment detection of whole recordings made of
// known pieces (8000 Hz), and the refusals of both modes.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <string>
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
using kvdtest::Utterance;

constexpr int kRateHz = 8000;
constexpr int kFrameShift = 80;
// Detected edges lie within this much of the true ones: the margin of 30 ms
// on each side, the variance step of at most as much, and a frame or two of
// voicing and slope.
constexpr int kToleranceMs = 100;
// White noise of this amplitude (about -50 dBFS) lies under every recording.
constexpr double kNoiseAmplitude = 100.0;
const std::vector<int32_t> kUntouched = {-7};

int ToMs(int32_t samples) { return kvdtest::SamplesToMs(samples, kRateHz); }

bool Logged(const std::string& log, const std::string& text) { return log.find(text) != std::string::npos; }

void ExpectArraysReleased(const OfflineEngine& engine) {
  kvdtest::ExpectFrameArraysReleased(engine);
  EXPECT_EQ(GetLine(engine.line())->segStartList.capacity(), 0u);
  EXPECT_EQ(GetLine(engine.line())->segEndList.capacity(), 0u);
}

TEST(OfflineOneSeg, UtteranceInNoiseIsFoundWithinTolerance) {
  OfflineEngine engine(OfflineMode::kOneSegment);
  ASSERT_EQ(engine.initResult(), KVD_OK);
  const auto pcm = kvdtest::BuildRecording(kRateHz, 4000, kNoiseAmplitude, 7, {{1200, 1500}});
  const OfflineResult r = engine.Run(pcm);
  EXPECT_EQ(r.result, KVD_OK);
  EXPECT_EQ(r.state, speech_end);
  EXPECT_EQ(r.processed, static_cast<int32_t>(pcm.size()));
  EXPECT_NEAR(ToMs(r.start), 1200, kToleranceMs);
  EXPECT_NEAR(ToMs(r.end), 2700, kToleranceMs);
  kvdtest::ExpectFrameArraysReleased(engine);
}

TEST(OfflineOneSeg, SpeechAtBothEndsSnapsToTheRecordingEdges) {
  // Speech from the first sample to the last: the runs lie within 3 frames
  // of either end.
  OfflineEngine engine(OfflineMode::kOneSegment);
  const auto pcm = kvdtest::BuildRecording(kRateHz, 3000, kNoiseAmplitude, 3, {{0, 1000}, {2000, 1000}});
  const OfflineResult r = engine.Run(pcm);
  EXPECT_EQ(r.state, speech_end);
  EXPECT_EQ(r.start, 0);
  EXPECT_EQ(r.end, static_cast<int32_t>(pcm.size()) - 1);
}

TEST(OfflineOneSeg, DefaultSpeechDecidesRecordingsTooShortToAnalyse) {
  // 29 frames: 200 + 28 * 80 = 2440 samples; 2519 samples still give 29
  // frames. 40 frames (3320 samples) are fewer than MinSignalLen (50).
  for (int32_t n : {2519, 3320, 1}) {
    SCOPED_TRACE(n);
    const auto pcm = kvdtest::WhiteNoisePcm(kNoiseAmplitude, 5, n);
    const OfflineResult r = OfflineEngine(OfflineMode::kOneSegment, {{"DefaultSpeech", "1"}}).Run(pcm);
    EXPECT_EQ(r.result, KVD_OK);
    EXPECT_EQ(r.state, speech_end);
    EXPECT_EQ(r.start, 0);
    EXPECT_EQ(r.end, n - 1);
    EXPECT_EQ(r.processed, n);
    const OfflineResult q = OfflineEngine(OfflineMode::kOneSegment, {{"DefaultSpeech", "0"}}).Run(pcm);
    EXPECT_EQ(q.result, KVD_OK);
    EXPECT_EQ(q.state, -7);  // untouched
    EXPECT_EQ(q.start, -7);
    EXPECT_EQ(q.end, -7);
    EXPECT_EQ(q.processed, n);
  }
}

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
  EXPECT_TRUE(Logged(log, "Signal dynamic range too small!\n"));
  EXPECT_TRUE(Logged(log, "Default as noise or silence.\n"));
  EXPECT_EQ(r.result, KVD_OK);
  EXPECT_EQ(r.state, -7);
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
  const auto pcm = kvdtest::BuildRecording(kRateHz, 60000, kNoiseAmplitude, 13, {{1000, 1500}});
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
  EXPECT_TRUE(Logged(log, "KVD_DetectSpeech warning! Stop KVD_DetectSpeech from outside!\n"));
  kvdtest::ExpectFrameArraysReleased(engine);
}

// Three utterances with 1 s pauses, the second at a higher voice.
const std::vector<Utterance>& ThreeUtterances() {
  static const std::vector<Utterance> utterances = {{800, 1000}, {2800, 700, 210.0, 170.0}, {4500, 800}};
  return utterances;
}

TEST(OfflineMultiSeg, ThreeUtterancesGiveThreeSegmentsAndZerosAfterThem) {
  OfflineEngine engine(OfflineMode::kMultiSegment, {{"MaxSegNum", "5"}});
  ASSERT_EQ(engine.initResult(), KVD_OK);
  const auto pcm = kvdtest::BuildRecording(kRateHz, 6000, kNoiseAmplitude, 7, ThreeUtterances());
  const OfflineResult r = engine.Run(pcm, 5);
  EXPECT_EQ(r.result, KVD_OK);
  EXPECT_EQ(r.state, speech_end);
  EXPECT_EQ(r.processed, static_cast<int32_t>(pcm.size()));
  for (size_t k = 0; k < 3; ++k) {
    const Utterance& truth = ThreeUtterances()[k];
    EXPECT_NEAR(ToMs(r.starts[k]), truth.startMs, kToleranceMs) << "segment " << k;
    EXPECT_NEAR(ToMs(r.ends[k]), truth.startMs + truth.durationMs, kToleranceMs) << "segment " << k;
  }
  EXPECT_EQ(std::vector<int32_t>(r.starts.begin() + 3, r.starts.end()), std::vector<int32_t>(2, 0));
  EXPECT_EQ(std::vector<int32_t>(r.ends.begin() + 3, r.ends.end()), std::vector<int32_t>(2, 0));
  ExpectArraysReleased(engine);
}

TEST(OfflineMultiSeg, AListThatFillsUpAbortsTheDetection) {
  OfflineEngine engine(OfflineMode::kMultiSegment, {{"MaxSegNum", "3"}});
  const auto pcm = kvdtest::BuildRecording(kRateHz, 6000, kNoiseAmplitude, 7, ThreeUtterances());
  OfflineResult r;
  const std::string log = kvdtest::CaptureLog([&] { r = engine.Run(pcm, 3); });
  EXPECT_TRUE(Logged(log, "Error in KVD_DetectSpeech of Multi-seg offline mode! Too many speech "
                          "segments! Abort total detection!\n"));
  EXPECT_EQ(r.result, KVD_ERR_OFFLINE);
  EXPECT_EQ(r.state, 2);
  EXPECT_NEAR(ToMs(r.processed), 5300, kToleranceMs);  // stopped at the end of the third segment
  EXPECT_EQ(r.starts, std::vector<int32_t>(3, 0));
  EXPECT_EQ(r.ends, std::vector<int32_t>(3, 0));
  EXPECT_EQ(GetLine(engine.line())->errorStatus, KVD_OK);
  ExpectArraysReleased(engine);
}

TEST(OfflineMultiSeg, UtteranceCutByTheEndIsExaminedOverTheLast30Frames) {
  // 250 ms of voice ending with the recording: its candidate is shorter than
  // 30 frames and would never see a full voice window from its own start.
  OfflineEngine engine(OfflineMode::kMultiSegment);
  const auto pcm = kvdtest::BuildRecording(kRateHz, 3000, kNoiseAmplitude, 9, {{1000, 800}, {2750, 250}});
  const OfflineResult r = engine.Run(pcm);
  const int32_t frameCount = (static_cast<int32_t>(pcm.size()) - 200) / kFrameShift + 1;
  EXPECT_EQ(r.state, speech_end);
  EXPECT_NEAR(ToMs(r.starts[1]), 2750, kToleranceMs);
  EXPECT_EQ(r.ends[1], kFrameShift * (frameCount - 1));
  EXPECT_EQ(r.ends[2], 0);
}

TEST(OfflineMultiSeg, TooShortRecordingsWriteTheWholeList) {
  const auto pcm = kvdtest::WhiteNoisePcm(kNoiseAmplitude, 5, 2000);
  const OfflineResult r =
      OfflineEngine(OfflineMode::kMultiSegment, {{"DefaultSpeech", "1"}, {"MaxSegNum", "4"}}).Run(pcm, 4);
  EXPECT_EQ(r.result, KVD_OK);
  EXPECT_EQ(r.state, speech_end);
  EXPECT_EQ(r.starts, (std::vector<int32_t>{0, 0, 0, 0}));
  EXPECT_EQ(r.ends, (std::vector<int32_t>{1999, 0, 0, 0}));
  EXPECT_EQ(r.processed, 2000);
  const OfflineResult q =
      OfflineEngine(OfflineMode::kMultiSegment, {{"DefaultSpeech", "0"}, {"MaxSegNum", "4"}}).Run(pcm, 4);
  EXPECT_EQ(q.result, KVD_OK);
  EXPECT_EQ(q.state, -7);  // untouched
  EXPECT_EQ(q.starts, std::vector<int32_t>(4, 0));
  EXPECT_EQ(q.ends, std::vector<int32_t>(4, 0));
  EXPECT_EQ(q.processed, 2000);
}

// A list without room is refused before anything is written, for a
// recording too short to analyse as for a long one.
TEST(OfflineRefusals, ListWithoutRoom) {
  for (const char* maxSegNum : {"0", "-1"}) {
    OfflineEngine engine(OfflineMode::kMultiSegment, {{"MaxSegNum", maxSegNum}});
    ASSERT_EQ(engine.initResult(), KVD_OK);
    for (const int samples : {2000, 3 * kRateHz}) {
      OfflineResult r;
      const std::string log = kvdtest::CaptureLog(
          [&] { r = engine.Run(kvdtest::WhiteNoisePcm(kNoiseAmplitude, 5, samples), 1); });
      EXPECT_EQ(r.result, KVD_ERR_OFFLINE) << maxSegNum << " " << samples;
      EXPECT_TRUE(Logged(log, "KVD_DetectSpeech multi-seg offline error! MaxSegNum should be 1..100000!\n"));
      EXPECT_EQ(r.starts, kUntouched);
      EXPECT_EQ(r.ends, kUntouched);
    }
  }
}

TEST(OfflineRefusals, NullPointersAndUnstartedLinesBreakTheLine) {
  const std::vector<int16_t> pcm(8000);
  int32_t state = 0, start = 0, end = 0, processed = 0;
  {
    OfflineEngine engine(OfflineMode::kOneSegment);
    SpeechDetector& d = *GetLine(engine.line());
    // Opened, not started.
    EXPECT_EQ(DetectOfflineOneSeg(d, pcm.data(), 8000, &state, &start, &end, &processed), KVD_ERR_NOT_STARTED);
    EXPECT_EQ(DetectOfflineOneSeg(d, pcm.data(), 8000, &state, &start, nullptr, &processed), KVD_ERR_BAD_DATA);
    EXPECT_EQ(DetectOfflineOneSeg(d, nullptr, 8000, &state, &start, &end, &processed), KVD_ERR_BAD_DATA);
    EXPECT_EQ(d.errorStatus, KVD_ERR_BAD_DATA);
  }
  {
    OfflineEngine engine(OfflineMode::kMultiSegment);
    SpeechDetector& d = *GetLine(engine.line());
    std::vector<int32_t> starts(10), ends(10);
    int32_t result = 0;
    const std::string log = kvdtest::CaptureLog([&] {
      result = DetectOfflineMultiSeg(d, pcm.data(), 8000, &state, starts.data(), ends.data(), &processed);
    });
    EXPECT_EQ(result, KVD_ERR_NOT_STARTED);
    EXPECT_EQ(d.errorStatus, KVD_ERR_NOT_STARTED);
    EXPECT_TRUE(Logged(log, "KVD_DetectSpeech multi-seg offline mode error in KVD_STATE! Forget to "
                            "reinitialize KVD?\n"));
  }
  // Through KVD_DetectSpeech a started line of either mode answers a missing
  // pointer itself.
  for (OfflineMode mode : {OfflineMode::kOneSegment, OfflineMode::kMultiSegment}) {
    OfflineEngine engine(mode);
    ASSERT_EQ(KVD_Start(engine.line()), 0);
    EXPECT_EQ(KVD_DetectSpeech(engine.line(), nullptr, 8000, &state, &start, &end, nullptr), -90);
    EXPECT_EQ(GetLine(engine.line())->errorStatus, -90);
  }
}

}  // namespace
