// The public streaming interface against the engine's own online and
// offline results on the bundled sample, and its refusals.
#include "kvd/kvd_stream.h"

#include <gtest/gtest.h>

#include <map>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "api/default_config.h"
#include "engine/kvd_api.h"
#include "engine_fixtures.h"
#include "online_fixtures.h"
#include "test_signals.h"

namespace {

const std::string kConfigDir = std::string(KVD_SAMPLE_DIR) + "/../config/";

std::vector<kvd_event> FeedInChunks(kvd_stream* stream, const std::vector<int16_t>& pcm,
                                    size_t chunk) {
  std::vector<kvd_event> all;
  kvd_event events[8];
  for (size_t at = 0; at < pcm.size(); at += chunk) {
    const int32_t n = static_cast<int32_t>(std::min(chunk, pcm.size() - at));
    int32_t count = -1;
    EXPECT_EQ(kvd_stream_feed(stream, pcm.data() + at, n, events, 8, &count), KVD_STREAM_OK);
    all.insert(all.end(), events, events + count);
  }
  return all;
}

std::vector<kvd_event> StreamEvents(const char* configText, int32_t rate,
                                    const std::vector<int16_t>& pcm, size_t chunk) {
  kvd_stream* stream = nullptr;
  const int32_t opened = configText == nullptr ? kvd_stream_open(nullptr, rate, &stream)
                                               : kvd_stream_open_text(configText, rate, &stream);
  EXPECT_EQ(opened, KVD_STREAM_OK) << kvd_strerror(opened);
  if (stream == nullptr) return {};
  std::vector<kvd_event> events = FeedInChunks(stream, pcm, chunk);
  kvd_stream_free(stream);
  return events;
}

std::string Describe(const std::vector<kvd_event>& events) {
  std::ostringstream text;
  for (const kvd_event& e : events) text << e.kind << "@" << e.sample << " ";
  return text.str();
}

// Key/value pairs of a "key = value" text, blanks removed.
std::map<std::string, std::string> Pairs(const std::string& text) {
  std::map<std::string, std::string> pairs;
  std::istringstream lines(text);
  std::string line;
  while (std::getline(lines, line)) {
    std::string compact;
    for (char c : line)
      if (c != ' ' && c != '\r') compact += c;
    const size_t equals = compact.find('=');
    if (equals != std::string::npos) pairs[compact.substr(0, equals)] = compact.substr(equals + 1);
  }
  return pairs;
}

// Fed in chunks of 1, 160, 8000 samples or all at once, the stream reports
// the engine's own online start and end (the shipped configuration through
// KVD_DetectSpeech). Opened from the shipped file it gives the same as the
// defaults; a finished utterance takes no more samples until the reset,
// after which it starts again from zero.
TEST(KvdStream, GivesTheEnginesStartAndEndWhateverTheChunkSizeAndAfterAReset) {
  const std::vector<int16_t> pcm = kvdtest::SamplePcm();
  kvdtest::ConfigText shipped;
  for (const auto& [key, value] : Pairs(kvdtest::ReadText(kConfigDir + "kvd.cfg")))
    shipped.Set(key, value);
  const kvdtest::CallReport engine = kvdtest::StreamFresh(shipped.Set("IsOnline", "1"), pcm, 160)
                                         .Last();
  ASSERT_EQ(engine.state, speech_end);
  const std::vector<kvd_event> expected = {{KVD_EVENT_SPEECH_START, engine.start},
                                           {KVD_EVENT_SPEECH_END, engine.end}};
  for (size_t chunk : {size_t{1}, size_t{160}, size_t{8000}, pcm.size()}) {
    EXPECT_EQ(Describe(StreamEvents(nullptr, 8000, pcm, chunk)), Describe(expected))
        << "chunk " << chunk;
  }

  kvd_stream* stream = nullptr;
  ASSERT_EQ(kvd_stream_open((kConfigDir + "kvd.cfg").c_str(), 8000, &stream), KVD_STREAM_OK);
  EXPECT_EQ(Describe(FeedInChunks(stream, pcm, 320)), Describe(expected));
  int32_t state = 0;
  ASSERT_EQ(kvd_stream_state(stream, &state), KVD_STREAM_OK);
  EXPECT_EQ(state, KVD_STREAM_SPEECH_END);
  EXPECT_TRUE(FeedInChunks(stream, pcm, 320).empty());
  ASSERT_EQ(kvd_stream_reset(stream), KVD_STREAM_OK);
  ASSERT_EQ(kvd_stream_state(stream, &state), KVD_STREAM_OK);
  EXPECT_EQ(state, KVD_STREAM_BEFORE_SPEECH);
  EXPECT_EQ(Describe(FeedInChunks(stream, pcm, 320)), Describe(expected));
  kvd_stream_free(stream);
}

TEST(KvdStream, NoInputIsReportedWhereTheWaitRunsOut) {
  // 3 s of digital silence; MaxWaitFrame 50 runs out at frame 51, sample 51 x 80.
  const std::vector<int16_t> silence(24000, 0);
  const std::vector<kvd_event> events = StreamEvents("MaxWaitFrame = 50\n", 8000, silence, 800);
  ASSERT_EQ(events.size(), 1u) << Describe(events);
  EXPECT_EQ(events[0].kind, KVD_EVENT_NO_INPUT);
  EXPECT_EQ(events[0].sample, 51 * 80);
}

// Six handles, three at 8000 Hz and three on the same sample at 16000 Hz
// (each sample twice), in threads of their own: each gives what one handle
// alone gives, and the same speech starts within 100 ms at both rates.
TEST(KvdStream, HandlesAtDifferentRatesRunConcurrentlyAndAlike) {
  const std::vector<int16_t> pcm8 = kvdtest::SamplePcm();
  std::vector<int16_t> pcm16;
  for (int16_t s : pcm8) pcm16.insert(pcm16.end(), {s, s});
  const auto run = [&](size_t i) {
    return i % 2 == 0 ? StreamEvents(nullptr, 8000, pcm8, 160 + i)
                      : StreamEvents(nullptr, 16000, pcm16, 320 + i);
  };
  const std::vector<kvd_event> alone[] = {run(0), run(1)};
  std::vector<std::vector<kvd_event>> results(6);
  std::vector<std::thread> threads;
  for (size_t i = 0; i < results.size(); ++i) threads.emplace_back([&, i] { results[i] = run(i); });
  for (std::thread& t : threads) t.join();
  for (size_t i = 0; i < results.size(); ++i)
    EXPECT_EQ(Describe(results[i]), Describe(alone[i % 2])) << "handle " << i;
  ASSERT_FALSE(alone[0].empty() || alone[1].empty());
  EXPECT_NEAR(alone[1][0].sample / 16.0, alone[0][0].sample / 8.0, 100.0);
}

TEST(KvdSegments, FindTheSamplesSpeechInBothOfflineModes) {
  int32_t starts[8], ends[8], count = -1;
  const auto find = [&](int32_t mode, const std::vector<int16_t>& pcm) {
    return kvd_segments(nullptr, 8000, mode, pcm.data(), static_cast<int32_t>(pcm.size()), starts,
                        ends, 8, &count);
  };
  // The sample speaks from 1.55 s to 6.62 s; the shipped offline
  // configuration widens segments by 100 ms.
  const std::vector<int16_t> pcm = kvdtest::SamplePcm();
  ASSERT_EQ(find(KVD_SEGMENTS_SINGLE, pcm), KVD_STREAM_OK);
  ASSERT_EQ(count, 1);
  EXPECT_NEAR(starts[0], 1450 * 8, 400);
  EXPECT_NEAR(ends[0], 6720 * 8, 1600);
  ASSERT_EQ(find(KVD_SEGMENTS_MULTI, pcm), KVD_STREAM_OK);
  ASSERT_GE(count, 1);
  EXPECT_GE(starts[0], 1300 * 8);
  EXPECT_LE(ends[count - 1], 6900 * 8);
  for (int32_t i = 1; i < count; ++i) EXPECT_GT(starts[i], ends[i - 1]);
  ASSERT_EQ(find(KVD_SEGMENTS_SINGLE, std::vector<int16_t>(40000, 0)), KVD_STREAM_OK);
  EXPECT_EQ(count, 0) << "silence holds no segment";
}

TEST(KvdStream, BadCallsGiveTheirCodesAndTexts) {
  kvd_stream* stream = reinterpret_cast<kvd_stream*>(1);
  EXPECT_EQ(kvd_stream_open(nullptr, 7999, &stream), KVD_STREAM_ERR_LOW_RATE);
  EXPECT_EQ(stream, nullptr);
  EXPECT_EQ(kvd_stream_open(nullptr, 8000, nullptr), KVD_STREAM_ERR_NULL_HANDLE);
  EXPECT_EQ(kvd_stream_open("/nonexistent/kvd.cfg", 8000, &stream), KVD_STREAM_ERR_CONFIG_FILE);
  EXPECT_EQ(kvd_stream_open_text("NoSuchKey = 1\n", 8000, &stream), KVD_STREAM_ERR_UNKNOWN_KEY);
  EXPECT_EQ(kvd_stream_open_text("MaxSilence\n", 8000, &stream), KVD_STREAM_ERR_CONFIG_SYNTAX);
  EXPECT_EQ(kvd_stream_open_text("MaxWaitFrame = -5\n", 8000, &stream), KVD_STREAM_ERR_CONFIG);
  EXPECT_EQ(kvd_stream_open_text(nullptr, 8000, &stream), KVD_STREAM_ERR_NULL_ARGUMENT);

  ASSERT_EQ(kvd_stream_open_text("maxsilence = 50\n\n", 8000, &stream), KVD_STREAM_OK);
  kvd_event events[4];
  int32_t count = 0;
  const int16_t pcm[4] = {};
  EXPECT_EQ(kvd_stream_feed(nullptr, pcm, 4, events, 4, &count), KVD_STREAM_ERR_NULL_HANDLE);
  EXPECT_EQ(kvd_stream_feed(stream, nullptr, 4, events, 4, &count), KVD_STREAM_ERR_NULL_ARGUMENT);
  EXPECT_EQ(kvd_stream_feed(stream, pcm, -1, events, 4, &count), KVD_STREAM_ERR_NEGATIVE_COUNT);
  EXPECT_EQ(kvd_stream_feed(stream, pcm, 4, events, -1, &count), KVD_STREAM_ERR_NEGATIVE_COUNT);
  EXPECT_EQ(kvd_stream_feed(stream, pcm, 4, events, 4, nullptr), KVD_STREAM_ERR_NULL_ARGUMENT);
  EXPECT_EQ(kvd_stream_feed(stream, nullptr, 0, nullptr, 0, &count), KVD_STREAM_OK);
  int32_t state = 0;
  EXPECT_EQ(kvd_stream_state(nullptr, &state), KVD_STREAM_ERR_NULL_HANDLE);
  EXPECT_EQ(kvd_stream_reset(nullptr), KVD_STREAM_ERR_NULL_HANDLE);
  kvd_stream_free(stream);
  kvd_stream_free(nullptr);

  int32_t starts[1], ends[1];
  EXPECT_EQ(kvd_segments(nullptr, 8000, 0, pcm, 4, starts, ends, 1, &count),
            KVD_STREAM_ERR_BAD_MODE);
  EXPECT_EQ(kvd_segments(nullptr, 8000, KVD_SEGMENTS_MULTI, nullptr, 4, starts, ends, 1, &count),
            KVD_STREAM_ERR_NULL_ARGUMENT);
  EXPECT_EQ(kvd_segments(nullptr, 8000, KVD_SEGMENTS_MULTI, pcm, -4, starts, ends, 1, &count),
            KVD_STREAM_ERR_NEGATIVE_COUNT);
  EXPECT_EQ(kvd_segments(nullptr, 4000, KVD_SEGMENTS_MULTI, pcm, 4, starts, ends, 1, &count),
            KVD_STREAM_ERR_LOW_RATE);

  for (int32_t code = 0; code >= -12; --code) EXPECT_STRNE(kvd_strerror(code), "unknown result");
  EXPECT_STREQ(kvd_strerror(-13), "unknown result");
  EXPECT_STREQ(kvd_version(), KVD_STREAM_VERSION);
  EXPECT_STREQ(kvd_event_name(KVD_EVENT_TOO_SHORT), "speech_too_short");
  EXPECT_STREQ(kvd_event_name(0), "unknown");
}

TEST(KvdStream, DefaultTextHoldsTheShippedFiles) {
  std::map<std::string, std::string> shipped = Pairs(kvdtest::ReadText(kConfigDir + "kvd.cfg"));
  for (const auto& pair : Pairs(kvdtest::ReadText(kConfigDir + "kvd_offline.cfg")))
    shipped.insert(pair);
  EXPECT_EQ(Pairs(kDefaultConfigText), shipped);
}

}  // namespace
