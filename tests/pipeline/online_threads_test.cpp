// Online detection and other threads: KVD_Stop while a call runs, and lines
// streamed in parallel.
#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "engine/kvd_api.h"
#include "engine/speech_detector.h"
#include "online_fixtures.h"
#include "test_signals.h"

namespace {

std::vector<int16_t> Sample() {
  return kvdtest::ReadPcmFile(kvdtest::SamplePath("kvd_sample.wav"));
}

bool SameReports(const kvdtest::StreamReport& a, const kvdtest::StreamReport& b) {
  if (a.calls.size() != b.calls.size()) return false;
  for (size_t i = 0; i < a.calls.size(); ++i) {
    const kvdtest::CallReport& x = a.calls[i];
    const kvdtest::CallReport& y = b.calls[i];
    if (x.result != y.result || x.state != y.state || x.start != y.start || x.end != y.end ||
        x.position != y.position)
      return false;
  }
  return true;
}

TEST(OnlineThreads, AStopFromAnotherThreadEndsTheRunningCall) {
  // Six copies of the sample in one chunk; with pauses under MaxSilence the
  // utterance lasts to the end, so the call is long after the start.
  kvdtest::OnlineEngine engine(kvdtest::StreamTestConfig()
                                   .Set("MaxSilence", "500")
                                   .Set("MaxHoldFrame", "500")
                                   .Set("MaxSpeechDuration", "20000"));
  ASSERT_EQ(engine.InitResult(), 0);
  const int32_t line = engine.StartLine();
  ASSERT_GE(line, 0);
  std::vector<int16_t> pcm;
  const std::vector<int16_t> sample = Sample();
  for (int copy = 0; copy < 6; ++copy) pcm.insert(pcm.end(), sample.begin(), sample.end());

  SpeechDetector* detector = GetLine(line);
  std::atomic<bool> callReturned{false};
  std::thread stopper([&] {
    while (detector->DetectState != in_speech && !callReturned) std::this_thread::yield();
    KVD_Stop(line);
  });
  int32_t state = -7;
  int32_t start = -7;
  int32_t end = -7;
  int32_t position = -7;
  int32_t result = -7;
  const std::string log = kvdtest::CaptureLog([&] {
    result = KVD_DetectSpeech(line, pcm.data(), static_cast<int32_t>(pcm.size()), &state, &start,
                              &end, &position);
  });
  callReturned = true;
  stopper.join();

  EXPECT_EQ(result, 0);
  EXPECT_NE(log.find("Exit DetectSpeech from outside.\n"), std::string::npos);
  EXPECT_EQ(state, -7);  // the stopped call leaves the state argument alone
  EXPECT_EQ(position, 0);
  EXPECT_LT(detector->frameIndex * 80, static_cast<int32_t>(pcm.size()) / 2);
  EXPECT_EQ(detector->DetectState, KVD_STATE_IDLE);
  EXPECT_EQ(detector->busyFlag, 0);
  EXPECT_EQ(detector->errorStatus, 0);
  EXPECT_EQ(KVD_DetectSpeech(line, pcm.data(), 80, &state, &start, &end, &position), -95);
}

TEST(OnlineThreads, AStoppedLineIsLeftIdleWhateverDetectionWroteLast) {
  // KVD_Stop cleared busyFlag, but a detection state was written after its
  // own write of the idle state: the next frame leaves the line idle.
  kvdtest::OnlineEngine engine(kvdtest::StreamTestConfig());
  ASSERT_EQ(engine.InitResult(), 0);
  const int32_t line = engine.StartLine();
  SpeechDetector* detector = GetLine(line);
  detector->DetectState = in_speech;
  detector->busyFlag = 0;
  const std::vector<int16_t> noise = kvdtest::WhiteNoisePcm(100.0, 9u, 400);
  int32_t state = -7;
  int32_t start = -7;
  int32_t end = -7;
  int32_t position = -7;
  EXPECT_EQ(KVD_DetectSpeech(line, noise.data(), 400, &state, &start, &end, &position), 0);
  EXPECT_EQ(detector->DetectState, KVD_STATE_IDLE);
  EXPECT_EQ(detector->frameIndex, 0);
}

TEST(OnlineThreads, LinesInParallelThreadsMatchEachLineAlone) {
  const std::vector<int16_t> sample = Sample();
  std::vector<int16_t> late = kvdtest::WhiteNoisePcm(20.0, 4u, 12000);
  late.insert(late.end(), sample.begin(), sample.end());
  const std::vector<int16_t> noise = kvdtest::WhiteNoisePcm(200.0, 8u, 40000);
  const std::vector<const std::vector<int16_t>*> inputs = {&sample, &late, &noise};
  const std::vector<int32_t> chunks = {160, 1000, 80};

  kvdtest::OnlineEngine engine(kvdtest::StreamTestConfig(), 3);
  ASSERT_EQ(engine.InitResult(), 0);
  std::vector<kvdtest::StreamReport> alone;
  for (size_t i = 0; i < inputs.size(); ++i) {
    const int32_t line = engine.StartLine();
    alone.push_back(kvdtest::StreamThrough(line, *inputs[i], chunks[i]));
    KVD_Stop(line);
    KVD_Close(line);
  }

  std::vector<int32_t> lines;
  for (size_t i = 0; i < inputs.size(); ++i) lines.push_back(engine.StartLine());
  std::vector<kvdtest::StreamReport> parallel(inputs.size());
  std::vector<std::thread> threads;
  for (size_t i = 0; i < inputs.size(); ++i)
    threads.emplace_back(
        [&, i] { parallel[i] = kvdtest::StreamThrough(lines[i], *inputs[i], chunks[i]); });
  for (std::thread& thread : threads) thread.join();

  for (size_t i = 0; i < inputs.size(); ++i) EXPECT_TRUE(SameReports(alone[i], parallel[i])) << i;
  EXPECT_EQ(alone[0].Last().state, speech_end);
  EXPECT_EQ(alone[1].Last().state, speech_end);
}

}  // namespace
