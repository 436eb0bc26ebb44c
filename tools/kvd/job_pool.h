// Work on many files with a fixed number of threads, results handed on in
// input order.
#ifndef KVD_TOOLS_KVD_JOB_POOL_H
#define KVD_TOOLS_KVD_JOB_POOL_H

#include <cstddef>
#include <cstdint>
#include <functional>

namespace kvdtool {

// Runs work(worker, item) for every item 0 .. itemCount - 1 on workerCount
// threads (worker 0 .. workerCount - 1; each item once, each worker one item
// at a time) and, on the calling thread, emit(item) in item order as soon as
// that item and all before it are done. work must not throw.
// Per worker, begin(worker) runs on its thread before its first item and
// end(worker) after its last.
struct JobPool {
  std::function<void(int32_t worker)> begin;
  std::function<void(int32_t worker, size_t item)> work;
  std::function<void(int32_t worker)> end;
  std::function<void(size_t item)> emit;

  void Run(size_t itemCount, int32_t workerCount) const;
};

}  // namespace kvdtool

#endif  // KVD_TOOLS_KVD_JOB_POOL_H
