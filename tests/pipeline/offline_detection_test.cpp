// Offline detection: single- and multi-segment detection of whole
// recordings made of known pieces (8000 Hz) and the refusals of both modes;
// then the edges of the offline scans on hand-made frame arrays (short runs
// at the ends of a recording, recordings shorter than a window, histogram
// bins and a step too small to count with, the segment list at its limits,
// runs at the array ends and of zero length, refined edges that stay inside
// the recording).
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <string>
#include <thread>
#include <vector>

#include "engine/kvd_api.h"
#include "engine/speech_detector.h"
#include "offline_engine.h"
#include "offline_signals.h"
#include "pipeline/offline_background.h"
#include "pipeline/offline_detection.h"
#include "pipeline/offline_histogram.h"
#include "pipeline/offline_labels.h"
#include "pipeline/offline_multi_seg_edges.h"
#include "pipeline/offline_one_seg_locate.h"
#include "pipeline/offline_one_seg_scan.h"
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

TEST(OfflineBothModes, DefaultSpeechDecidesRecordingsTooShortToAnalyse) {
  // 29 frames: 200 + 28 * 80 = 2440 samples; 2519 samples still give 29
  // frames. 40 frames (3320 samples) are fewer than MinSignalLen (50).
  // Without DefaultSpeech the outputs are left alone (-7), the list zeroed.
  for (int32_t n : {2519, 3320, 1}) {
    const auto pcm = kvdtest::WhiteNoisePcm(kNoiseAmplitude, 5, n);
    for (const bool speech : {true, false}) {
      SCOPED_TRACE(std::to_string(n) + (speech ? " DefaultSpeech 1" : " DefaultSpeech 0"));
      const std::string value = speech ? "1" : "0";
      const OfflineResult one =
          OfflineEngine(OfflineMode::kOneSegment, {{"DefaultSpeech", value}}).Run(pcm);
      EXPECT_EQ(one.result, KVD_OK);
      EXPECT_EQ(one.state, speech ? speech_end : -7);
      EXPECT_EQ(one.start, speech ? 0 : -7);
      EXPECT_EQ(one.end, speech ? n - 1 : -7);
      EXPECT_EQ(one.processed, n);
      const OfflineResult multi = OfflineEngine(OfflineMode::kMultiSegment,
                                                {{"DefaultSpeech", value}, {"MaxSegNum", "4"}})
                                      .Run(pcm, 4);
      EXPECT_EQ(multi.result, KVD_OK);
      EXPECT_EQ(multi.state, speech ? speech_end : -7);
      EXPECT_EQ(multi.starts, std::vector<int32_t>(4, 0));
      EXPECT_EQ(multi.ends, (std::vector<int32_t>{speech ? n - 1 : 0, 0, 0, 0}));
      EXPECT_EQ(multi.processed, n);
    }
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

TEST(DeleteShortSpeech, RunsThatAreLongOrNotIsolatedStay) {
  // Runs shorter than 20 frames with more than 30 noise frames on each side
  // go. With no candidate before it, a run at frame i counts i - 1 noise
  // frames before it: at frame 31 that is 30, not more than 30; at frame 32,
  // 31. A run reaching the last frame has no noise after it; a run at frame 0
  // is never examined.
  struct Case {
    int32_t noiseBefore, runFrames, noiseAfter;
    int16_t label;  // of the run afterwards
  };
  const Case cases[] = {{50, 20, 50, kLabelCandidate},
                        {31, 10, 50, kLabelCandidate},
                        {32, 10, 50, kLabelShortRun},
                        {50, 10, 0, kLabelCandidate},
                        {0, 10, 50, kLabelCandidate}};
  for (const Case& c : cases) {
    std::vector<int16_t> labels(static_cast<size_t>(c.noiseBefore + c.runFrames + c.noiseAfter),
                                kLabelBelowFloor);
    std::fill_n(labels.begin() + c.noiseBefore, c.runFrames, int16_t{1});
    DeleteShortSpeech(labels.data(), static_cast<int32_t>(labels.size()), 20, 30);
    EXPECT_EQ(labels[static_cast<size_t>(c.noiseBefore)], c.label)
        << c.noiseBefore << " " << c.runFrames;
  }
}

TEST(FindBackground, ShortRecordingsTakeTheLoudestMeanOfWhatThereIs) {
  // 50 frames: the mean of all, (10 * 25 + 30 * 25) / 50 = 20; frames below
  // the floor of 15 become kLabelBelowFloor.
  std::vector<float> energy(50, 10.0f);
  for (int32_t i = 25; i < 50; ++i) energy[static_cast<size_t>(i)] = 30.0f;
  std::vector<int16_t> labels(50, kLabelCandidate);
  float floorValue = 15.0f;
  float maxEnergy = 0.0f;
  FindBackground(energy.data(), labels.data(), 50, floorValue, maxEnergy);
  EXPECT_FLOAT_EQ(maxEnergy, 20.0f);
  EXPECT_EQ(labels[24], kLabelBelowFloor);
  EXPECT_EQ(labels[25], kLabelCandidate);
  // 80 frames: the loudest 60-frame window (frames 20 .. 79) holds 20 quiet
  // and 40 loud frames: (20 * 10 + 40 * 40) / 60 = 30.
  std::vector<float> longer(80, 10.0f);
  for (int32_t i = 40; i < 80; ++i) longer[static_cast<size_t>(i)] = 40.0f;
  std::vector<int16_t> longerLabels(80, kLabelCandidate);
  floorValue = 1.0f;
  maxEnergy = 0.0f;
  FindBackground(longer.data(), longerLabels.data(), 80, floorValue, maxEnergy);
  EXPECT_FLOAT_EQ(maxEnergy, 30.0f);
}

TEST(EnergyHistogram, FramesFallIntoTheBinOfTheirEnergy) {
  // floor 10, max 110: step (110 - 10) / 100 = 1; counting starts at 9.
  // 9 takes no step (bin 0); 10 one step (9 -> 10, bin 1); 10.5 two steps
  // (9 -> 10 -> 11, bin 2); 59.5 fifty-one steps; 1000 is beyond the top.
  const std::vector<float> energy = {9.0f, 10.0f, 10.5f, 59.5f, 1000.0f};
  std::vector<float> hist(kHistogramBins, -1.0f);
  const float step = BuildEnergyHistogram(energy.data(), 5, 10.0f, 110.0f, hist.data());
  EXPECT_FLOAT_EQ(step, 1.0f);
  EXPECT_FLOAT_EQ(hist[0], 0.2f);
  EXPECT_FLOAT_EQ(hist[1], 0.2f);
  EXPECT_FLOAT_EQ(hist[2], 0.2f);
  EXPECT_FLOAT_EQ(hist[51], 0.2f);
  EXPECT_FLOAT_EQ(hist[99], 0.2f);
  float total = 0.0f;
  for (float fraction : hist) total += fraction;
  EXPECT_FLOAT_EQ(total, 1.0f);
}

TEST(EnergyHistogram, StepTooSmallToMoveTheCountStopsAtTheTopBin) {
  // Around 1e6 single precision resolves 0.0625; a span of one such unit
  // gives a step of 0.000625 that leaves 999999 unchanged when added.
  const float floorValue = 1.0e6f;
  const float maxEnergy = std::nextafter(floorValue, 2.0e6f);
  const std::vector<float> energy = {2.0e6f, 3.0e6f};
  std::vector<float> hist(kHistogramBins);
  BuildEnergyHistogram(energy.data(), 2, floorValue, maxEnergy, hist.data());
  EXPECT_FLOAT_EQ(hist[99], 1.0f);
}

TEST(HistogramThreshold, BinsAreTakenUpToHalfOfAllFramesRisingOnlyBelowATenth) {
  struct Case {
    std::vector<float> head;  // the first bins; the rest hold 0
    int32_t threshold;
  };
  const Case cases[] = {
      {{0.6f, 0.2f, 0.1f, 0.1f}, 0},  // a quiet bin 0 holding more than half
      // 0.05 < 0.3: start at bin 1 with 0.35; bin 2 (0.45), bin 3 (0.55); stop.
      {{0.05f, 0.3f, 0.1f, 0.1f, 0.05f, 0.4f}, 3},
      // Rises to bins 3 and 4 taken while less than 0.1 lies below (0.04, 0.07).
      {{0.02f, 0.01f, 0.01f, 0.03f, 0.5f, 0.43f}, 4},
      // After bins 0 .. 2 already 0.13 lies below: the rise at bin 3 stops it.
      {{0.05f, 0.04f, 0.04f, 0.1f, 0.77f}, 2},
      // 0.1 < 0.15 < 0.2: bins 0 .. 2 taken at once (0.45), then bin 3 (0.6).
      {{0.1f, 0.15f, 0.2f, 0.15f, 0.4f}, 3},
      // 0.2 > 0.1 < 0.3: bins 0 .. 2 taken at once (0.6).
      {{0.2f, 0.1f, 0.3f, 0.4f}, 2}};
  for (const Case& c : cases) {
    std::vector<float> hist(kHistogramBins, 0.0f);
    std::copy(c.head.begin(), c.head.end(), hist.begin());
    EXPECT_EQ(MassThresholdBin(hist.data()), c.threshold) << c.head[0] << " " << c.head[1];
  }
}

TEST(HistogramValleyAndPeak, PeakSearchStopsAtBinFifty) {
  // Falls to bin 1, then rises steadily to bin 99.
  std::vector<float> hist(kHistogramBins);
  hist[0] = 0.5f;
  for (int k = 1; k < kHistogramBins; ++k) hist[k] = 0.0001f * k;
  EXPECT_EQ(ValleyBin(hist.data()), 1);
  EXPECT_EQ(PeakBin(hist.data()), 50);
  // A valley beyond bin 50 (falling to bin 70, rising at 71) stays.
  std::vector<float> falling(kHistogramBins);
  for (int k = 0; k < kHistogramBins; ++k) falling[k] = 1.0f - 0.01f * (k < 70 ? k : 70);
  falling[71] = 0.5f;
  EXPECT_EQ(ValleyBin(falling.data()), 70);
  EXPECT_EQ(PeakBin(falling.data()), 70);
}

std::vector<int16_t> Labels(const std::string& pattern) {
  std::vector<int16_t> labels;
  for (char c : pattern) labels.push_back(c == '+' ? kLabelCandidate : kLabelBelowThreshold);
  return labels;
}

TEST(MultiSegList, ACandidateOnTheLastFrameAloneOpensNoSegment) {
  const std::vector<int16_t> labels = Labels("-++---+");
  std::vector<int32_t> starts(3);
  std::vector<int32_t> ends(3);
  const SegmentList list = CollectSegments(labels.data(), 7, 80, 3, starts.data(), ends.data());
  EXPECT_EQ(list.count, 1);
  EXPECT_EQ(starts, (std::vector<int32_t>{80, 0, 0}));
  EXPECT_EQ(ends, (std::vector<int32_t>{240, 0, 0}));
}

TEST(MultiSegList, ClosingTheLastEntryFillsTheList) {
  // Three segments and room for three: full when the third closes (frame 9).
  const std::vector<int16_t> labels = Labels("++--++--+--");
  std::vector<int32_t> starts(3);
  std::vector<int32_t> ends(3);
  const SegmentList list = CollectSegments(labels.data(), 11, 80, 3, starts.data(), ends.data());
  EXPECT_TRUE(list.full);
  EXPECT_EQ(list.stopFrame, 9);
  // No room at all: full on the first frame, nothing written out of range.
  std::vector<int32_t> one(1);
  std::vector<int32_t> other(1);
  EXPECT_TRUE(CollectSegments(labels.data(), 11, 80, 0, one.data(), other.data()).full);
}

// Frames [first, end) are candidates of the given energy; the rest noise at
// energy 1.
struct Recording {
  std::vector<float> energy;
  std::vector<int16_t> labels;
};

Recording NoiseFrames(int32_t count) {
  return Recording{std::vector<float>(static_cast<size_t>(count), 1.0f),
                   std::vector<int16_t>(static_cast<size_t>(count), kLabelBelowThreshold)};
}

void AddRun(Recording& r, int32_t first, int32_t end, float energy) {
  for (int32_t i = first; i < end; ++i) {
    r.energy[static_cast<size_t>(i)] = energy;
    r.labels[static_cast<size_t>(i)] = kLabelCandidate;
  }
}

// Long runs: 50 frames above 40; short runs: above 10.
constexpr RunEnergyTest kTest{50, 20, 40.0f, 10.0f};

TEST(OneSegScan, RunOfExactlyTheShortLengthIsAnEndRunButNoStartRun) {
  Recording r = NoiseFrames(100);
  AddRun(r, 40, 60, 20.0f);  // 20 frames
  FrameRun run{};
  EXPECT_FALSE(FindStartRun(r.energy.data(), r.labels.data(), 100, kTest, run));
  // Backwards the test window is frames 39 .. 58: (1 + 19 * 20) / 20 = 19.05.
  EXPECT_EQ(FindEndRun(r.energy.data(), r.labels.data(), 100, kTest), 59);
}

TEST(OneSegScan, ScansStopAtTheArrayEnds) {
  // Candidates up to the last frame: the forward scan must stop at N.
  Recording r = NoiseFrames(80);
  AddRun(r, 10, 80, 5.0f);
  FrameRun run{};
  EXPECT_FALSE(FindStartRun(r.energy.data(), r.labels.data(), 80, kTest, run));
  // Candidates from frame 0 on: the backward window stops at frame 0 and
  // holds frames 0 .. 28.
  Recording fromZero = NoiseFrames(80);
  AddRun(fromZero, 0, 30, 50.0f);
  EXPECT_EQ(FindEndRun(fromZero.energy.data(), fromZero.labels.data(), 80, kTest), 29);
  Recording silent = NoiseFrames(80);
  EXPECT_EQ(FindEndRun(silent.energy.data(), silent.labels.data(), 80, kTest), -1);
}

TEST(OneSegScan, ZeroLengthSettingsNeverTestAnEmptyRun) {
  // With both lengths 0 every run is long; the noise between runs (an empty
  // run) must neither be accepted nor relabelled.
  constexpr RunEnergyTest zeroLengths{0, 0, 40.0f, 10.0f};
  Recording r = NoiseFrames(40);
  AddRun(r, 5, 15, 50.0f);
  FrameRun run{};
  ASSERT_TRUE(FindStartRun(r.energy.data(), r.labels.data(), 40, zeroLengths, run));
  EXPECT_EQ(run.first, 5);
  EXPECT_EQ(run.endExclusive, 15);
  EXPECT_EQ(FindEndRun(r.energy.data(), r.labels.data(), 40, zeroLengths), 14);
  EXPECT_EQ(r.labels[0], kLabelBelowThreshold);
  EXPECT_EQ(r.labels[39], kLabelBelowThreshold);
}

// Arrays for the refinements: flat energy 10, unvoiced, variance 1.
struct Edges {
  std::vector<float> energy = std::vector<float>(100, 10.0f);
  std::vector<int16_t> voice = std::vector<int16_t>(100, -1);
  std::vector<float> variance = std::vector<float>(100, 1.0f);
};

TEST(OneSegRefinement, EdgesStayInsideTheRecording) {
  const Edges e;
  EXPECT_EQ(RefineSegmentStart(e.energy.data(), e.voice.data(), e.variance.data(), 3, 5), 0);
  EXPECT_EQ(RefineSegmentEnd(e.energy.data(), e.voice.data(), e.variance.data(), 100, 97, 5), 99);
}

// A detector holding the arrays of a 300-frame recording by hand: noise at
// the background level 100 (already labelled), loudest mean 10100, so the
// histogram step is (10100 - 100) / 100 = 100 and a short run needs a mean
// above 10 steps = 1000.
class LocateOneSegmentTest : public ::testing::Test {
 protected:
  static constexpr int32_t kFrames = 300;

  LocateOneSegmentTest() : detector_(8000) {
    detector_.frameCount = kFrames;
    detector_.floorValue = 100.0f;
    detector_.maxEnergy = 10100.0f;
    detector_.CommonSpeechSegLen_sec = 30;
    detector_.ShortSpeechSegLen_sec = 10;
    detector_.CommonSpeechSegEnergyThd = 3.0f;
    detector_.ShortSpeechSegEnergyThd = 10;
    detector_.ExtendSpeechLen_sec = 3;
    detector_.frameEnergy.assign(kFrames, 100.0f);
    detector_.labels.assign(kFrames, kLabelStationary100);
    detector_.voiceFlags.assign(kFrames, -1);
    detector_.bandVar.assign(kFrames, 0.0f);
  }

  SpeechDetector detector_;
};

TEST_F(LocateOneSegmentTest, EndIsNeverBeforeTheStartRunWhenTheBackwardScanFails) {
  // Frames 100 .. 110: ten at 500 and a last one at 10000. Forwards (11
  // frames, more than 10) the mean is (5000 + 10000) / 11 = 1364 > 1000.
  // Backwards the window is frames 99 .. 109: (100 + 5000) / 11 = 464, so
  // the scan reaches frame 0 without accepting a run.
  for (int32_t i = 100; i < 110; ++i) {
    detector_.frameEnergy[static_cast<size_t>(i)] = 500.0f;
    detector_.labels[static_cast<size_t>(i)] = kLabelCandidate;
  }
  detector_.frameEnergy[110] = 10000.0f;
  detector_.labels[110] = kLabelCandidate;
  SegmentFrames segment{};
  ASSERT_TRUE(LocateOneSegment(detector_, segment));
  // Start: 100, one frame down the slope (500 > 100) to 99, margin 3 -> 96.
  // End: the last frame of the start run, 110, one frame down the slope to
  // 111, margin 3 -> 114.
  EXPECT_EQ(segment.startFrame, 96);
  EXPECT_EQ(segment.endFrame, 114);
}

}  // namespace
