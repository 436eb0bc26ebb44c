// Resident memory stays flat over repeated work: GetMuteEnd called many times
// in one host process per mode (a copy of libkvd.so loaded by mute_end_probe,
// so the library's static state is real), and KVD_Init / KVD_Exit cycled with
// 1024 lines. Memory is compared after a warm-up, which leaves the allocator
// holding what one call needs; a leak adds to it call after call.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "engine/kvd_api.h"
#include "engine_session.h"
#include "resident_memory.h"
#include "test_signals.h"

namespace {

namespace fs = std::filesystem;

// Warm-ups, calls and the 2 MB tolerance are explained, with the figures
// measured, in docs/robustness.md ("Leaks and growth"): after its warm-up a
// run holds what one call needs, and a leak of the recording (152 kB a call)
// or of a line passes the tolerance within the calls made.
constexpr int kOfflineWarmUps = 30;
constexpr int kOfflineCalls = 20;
constexpr int kOnlineWarmUps = 2;  // the first KVD_Exit raises glibc's mapping threshold
constexpr int kOnlineCalls = 1;    // 100 lines of about 360 kB each, about 10 s
constexpr int kInitExitWarmUps = 40;
constexpr int kInitExitCycles = 20;
constexpr int kBatch = 10;
constexpr long kToleranceKb = 2048;

using Growth = std::vector<std::pair<int, long>>;  // (calls so far, VmRSS in kB)

// mute_end_probe on a copy of libkvd.so whose kvd.cfg is the shipped one
// with the given lines put first (the first line of a key wins): the warm-up
// calls, then the calls, with the resident memory after the warm-up and after
// every batch.
Growth RunHost(const std::string& leadingLines, int warmUps, int calls, int batch) {
  kvdtest::TempDir dir;
  const fs::path lib = fs::path(dir.Path()) / "lib";
  fs::create_directories(lib);
  fs::copy_file(KVD_LIBRARY, lib / "libkvd.so");
  std::ifstream shipped(fs::path(KVD_CONFIG_DIR) / "kvd.cfg");
  std::ofstream(lib / "kvd.cfg") << leadingLines << shipped.rdbuf();
  fs::copy_file(fs::path(KVD_CONFIG_DIR) / "kvd_offline.cfg", lib / "kvd_offline.cfg");

  const std::string recording = " '" + kvdtest::SamplePath("kvd_sample.wav") + "'";
  std::string command = "cd '" + dir.Path() + "' && '" MUTE_END_PROBE "' lib/libkvd.so";
  std::vector<int> callsAtMeasure;
  for (int call = 0; call < warmUps; ++call) command += recording;
  command += " --rss";
  callsAtMeasure.push_back(0);
  for (int call = 1; call <= calls; ++call) {
    command += recording;
    if (call % batch == 0 || call == calls) {
      command += " --rss";
      callsAtMeasure.push_back(call);
    }
  }
  const std::string output = dir.Path() + "/host.txt";
  command += " > '" + output + "' 2>&1";
  EXPECT_EQ(std::system(command.c_str()), 0) << command;

  Growth growth;
  std::ifstream lines(output);
  for (std::string line; std::getline(lines, line);) {
    long kb = 0;
    const size_t at = line.find("rss_kB ");
    if (at != std::string::npos && std::sscanf(line.c_str() + at, "rss_kB %ld", &kb) == 1 &&
        growth.size() < callsAtMeasure.size())
      growth.emplace_back(callsAtMeasure[growth.size()], kb);
  }
  return growth;
}

void ExpectFlat(const Growth& growth, size_t batches, const char* what) {
  ASSERT_EQ(growth.size(), batches + 1) << what;
  std::string text;
  long largest = 0;
  for (const auto& [calls, kb] : growth) {
    text += std::to_string(calls) + ":" + std::to_string(kb) + " kB  ";
    largest = std::max(largest, kb - growth[0].second);
  }
  std::printf("%s: %s\n", what, text.c_str());
  EXPECT_LE(largest, kToleranceKb) << what << ": " << text;
}

TEST(ResidentGrowth, GetMuteEndOffline) {
  for (const char* mode : {"IsOneSeg = 1\n", "IsOneSeg = 0\n"}) {
    ExpectFlat(RunHost(std::string("IsOnline = 0\n") + mode, kOfflineWarmUps, kOfflineCalls,
                       kBatch),
               kOfflineCalls / kBatch, mode);
  }
}

TEST(ResidentGrowth, GetMuteEndOnline) {
  ExpectFlat(RunHost("IsOnline = 1\nIsOneSeg = 1\n", kOnlineWarmUps, kOnlineCalls, 1),
             kOnlineCalls, "online");
}

class InitExitGrowth : public kvdtest::EngineSession {};

TEST_F(InitExitGrowth, ThousandLinesBuiltAndReleasedAgainAndAgain) {
  ASSERT_EQ(Init(kMaxLines), KVD_OK) << log_;
  for (int cycle = 0; cycle < kInitExitWarmUps; ++cycle) {
    kvdtest::CaptureLog([] { KVD_Exit(); });
    ASSERT_EQ(Init(kMaxLines), KVD_OK) << log_;
  }
  Growth growth;
  growth.emplace_back(0, kvdtest::ResidentKilobytes());
  for (int cycle = 1; cycle <= kInitExitCycles; ++cycle) {
    kvdtest::CaptureLog([] { KVD_Exit(); });
    ASSERT_EQ(Init(kMaxLines), KVD_OK) << log_;
    if (cycle % kBatch == 0) growth.emplace_back(cycle, kvdtest::ResidentKilobytes());
  }
  ExpectFlat(growth, kInitExitCycles / kBatch, "KVD_Init/KVD_Exit, 1024 lines");
}

}  // namespace
