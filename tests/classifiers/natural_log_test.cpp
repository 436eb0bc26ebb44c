// LnOfPositives against std::log value by value: the eight-at-a-time way
// must give the C library's results exactly, whatever the count, the
// position of a value in its block or the values beside it.
#include "classifiers/natural_log.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <vector>

#include "platform/ipps.h"

namespace {

float FromBits(uint32_t bits) {
  float value;
  std::memcpy(&value, &bits, sizeof(value));
  return value;
}

uint32_t BitsOf(float value) {
  uint32_t bits;
  std::memcpy(&bits, &value, sizeof(bits));
  return bits;
}

// What every value must come to.
float Expected(float value) { return value > 0.0f ? std::log(value) : 0.0f; }

void ExpectEachAsLibrary(const std::vector<float>& x) {
  std::vector<float> out(x.size(), -7.0f);
  kvd_voice::LnOfPositives(x.data(), out.data(), static_cast<int32_t>(x.size()));
  for (size_t k = 0; k < x.size(); ++k) {
    ASSERT_EQ(BitsOf(out[k]), BitsOf(Expected(x[k])))
        << "value bits 0x" << std::hex << BitsOf(x[k]) << " at " << std::dec << k;
  }
}

// Runs body with the widest instruction set, without AVX-512, and with the
// baseline.
template <typename Body>
void OnEveryInstructionSet(Body body) {
  const Ipp64u widest = ippGetEnabledCpuFeatures();
  for (Ipp64u features : {widest, widest & ~ippCPUID_AVX512F, Ipp64u{0}}) {
    ippSetCpuFeatures(features);
    SCOPED_TRACE(features == 0 ? "baseline" : features == widest ? "widest" : "without AVX-512");
    body();
  }
  ippSetCpuFeatures(widest);
}

#if defined(__x86_64__) && defined(__GLIBC__)
TEST(NaturalLogTest, EightAtATimeWhereTheCpuAllows) {
  // On glibc its logf follows the method: only a fault of ours turns the
  // eight-at-a-time way off on a CPU with AVX2 and FMA.
  if (__builtin_cpu_supports("avx2") && __builtin_cpu_supports("fma")) {
    EXPECT_TRUE(kvd_voice::LnEightAtATimeAvailable());
  }
  if (__builtin_cpu_supports("avx512f")) {
    EXPECT_TRUE(kvd_voice::LnEightInOneRegisterAvailable());
  }
}
#endif

TEST(NaturalLogTest, EveryExponentAndIntervalAsTheLibrary) {
  // One float in 2039 over all bit patterns, negatives included: every
  // exponent, every interval of the table, and the edges between them.
  std::vector<float> x;
  for (uint64_t bits = 0; bits <= 0xffffffffu; bits += 2039) {
    x.push_back(FromBits(static_cast<uint32_t>(bits)));
  }
  for (uint32_t interval = 0; interval < 16; ++interval) {
    const uint32_t edge = 0x3f330000u + (interval << 19);
    for (uint32_t near = edge - 2; near <= edge + 2; ++near) x.push_back(FromBits(near));
  }
  OnEveryInstructionSet([&] { ExpectEachAsLibrary(x); });
}

TEST(NaturalLogTest, ValuesOutsideTheNormalRangeInAnyPlaceOfABlock) {
  const float inf = std::numeric_limits<float>::infinity();
  const float nan = std::numeric_limits<float>::quiet_NaN();
  const float specials[] = {0.0f,   -0.0f, -1.0f, -inf, nan, -nan, inf,
                            1e-45f, 1e-40f, std::numeric_limits<float>::min(), 1.0f};
  EXPECT_EQ(Expected(1.0f), 0.0f);
  EXPECT_TRUE(std::isinf(Expected(inf)));
  OnEveryInstructionSet([&] {
    for (float special : specials) {
      for (size_t place = 0; place < 12; ++place) {
        std::vector<float> x(12);
        for (size_t k = 0; k < x.size(); ++k) x[k] = 1000.0f * static_cast<float>(k + 1);
        x[place] = special;
        ExpectEachAsLibrary(x);
      }
    }
  });
}

TEST(NaturalLogTest, EveryCountGivesEachValueAlone) {
  // Counts below one block, one block, and blocks with a short last one.
  OnEveryInstructionSet([] {
    for (int32_t count = 0; count <= 27; ++count) {
      std::vector<float> x(static_cast<size_t>(count));
      for (size_t k = 0; k < x.size(); ++k) x[k] = 0.37f * static_cast<float>(k * k) + 0.01f;
      ExpectEachAsLibrary(x);
    }
  });
}

}  // namespace
