// CDetectVoice under failing allocations: each of the five buffers in turn.
// This executable replaces the array forms of operator new / delete with a
// counting pair on malloc / free whose nothrow new[] can be made to fail.
#include <gtest/gtest.h>

#include <cstdlib>
#include <new>
#include <ostream>

#include "kvd/detect_voice.h"
#include "voice_test_peer.h"

namespace {
// 0: never fail; n: the n-th nothrow new[] from now on fails.
int failAtNothrowArray = 0;
int nothrowArrayCalls = 0;
long liveArrays = 0;
}  // namespace

void* operator new[](std::size_t size) {
  void* p = std::malloc(size == 0 ? 1 : size);
  if (p == nullptr) throw std::bad_alloc();
  ++liveArrays;
  return p;
}

void* operator new[](std::size_t size, const std::nothrow_t&) noexcept {
  ++nothrowArrayCalls;
  if (failAtNothrowArray != 0 && nothrowArrayCalls == failAtNothrowArray) return nullptr;
  void* p = std::malloc(size == 0 ? 1 : size);
  if (p != nullptr) ++liveArrays;
  return p;
}

void operator delete[](void* p) noexcept {
  if (p != nullptr) --liveArrays;
  std::free(p);
}

void operator delete[](void* p, std::size_t) noexcept { operator delete[](p); }

void operator delete[](void* p, const std::nothrow_t&) noexcept { operator delete[](p); }

namespace {

struct AllocationCase {
  int failingAllocation;  // 1 .. 5, in the constructor's order
  const char* message;
};

void PrintTo(const AllocationCase& c, std::ostream* os) {
  *os << "allocation " << c.failingAllocation;
}

class VoiceAllocation : public testing::TestWithParam<AllocationCase> {};

TEST_P(VoiceAllocation, FailureGivesStatusMinusOneAMessageAndNoLeak) {
  const AllocationCase c = GetParam();
  const long liveBefore = liveArrays;
  nothrowArrayCalls = 0;
  failAtNothrowArray = c.failingAllocation;
  testing::internal::CaptureStdout();
  {
    CDetectVoice voice(8000, 512, 65, 480, 2000);
    failAtNothrowArray = 0;
    EXPECT_EQ(voice.Status, -1);
    EXPECT_FALSE(CDetectVoiceTestPeer(voice).HasBuffers());
    // Everything allocated before the failure has been released.
    EXPECT_EQ(liveArrays, liveBefore);
  }
  EXPECT_EQ(testing::internal::GetCapturedStdout(), c.message);
  failAtNothrowArray = 0;
}

INSTANTIATE_TEST_SUITE_P(
    EachBuffer, VoiceAllocation,
    testing::Values(AllocationCase{1, "Error allocating memory for tmpBinEnergy!\n"},
                    AllocationCase{2, "Error allocating memory for MostDifTabZoom!\n"},
                    AllocationCase{3, "Error allocating memory for AllMatchPitch!\n"},
                    AllocationCase{4, "Error allocating memory for CanMatchPitch!\n"}));

TEST(VoiceAllocationCount, FailedAssignmentLeavesARefusedDetector) {
  CDetectVoice source(8000, 512, 65, 480, 2000);
  CDetectVoice target(16000, 1024, 65, 480, 2000);  // other geometry: reallocates
  nothrowArrayCalls = 0;
  failAtNothrowArray = 3;
  testing::internal::CaptureStdout();
  target = source;
  failAtNothrowArray = 0;
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "Error allocating memory for AllMatchPitch!\n");
  EXPECT_EQ(target.Status, -1);
  EXPECT_FALSE(CDetectVoiceTestPeer(target).HasBuffers());
}

}  // namespace
