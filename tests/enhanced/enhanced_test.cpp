// The enhanced mode through the public interface (speech of known placement in
// noise, sounds that are not speech, chunk sizes, its key), its segment picker
// on hand-made probabilities, kvd-features (its training data, a row a frame).
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <numeric>
#include <string>
#include <utility>
#include <vector>

#include "enhanced/frame_features.h"
#include "enhanced/segment_picker.h"
#include "engine_fixtures.h"
#include "golden_signals.h"
#include "kvd/kvd_stream.h"
#include "online_fixtures.h"
#include "test_signals.h"

namespace {

constexpr int32_t kRate = 8000;
constexpr double kPi = 3.14159265358979323846;

std::string Shipped(const std::string& name) {
  return kvdtest::ReadText(KVD_CONFIG_DIR "/" + name);
}

// The shipped configuration with DecisionMode = enhanced, in a temporary
// folder (companion file beside it).
struct EnhancedConfig {
  const char* Path() const { return path.c_str(); }
  kvdtest::TempDir dir;
  std::string path = dir.WriteFile("kvd.cfg", "DecisionMode = enhanced\n" + Shipped("kvd.cfg"));
  std::string companion = dir.WriteFile("kvd_offline.cfg", Shipped("kvd_offline.cfg"));
};

// The sample behind leadSeconds of white noise, with the same noise under
// it, the noise snrDb below the speech's own level.
std::vector<int16_t> SampleInNoise(double leadSeconds, double snrDb) {
  const std::vector<int16_t> speech = kvdtest::SamplePcm();
  const double sum = std::inner_product(speech.begin() + kvdtest::kSampleSpeechStart,
                                        speech.begin() + kvdtest::kSampleSpeechEnd,
                                        speech.begin() + kvdtest::kSampleSpeechStart, 0.0);
  const double meanSquare = sum / (kvdtest::kSampleSpeechEnd - kvdtest::kSampleSpeechStart);
  // Uniform noise in [-a, a] has an RMS of a / sqrt(3).
  const double amplitude = std::sqrt(3.0 * meanSquare) * std::pow(10.0, -snrDb / 20.0);
  const size_t lead = static_cast<size_t>(leadSeconds * kRate);
  std::vector<int16_t> mixed =
      kvdtest::WhiteNoisePcm(amplitude, 7, static_cast<int>(lead + speech.size()));
  for (size_t i = 0; i < speech.size(); ++i)
    mixed[lead + i] = static_cast<int16_t>(std::clamp(mixed[lead + i] + speech[i], -32768, 32767));
  return mixed;
}

// Segments found offline, {start, end} in seconds.
std::vector<std::pair<double, double>> Offline(const EnhancedConfig& config, int32_t mode,
                                               const std::vector<int16_t>& pcm) {
  int32_t starts[64], ends[64], count = -1;
  EXPECT_EQ(kvd_segments(config.Path(), kRate, mode, pcm.data(), static_cast<int32_t>(pcm.size()),
                         starts, ends, 64, &count),
            KVD_STREAM_OK);
  std::vector<std::pair<double, double>> found;
  for (int32_t i = 0; i < count; ++i)
    found.emplace_back(1.0 * starts[i] / kRate, 1.0 * ends[i] / kRate);
  return found;
}

// The events of the online stream fed in chunks, {kind, sample}.
using Events = std::vector<std::pair<int32_t, int32_t>>;
Events Online(const EnhancedConfig& config, const std::vector<int16_t>& pcm, size_t chunk) {
  kvd_stream* stream = nullptr;
  EXPECT_EQ(kvd_stream_open(config.Path(), kRate, &stream), KVD_STREAM_OK);
  Events all;
  if (stream == nullptr) return all;
  kvd_event events[8];
  for (size_t at = 0; at < pcm.size(); at += chunk) {
    int32_t n = 0;
    const int32_t count = static_cast<int32_t>(std::min(chunk, pcm.size() - at));
    EXPECT_EQ(kvd_stream_feed(stream, pcm.data() + at, count, events, 8, &n), KVD_STREAM_OK);
    for (int32_t i = 0; i < n; ++i) all.emplace_back(events[i].kind, events[i].sample);
  }
  kvd_stream_free(stream);
  return all;
}

// Seconds of the first event of a kind; -1 when there is none.
double EventTime(const Events& events, int32_t kind) {
  for (const auto& [k, sample] : events)
    if (k == kind) return static_cast<double>(sample) / kRate;
  return -1.0;
}

TEST(EnhancedMode, FindsSpeechOfKnownPlacementInNoiseInChunksOfAnySize) {
  const EnhancedConfig config;
  for (const double snrDb : {20.0, 10.0, 5.0}) {
    SCOPED_TRACE(snrDb);
    const std::vector<int16_t> pcm = SampleInNoise(2.0, snrDb);  // speech from 2 s on
    const double first = 2.0 + kvdtest::kSampleSpeechStart / 8000.0;
    const double last = 2.0 + kvdtest::kSampleSpeechEnd / 8000.0;

    const auto single = Offline(config, KVD_SEGMENTS_SINGLE, pcm);
    ASSERT_EQ(single.size(), 1u);
    EXPECT_NEAR(single[0].first, first, 0.15);
    EXPECT_NEAR(single[0].second, last, 0.25);

    // Every segment lies on the speech and together they cover most of it.
    const auto multi = Offline(config, KVD_SEGMENTS_MULTI, pcm);
    double covered = 0.0;
    for (const auto& [start, end] : multi) {
      EXPECT_GE(start, first - 0.15);
      EXPECT_LE(end, last + 0.25);
      covered += end - start;
    }
    EXPECT_GT(covered, 0.8 * (last - first));

    // The shipped configuration reports the start 0.1 s early, the end 0.1 s late.
    const Events events = Online(config, pcm, 160);
    EXPECT_NEAR(EventTime(events, KVD_EVENT_SPEECH_START) + 0.1, first, 0.15);
    EXPECT_NEAR(EventTime(events, KVD_EVENT_SPEECH_END) - 0.1, last, 0.3);
    // The same events whatever the chunk size.
    for (const size_t chunk : {1u, 30u, 8000u})
      EXPECT_EQ(Online(config, pcm, chunk), events) << chunk;
  }
}

TEST(EnhancedMode, FindsNoSpeechInSilenceNoiseTonesAndMusic) {
  // Five seconds of each: digital silence, faint and loud white noise, a
  // keypad dialling sequence (100 ms tones, 100 ms pauses), and a sustained
  // chord of three harmonic notes (a music bed).
  const int count = 5 * kRate;
  std::vector<int16_t> keys = kvdtest::WhiteNoisePcm(20.0, 5, count);
  const int rows[] = {697, 770, 852, 941};
  const int columns[] = {1209, 1336, 1477};
  for (int digit = 0; digit < 25; ++digit)
    kvdtest::AddKeyTone(keys, kRate, 200 * digit, 100, rows[digit % 4], columns[digit % 3], 4000);
  std::vector<int16_t> chord(static_cast<size_t>(count));
  for (int i = 0; i < count; ++i) {
    const double t = static_cast<double>(i) / kRate;
    double v = 0.0;
    for (const double note : {261.63, 329.63, 392.0})
      for (int h = 1; h <= 5; ++h) v += std::sin(2 * kPi * note * h * t) / h;
    chord[static_cast<size_t>(i)] = static_cast<int16_t>(2000.0 * v * (0.8 + 0.2 * std::sin(t)));
  }
  const std::pair<const char*, std::vector<int16_t>> sounds[] = {
      {"silence", std::vector<int16_t>(static_cast<size_t>(count), 0)},
      {"faint noise", kvdtest::WhiteNoisePcm(30.0, 3, count)},
      {"loud noise", kvdtest::WhiteNoisePcm(3000.0, 4, count)},
      {"keypad tones", keys},
      {"chord", chord}};
  const EnhancedConfig config;
  for (const auto& [name, pcm] : sounds) {
    SCOPED_TRACE(name);
    EXPECT_TRUE(Offline(config, KVD_SEGMENTS_SINGLE, pcm).empty());
    EXPECT_TRUE(Offline(config, KVD_SEGMENTS_MULTI, pcm).empty());
    EXPECT_LT(EventTime(Online(config, pcm, 160), KVD_EVENT_SPEECH_START), 0.0);
  }
}

TEST(EnhancedMode, DecisionModeKey) {
  for (const auto& [text, code] : {std::pair{"DecisionMode = Enhanced\n", KVD_STREAM_OK},
                                   {"DecisionMode = specified\n", KVD_STREAM_OK},
                                   {"DecisionMode = clever\n", KVD_STREAM_ERR_CONFIG}}) {
    kvd_stream* stream = nullptr;
    EXPECT_EQ(kvd_stream_open_text(text, kRate, &stream), code) << text;
    EXPECT_EQ(stream == nullptr, code != KVD_STREAM_OK) << text;
    kvd_stream_free(stream);
  }
}

TEST(SegmentPicker, RulesShapeTheSegments) {
  using Runs = std::vector<std::pair<int32_t, int32_t>>;  // frames [first, end)
  struct Case {
    const char* what;
    int32_t frames;
    Runs on;      // frames of probability `value`, the rest 0
    float value;
    SegmentRules rules;
    Runs expected;
  };
  // {threshold, smoothing radius, joining gap, minimum length, padding}
  const SegmentRules plain{0.5f, 0, 1, 1, 0};
  const Runs two{{20, 60}, {70, 120}};
  const Case cases[] = {
      {"the runs themselves", 200, two, 1.0f, plain, two},
      {"a 10-frame gap is joined by a longer joining gap", 200, two, 1.0f, {0.5f, 0, 11, 1, 0},
       {{20, 120}}},
      {"and not by one as long", 200, two, 1.0f, {0.5f, 0, 10, 1, 0}, two},
      {"runs shorter than the minimum go", 200, two, 1.0f, {0.5f, 0, 1, 45, 0}, {{70, 120}}},
      {"padding joins what it makes touch", 200, two, 1.0f, {0.5f, 0, 1, 1, 5}, {{15, 125}}},
      {"padding stays within the recording", 50, {{0, 10}, {45, 50}}, 1.0f, {0.5f, 0, 1, 1, 3},
       {{0, 13}, {42, 50}}},
      {"0.55 passes 0.5", 100, {{30, 60}}, 0.55f, plain, {{30, 60}}},
      {"and fails 0.6", 100, {{30, 60}}, 0.55f, {0.6f, 0, 1, 1, 0}, {}},
      // Averaged over 5 frames a spike is 0.2; a run's edge frames reach the
      // mean of 3 of 5 frames.
      {"a smoothed spike is no speech", 100, {{50, 51}}, 1.0f, {0.5f, 2, 1, 1, 0}, {}},
      {"a smoothed run keeps its place", 100, {{30, 60}}, 1.0f, {0.5f, 2, 1, 1, 0}, {{30, 60}}},
      {"nothing in", 0, {}, 1.0f, plain, {}},
      {"no speech", 100, {}, 1.0f, plain, {}}};
  for (const Case& c : cases) {
    std::vector<float> p(static_cast<size_t>(c.frames), 0.0f);
    for (const auto& [first, end] : c.on)
      std::fill(p.begin() + first, p.begin() + end, c.value);
    Runs found;
    for (const FrameSegment& s : PickSegments(p, c.rules)) found.emplace_back(s.first, s.end);
    EXPECT_EQ(found, c.expected) << c.what;
  }
}

TEST(KvdFeatures, WritesOneRowPerFrameAndRefusesBadInput) {
  const kvdtest::TempDir dir;
  const std::string tool = std::string(KVD_FEATURES_TOOL) + " --out " + dir.Path() + " ";
  const std::string sample = std::string(KVD_SAMPLE_DIR) + "/kvd_sample.wav";
  ASSERT_EQ(kvdtest::RunShell(tool + sample).exitStatus, 0);
  const std::string bytes = kvdtest::ReadText(dir.Path() + "/kvd_sample.f32");
  // 76091 samples at 8000 Hz: (76091 - 200) / 80 + 1 frames of 25 ms every 10 ms.
  const size_t frames = (76091 - 200) / 80 + 1;
  const size_t columns = kFeatureCount + 1;
  ASSERT_EQ(bytes.size(), frames * columns * sizeof(float));
  std::vector<float> values(frames * columns);
  std::memcpy(values.data(), bytes.data(), bytes.size());
  for (size_t f = 1; f <= frames; ++f)  // the last column: a probability
    ASSERT_TRUE(values[f * columns - 1] >= 0.0f && values[f * columns - 1] <= 1.0f) << f;
  // A missing or raw input file: 1; no --out folder: 2.
  auto status = [](const std::string& command) {
    return kvdtest::RunShell(command + " 2>/dev/null").exitStatus;
  };
  EXPECT_EQ(status(tool + dir.Path() + "/missing.wav"), 1);
  EXPECT_EQ(status(tool + KVD_SAMPLE_DIR + "/kvd_sample.pcm"), 1);
  EXPECT_EQ(status(std::string(KVD_FEATURES_TOOL) + " " + sample), 2);
}

}  // namespace
