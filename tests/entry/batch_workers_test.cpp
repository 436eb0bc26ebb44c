// The online worker's chunks and the offline cutters' files, on a real engine.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "engine/kvd_api.h"
#include "engine_session.h"
#include "entry/batch_workers.h"
#include "test_signals.h"

namespace {

namespace fs = std::filesystem;

// A wave table of one entry over samples the caller keeps (never released).
struct TestTable {
  explicit TestTable(const std::vector<int16_t>& samples)
      : entry{"rec0.pcm", static_cast<int32_t>(samples.size()), samples.data()},
        table{1, &entry} {}
  WaveEntry entry;
  WaveTable table;
};

// Runs in the test's folder, where the cutters write their raw PCM files.
class BatchWorkers : public kvdtest::EngineSession {
 protected:
  void SetUp() override { fs::current_path(dir_.Path()); }
  void TearDown() override {
    fs::current_path(previous_);
    EngineSession::TearDown();
  }
  const fs::path previous_ = fs::current_path();
  const std::vector<int16_t> recording_ =
      kvdtest::ReadPcmFile(kvdtest::SamplePath("kvd_sample.pcm"));
  const TestTable sample_{recording_};
};

// 31 samples: a chunk of 30, then 1; 60: 30, then 30; 30: one last chunk.
// A worker that finds no free line still marks itself finished.
TEST_F(BatchWorkers, OnlineWorkerHandsOverChunksOfThirtyAndTheRestInOne) {
  ASSERT_EQ(Init(1), 0);
  for (const auto& [sampleCount, handedInChunks] :
       std::vector<std::pair<int, int>>{{31, 30}, {60, 30}, {30, 0}, {0, 0}}) {
    const std::vector<int16_t> noise = kvdtest::WhiteNoisePcm(100, 7, sampleCount);
    OnlineWorkerSlots slots;
    EXPECT_EQ(LineWorkerThread(3, slots, TestTable(noise).table), 0);
    EXPECT_EQ(std::make_tuple(slots.position[3], slots.status[3], slots.caseIndex[3],
                              slots.finished[3].load()),
              std::make_tuple(handedInChunks, 0, 1, 1)) << sampleCount;
  }
  int32_t held = -1;
  ASSERT_EQ(KVD_Open(&held), 0);
  OnlineWorkerSlots slots;
  EXPECT_EQ(LineWorkerThread(0, slots, sample_.table), KVD_ERR_LINE_BUILD);
  EXPECT_EQ(slots.finished[0].load(), 1);
}

// The single-segment cut holds the speech part; the multi-segment cut
// writes each listed segment and their join.
TEST_F(BatchWorkers, CutsWriteTheSpeechParts) {
  main_.Set("IsOnline", "0");
  offline_.Set("MaxSegNum", "10");  // the engine fills this many list entries
  int32_t line = -1;
  ASSERT_EQ(Init(), 0);
  ASSERT_EQ(KVD_Open(&line), 0);
  SpeechLimits limits;
  EXPECT_EQ(OfflineCutOneSeg(line, 1, sample_.table, limits), 0);
  ASSERT_GT(limits.speechEnd, limits.speechStart);
  EXPECT_EQ(kvdtest::ReadPcmFile("test_cut.pcm"),
            std::vector<int16_t>(recording_.begin() + limits.speechStart,
                                 recording_.begin() + limits.speechEnd));

  main_.Set("IsOneSeg", "0");
  ASSERT_EQ(Init(), 0);
  ASSERT_EQ(KVD_Open(&line), 0);
  const std::string printed = kvdtest::CaptureLog(
      [&] { EXPECT_EQ(OfflineCutMultiSeg(line, 1, 1, 10, sample_.table), 0); });
  // The console line: "00000 rec0.pcm: " then "start-end " per segment, "\n".
  const char* cursor = std::strstr(printed.c_str(), "00000 rec0.pcm: ");
  ASSERT_NE(cursor, nullptr) << printed;
  cursor += std::strlen("00000 rec0.pcm: ");
  std::vector<int16_t> joined;
  int start = 0, end = 0, consumed = 0, segment = 0;
  while (std::sscanf(cursor, "%d-%d %n", &start, &end, &consumed) == 2) {
    char name[32];
    std::snprintf(name, sizeof name, "test_%.3d.pcm", segment++);
    const std::vector<int16_t> expected(recording_.begin() + start, recording_.begin() + end);
    EXPECT_EQ(kvdtest::ReadPcmFile(name), expected) << name;
    joined.insert(joined.end(), expected.begin(), expected.end());
    cursor += consumed;
  }
  EXPECT_GE(segment, 1) << printed;
  EXPECT_EQ(kvdtest::ReadPcmFile("testm_cut.pcm"), joined);

  // A line beyond the table is refused.
  const std::string refused = kvdtest::CaptureLog([&] {
    EXPECT_EQ(OfflineCutOneSeg(1025, 0, sample_.table, limits), -1);
    EXPECT_EQ(OfflineCutMultiSeg(-1, 0, 0, 5, sample_.table), -1);
  });
  EXPECT_NE(refused.find("ERROR in VAD_handle 1025! Exit.\n"), std::string::npos);
  EXPECT_NE(refused.find("ERROR in VAD_handle -1! Exit.\n"), std::string::npos);
}

}  // namespace
