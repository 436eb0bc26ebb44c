// Lateness of processed chunks in 1 µs steps up to 100 ms, with exact
// maximum: enough for the 99th percentile of a long run in fixed memory.
#ifndef KVD_BENCH_LATENESS_HISTOGRAM_H
#define KVD_BENCH_LATENESS_HISTOGRAM_H

#include <cstdint>
#include <vector>

namespace kvdbench {

class LatenessHistogram {
 public:
  LatenessHistogram();

  void Add(int64_t latenessUs);
  void Merge(const LatenessHistogram& other);

  int64_t Count() const { return count_; }
  int64_t MaxUs() const { return maxUs_; }
  // Smallest lateness that share (0..1] of the entries do not exceed; a
  // value beyond the 100 ms range is given as the maximum.
  int64_t PercentileUs(double share) const;

 private:
  std::vector<int64_t> bins_;  // bins_[u]: entries of u µs; the last one: beyond
  int64_t count_ = 0;
  int64_t maxUs_ = 0;
};

}  // namespace kvdbench

#endif  // KVD_BENCH_LATENESS_HISTOGRAM_H
