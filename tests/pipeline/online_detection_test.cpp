// Online detection (8000 Hz, 80 samples a frame): the frame cutter, the
// refusals of KVD_DetectSpeech, the spectrum hand-out, the bundled sample
// (speech 1.55 s to 6.62 s) with silence, noise and key tones in any
// chunking, the end decision, the int32 position limit, other threads.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <map>
#include <numeric>
#include <string>
#include <thread>
#include <vector>

#include "engine/kvd_api.h"
#include "engine/speech_detector.h"
#include "online_fixtures.h"
#include "pipeline/frame_front_end.h"
#include "pipeline/online_decisions.h"
#include "test_signals.h"

namespace {

using namespace kvdtest;
constexpr int32_t kShift = kShiftSamples8k;
constexpr int32_t kMaxSilence = 80;  // frames, of StreamTestConfig

// Chunks of the ramp (sample n holds the value n) handed to the cutter one
// after the other. Once n samples have come, frame k (samples 80 k ..
// 80 k + 199) has been cut for every k with 80 k + 200 <= n, and the samples
// from the next frame's start on are kept: at most 199.
TEST(FrameCutter, FramesAndKeptSamplesFollowFromTheSamplesSoFar) {
  std::unique_ptr<SpeechDetector> detector = StartedOnlineDetector();
  ASSERT_EQ(detector->DetectState, before_speech);
  std::vector<int16_t> ramp(3000);
  std::iota(ramp.begin(), ramp.end(), int16_t{0});
  // One sample completing a frame of 199 kept, a long chunk, kept samples
  // longer than a shift (the overlapping moves must not smear them, whether
  // new samples are appended behind them or stay pending), nothing at all.
  int32_t fed = 0;
  int32_t cut = 0;
  for (int32_t count : {199, 0, 1, 800, 80, 150, 60, 150, 7, 33, 1000}) {
    SCOPED_TRACE(testing::Message() << count << " samples after " << fed);
    detector->newData = ramp.data() + fed;
    detector->newDataLength = count;
    fed += count;
    ASSERT_EQ(GetOneFrame(*detector), 0);
    for (; detector->frameReady; ++cut) {
      ASSERT_LE(cut * 80 + 200, fed);
      for (int32_t i = 0; i < detector->frameLength; ++i)
        ASSERT_EQ(detector->ffts[i], static_cast<float>(cut * 80 + i)) << "frame " << cut;
      ASSERT_EQ(GetOneFrame(*detector), 0);
    }
    EXPECT_GT(cut * 80 + 200, fed);
    ASSERT_EQ(detector->historyLength, fed - cut * 80);
    for (int32_t i = 0; i < detector->historyLength; ++i)
      ASSERT_EQ(detector->DataBuffer[i], cut * 80 + i);
  }
  EXPECT_EQ(cut, (2480 - 200) / 80 + 1);
  // A negative length breaks the line for good (KVD_DetectSpeech refuses one
  // before the cutter sees it).
  detector->newDataLength = -1;
  EXPECT_EQ(GetOneFrame(*detector), -90);
  EXPECT_EQ(detector->errorStatus, -90);
  detector->newDataLength = 1000;
  EXPECT_EQ(GetOneFrame(*detector), -90);
  EXPECT_FALSE(detector->frameReady);
}

class DetectSpeech : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(engine_.InitResult(), 0);
    line_ = engine_.StartLine();
    ASSERT_GE(line_, 0);
  }

  int32_t Call(const int16_t* samples, int32_t count) {
    return KVD_DetectSpeech(line_, samples, count, &state_, &start_, &end_, &position_);
  }

  OnlineEngine engine_{StreamTestConfig(), 2};
  int32_t line_ = -1;
  int32_t state_ = -7;
  int32_t start_ = -7;
  int32_t end_ = -7;
  int32_t position_ = -7;
  std::vector<int16_t> noise_ = WhiteNoisePcm(300.0, 5u, 4000);
};

// The engine's misuse test tries every wrong line state once; here the line
// bounds, each missing pointer and the failure a negative count leaves.
TEST_F(DetectSpeech, MissingPointersAreRefusedWithoutBreakingTheLineANegativeCountBreaksIt) {
  for (int32_t line : {-1, 2})
    EXPECT_EQ(KVD_DetectSpeech(line, noise_.data(), 80, &state_, &start_, &end_, &position_), -98);
  EXPECT_EQ(Call(nullptr, 80), -98);
  EXPECT_EQ(KVD_DetectSpeech(line_, noise_.data(), 80, nullptr, &start_, &end_, &position_), -98);
  EXPECT_EQ(KVD_DetectSpeech(line_, noise_.data(), 80, &state_, nullptr, &end_, &position_), -98);
  EXPECT_EQ(KVD_DetectSpeech(line_, noise_.data(), 80, &state_, &start_, nullptr, &position_), -98);
  EXPECT_EQ(KVD_DetectSpeech(line_, noise_.data(), 80, &state_, &start_, &end_, nullptr), -98);
  EXPECT_EQ(state_, -7);
  EXPECT_EQ(GetLine(line_)->errorStatus, 0);
  EXPECT_EQ(Call(nullptr, 0), 0);  // no samples need no pointer, and write the state
  EXPECT_EQ(state_, before_speech);
  EXPECT_EQ(start_, -1);
  EXPECT_EQ(end_, -1);
  EXPECT_EQ(position_, 0);
  EXPECT_EQ(Call(noise_.data(), 4000), 0);
  EXPECT_EQ(state_, before_speech);
  EXPECT_EQ(position_, 48 * 80);  // frames 0 .. 47 of 4000 samples
  EXPECT_EQ(Call(noise_.data(), -1), -90);
  EXPECT_EQ(GetLine(line_)->errorStatus, -90);
  state_ = -7;
  const std::string log = CaptureLog([&] { EXPECT_EQ(Call(noise_.data(), 80), -90); });
  EXPECT_NE(log.find("Error to begin Detect!\n"), std::string::npos);
  EXPECT_NE(log.find("KVD_DetectSpeech Error! Fail in Detect.\n"), std::string::npos);
  EXPECT_EQ(state_, -7);
}

TEST_F(DetectSpeech, SpectraAreHandedOutFromTheStartAndOnlyWithAllFourPointers) {
  const std::vector<int16_t> sample = SamplePcm();
  float* block1 = nullptr;
  float* block2 = nullptr;
  int32_t count1 = 0;
  int32_t count2 = 0;
  const auto call = [&](int32_t offset, int32_t count, float** b1, int32_t* c1, float** b2,
                        int32_t* c2) {
    return KVD_DetectSpeech(line_, sample.data() + offset, count, &state_, &start_, &end_,
                            &position_, b1, c1, b2, c2, 1);
  };
  int32_t offset = 0;
  for (; state_ != in_speech && offset < 40000; offset += 80)
    ASSERT_EQ(call(offset, 80, &block1, &count1, &block2, &count2), 0);
  ASSERT_EQ(state_, in_speech);
  // The start call hands out the rows from the start frame (before
  // relaxation: none here) to the decision frame, which is the last analysed.
  const int32_t startFrame = start_ / 80;
  const SpeechDetector* detector = GetLine(line_);
  EXPECT_EQ(block1, detector->spectrumRing + startFrame % 500 * kReducedBins);
  EXPECT_EQ(count1 + count2, position_ / 80 - startFrame);
  // Counts without blocks: zeroed, nothing handed out.
  count1 = count2 = -5;
  EXPECT_EQ(call(offset, 800, nullptr, &count1, nullptr, &count2), 0);
  EXPECT_EQ(count1, 0);
  EXPECT_EQ(count2, 0);
  // Within the utterance every analysed frame is appended.
  const int32_t before = position_;
  EXPECT_EQ(call(offset + 800, 800, &block1, &count1, &block2, &count2), 0);
  EXPECT_EQ(count1 + count2, (position_ - before) / 80);
  EXPECT_EQ(block1, detector->spectrumRing + (before / 80) % 500 * kReducedBins);
  // Null row counts: nothing is written or reset.
  count1 = -5;
  EXPECT_EQ(call(offset + 1600, 800, &block1, nullptr, &block2, nullptr), 0);
  EXPECT_EQ(count1, -5);
  ASSERT_EQ(state_, in_speech);
}

// SendSpectrum on a started line: each step asks for rows [first, last] and
// expects the blocks it then holds, as ring rows (-1: no block).
TEST(SpectrumHandout, RangesAreSplitAtTheRingEndAppendedToOrRefused) {
  struct Step {
    int32_t first, last;
    int32_t row1, count1, row2, count2;
    const char* message;  // logged, or nullptr
  };
  struct Sequence {
    int32_t count1;  // before the first step; count2 starts at 0
    std::vector<Step> steps;
  };
  const Sequence sequences[] = {
      // A wrapping range is split; one more row goes into the second block.
      {0, {{495, 503, 495, 5, 0, 4, nullptr}, {504, 504, 495, 5, 0, 5, nullptr}}},
      // Appending across the last row starts the second block.
      {0,
       {{1495, 1499, 495, 5, -1, 0, nullptr},
        {1500, 1500, 495, 5, 0, 1, nullptr},
        {1501, 1501, 495, 5, 0, 2, nullptr}}},
      // A range after rows were handed out in the same call is refused.
      {0,
       {{10, 409, 10, 400, -1, 0, nullptr},
        {410, 410, 10, 401, -1, 0, nullptr},
        {411, 420, 10, 401, -1, 0, "Send Spectrum error!\n"}}},
      // More than 500 rows in one request or in all.
      {0, {{0, 500, -1, 0, -1, 0, "Too much spectrum to send! Buffer overflow!\n"}}},
      {500, {{600, 600, -1, 500, -1, 0, nullptr}}}};
  for (const Sequence& sequence : sequences) {
    std::unique_ptr<SpeechDetector> d = StartedOnlineDetector();
    ASSERT_EQ(d->DetectState, before_speech);
    const auto row = [&](int32_t r) {
      return r < 0 ? nullptr : d->spectrumRing + r * kReducedBins;
    };
    float* block1 = nullptr;
    float* block2 = nullptr;
    int32_t count1 = sequence.count1;
    int32_t count2 = 0;
    for (const Step& s : sequence.steps) {
      SCOPED_TRACE(testing::Message() << "rows " << s.first << " .. " << s.last);
      const std::string log = CaptureLog(
          [&] { SendSpectrum(*d, s.first, s.last, &block1, &count1, &block2, &count2); });
      EXPECT_TRUE(s.message == nullptr || log.find(s.message) != std::string::npos) << log;
      EXPECT_EQ(block1, row(s.row1));
      EXPECT_EQ(count1, s.count1);
      EXPECT_EQ(block2, row(s.row2));
      EXPECT_EQ(count2, s.count2);
    }
  }
}

TEST(OnlineStream, ChunkSizeChangesNoReport) {
  // The same audio in any chunking: every call reports what the one-sample
  // stream reported at the same stream position, up to and after the end.
  const ConfigText config = StreamTestConfig().Set("MaxWaitFrame", "100");
  const std::vector<int16_t> sample = SamplePcm();
  std::map<int32_t, CallReport> atPosition;
  for (const CallReport& call : StreamFresh(config, sample, 1).calls)
    atPosition[call.position] = call;
  for (int32_t chunk : {7, 30, 80, 160, 1000, static_cast<int32_t>(sample.size())}) {
    for (const CallReport& call : StreamFresh(config, sample, chunk).calls) {
      ASSERT_EQ(atPosition.count(call.position), 1u) << "chunk " << chunk;
      EXPECT_EQ(call, atPosition[call.position]) << "chunk " << chunk << " at " << call.position;
    }
  }
}

// Digital silence (exact zeros, as a muted phone or silence suppression
// sends) after the sample's speech: kTail samples, a whole pause and 1 s more.
constexpr int32_t kTail = 1800 * 8;
// Frames an end may be extended over the still loud slots before it.
constexpr int32_t kExtensionFrames = 20;

std::vector<int16_t> SampleThen(const std::vector<int16_t>& tail, bool zeroLeadIn = false) {
  std::vector<int16_t> pcm = SamplePcm();
  pcm.resize(kSampleSpeechEnd);
  if (zeroLeadIn) std::fill(pcm.begin(), pcm.begin() + kSampleSpeechStart, int16_t{0});
  pcm.insert(pcm.end(), tail.begin(), tail.end());
  return pcm;
}

// An utterance that ended at the speech end, decided after a pause of
// MaxSilence frames plus at most the extension and the statistics lag.
void ExpectEndAfterSpeech(const StreamReport& report) {
  EXPECT_EQ(report.Last().result, 0);
  EXPECT_EQ(report.Last().state, speech_end);
  EXPECT_GE(report.Last().end, kSampleSpeechEnd - 10 * kShift);
  EXPECT_LE(report.Last().end, kSampleSpeechEnd + kExtensionFrames * kShift);
  EXPECT_GE(report.firstSeenAt[speech_end], kSampleSpeechEnd + kMaxSilence * kShift);
  EXPECT_LE(report.firstSeenAt[speech_end],
            kSampleSpeechEnd + (kMaxSilence + kExtensionFrames + 30) * kShift);
}

TEST(OnlineDigitalSilence, ZerosEndTheUtteranceWhereLowNoiseDoesAndGiveNoBackground) {
  // At Sensitivity 0.8 two voiced frames and the active bands resume speech
  // in a pause: the silence must not count as active.
  const std::vector<int16_t> zeros = SampleThen(std::vector<int16_t>(kTail, 0));
  const StreamReport silent = StreamFresh(StreamTestConfig(), zeros, 160);  // Sensitivity 0.5
  const StreamReport sensitive =
      StreamFresh(StreamTestConfig().Set("Sensitivity", "0.8"), zeros, 160);
  for (const StreamReport* report : {&silent, &sensitive}) {
    SCOPED_TRACE(report == &silent ? "Sensitivity 0.5" : "Sensitivity 0.8");
    ExpectEndAfterSpeech(*report);
    EXPECT_NEAR(report->Last().start, kSampleSpeechStart, kSampleStartTolerance);
  }
  const StreamReport noise =
      StreamFresh(StreamTestConfig(), SampleThen(WhiteNoisePcm(30.0, 5u, kTail)), 160);
  ExpectEndAfterSpeech(noise);
  EXPECT_EQ(silent.Last().start, noise.Last().start);
  EXPECT_LE(std::abs(silent.Last().end - noise.Last().end), 10 * kShift);
  EXPECT_LE(std::abs(silent.firstSeenAt[speech_end] - noise.firstSeenAt[speech_end]),
            10 * kShift);
  // Zeros around speech: no background is learnt from them, the start rests
  // on the initial thresholds, which at the shipped gain of -30 dB catch the
  // sample's onset.
  const StreamReport around = StreamFresh(StreamTestConfig().Set("AverageGain", "-30"),
                                          SampleThen(std::vector<int16_t>(kTail, 0), true), 160);
  EXPECT_EQ(around.firstSeenAt[no_speech], -1);
  EXPECT_GE(around.firstSeenAt[in_speech], kSampleSpeechStart);
  EXPECT_NEAR(around.Last().start, kSampleSpeechStart, kSampleStartTolerance);
  ExpectEndAfterSpeech(around);
  // A key tone after speech is not silence: its frames are rejected but
  // carry real energy.
  const StreamReport tone =
      StreamFresh(StreamTestConfig(), SampleThen(KeyOnePcm(4000.0, kTail)), 160);
  EXPECT_EQ(tone.firstSeenAt[speech_end], -1);
  EXPECT_EQ(tone.Last().state, in_speech);
}

TEST(OnlineModes, KeyTonesBeforeSpeechDoNotStartIt) {
  const std::vector<int16_t> pcm = Joined(
      {WhiteNoisePcm(20.0, 3u, 4000), KeyOnePcm(3000.0, 8000), SamplePcm()});
  const StreamReport checked = StreamFresh(StreamTestConfig(), pcm, kShift);
  EXPECT_EQ(checked.Last().state, speech_end);
  EXPECT_NEAR(checked.Last().start, 12000 + kSampleSpeechStart, kSampleStartTolerance);
  // Frames not checked (the check off here, dead frames too) must not leave
  // the verdict of ten frames before in the tone ring.
  OnlineEngine engine(StreamTestConfig().Set("UseCheckDTMF", "0"));
  const int32_t line = engine.StartLine();
  StreamThrough(line, pcm, kShift);
  const auto& flags = GetLine(line)->ToneFlag;
  EXPECT_TRUE(std::none_of(std::begin(flags), std::end(flags), [](bool tone) { return tone; }));
}

// The end decision on a line in speech since frame 100 (reported from 100):
// MinSpeechDuration 200 samples, MaxSpeechDuration 300 frames, MaxSilence
// 50, MaxHoldFrame 150.
TEST(EndDecision, EndsAreJudgedByLengthAgeAndGiveWayToAStop) {
  struct Case {
    int32_t t, endFrame;  // the frame decided on, FindEnd's answer
    int32_t stateBefore, reportedEnd, stateAfter;
  };
  const Case cases[] = {
      {200, 102, in_speech, 102 * kShift, speech_too_short},  // 160 samples < 200
      {200, 103, in_speech, 103 * kShift, speech_end},        // 240 samples
      {400, 120, in_speech, (400 - 150) * kShift, speech_end},  // held MaxHoldFrame back
      {420, 401, in_speech, 400 * kShift, speech_too_long},     // 301 frames > 300
      // KVD_Stop came in between: the state is not written.
      {200, 150, KVD_STATE_IDLE, 150 * kShift, KVD_STATE_IDLE}};
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "frame " << c.t << ", end frame " << c.endFrame);
    std::unique_ptr<SpeechDetector> d = StartedOnlineDetector();
    d->MinSpeechDuration = 200;
    d->MaxSpeechDuration = 300;
    d->MaxSilence = 50;
    d->MaxHoldFrame = 150;
    d->DetectState = c.stateBefore;
    d->speechStartSamples = d->reportedStart = 100 * kShift;
    d->endFrame = c.endFrame;
    int32_t end = -7;
    DecideEnd(*d, c.t, &end);
    EXPECT_EQ(end, c.reportedEnd);
    EXPECT_EQ(d->DetectState, c.stateAfter);
    if (c.stateAfter == speech_too_short) {
      EXPECT_EQ(d->finalEnd, c.reportedEnd);
    }
  }
}

// Streams that reach the last position an int32 can report: frame 26843545
// starts at 2147483600, the next would end beyond 2^31 - 1. The frame
// counter is set near that limit instead of streaming 74.6 hours.
class LongStream : public ::testing::Test {
 protected:
  static constexpr int32_t kFirstUnreportableFrame = INT32_MAX / kShift;
  static constexpr int32_t kLastPosition = kFirstUnreportableFrame * kShift;

  void SkipTo(int32_t frame) { GetLine(line_)->frameIndex = frame; }
  CallReport Feed(const std::vector<int16_t>& pcm) {
    CallReport r{-1, -7, -7, -7, -7};
    r.result = KVD_DetectSpeech(line_, pcm.data(), static_cast<int32_t>(pcm.size()), &r.state,
                                &r.start, &r.end, &r.position);
    return r;
  }

  OnlineEngine engine_{StreamTestConfig()};
  int32_t line_ = engine_.StartLine();
};

TEST_F(LongStream, LastFramesAreReportedThenDetectionEndsWithBadDataUntilRestart) {
  SkipTo(kFirstUnreportableFrame - 100);
  const std::vector<int16_t> hundredFrames(200 + 99 * kShift, 0);
  const CallReport last = Feed(hundredFrames);
  EXPECT_EQ(last.result, 0);
  EXPECT_EQ(last.position, kLastPosition);
  const std::vector<int16_t> oneFrame(kShift, 0);
  const std::string log = CaptureLog([&] {
    const CallReport beyond = Feed(oneFrame);
    EXPECT_EQ(beyond.result, KVD_ERR_BAD_DATA);
    EXPECT_EQ(beyond.position, kLastPosition) << "the position reached, not a wrapped one";
  });
  EXPECT_NE(log.find("Line 0 has reached sample position 2147483600 (74.6 h at 8000 Hz)"),
            std::string::npos) << log;
  EXPECT_EQ(Feed(oneFrame).result, KVD_ERR_BAD_DATA);
  EXPECT_EQ(Feed({}).result, 0) << "a call without a new frame analyses nothing";
  EXPECT_EQ(GetLine(line_)->frameIndex, kFirstUnreportableFrame);
  ASSERT_EQ(KVD_Start(line_), 0);
  const CallReport restarted = Feed(hundredFrames);
  EXPECT_EQ(restarted.result, 0);
  EXPECT_EQ(restarted.position, 100 * kShift);
}

TEST_F(LongStream, UtteranceJustBeforeTheLimitIsFoundAsFromFrameZero) {
  // The same start and end, moved by the offset, where a wrapped position
  // would have been negative or cut at once.
  const StreamReport fromZero = StreamThrough(line_, SamplePcm(), kShift);
  ASSERT_EQ(fromZero.Last().result, 0);
  ASSERT_GT(fromZero.Last().start, 0);
  ASSERT_EQ(KVD_Start(line_), 0);
  const int32_t offsetFrames = kFirstUnreportableFrame - 960;  // 9.6 s before the limit
  SkipTo(offsetFrames);
  const StreamReport nearLimit = StreamThrough(line_, SamplePcm(), kShift);
  ASSERT_EQ(nearLimit.Last().result, 0);
  const int32_t offset = offsetFrames * kShift;
  EXPECT_EQ(nearLimit.Last().state, fromZero.Last().state);
  EXPECT_EQ(nearLimit.Last().start, fromZero.Last().start + offset);
  EXPECT_EQ(nearLimit.Last().end, fromZero.Last().end + (fromZero.Last().end >= 0 ? offset : 0));
  EXPECT_EQ(nearLimit.firstSeenAt[speech_too_long], -1);
}

TEST(OnlineThreads, AStopFromAnotherThreadEndsTheCallAndLeavesTheLineIdle) {
  // Six copies of the sample in one chunk; with pauses under MaxSilence the
  // utterance lasts to the end, so the call is long after the start.
  OnlineEngine engine(StreamTestConfig()
                                   .Set("MaxSilence", "500")
                                   .Set("MaxHoldFrame", "500")
                                   .Set("MaxSpeechDuration", "20000"));
  const int32_t line = engine.StartLine();
  ASSERT_GE(line, 0);
  const std::vector<int16_t> one = SamplePcm();
  const std::vector<int16_t> pcm = Joined({one, one, one, one, one, one});
  SpeechDetector* detector = GetLine(line);
  std::atomic<bool> callReturned{false};
  std::thread stopper([&] {
    while (detector->DetectState != in_speech && !callReturned) std::this_thread::yield();
    KVD_Stop(line);
  });
  int32_t state = -7, start = -7, end = -7, position = -7, result = -7;
  const std::string log = CaptureLog([&] {
    result = KVD_DetectSpeech(line, pcm.data(), static_cast<int32_t>(pcm.size()), &state, &start,
                              &end, &position);
  });
  callReturned = true;
  stopper.join();
  EXPECT_EQ(result, 0);
  EXPECT_NE(log.find("Exit DetectSpeech from outside.\n"), std::string::npos);
  EXPECT_EQ(state, -7);  // the stopped call leaves the state argument alone
  EXPECT_EQ(position, 0);
  EXPECT_LT(detector->frameIndex * kShift, static_cast<int32_t>(pcm.size()) / 2);
  EXPECT_EQ(detector->DetectState, KVD_STATE_IDLE);
  EXPECT_EQ(detector->busyFlag, 0);
  EXPECT_EQ(detector->errorStatus, 0);
  EXPECT_EQ(KVD_DetectSpeech(line, pcm.data(), kShift, &state, &start, &end, &position), -95);
  // KVD_Stop cleared busyFlag, but a detection state was written after its
  // own write of the idle state: the next frame leaves the line idle.
  ASSERT_EQ(KVD_Start(line), 0);
  detector->DetectState = in_speech;
  detector->busyFlag = 0;
  const std::vector<int16_t> noise = WhiteNoisePcm(100.0, 9u, 400);
  EXPECT_EQ(KVD_DetectSpeech(line, noise.data(), 400, &state, &start, &end, &position), 0);
  EXPECT_EQ(detector->DetectState, KVD_STATE_IDLE);
  EXPECT_EQ(detector->frameIndex, 0);
}

}  // namespace
