// Many threads opening and closing lines at once never share a line.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include "engine/kvd_api.h"
#include "engine_session.h"

namespace {

constexpr int32_t kLines = 16;
constexpr int kThreads = 64;
constexpr int kOpensPerThread = 100;

class LineConcurrency : public kvdtest::EngineSession {};

TEST_F(LineConcurrency, SixtyFourThreadsNeverHoldTheSameLine) {
  ASSERT_EQ(Init(kLines), KVD_OK);
  // owner[line]: 0 while free, else the holding thread's number + 1.
  std::vector<std::atomic<int>> owner(kLines);
  std::atomic<int> sharedLines{0};
  std::atomic<int> opens{0};
  std::atomic<int> badResults{0};

  auto worker = [&](int thread) {
    for (int done = 0; done < kOpensPerThread;) {
      int32_t line = -1;
      const int32_t result = KVD_Open(&line);
      if (result == KVD_ERR_NO_FREE_LINE) {
        std::this_thread::yield();
        continue;
      }
      if (result != KVD_OK || line < 0 || line >= kLines) {
        ++badResults;
        return;
      }
      if (owner[line].exchange(thread + 1) != 0) {
        ++sharedLines;
      }
      if (KVD_Start(line) != KVD_OK || KVD_Stop(line) != KVD_OK) {
        ++badResults;
      }
      owner[line].store(0);
      KVD_Close(line);
      ++opens;
      ++done;
    }
  };

  kvdtest::CaptureLog([&] {
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
      threads.emplace_back(worker, t);
    }
    for (std::thread& thread : threads) {
      thread.join();
    }
  });
  EXPECT_EQ(sharedLines.load(), 0);
  EXPECT_EQ(badResults.load(), 0);
  EXPECT_EQ(opens.load(), kThreads * kOpensPerThread);
}

}  // namespace
