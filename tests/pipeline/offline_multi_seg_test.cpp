// Multi-segment offline detection of whole recordings made of known pieces.
#include <gtest/gtest.h>

#include <string>
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
// Detected edges lie within this much of the true ones (margin 30 ms, edge
// refinement a few frames).
constexpr int kToleranceMs = 100;
constexpr double kNoiseAmplitude = 100.0;

int ToMs(int32_t samples) { return kvdtest::SamplesToMs(samples, kRateHz); }

void ExpectArraysReleased(const OfflineEngine& engine) {
  kvdtest::ExpectFrameArraysReleased(engine);
  const SpeechDetector& d = *GetLine(engine.line());
  EXPECT_EQ(d.segStartList.capacity(), 0u);
  EXPECT_EQ(d.segEndList.capacity(), 0u);
}

// Three utterances with 1 s pauses, the second at a higher voice.
const std::vector<Utterance>& ThreeUtterances() {
  static const std::vector<Utterance> utterances = [] {
    kvdtest::VowelShape higher;
    higher.f0StartHz = 210.0;
    higher.f0EndHz = 170.0;
    return std::vector<Utterance>{{800, 1000, {}}, {2800, 700, higher}, {4500, 800, {}}};
  }();
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
  for (size_t k = 3; k < 5; ++k) {
    EXPECT_EQ(r.starts[k], 0);
    EXPECT_EQ(r.ends[k], 0);
  }
  ExpectArraysReleased(engine);
}

TEST(OfflineMultiSeg, AListThatFillsUpAbortsTheDetection) {
  OfflineEngine engine(OfflineMode::kMultiSegment, {{"MaxSegNum", "3"}});
  const auto pcm = kvdtest::BuildRecording(kRateHz, 6000, kNoiseAmplitude, 7, ThreeUtterances());
  OfflineResult r;
  const std::string log = kvdtest::CaptureLog([&] { r = engine.Run(pcm, 3); });
  EXPECT_NE(log.find("Error in KVD_DetectSpeech of Multi-seg offline mode! Too many speech "
                     "segments! Abort total detection!\n"),
            std::string::npos);
  EXPECT_EQ(r.result, KVD_ERR_OFFLINE);
  EXPECT_EQ(r.state, 2);
  // Stopped at the end of the third segment.
  EXPECT_NEAR(ToMs(r.processed), 5300, kToleranceMs);
  EXPECT_EQ(r.starts, std::vector<int32_t>(3, 0));
  EXPECT_EQ(r.ends, std::vector<int32_t>(3, 0));
  EXPECT_EQ(GetLine(engine.line())->errorStatus, KVD_OK);
  ExpectArraysReleased(engine);
}

TEST(OfflineMultiSeg, UtteranceCutByTheEndIsExaminedOverTheLast30Frames) {
  // 250 ms of voice ending with the recording: its candidate is shorter than
  // 30 frames and would never see a full voice window from its own start.
  OfflineEngine engine(OfflineMode::kMultiSegment);
  const auto pcm = kvdtest::BuildRecording(kRateHz, 3000, kNoiseAmplitude, 9,
                                           {{1000, 800, {}}, {2750, 250, {}}});
  const OfflineResult r = engine.Run(pcm);
  const int32_t frameCount = (static_cast<int32_t>(pcm.size()) - 200) / kFrameShift + 1;
  EXPECT_EQ(r.state, speech_end);
  EXPECT_NEAR(ToMs(r.starts[1]), 2750, kToleranceMs);
  EXPECT_EQ(r.ends[1], kFrameShift * (frameCount - 1));
  EXPECT_EQ(r.ends[2], 0);
}

TEST(OfflineMultiSeg, TooShortRecordingsWriteTheWholeList) {
  const auto pcm = kvdtest::WhiteNoisePcm(kNoiseAmplitude, 5, 2000);
  {
    OfflineEngine engine(OfflineMode::kMultiSegment, {{"DefaultSpeech", "1"}, {"MaxSegNum", "4"}});
    const OfflineResult r = engine.Run(pcm, 4);
    EXPECT_EQ(r.result, KVD_OK);
    EXPECT_EQ(r.state, speech_end);
    EXPECT_EQ(r.starts, (std::vector<int32_t>{0, 0, 0, 0}));
    EXPECT_EQ(r.ends, (std::vector<int32_t>{1999, 0, 0, 0}));
    EXPECT_EQ(r.processed, 2000);
  }
  OfflineEngine engine(OfflineMode::kMultiSegment, {{"DefaultSpeech", "0"}, {"MaxSegNum", "4"}});
  const OfflineResult r = engine.Run(pcm, 4);
  EXPECT_EQ(r.result, KVD_OK);
  EXPECT_EQ(r.state, -7);  // untouched
  EXPECT_EQ(r.starts, std::vector<int32_t>(4, 0));
  EXPECT_EQ(r.ends, std::vector<int32_t>(4, 0));
  EXPECT_EQ(r.processed, 2000);
}

// A list without room is refused before anything is written, for a
// recording too short to analyse as for a long one.
TEST(OfflineMultiSeg, ListWithoutRoomIsRefused) {
  for (const char* maxSegNum : {"0", "-1"}) {
    OfflineEngine engine(OfflineMode::kMultiSegment, {{"MaxSegNum", maxSegNum}});
    ASSERT_EQ(engine.initResult(), KVD_OK);
    for (const int samples : {2000, 3 * kRateHz}) {
      const auto pcm = kvdtest::WhiteNoisePcm(kNoiseAmplitude, 5, samples);
      OfflineResult r;
      const std::string log = kvdtest::CaptureLog([&] { r = engine.Run(pcm, 1); });
      EXPECT_EQ(r.result, KVD_ERR_OFFLINE) << maxSegNum << " " << samples;
      EXPECT_NE(log.find("KVD_DetectSpeech multi-seg offline error! MaxSegNum should be "
                         "1..100000!\n"),
                std::string::npos);
      EXPECT_EQ(r.starts, std::vector<int32_t>{-7});
      EXPECT_EQ(r.ends, std::vector<int32_t>{-7});
    }
  }
}

TEST(OfflineMultiSeg, StationaryRecordingReleasesItsArrays) {
  OfflineEngine engine(OfflineMode::kMultiSegment, {{"MaxSegNum", "3"}});
  std::vector<int16_t> pcm = kvdtest::CosinePcm(1000.0, 2000.0, kRateHz, 3 * kRateHz);
  const OfflineResult r = engine.Run(pcm, 3);
  EXPECT_EQ(r.result, KVD_OK);
  EXPECT_EQ(r.state, before_speech);
  EXPECT_EQ(r.starts, (std::vector<int32_t>{-1, 0, 0}));
  EXPECT_EQ(r.ends, (std::vector<int32_t>{-1, 0, 0}));
  EXPECT_EQ(r.processed, 3 * kRateHz);
  ExpectArraysReleased(engine);
}

TEST(OfflineMultiSeg, RefusesALineThatWasNotStarted) {
  OfflineEngine engine(OfflineMode::kMultiSegment);
  SpeechDetector& d = *GetLine(engine.line());
  const std::vector<int16_t> pcm(8000);
  std::vector<int32_t> starts(10);
  std::vector<int32_t> ends(10);
  int32_t state = 0;
  int32_t processed = 0;
  int32_t result = 0;
  const std::string log = kvdtest::CaptureLog([&] {
    result = DetectOfflineMultiSeg(d, pcm.data(), 8000, &state, starts.data(), ends.data(),
                                   &processed);
  });
  EXPECT_EQ(result, KVD_ERR_NOT_STARTED);
  EXPECT_EQ(d.errorStatus, KVD_ERR_NOT_STARTED);
  EXPECT_NE(log.find("KVD_DetectSpeech multi-seg offline mode error in KVD_STATE! Forget to "
                     "reinitialize KVD?\n"),
            std::string::npos);
}

}  // namespace
