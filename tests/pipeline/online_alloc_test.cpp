// Allocation: a running online line never allocates (speech and silence,
// several chunk sizes, FastMode off and on), and CDetectVoice survives each
// of its four buffers failing in turn. The global operator new / delete are
// replaced by a counting set on malloc / free: only the test thread's calls
// while `counting` is set count (the logging library's threads may allocate
// at any time), live arrays are tracked, and the nothrow new[] can fail.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <new>
#include <string>
#include <vector>

#include "engine/kvd_api.h"
#include "kvd/detect_voice.h"
#include "online_fixtures.h"
#include "test_signals.h"
#include "voice_test_peer.h"

namespace {
thread_local bool counting = false;
thread_local long allocations = 0;
// 0: never fail; n: the n-th nothrow new[] from now on fails.
int failAtNothrowArray = 0;
int nothrowArrayCalls = 0;
long liveArrays = 0;

void* CountedAllocation(std::size_t size) {
  if (counting) ++allocations;
  return std::malloc(size == 0 ? 1 : size);
}
}  // namespace

// Out of line, so that the compiler does not pair the malloc / free inside
// with the new / delete expressions of the callers.
#define KVD_OUT_OF_LINE __attribute__((noinline))

KVD_OUT_OF_LINE void* operator new(std::size_t size) {
  void* p = CountedAllocation(size);
  if (p == nullptr) throw std::bad_alloc();
  return p;
}
KVD_OUT_OF_LINE void* operator new[](std::size_t size) {
  void* p = operator new(size);
  ++liveArrays;
  return p;
}
KVD_OUT_OF_LINE void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
  return CountedAllocation(size);
}
KVD_OUT_OF_LINE void* operator new[](std::size_t size, const std::nothrow_t&) noexcept {
  ++nothrowArrayCalls;
  if (failAtNothrowArray != 0 && nothrowArrayCalls == failAtNothrowArray) return nullptr;
  void* p = CountedAllocation(size);
  if (p != nullptr) ++liveArrays;
  return p;
}
KVD_OUT_OF_LINE void operator delete(void* p) noexcept { std::free(p); }
KVD_OUT_OF_LINE void operator delete[](void* p) noexcept {
  if (p != nullptr) --liveArrays;
  std::free(p);
}
KVD_OUT_OF_LINE void operator delete(void* p, std::size_t) noexcept { std::free(p); }
KVD_OUT_OF_LINE void operator delete[](void* p, std::size_t) noexcept { operator delete[](p); }
KVD_OUT_OF_LINE void operator delete(void* p, const std::nothrow_t&) noexcept { std::free(p); }
KVD_OUT_OF_LINE void operator delete[](void* p, const std::nothrow_t&) noexcept {
  operator delete[](p);
}

namespace {

using namespace kvdtest;

// The allocations made by the KVD_DetectSpeech calls that stream pcm through
// a started line in chunks of `chunk` samples. A line that finishes an
// utterance is started again (not counted) and fed the rest.
long AllocationsWhileDetecting(int32_t line, const std::vector<int16_t>& pcm, int32_t chunk) {
  int32_t state = before_speech, start = -1, end = -1, position = 0;
  allocations = 0;
  for (size_t first = 0; first < pcm.size(); first += static_cast<size_t>(chunk)) {
    const int32_t count =
        static_cast<int32_t>(std::min(pcm.size() - first, static_cast<size_t>(chunk)));
    counting = true;
    const int32_t result =
        KVD_DetectSpeech(line, pcm.data() + first, count, &state, &start, &end, &position);
    counting = false;
    EXPECT_EQ(result, KVD_OK);
    if (state == speech_end || state == speech_too_long || state == speech_too_short) {
      EXPECT_EQ(KVD_Start(line), KVD_OK);
    }
  }
  return allocations;
}

class OnlineAllocation : public testing::TestWithParam<bool> {};

TEST_P(OnlineAllocation, DetectionOnSpeechAndSilenceAllocatesNothing) {
  // The counter itself: a direct call (a new expression whose result goes
  // unused may be elided) is counted only while counting.
  allocations = 0;
  counting = true;
  void* counted = ::operator new(16);
  counting = false;
  ::operator delete(counted);
  ::operator delete(::operator new(16));
  ASSERT_EQ(allocations, 1);
  const bool fastMode = GetParam();
  OnlineEngine engine(StreamTestConfig().Set("FastMode", fastMode ? "1" : "0"));
  ASSERT_EQ(engine.InitResult(), KVD_OK);
  const int32_t line = engine.StartLine();
  ASSERT_GE(line, 0);
  const std::vector<int16_t> speech = SamplePcm();
  const std::vector<int16_t> silence = WhiteNoisePcm(30.0, 7u, 8000 * 6);
  // Chunks shorter than, equal to and longer than a 10 ms frame (80 samples).
  for (const int32_t chunk : {1, 80, 241, 8000}) {
    EXPECT_EQ(AllocationsWhileDetecting(line, speech, chunk), 0) << "speech, chunk " << chunk;
    ASSERT_EQ(KVD_Start(line), KVD_OK);
    EXPECT_EQ(AllocationsWhileDetecting(line, silence, chunk), 0) << "silence, chunk " << chunk;
    ASSERT_EQ(KVD_Start(line), KVD_OK);
  }
}

INSTANTIATE_TEST_SUITE_P(FastModeOffAndOn, OnlineAllocation, testing::Bool());

// The detector's buffers in the order its constructor allocates them.
const std::string kBuffers[] = {"tmpBinEnergy", "MostDifTabZoom", "AllMatchPitch",
                                "CanMatchPitch"};

std::string FailureMessage(int allocation) {
  return "Error allocating memory for " + kBuffers[allocation - 1] + "!\n";
}

TEST(VoiceAllocation, FailureGivesStatusMinusOneAMessageAndNoLeak) {
  for (int allocation = 1; allocation <= 4; ++allocation) {
    SCOPED_TRACE(kBuffers[allocation - 1]);
    const long liveBefore = liveArrays;
    nothrowArrayCalls = 0;
    failAtNothrowArray = allocation;
    testing::internal::CaptureStdout();
    {
      CDetectVoice voice(8000, 512, 65, 480, 2000);
      failAtNothrowArray = 0;
      EXPECT_EQ(voice.Status, -1);
      EXPECT_FALSE(CDetectVoiceTestPeer(voice).HasBuffers());
      // Everything allocated before the failure has been released.
      EXPECT_EQ(liveArrays, liveBefore);
    }
    EXPECT_EQ(testing::internal::GetCapturedStdout(), FailureMessage(allocation));
  }
  // An assignment to a detector of another geometry reallocates.
  CDetectVoice source(8000, 512, 65, 480, 2000);
  CDetectVoice target(16000, 1024, 65, 480, 2000);
  nothrowArrayCalls = 0;
  failAtNothrowArray = 3;
  testing::internal::CaptureStdout();
  target = source;
  failAtNothrowArray = 0;
  EXPECT_EQ(testing::internal::GetCapturedStdout(), FailureMessage(3));
  EXPECT_EQ(target.Status, -1);
  EXPECT_FALSE(CDetectVoiceTestPeer(target).HasBuffers());
}

}  // namespace
