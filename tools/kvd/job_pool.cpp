#include "tools/kvd/job_pool.h"

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <thread>
#include <vector>

namespace kvdtool {

void JobPool::Run(size_t itemCount, int32_t workerCount) const {
  std::atomic<size_t> nextItem{0};
  std::mutex mutex;
  std::condition_variable itemDone;
  std::vector<bool> done(itemCount, false);

  auto workerLoop = [&](int32_t worker) {
    begin(worker);
    for (size_t item = nextItem++; item < itemCount; item = nextItem++) {
      work(worker, item);
      {
        std::lock_guard<std::mutex> lock(mutex);
        done[item] = true;
      }
      itemDone.notify_one();
    }
    end(worker);
  };
  std::vector<std::thread> threads;
  for (int32_t worker = 0; worker < workerCount; ++worker) threads.emplace_back(workerLoop, worker);
  for (size_t item = 0; item < itemCount; ++item) {
    {
      std::unique_lock<std::mutex> lock(mutex);
      itemDone.wait(lock, [&] { return done[item]; });
    }
    emit(item);
  }
  for (std::thread& thread : threads) thread.join();
}

}  // namespace kvdtool
