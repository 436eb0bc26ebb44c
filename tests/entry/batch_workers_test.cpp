// The online worker's chunking and the offline cutters' results and cut files,
// on a real engine configured in a temporary folder.
#include <gtest/gtest.h>

#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "engine/kvd_api.h"
#include "engine_session.h"
#include "entry/batch_workers.h"
#include "test_signals.h"

namespace {

namespace fs = std::filesystem;

// A wave table over samples owned by the test.
class TestTable {
 public:
  explicit TestTable(std::vector<std::vector<int16_t>> recordings)
      : recordings_(std::move(recordings)), entries_(recordings_.size()) {
    for (size_t k = 0; k < recordings_.size(); ++k) {
      std::snprintf(entries_[k].path, sizeof entries_[k].path, "rec%zu.pcm", k);
      entries_[k].sampleCount = static_cast<int32_t>(recordings_[k].size());
      entries_[k].samples = recordings_[k].data();
    }
    table_.entryCount = static_cast<int32_t>(entries_.size());
    table_.entries = entries_.data();
  }
  const WaveTable& Table() const { return table_; }
  const std::vector<int16_t>& Recording(size_t k) const { return recordings_[k]; }

 private:
  std::vector<std::vector<int16_t>> recordings_;
  std::vector<WaveEntry> entries_;
  WaveTable table_;  // does not own: never released
};

// The samples of a cut file (raw PCM).
std::vector<int16_t> ReadRaw(const fs::path& path) { return kvdtest::ReadPcmFile(path.string()); }

class BatchWorkers : public kvdtest::EngineSession {
 protected:
  // Runs f with the test's folder as the current folder (cut files land there).
  template <typename Run>
  void InTestFolder(Run run) {
    const fs::path previous = fs::current_path();
    fs::current_path(dir_.Path());
    run();
    fs::current_path(previous);
  }
};

TEST_F(BatchWorkers, OnlineWorkerHandsOverChunksOfThirtyAndTheRestInOne) {
  ASSERT_EQ(Init(), 0);
  // 31 samples: a chunk of 30, then 1; 60: 30, then 30; 30: one last chunk.
  for (const auto& [sampleCount, handedInChunks] :
       std::vector<std::pair<int, int>>{{31, 30}, {60, 30}, {30, 0}, {0, 0}}) {
    const TestTable table({kvdtest::WhiteNoisePcm(100, 7, sampleCount)});
    OnlineWorkerSlots slots;
    EXPECT_EQ(LineWorkerThread(3, slots, table.Table()), 0);
    EXPECT_EQ(slots.position[3], handedInChunks) << sampleCount;
    EXPECT_EQ(slots.status[3], 0);
    EXPECT_EQ(slots.caseIndex[3], 1);
    EXPECT_EQ(slots.finished[3].load(), 1);
  }
}

TEST_F(BatchWorkers, FailedOnlineWorkerStillMarksItselfFinished) {
  ASSERT_EQ(Init(1), 0);
  int32_t held = -1;
  ASSERT_EQ(KVD_Open(&held), 0);  // the only line: the worker finds none free
  const TestTable table({kvdtest::WhiteNoisePcm(100, 7, 100)});
  OnlineWorkerSlots slots;
  EXPECT_EQ(LineWorkerThread(0, slots, table.Table()), KVD_ERR_LINE_BUILD);
  EXPECT_EQ(slots.finished[0].load(), 1);
}

TEST_F(BatchWorkers, SingleSegmentCutWritesTheSpeechPart) {
  main_.Set("IsOnline", "0");
  ASSERT_EQ(Init(), 0);
  const TestTable table({kvdtest::ReadPcmFile(kvdtest::SamplePath("kvd_sample.pcm"))});
  int32_t line = -1;
  ASSERT_EQ(KVD_Open(&line), 0);
  SpeechLimits limits;
  InTestFolder([&] { EXPECT_EQ(OfflineCutOneSeg(line, 1, table.Table(), limits), 0); });
  ASSERT_GT(limits.speechEnd, limits.speechStart);
  const std::vector<int16_t>& recording = table.Recording(0);
  const std::vector<int16_t> expected(recording.begin() + limits.speechStart,
                                      recording.begin() + limits.speechEnd);
  EXPECT_EQ(ReadRaw(fs::path(dir_.Path()) / "test_cut.pcm"), expected);
}

TEST_F(BatchWorkers, MultiSegmentCutWritesEverySegmentAndTheirJoin) {
  main_.Set("IsOnline", "0").Set("IsOneSeg", "0");
  offline_.Set("MaxSegNum", "10");  // the engine fills this many list entries
  ASSERT_EQ(Init(), 0);
  const TestTable table({kvdtest::ReadPcmFile(kvdtest::SamplePath("kvd_sample.pcm"))});
  int32_t line = -1;
  ASSERT_EQ(KVD_Open(&line), 0);
  const std::string printed = kvdtest::CaptureLog([&] {
    InTestFolder([&] { EXPECT_EQ(OfflineCutMultiSeg(line, 1, 1, 10, table.Table()), 0); });
  });

  // The console line: "00000 rec0.pcm: " then "start-end " per segment, "\n".
  const size_t listAt = printed.find("00000 rec0.pcm: ");
  ASSERT_NE(listAt, std::string::npos) << printed;
  const std::vector<int16_t>& recording = table.Recording(0);
  std::vector<int16_t> joined;
  const char* cursor = printed.c_str() + listAt + std::strlen("00000 rec0.pcm: ");
  int start = 0;
  int end = 0;
  int consumed = 0;
  int segment = 0;
  while (std::sscanf(cursor, "%d-%d %n", &start, &end, &consumed) == 2) {
    char name[32];
    std::snprintf(name, sizeof name, "test_%.3d.pcm", segment++);
    const std::vector<int16_t> expected(recording.begin() + start, recording.begin() + end);
    EXPECT_EQ(ReadRaw(fs::path(dir_.Path()) / name), expected) << name;
    joined.insert(joined.end(), expected.begin(), expected.end());
    cursor += consumed;
  }
  EXPECT_GE(segment, 1) << printed;
  EXPECT_EQ(ReadRaw(fs::path(dir_.Path()) / "testm_cut.pcm"), joined);
}

TEST_F(BatchWorkers, CuttersRefuseALineBeyondTheTable) {
  ASSERT_EQ(Init(), 0);
  const TestTable table({kvdtest::WhiteNoisePcm(100, 7, 100)});
  SpeechLimits limits;
  const std::string printed = kvdtest::CaptureLog([&] {
    EXPECT_EQ(OfflineCutOneSeg(1025, 0, table.Table(), limits), -1);
    EXPECT_EQ(OfflineCutMultiSeg(-1, 0, 0, 5, table.Table()), -1);
  });
  EXPECT_NE(printed.find("ERROR in VAD_handle 1025! Exit.\n"), std::string::npos);
  EXPECT_NE(printed.find("ERROR in VAD_handle -1! Exit.\n"), std::string::npos);
}

}  // namespace
