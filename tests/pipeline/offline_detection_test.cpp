// Offline detection: whole recordings made of known pieces (8000 Hz) through
// both modes and their refusals; the spectra the energy pass keeps; then the
// offline scans on hand-made frame arrays (runs at the ends and of zero
// length, recordings shorter than a window, histogram bins, the segment list
// at its limits, refined edges).
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstring>
#include <memory>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "engine/kvd_api.h"
#include "engine/speech_detector.h"
#include "golden_signals.h"
#include "offline_engine.h"
#include "online_fixtures.h"
#include "pipeline/offline_background.h"
#include "pipeline/frame_front_end.h"
#include "pipeline/offline_detection.h"
#include "pipeline/offline_frame.h"
#include "pipeline/offline_histogram.h"
#include "pipeline/offline_labels.h"
#include "pipeline/offline_multi_seg_edges.h"
#include "pipeline/offline_one_seg_locate.h"
#include "pipeline/offline_one_seg_scan.h"
#include "test_signals.h"

namespace {

using namespace kvdtest;

constexpr int kRateHz = 8000;
constexpr int kFrameShift = 80;
// Detected edges lie within this much of the true ones: the margin of 30 ms
// on each side, the variance step of at most as much, and a frame or two of
// voicing and slope.
constexpr int kToleranceMs = 100;
// White noise of this amplitude (about -50 dBFS) lies under every recording.
constexpr double kNoiseAmplitude = 100.0;

// A vowel (AddVowel: a gliding pitch under three formants, 20 ms edges, a
// harmonic on a formant peak at amplitude 4000) placed in milliseconds.
struct Utterance {
  int startMs;
  int durationMs;
  double f0StartHz = 120.0;
  double f0EndHz = 160.0;
};

// totalMs of white noise (the given seed) with every utterance added.
std::vector<int16_t> Recording(int totalMs, uint32_t seed, const std::vector<Utterance>& parts) {
  std::vector<int16_t> pcm =
      WhiteNoisePcm(kNoiseAmplitude, seed, totalMs * kRateHz / 1000);
  for (const Utterance& u : parts)
    AddVowel(pcm, kRateHz, u.startMs, u.durationMs, u.f0StartHz, u.f0EndHz, 4000.0);
  return pcm;
}

int ToMs(int32_t samples) { return samples * 1000 / kRateHz; }

bool Logged(const std::string& log, const std::string& text) {
  return log.find(text) != std::string::npos;
}

// Every offline call leaves the line's per-frame arrays released.
void ExpectArraysReleased(const OfflineEngine& engine) {
  const SpeechDetector& d = *GetLine(engine.line());
  EXPECT_EQ(d.frameEnergy.capacity() + d.labels.capacity() + d.voiceFlags.capacity() +
                d.bandVar.capacity() + d.segStartList.capacity() + d.segEndList.capacity(),
            0u);
}

TEST(OfflineBothModes, SpeechReachingTheRecordingEndsIsKeptToThem) {
  // One segment, speech from the first sample to the last: the runs lie
  // within 3 frames of either end and snap to the recording edges.
  const auto both = Recording(3000, 3, {{0, 1000}, {2000, 1000}});
  const OfflineResult one = OfflineEngine(OfflineMode::kOneSegment).Run(both);
  EXPECT_EQ(one.state, speech_end);
  EXPECT_EQ(one.start, 0);
  EXPECT_EQ(one.end, static_cast<int32_t>(both.size()) - 1);
  // Multi segment, 250 ms of voice ending with the recording: its candidate
  // is shorter than 30 frames and would never see a full voice window from
  // its own start, so it is examined over the last 30 frames.
  const auto cut = Recording(3000, 9, {{1000, 800}, {2750, 250}});
  const OfflineResult multi = OfflineEngine(OfflineMode::kMultiSegment).Run(cut);
  const int32_t frameCount = (static_cast<int32_t>(cut.size()) - 200) / kFrameShift + 1;
  EXPECT_EQ(multi.state, speech_end);
  EXPECT_NEAR(ToMs(multi.starts[1]), 2750, kToleranceMs);
  EXPECT_EQ(multi.ends[1], kFrameShift * (frameCount - 1));
  EXPECT_EQ(multi.ends[2], 0);
}

TEST(OfflineBothModes, DefaultSpeechDecidesRecordingsTooShortToAnalyse) {
  // 29 frames: 200 + 28 * 80 = 2440 samples; 2519 samples still give 29
  // frames. 40 frames (3320 samples) are fewer than MinSignalLen (50).
  // Without DefaultSpeech the outputs are left alone (-7), the list zeroed.
  for (int32_t n : {2519, 3320, 1}) {
    const auto pcm = WhiteNoisePcm(kNoiseAmplitude, 5, n);
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

TEST(OfflineOneSeg, StationaryNoiseHasNoDynamicRange) {
  // A steady 1000 Hz hum in light noise: every 100-frame window varies by
  // far less than 10 %.
  std::vector<int16_t> pcm = CosinePcm(1000.0, 2000.0, kRateHz, 3 * kRateHz);
  const std::vector<int16_t> noise = WhiteNoisePcm(kNoiseAmplitude, 11, 3 * kRateHz);
  for (size_t i = 0; i < pcm.size(); ++i) pcm[i] = static_cast<int16_t>(pcm[i] + noise[i]);
  OfflineEngine engine(OfflineMode::kOneSegment, {{"DefaultSpeech", "0"}});
  OfflineResult r;
  const std::string log = CaptureLog([&] { r = engine.Run(pcm); });
  EXPECT_TRUE(Logged(log, "Signal dynamic range too small!\n"));
  EXPECT_TRUE(Logged(log, "Default as noise or silence.\n"));
  EXPECT_EQ(r.result, KVD_OK);
  EXPECT_EQ(r.state, -7);
  EXPECT_EQ(r.processed, static_cast<int32_t>(pcm.size()));
  ExpectArraysReleased(engine);
}

TEST(OfflineOneSeg, StopFromAnotherThreadEndsTheVoicePass) {
  OfflineEngine engine(OfflineMode::kOneSegment);
  // A minute of audio: its energy pass, background search and voice pass
  // last far longer than the stopping thread's pause of 5 ms. Should a busy
  // machine still let the stop come before the call looked at the line
  // (then refused as not started) or after it ended, the attempt is repeated.
  const auto pcm = Recording(60000, 13, {{1000, 1500}});
  OfflineResult r;
  std::string log;
  for (int attempt = 0; attempt < 5; ++attempt) {
    r = OfflineResult{};
    ASSERT_EQ(KVD_Start(engine.line()), KVD_OK);
    std::atomic<bool> calling{false};
    std::thread stopper([&] {
      while (!calling.load()) std::this_thread::yield();
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
      KVD_Stop(engine.line());
    });
    log = CaptureLog([&] {
      calling.store(true);
      r.result = KVD_DetectSpeech(engine.line(), pcm.data(), static_cast<int32_t>(pcm.size()),
                                  &r.state, &r.start, &r.end, &r.processed);
    });
    stopper.join();
    if (r.result != KVD_ERR_NOT_STARTED && r.state != speech_end) break;
  }
  EXPECT_EQ(r.result, KVD_OK);
  EXPECT_EQ(r.state, before_speech);
  EXPECT_EQ(r.start, 0);
  EXPECT_EQ(r.end, -1);
  EXPECT_EQ(r.processed, 0);
  EXPECT_TRUE(Logged(log, "KVD_DetectSpeech warning! Stop KVD_DetectSpeech from outside!\n"));
  ExpectArraysReleased(engine);
}

TEST(OfflineMultiSeg, AListThatFillsUpAbortsTheDetection) {
  // Three utterances with 1 s pauses, the second at a higher voice.
  OfflineEngine engine(OfflineMode::kMultiSegment, {{"MaxSegNum", "3"}});
  const auto pcm = Recording(6000, 7, {{800, 1000}, {2800, 700, 210.0, 170.0}, {4500, 800}});
  OfflineResult r;
  const std::string log = CaptureLog([&] { r = engine.Run(pcm, 3); });
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

// A list without room is refused before anything is written, for a
// recording too short to analyse as for a long one.
TEST(OfflineRefusals, ListWithoutRoom) {
  for (const char* maxSegNum : {"0", "-1"}) {
    OfflineEngine engine(OfflineMode::kMultiSegment, {{"MaxSegNum", maxSegNum}});
    ASSERT_EQ(engine.initResult(), KVD_OK);
    for (const int samples : {2000, 3 * kRateHz}) {
      OfflineResult r;
      const std::string log = CaptureLog(
          [&] { r = engine.Run(WhiteNoisePcm(kNoiseAmplitude, 5, samples), 1); });
      EXPECT_EQ(r.result, KVD_ERR_OFFLINE) << maxSegNum << " " << samples;
      EXPECT_TRUE(Logged(log, "KVD_DetectSpeech multi-seg offline error! MaxSegNum should be "
                              "1..100000!\n"));
      EXPECT_EQ(r.starts, std::vector<int32_t>{-7});  // untouched
      EXPECT_EQ(r.ends, std::vector<int32_t>{-7});
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
    EXPECT_EQ(DetectOfflineOneSeg(d, pcm.data(), 8000, &state, &start, &end, &processed),
              KVD_ERR_NOT_STARTED);
    EXPECT_EQ(DetectOfflineOneSeg(d, pcm.data(), 8000, &state, &start, nullptr, &processed),
              KVD_ERR_BAD_DATA);
    EXPECT_EQ(DetectOfflineOneSeg(d, nullptr, 8000, &state, &start, &end, &processed),
              KVD_ERR_BAD_DATA);
    EXPECT_EQ(d.errorStatus, KVD_ERR_BAD_DATA);
  }
  {
    OfflineEngine engine(OfflineMode::kMultiSegment);
    SpeechDetector& d = *GetLine(engine.line());
    std::vector<int32_t> starts(10), ends(10);
    int32_t result = 0;
    const std::string log = CaptureLog([&] {
      result = DetectOfflineMultiSeg(d, pcm.data(), 8000, &state, starts.data(), ends.data(),
                                     &processed);
    });
    EXPECT_EQ(result, KVD_ERR_NOT_STARTED);
    EXPECT_EQ(d.errorStatus, KVD_ERR_NOT_STARTED);
    EXPECT_TRUE(Logged(log, "KVD_DetectSpeech multi-seg offline mode error in KVD_STATE! Forget "
                            "to reinitialize KVD?\n"));
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

constexpr int32_t kBins = 256;  // of the 512-point transform

// The offline passes after the energy pass take the spectra it kept instead
// of transforming the frames again: the power spectrum and band variance of
// every frame must be those a new transform gives, bit for bit, on speech,
// noise, silence (dead frames) and with an empty detection band.
TEST(FrameSpectrum, KeptSpectraEqualANewTransform) {
  constexpr int32_t kFrames = 40;
  std::vector<int16_t> signal = CosinePcm(440.0, 3000.0, 8000, 80 * kFrames + 120);
  for (size_t i = 0; i < signal.size(); ++i) {
    if (i >= 800 && i < 1600) signal[i] = 0;                                     // dead frames
    if (i >= 2000) signal[i] = static_cast<int16_t>((i * 7919u) % 601u) - 300;  // noise
  }
  for (const auto& band : {std::pair<int32_t, int32_t>{19, 217}, {100, 100}}) {
    std::unique_ptr<SpeechDetector> detector = StartedOnlineDetector();
    SpeechDetector& d = *detector;
    d.frameCount = kFrames;
    d.DetectSpecLowBorder_Hz = band.first;
    d.DetectSpecHighBorder_Hz = band.second;
    d.BackgroundEnergyOffline = 1.0f;
    d.BakgroundEnergyRelativeOffline = 0.1f;
    d.frameEnergy.assign(kFrames, 0.0f);
    d.bandVar.assign(kFrames, -1.0f);
    d.framePowers.assign(static_cast<size_t>(kFrames) * kBins, 0.0f);
    d.frameBandVar.assign(kFrames, 0.0f);
    ComputeFrameEnergies(d, signal.data());
    std::vector<float> keptPower(kBins);
    std::vector<float> keptVariance(kFrames);
    for (int32_t f = 0; f < kFrames; ++f) {
      AnalyseFrame(d, signal.data(), f);
      std::copy_n(d.currentPower, kBins, keptPower.begin());
      keptVariance[f] = d.bandVar[f];
      // Without kept spectra the frame is transformed again.
      std::vector<float> powers = std::exchange(d.framePowers, {});
      std::vector<float> variances = std::exchange(d.frameBandVar, {});
      AnalyseFrame(d, signal.data(), f);
      d.framePowers = std::move(powers);
      d.frameBandVar = std::move(variances);
      EXPECT_EQ(std::memcmp(keptPower.data(), d.currentPower, kBins * sizeof(float)), 0)
          << "frame " << f;
      EXPECT_EQ(std::memcmp(&keptVariance[f], &d.bandVar[f], sizeof(float)), 0)
          << "frame " << f << ": " << keptVariance[f] << " against " << d.bandVar[f];
    }
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

// Frames [quietFrames, frames) at `loud`, the rest at 10: the loudest mean
// FindBackground finds with the given floor, and the labels it leaves.
float LoudestMean(int32_t frames, int32_t quietFrames, float loud, float floorValue,
                  std::vector<int16_t>& labels) {
  std::vector<float> energy(static_cast<size_t>(frames), 10.0f);
  std::fill(energy.begin() + quietFrames, energy.end(), loud);
  labels.assign(static_cast<size_t>(frames), kLabelCandidate);
  float maxEnergy = 0.0f;
  FindBackground(energy.data(), labels.data(), frames, floorValue, maxEnergy);
  return maxEnergy;
}

TEST(FindBackground, ShortRecordingsTakeTheLoudestMeanOfWhatThereIs) {
  // 50 frames: the mean of all, (10 * 25 + 30 * 25) / 50 = 20; frames below
  // the floor of 15 become kLabelBelowFloor.
  std::vector<int16_t> labels;
  EXPECT_FLOAT_EQ(LoudestMean(50, 25, 30.0f, 15.0f, labels), 20.0f);
  EXPECT_EQ(labels[24], kLabelBelowFloor);
  EXPECT_EQ(labels[25], kLabelCandidate);
  // 80 frames: the loudest 60-frame window (frames 20 .. 79) holds 20 quiet
  // and 40 loud frames: (20 * 10 + 40 * 40) / 60 = 30.
  EXPECT_FLOAT_EQ(LoudestMean(80, 40, 40.0f, 1.0f, labels), 30.0f);
}

TEST(EnergyHistogram, FramesFallIntoTheBinOfTheirEnergy) {
  // floor 10, max 110: step (110 - 10) / 100 = 1; counting starts at 9.
  // 9 takes no step (bin 0); 10 one step (9 -> 10, bin 1); 10.5 two steps
  // (9 -> 10 -> 11, bin 2); 59.5 fifty-one steps; 1000 is beyond the top.
  const std::vector<float> energy = {9.0f, 10.0f, 10.5f, 59.5f, 1000.0f};
  std::vector<float> hist(kHistogramBins, -1.0f);
  EXPECT_FLOAT_EQ(BuildEnergyHistogram(energy.data(), 5, 10.0f, 110.0f, hist.data()), 1.0f);
  for (int bin : {0, 1, 2, 51, 99}) EXPECT_FLOAT_EQ(hist[bin], 0.2f) << bin;
  float total = 0.0f;
  for (float fraction : hist) total += fraction;
  EXPECT_FLOAT_EQ(total, 1.0f);
  // Around 1e6 single precision resolves 0.0625; a span of one such unit
  // gives a step of 0.000625 that leaves 999999 unchanged when added: the
  // count stops at the top bin.
  const std::vector<float> huge = {2.0e6f, 3.0e6f};
  BuildEnergyHistogram(huge.data(), 2, 1.0e6f, std::nextafter(1.0e6f, 2.0e6f), hist.data());
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
  for (int k = 0; k < kHistogramBins; ++k) hist[k] = 1.0f - 0.01f * (k < 70 ? k : 70);
  hist[71] = 0.5f;
  EXPECT_EQ(ValleyBin(hist.data()), 70);
  EXPECT_EQ(PeakBin(hist.data()), 70);
}

std::vector<int16_t> Labels(const std::string& pattern) {
  std::vector<int16_t> labels;
  for (char c : pattern) labels.push_back(c == '+' ? kLabelCandidate : kLabelBelowThreshold);
  return labels;
}

TEST(MultiSegList, TheLastFrameOpensNoSegmentAndTheLastEntryFillsTheList) {
  std::vector<int32_t> starts(3);
  std::vector<int32_t> ends(3);
  // A candidate on the last frame alone opens no segment.
  SegmentList list =
      CollectSegments(Labels("-++---+").data(), 7, 80, 3, starts.data(), ends.data());
  EXPECT_EQ(list.count, 1);
  EXPECT_EQ(starts, (std::vector<int32_t>{80, 0, 0}));
  EXPECT_EQ(ends, (std::vector<int32_t>{240, 0, 0}));
  // Three segments and room for three: full when the third closes (frame 9).
  const std::vector<int16_t> labels = Labels("++--++--+--");
  list = CollectSegments(labels.data(), 11, 80, 3, starts.data(), ends.data());
  EXPECT_TRUE(list.full);
  EXPECT_EQ(list.stopFrame, 9);
  // No room at all: full on the first frame, nothing written out of range.
  std::vector<int32_t> one(1);
  std::vector<int32_t> other(1);
  EXPECT_TRUE(CollectSegments(labels.data(), 11, 80, 0, one.data(), other.data()).full);
}

// count frames at energy 1, labelled noise, except [first, end): candidates
// at the given energy.
struct Frames {
  Frames(int32_t count, int32_t first, int32_t end, float level)
      : energy(static_cast<size_t>(count), 1.0f),
        labels(static_cast<size_t>(count), kLabelBelowThreshold) {
    std::fill(energy.begin() + first, energy.begin() + end, level);
    std::fill(labels.begin() + first, labels.begin() + end, kLabelCandidate);
  }
  int32_t Count() const { return static_cast<int32_t>(energy.size()); }
  std::vector<float> energy;
  std::vector<int16_t> labels;
};

TEST(OneSegScan, RunLengthsAtTheirLimitsAndScansAtTheArrayEnds) {
  // Long runs: 50 frames above 40; short runs: above 10.
  constexpr RunEnergyTest test{50, 20, 40.0f, 10.0f};
  FrameRun run{};
  // A run of exactly the short length (frames 40 .. 59) is an end run but no
  // start run: backwards the window is frames 39 .. 58, (1 + 19 * 20) / 20.
  Frames exact(100, 40, 60, 20.0f);
  EXPECT_FALSE(FindStartRun(exact.energy.data(), exact.labels.data(), 100, test, run));
  EXPECT_EQ(FindEndRun(exact.energy.data(), exact.labels.data(), 100, test), 59);
  // Candidates up to the last frame: the forward scan must stop at N.
  Frames toEnd(80, 10, 80, 5.0f);
  EXPECT_FALSE(FindStartRun(toEnd.energy.data(), toEnd.labels.data(), 80, test, run));
  // Candidates from frame 0 on: the backward window stops at frame 0 and
  // holds frames 0 .. 28.
  Frames fromZero(80, 0, 30, 50.0f);
  EXPECT_EQ(FindEndRun(fromZero.energy.data(), fromZero.labels.data(), 80, test), 29);
  Frames silent(80, 0, 0, 1.0f);
  EXPECT_EQ(FindEndRun(silent.energy.data(), silent.labels.data(), 80, test), -1);
  // With both lengths 0 every run is long; the noise between runs (an empty
  // run) must neither be accepted nor relabelled.
  constexpr RunEnergyTest zeroLengths{0, 0, 40.0f, 10.0f};
  Frames r(40, 5, 15, 50.0f);
  ASSERT_TRUE(FindStartRun(r.energy.data(), r.labels.data(), 40, zeroLengths, run));
  EXPECT_EQ(run.first, 5);
  EXPECT_EQ(run.endExclusive, 15);
  EXPECT_EQ(FindEndRun(r.energy.data(), r.labels.data(), 40, zeroLengths), 14);
  EXPECT_EQ(r.labels[0], kLabelBelowThreshold);
  EXPECT_EQ(r.labels[39], kLabelBelowThreshold);
}

TEST(OneSegRefinement, EdgesStayInsideTheRecording) {
  // Flat energy 10, unvoiced, variance 1.
  const std::vector<float> energy(100, 10.0f);
  const std::vector<int16_t> voice(100, -1);
  const std::vector<float> variance(100, 1.0f);
  EXPECT_EQ(RefineSegmentStart(energy.data(), voice.data(), variance.data(), 3, 5), 0);
  EXPECT_EQ(RefineSegmentEnd(energy.data(), voice.data(), variance.data(), 100, 97, 5), 99);
}

TEST(LocateOneSegment, EndIsNeverBeforeTheStartRunWhenTheBackwardScanFails) {
  // A detector holding the arrays of a 300-frame recording by hand: noise at
  // the background level 100 (already labelled), loudest mean 10100, so the
  // histogram step is (10100 - 100) / 100 = 100 and a short run needs a mean
  // above 10 steps = 1000.
  SpeechDetector d(8000);
  d.frameCount = 300;
  d.floorValue = 100.0f;
  d.maxEnergy = 10100.0f;
  d.CommonSpeechSegLen_sec = 30;
  d.ShortSpeechSegLen_sec = 10;
  d.CommonSpeechSegEnergyThd = 3.0f;
  d.ShortSpeechSegEnergyThd = 10;
  d.ExtendSpeechLen_sec = 3;
  d.frameEnergy.assign(300, 100.0f);
  d.labels.assign(300, kLabelStationary100);
  d.voiceFlags.assign(300, -1);
  d.bandVar.assign(300, 0.0f);
  // Frames 100 .. 110: ten at 500 and a last one at 10000. Forwards (11
  // frames, more than 10) the mean is (5000 + 10000) / 11 = 1364 > 1000.
  // Backwards the window is frames 99 .. 109: (100 + 5000) / 11 = 464, so
  // the scan reaches frame 0 without accepting a run.
  std::fill_n(d.frameEnergy.begin() + 100, 10, 500.0f);
  d.frameEnergy[110] = 10000.0f;
  std::fill_n(d.labels.begin() + 100, 11, kLabelCandidate);
  SegmentFrames segment{};
  ASSERT_TRUE(LocateOneSegment(d, segment));
  // Start: 100, one frame down the slope (500 > 100) to 99, margin 3 -> 96.
  // End: the last frame of the start run, 110, one frame down the slope to
  // 111, margin 3 -> 114.
  EXPECT_EQ(segment.startFrame, 96);
  EXPECT_EQ(segment.endFrame, 114);
}

}  // namespace
