// All 1024 lines streamed at once from many threads, each line opened,
// started, stopped and closed by the worker that holds it, while other
// threads stop random lines, read parameters of random lines and flip the
// logging switches. Every call must return one of its documented codes, no
// line may be held twice, nothing may hang, and afterwards every line is free.
#include <gtest/gtest.h>

#include <kvd/tprintf.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <initializer_list>
#include <mutex>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "engine/kvd_api.h"
#include "engine/speech_detector.h"
#include "engine_session.h"
#include "online_fixtures.h"
#include "test_signals.h"

namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::microseconds;

constexpr int kWorkers = 16;  // of 64 lines each
// 10 ms frames streamed per line: past the first decision frame (29) and the
// 40-frame wait, so lines reach in_speech and no_speech; few enough for
// ThreadSanitizer on two cores.
constexpr int32_t kFramesPerLine = 48;
constexpr int32_t kFrameShift = 80;  // samples at 8000 Hz
// Stoppers only aim at every eighth line so that the others live long enough
// to reach the detection states.
constexpr int32_t kStoppedLineStride = 8;
// Chunk sizes in samples, chosen by line number.
constexpr int32_t kChunks[] = {30, 80, 160, 333};
// Anything still running after this is a deadlock: the test fails.
constexpr auto kDeadline = std::chrono::seconds(240);

// Codes seen that the call does not document, with what was called; read
// once the threads are joined.
struct CodeLedger {
  void Expect(const char* call, int32_t code, std::initializer_list<int32_t> documented) {
    if (std::find(documented.begin(), documented.end(), code) != documented.end()) return;
    std::lock_guard<std::mutex> lock(mutex);
    if (text.size() < 2000) text += std::string(call) + " gave " + std::to_string(code) + "\n";
  }
  std::mutex mutex;
  std::string text;
};

// The audio a line is fed, chosen by its number: speech from the bundled
// sample (from 1.45 s: a little silence, then the sentence), digital
// silence, loud noise, a tone, keypad tones.
std::vector<std::vector<int16_t>> MakeContents() {
  constexpr int32_t kSamples = kFramesPerLine * kFrameShift + 200;
  std::vector<int16_t> speech = kvdtest::ReadPcmFile(kvdtest::SamplePath("kvd_sample.wav"));
  speech.erase(speech.begin(), speech.begin() + 11600);
  speech.resize(kSamples);
  return {speech, std::vector<int16_t>(kSamples, 0), kvdtest::WhiteNoisePcm(2000.0, 5u, kSamples),
          kvdtest::CosinePcm(1000.0, 6000.0, 8000, kSamples), kvdtest::KeyOnePcm(5000.0, kSamples)};
}

class LineStress : public kvdtest::EngineSession {
 protected:
  LineStress() : contents_(MakeContents()), owner_(kMaxLines) {}

  bool Late() const { return Clock::now() > deadline_; }

  // Runs action, then pauses, until every worker is done.
  template <typename Action>
  void WhileWorkersRun(microseconds pause, Action action) {
    while (workersDone_.load() < kWorkers && !Late()) {
      action();
      std::this_thread::sleep_for(pause);
    }
  }

  // Streams one frame of the line in pieces of the line's chunk size.
  void Stream(int32_t line, int32_t frame) {
    const std::vector<int16_t>& pcm = contents_[static_cast<size_t>(line) % contents_.size()];
    const int32_t chunk = kChunks[line % 4];
    for (int32_t at = frame * kFrameShift; at < (frame + 1) * kFrameShift; at += chunk) {
      const int32_t count = std::min(chunk, (frame + 1) * kFrameShift - at);
      int32_t state = 0, start = 0, end = 0, position = 0;
      const int32_t code =
          KVD_DetectSpeech(line, pcm.data() + at, count, &state, &start, &end, &position);
      // -95: a stopper stopped the line; the worker starts it again.
      codes_.Expect("KVD_DetectSpeech", code, {KVD_OK, KVD_ERR_NOT_STARTED});
      if (code == KVD_ERR_NOT_STARTED) {
        ++restarts_;
        codes_.Expect("KVD_Start after a stop", KVD_Start(line), {KVD_OK});
      } else if (code == KVD_OK && state >= before_speech && state <= speech_too_short) {
        ++statesSeen_[state];
      }
    }
  }

  void Work(int worker) {
    std::vector<int32_t> lines;
    for (int32_t k = 0; k < kMaxLines / kWorkers; ++k) {
      int32_t line = -1;
      const int32_t code = KVD_Open(&line);
      codes_.Expect("KVD_Open", code, {KVD_OK});
      if (code != KVD_OK) continue;
      if (owner_[line].exchange(worker + 1) != 0) ++sharedLines_;
      lines.push_back(line);
      codes_.Expect("KVD_Start", KVD_Start(line), {KVD_OK});
    }
    // Once every worker holds its lines, all 1024 stream at once.
    ++gate_;
    while (gate_.load() < kWorkers && !Late()) std::this_thread::yield();
    for (int32_t frame = 0; frame < kFramesPerLine && !Late(); ++frame) {
      for (int32_t line : lines) Stream(line, frame);
    }
    for (int32_t line : lines) {
      codes_.Expect("KVD_Stop", KVD_Stop(line), {KVD_OK});
      owner_[line].store(0);
      codes_.Expect("KVD_Close", KVD_Close(line), {KVD_OK});
    }
    ++workersDone_;
  }

  // Stops random lines of every eighth, now and then a number out of range.
  void StopRandomLines(uint32_t seed) {
    std::mt19937 random(seed);
    WhileWorkersRun(microseconds(500), [&] {
      const auto pick = static_cast<int32_t>(random() % (kMaxLines / kStoppedLineStride + 1));
      // The last pick gives 1024 + 7: a line out of range.
      const int32_t line = pick * kStoppedLineStride + kStoppedLineStride - 1;
      const int32_t code = KVD_Stop(line);
      if (line >= kMaxLines) {
        codes_.Expect("KVD_Stop out of range", code, {KVD_ERR_BAD_LINE});
      } else {
        codes_.Expect("KVD_Stop", code, {KVD_OK, KVD_ERR_NOT_OPEN});
      }
    });
  }

  // Parameters never change after KVD_Init: any line answers the configured
  // values, whatever its state.
  void ReadRandomParameters(uint32_t seed) {
    std::mt19937 random(seed);
    const std::pair<const char*, const char*> expected[] = {
        {"IsOnLine", "1"}, {"samplerate", "8000"}, {"Sensitivity", "0.900000"},
        {"MaxWaitFrame", "40"}, {"FastMode", ""}};
    WhileWorkersRun(microseconds(200), [&] {
      const auto& [name, text] = expected[random() % std::size(expected)];
      const auto line = static_cast<int32_t>(random() % kMaxLines);
      char value[kConfigLineBytes] = "stale";
      codes_.Expect("KVD_GetParameter", KVD_GetParameter(line, name, value), {KVD_OK});
      if (std::string(value) != text) ++wrongParameters_;
    });
  }

  void FlipLogSwitches(uint32_t seed) {
    std::mt19937 random(seed);
    WhileWorkersRun(microseconds(300), [&] {
      KES_SetLogLevel(static_cast<int>(random() % 9) - 1);  // DEBUG .. FATAL
      KES_EnableTimeStamp(random() % 2 == 0);
      KES_EnableLogInConsole(random() % 2 == 0);
    });
    KES_SetLogLevel(-1);
    KES_EnableTimeStamp(true);
    KES_EnableLogInConsole(true);
  }

  const std::vector<std::vector<int16_t>> contents_;
  std::vector<std::atomic<int>> owner_;  // 0 free, else the holding worker + 1
  std::atomic<int> gate_{0};
  std::atomic<int> workersDone_{0};
  std::atomic<int> sharedLines_{0};
  std::atomic<int> restarts_{0};
  std::atomic<int> wrongParameters_{0};
  std::atomic<int> statesSeen_[speech_too_short + 1] = {};
  CodeLedger codes_;
  Clock::time_point deadline_ = Clock::now() + kDeadline;
};

// Every worker's opens come before any close (the gate), so 1024 opens that
// all succeed with no line held twice reach every line of the table.
TEST_F(LineStress, EveryLineStreamsWhileOtherThreadsStopReadAndFlipLogging) {
  main_ = kvdtest::DefaultMainConfig();
  // A high sensitivity starts speech within a few frames of the first
  // decision frame.
  main_.Set("AverageGain", "-10").Set("MaxWaitFrame", "40").Set("Sensitivity", "0.9");
  ASSERT_EQ(Init(kMaxLines), KVD_OK) << log_;
  deadline_ = Clock::now() + kDeadline;

  kvdtest::CaptureLog([&] {
    std::vector<std::thread> threads;
    for (int w = 0; w < kWorkers; ++w) threads.emplace_back([this, w] { Work(w); });
    threads.emplace_back([this] { StopRandomLines(1u); });
    threads.emplace_back([this] { StopRandomLines(2u); });
    threads.emplace_back([this] { ReadRandomParameters(3u); });
    threads.emplace_back([this] { FlipLogSwitches(4u); });
    // A hung thread cannot be joined: past the deadline the process ends
    // with a failure instead of waiting for ctest's timeout.
    WhileWorkersRun(std::chrono::milliseconds(50), [] {});
    if (Late()) {
      std::fprintf(stderr, "deadlock: %d of %d workers finished\n", workersDone_.load(), kWorkers);
      std::_Exit(EXIT_FAILURE);
    }
    for (std::thread& thread : threads) thread.join();
  });

  EXPECT_EQ(codes_.text, "");
  EXPECT_EQ(sharedLines_.load(), 0);
  EXPECT_EQ(wrongParameters_.load(), 0);
  EXPECT_GT(restarts_.load(), 0) << "no stop landed on a streaming line";
  EXPECT_GT(statesSeen_[in_speech].load(), 0);
  EXPECT_GT(statesSeen_[no_speech].load(), 0);
  int32_t notFree = 0;
  for (int32_t line = 0; line < kMaxLines; ++line) {
    if (GetLine(line)->DetectState != KVD_STATE_UNINIT) ++notFree;
  }
  EXPECT_EQ(notFree, 0);
}

// The owner of the only line opens, starts, stops and closes it over and
// over while another thread keeps stopping it. A stop that reads the line
// open and writes "idle" after the owner's close would keep the line from
// every later KVD_Open.
TEST_F(LineStress, AStopRacingTheOwnersCloseNeverKeepsTheLine) {
  constexpr int kCycles = 20000;
  // Offline lines: KVD_Start does not clear the online histories, so a cycle
  // costs little more than its messages.
  main_.Set("IsOnline", "0");
  ASSERT_EQ(Init(1), KVD_OK) << log_;
  std::atomic<bool> ownerDone{false};
  int failedOpens = 0;
  kvdtest::CaptureLog([&] {
    std::thread stopper([&] {
      while (!ownerDone.load()) codes_.Expect("KVD_Stop", KVD_Stop(0), {KVD_OK, KVD_ERR_NOT_OPEN});
    });
    for (int cycle = 0; cycle < kCycles && failedOpens == 0 && !Late(); ++cycle) {
      int32_t line = -1;
      if (KVD_Open(&line) != KVD_OK) {
        ++failedOpens;
        break;
      }
      codes_.Expect("KVD_Start", KVD_Start(line), {KVD_OK});
      codes_.Expect("KVD_Stop", KVD_Stop(line), {KVD_OK});
      codes_.Expect("KVD_Close", KVD_Close(line), {KVD_OK});
    }
    ownerDone = true;
    stopper.join();
  });
  EXPECT_EQ(failedOpens, 0);
  EXPECT_EQ(codes_.text, "");
  EXPECT_EQ(GetLine(0)->DetectState, KVD_STATE_UNINIT);
}

// A stop that lands inside a detection call makes the call leave the line
// idle, touching its state; a reader of the same line's parameters meanwhile
// must see no torn or racing value (ThreadSanitizer checks the accesses).
TEST_F(LineStress, ParametersOfALineStoppedMidCallReadCleanly) {
  constexpr int kRuns = 200;
  ASSERT_EQ(Init(1), KVD_OK) << log_;
  const std::vector<int16_t>& noise = contents_[2];
  std::atomic<bool> done{false};
  std::atomic<int> stoppedCalls{0};
  kvdtest::CaptureLog([&] {
    std::thread stopper([&] {
      while (!done.load()) {
        KVD_Stop(0);
        std::this_thread::yield();
      }
    });
    std::thread reader([&] {
      char value[kConfigLineBytes];
      while (!done.load()) {
        codes_.Expect("KVD_GetParameter", KVD_GetParameter(0, "MaxWaitFrame", value), {KVD_OK});
        if (std::string(value) != "500") ++wrongParameters_;
      }
    });
    int32_t line = -1;
    codes_.Expect("KVD_Open", KVD_Open(&line), {KVD_OK});
    for (int run = 0; run < kRuns && !Late(); ++run) {
      KVD_Start(line);
      int32_t state = 0, start = 0, end = 0, position = 0;
      const int32_t code = KVD_DetectSpeech(line, noise.data(), static_cast<int32_t>(noise.size()),
                                            &state, &start, &end, &position);
      codes_.Expect("KVD_DetectSpeech", code, {KVD_OK, KVD_ERR_NOT_STARTED});
      if (code == KVD_OK && position < static_cast<int32_t>(noise.size()) - 200) ++stoppedCalls;
    }
    done = true;
    stopper.join();
    reader.join();
    KVD_Close(line);
  });
  EXPECT_EQ(codes_.text, "");
  EXPECT_EQ(wrongParameters_.load(), 0);
  EXPECT_GT(stoppedCalls.load(), 0) << "no stop landed inside a call";
}

}  // namespace
