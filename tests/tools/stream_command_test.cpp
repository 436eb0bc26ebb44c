// kvd stream: a call fed through a pipe, events as kvd detect finds them,
// re-arming after each utterance, the same whatever the chunk size.
#include "tools/kvd/stream_command.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "engine_fixtures.h"
#include "test_signals.h"

namespace {

const std::string kPcm = kvdtest::SamplePath("kvd_sample.pcm");
const std::string kConfig = KVD_CONFIG_DIR "/kvd.cfg";
constexpr int64_t kSampleLength = 76091;  // samples of the bundled recording

// Standard output of a shell command run in a fresh folder.
std::string Shell(const std::string& command) {
  kvdtest::TempDir dir;
  return kvdtest::RunShell("cd " + dir.Path() + " && " + command).output;
}

struct Event {
  std::string name;
  int64_t sample = 0;
};

std::vector<Event> JsonEvents(const std::string& out) {
  std::vector<Event> events;
  const std::regex line("\\{\"event\":\"([a-z_]+)\",\"utterance\":[0-9]+,\"sample\":([0-9]+)");
  for (std::sregex_iterator it(out.begin(), out.end(), line), end; it != end; ++it)
    events.push_back({(*it)[1], std::stoll((*it)[2])});
  return events;
}

int64_t JsonNumber(const std::string& out, const std::string& key) {
  std::smatch match;
  if (!std::regex_search(out, match, std::regex("\"" + key + "\":(-?[0-9]+)"))) return -2;
  return std::stoll(match[1]);
}

TEST(KvdStreamCommand, FollowsTwoUtterancesThroughAPipeAsKvdDetectFindsThem) {
  const std::string out = Shell("cat " + kPcm + " " + kPcm + " | " + KVD_PROGRAM +
                                " stream --format json --config " + kConfig);
  const std::vector<Event> events = JsonEvents(out);
  ASSERT_EQ(events.size(), 4u) << out;
  const std::string online = Shell(std::string(KVD_PROGRAM) + " detect --mode online " +
                                   "--format json --config " + kConfig + " " +
                                   kvdtest::SamplePath("kvd_sample.wav"));
  EXPECT_EQ(events[0].name, "speech_start");
  EXPECT_EQ(events[0].sample / 8, JsonNumber(online, "start_ms")) << online;
  EXPECT_EQ(events[1].name, "speech_end");
  EXPECT_EQ(events[1].sample / 8, JsonNumber(online, "end_ms")) << online;
  // The second copy speaks at the same place of its own 9.5 s.
  EXPECT_EQ(events[2].name, "speech_start");
  EXPECT_NEAR(events[2].sample, events[0].sample + kSampleLength, 800);
  EXPECT_EQ(events[3].name, "speech_end");
  EXPECT_NEAR(events[3].sample, events[1].sample + kSampleLength, 800);
}

TEST(KvdStreamCommand, ChunkSizeDoesNotChangeTheFirstUtterance) {
  std::ifstream in(kPcm, std::ios::binary);
  std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  std::string first;
  for (int32_t chunk : {1, 160, 8000}) {
    std::FILE* input = fmemopen(bytes.data(), bytes.size(), "rb");
    ASSERT_NE(input, nullptr);
    kvdtool::StreamOptions options;
    options.config = kConfig;
    options.chunk = chunk;
    std::ostringstream out, err;
    EXPECT_EQ(kvdtool::RunStream(options, input, out, err), 0) << err.str();
    std::fclose(input);
    if (first.empty()) first = out.str();
    EXPECT_EQ(out.str(), first) << "chunk " << chunk;
  }
  EXPECT_NE(first.find("speech_start"), std::string::npos);
}

}  // namespace
