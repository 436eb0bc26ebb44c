#include "engine/hamming_window.h"

#include <cmath>
#include <map>
#include <memory>
#include <mutex>
#include <new>

namespace {

// Hamming window 0.54 - 0.46 cos(2 pi n / (N - 1)), with 2 pi written as
// 6.28318: the end values lie a hair above 0.08.
constexpr double kHammingTwoPi = 6.28318;
constexpr double kHammingOffset = 0.54;
constexpr double kHammingSlope = 0.46;

}  // namespace

const float* SharedHammingWindow(int32_t frameLength) {
  if (frameLength < 2) return nullptr;
  static std::mutex mutex;
  static std::map<int32_t, std::unique_ptr<float[]>> windows;
  std::lock_guard<std::mutex> lock(mutex);
  try {
    std::unique_ptr<float[]>& window = windows[frameLength];
    if (window == nullptr) {
      std::unique_ptr<float[]> made(new (std::nothrow) float[frameLength]);
      if (made == nullptr) return nullptr;
      const float step = static_cast<float>(kHammingTwoPi / (frameLength - 1));
      for (int32_t n = 0; n < frameLength; ++n) {
        made[n] = static_cast<float>(kHammingOffset -
                                     kHammingSlope * std::cos(n * static_cast<double>(step)));
      }
      window = std::move(made);
    }
    return window.get();
  } catch (const std::bad_alloc&) {
    return nullptr;
  }
}
