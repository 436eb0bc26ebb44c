#include "lateness_histogram.h"

#include <algorithm>
#include <cmath>

namespace kvdbench {

namespace {

constexpr int64_t kRangeUs = 100000;

}  // namespace

LatenessHistogram::LatenessHistogram() : bins_(kRangeUs + 1, 0) {}

void LatenessHistogram::Add(int64_t latenessUs) {
  const int64_t us = std::max<int64_t>(latenessUs, 0);
  ++bins_[static_cast<size_t>(std::min(us, kRangeUs))];
  ++count_;
  maxUs_ = std::max(maxUs_, us);
}

void LatenessHistogram::Merge(const LatenessHistogram& other) {
  for (size_t i = 0; i < bins_.size(); ++i) bins_[i] += other.bins_[i];
  count_ += other.count_;
  maxUs_ = std::max(maxUs_, other.maxUs_);
}

int64_t LatenessHistogram::PercentileUs(double share) const {
  if (count_ == 0) return 0;
  const auto wanted = static_cast<int64_t>(std::ceil(share * static_cast<double>(count_)));
  int64_t seen = 0;
  for (int64_t us = 0; us < kRangeUs; ++us) {
    seen += bins_[static_cast<size_t>(us)];
    if (seen >= wanted) return us;
  }
  return maxUs_;
}

}  // namespace kvdbench
