// The per-frame trace hook of online detection: a traced line reports the
// same as an untraced one, on a recording with a keypad tone and a vowel and
// on the bundled sample, and traces every analysed frame once, in order.
#include "pipeline/frame_trace.h"

#include <gtest/gtest.h>


#include "engine/kvd_api.h"
#include "golden_signals.h"
#include "online_fixtures.h"
#include "test_signals.h"
#include "voice_signals.h"

namespace {

constexpr int kRate = 8000;
constexpr double kPitchHz = 200.0;
// Keypad tone from 1.0 to 1.5 s, vowel from 2.0 to 3.0 s, 4.5 s in all.
constexpr int kToneFrom = 100, kToneTo = 150, kVowelFrom = 200, kVowelTo = 300;

std::vector<int16_t> ToneThenVowel() {
  std::vector<int16_t> pcm = kvdtest::GoldenNoise(30.0, 7, kRate * 45 / 10);
  kvdtest::AddKeyTone(pcm, kRate, kToneFrom * 10, (kToneTo - kToneFrom) * 10, 697, 1209, 3000);
  const std::vector<int16_t> vowel =
      kvdtest::HarmonicPcm(kPitchHz, kvdtest::HarmonicShape(), kRate, (kVowelTo - kVowelFrom) * 80);
  for (size_t i = 0; i < vowel.size(); ++i) pcm[kVowelFrom * 80 + i] += vowel[i];
  return pcm;
}

void Collect(void* user, const FrameTrace& frame) {
  static_cast<std::vector<FrameTrace>*>(user)->push_back(frame);
}

class FrameTraceTest : public ::testing::Test {
 protected:
  FrameTraceTest() : engine_(kvdtest::StreamTestConfig(), 2) {}

  // Streams pcm through a fresh line, traced or not.
  kvdtest::StreamReport Stream(const std::vector<int16_t>& pcm, int32_t chunk, bool traced) {
    const int32_t line = engine_.StartLine();
    EXPECT_GE(line, 0);
    if (traced) {
      GetLine(line)->frameTraceHook = Collect;
      GetLine(line)->frameTraceUser = &frames_;
    }
    kvdtest::StreamReport report = kvdtest::StreamThrough(line, pcm, chunk);
    GetLine(line)->frameTraceHook = nullptr;
    KVD_Stop(line);
    KVD_Close(line);
    return report;
  }

  kvdtest::OnlineEngine engine_;
  std::vector<FrameTrace> frames_;
};

void ExpectSameReports(const kvdtest::StreamReport& a, const kvdtest::StreamReport& b) {
  ASSERT_EQ(a.calls.size(), b.calls.size());
  for (size_t k = 0; k < a.calls.size(); ++k) {
    EXPECT_EQ(a.calls[k].result, b.calls[k].result) << k;
    EXPECT_EQ(a.calls[k].state, b.calls[k].state) << k;
    EXPECT_EQ(a.calls[k].start, b.calls[k].start) << k;
    EXPECT_EQ(a.calls[k].end, b.calls[k].end) << k;
    EXPECT_EQ(a.calls[k].position, b.calls[k].position) << k;
  }
}

TEST_F(FrameTraceTest, TracedLineReportsTheSameAsAnUntracedOne) {
  const std::vector<int16_t> pcm = ToneThenVowel();
  const std::vector<int16_t> sample = kvdtest::ReadPcmFile(kvdtest::SamplePath("kvd_sample.wav"));
  for (const std::vector<int16_t>* recording : {&pcm, &sample}) {
    for (const int32_t chunk : {1, 8000}) {
      frames_.clear();
      const kvdtest::StreamReport plain = Stream(*recording, chunk, false);
      const kvdtest::StreamReport traced = Stream(*recording, chunk, true);
      ExpectSameReports(plain, traced);
      // Every analysed frame once, in order: up to the position reached.
      ASSERT_EQ(static_cast<int32_t>(frames_.size()), traced.Last().position / 80) << chunk;
      for (size_t k = 0; k < frames_.size(); ++k) ASSERT_EQ(frames_[k].frame, static_cast<int32_t>(k));
      EXPECT_EQ(frames_.back().state, traced.Last().state);
    }
  }
}

}  // namespace
