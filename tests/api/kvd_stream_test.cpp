// The public streaming interface against the engine's own online and
// offline results on the bundled sample, and its refusals.
#include "kvd/kvd_stream.h"

#include <gtest/gtest.h>

#include <algorithm>
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
  for (std::string line; std::getline(lines, line);) {
    const auto blank = [](char c) { return c == ' ' || c == '\r'; };
    line.erase(std::remove_if(line.begin(), line.end(), blank), line.end());
    const size_t equals = line.find('=');
    if (equals != std::string::npos) pairs[line.substr(0, equals)] = line.substr(equals + 1);
  }
  return pairs;
}

// Fed in chunks of 1, 160, 8000 samples or all at once, each handle in a
// thread of its own, the stream reports the engine's own online start and end
// (the shipped configuration through KVD_DetectSpeech); two more handles on
// the sample at 16000 Hz (each sample twice) agree and start within 100 ms of
// it. Opened from the shipped file it gives the same as the defaults; a
// finished utterance takes no more samples until the reset, after which it
// starts again from zero.
TEST(KvdStream, GivesTheEnginesStartAndEndWhateverTheChunkSizeRateOrThread) {
  const std::vector<int16_t> pcm = kvdtest::SamplePcm();
  std::vector<int16_t> pcm16;
  for (int16_t s : pcm) pcm16.insert(pcm16.end(), {s, s});
  kvdtest::ConfigText shipped;
  for (const auto& [key, value] : Pairs(kvdtest::ReadText(kConfigDir + "kvd.cfg")))
    shipped.Set(key, value);
  const kvdtest::CallReport engine = kvdtest::StreamFresh(shipped.Set("IsOnline", "1"), pcm, 160)
                                         .Last();
  ASSERT_EQ(engine.state, speech_end);
  const std::string expected = Describe(
      {{KVD_EVENT_SPEECH_START, engine.start}, {KVD_EVENT_SPEECH_END, engine.end}});
  const std::vector<size_t> chunks = {1, 160, 8000, pcm.size()};
  std::vector<std::vector<kvd_event>> results(chunks.size() + 2);
  std::vector<std::thread> threads;
  for (size_t i = 0; i < results.size(); ++i) {
    threads.emplace_back([&, i] {
      results[i] = i < chunks.size() ? StreamEvents(nullptr, 8000, pcm, chunks[i])
                                     : StreamEvents(nullptr, 16000, pcm16, 320 + i);
    });
  }
  for (std::thread& t : threads) t.join();
  for (size_t i = 0; i < chunks.size(); ++i)
    EXPECT_EQ(Describe(results[i]), expected) << "chunk " << chunks[i];
  EXPECT_EQ(Describe(results[4]), Describe(results[5]));
  ASSERT_FALSE(results[4].empty());
  EXPECT_NEAR(results[4][0].sample / 16.0, engine.start / 8.0, 100.0);

  kvd_stream* stream = nullptr;
  ASSERT_EQ(kvd_stream_open((kConfigDir + "kvd.cfg").c_str(), 8000, &stream), KVD_STREAM_OK);
  const auto state = [&] {
    int32_t value = 0;
    EXPECT_EQ(kvd_stream_state(stream, &value), KVD_STREAM_OK);
    return value;
  };
  EXPECT_EQ(Describe(FeedInChunks(stream, pcm, 320)), expected);
  EXPECT_EQ(state(), KVD_STREAM_SPEECH_END);
  EXPECT_TRUE(FeedInChunks(stream, pcm, 320).empty());
  ASSERT_EQ(kvd_stream_reset(stream), KVD_STREAM_OK);
  EXPECT_EQ(state(), KVD_STREAM_BEFORE_SPEECH);
  EXPECT_EQ(Describe(FeedInChunks(stream, pcm, 320)), expected);
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
