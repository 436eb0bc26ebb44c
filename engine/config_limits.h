// The values each configuration key may take. A value outside its range
// would let frame counts, bins or buffer sizes reach past the engine's
// buffers or overflow 32-bit arithmetic, so KVD_Init refuses it (-92).
#ifndef KVD_ENGINE_CONFIG_LIMITS_H
#define KVD_ENGINE_CONFIG_LIMITS_H

#include <cstdint>

// Highest SampleRate in Hz: above it a line's buffers grow to tens of
// megabytes, and from about 85.9 MHz the frame length overflows 32 bits.
constexpr int32_t kHighestSampleRateHz = 192000;

// Longest span in 10 ms frames (one hour) that a frame-count key may
// hold: shift x frames stays within 32 bits at the highest sample rate.
constexpr int32_t kLongestSpanFrames = 360000;

// Most entries of the multi-segment list (8 bytes each, per call).
constexpr int32_t kMostSegments = 100000;

// Checks the value texts of the keys against their ranges (the detection
// band's borders against half the sample rate).
class ConfigLimits {
 public:
  explicit ConfigLimits(int32_t sampleRate) : sampleRate_(sampleRate) {}

  // True when value suits key (keys without limits always do); otherwise
  // names the key and its range through tprintf7 and returns false.
  bool Accept(const char* key, const char* value) const;

 private:
  int32_t sampleRate_;
};

#endif  // KVD_ENGINE_CONFIG_LIMITS_H
