// Geometries whose bins are so narrow that a pitch or harmonic limit, in
// bins, would not fit the detector's 16-bit bin numbers, or that the track
// search would take seconds to minutes a frame over, are refused.
#include <gtest/gtest.h>

#include "kvd/detect_voice.h"

namespace {

TEST(DetectVoiceNarrowBins, BinCountsBeyond16BitsAreRefused) {
  // 3 Hz / 2048 points: 175 Hz is 119467 bins.
  EXPECT_EQ(CDetectVoice(3, 2048, 175, -1, 0).Status, -1);
  // 100 Hz / 4096 points: the highest pitch, 1000 Hz, is 40960 bins.
  EXPECT_EQ(CDetectVoice(100, 4096, 1, 1000, 50).Status, -1);
  // 0.0244 Hz bins: every limit fits 16 bits, but the track search tries
  // the 3277 pitches within 40 Hz of its reference (one fuzzed frame took
  // six minutes).
  EXPECT_EQ(CDetectVoice(100, 4096, 1, 600, 50).Status, -1);
}

TEST(DetectVoiceNarrowBins, BinsNarrowerThan3Point9HzAreRefused) {
  EXPECT_EQ(CDetectVoice(8000, 4096, 65, 480, 2000).Status, -1);  // 1.95 Hz
  EXPECT_EQ(CDetectVoice(15974, 4096, 65, 480, 2000).Status, -1);  // 3.8999 Hz
  EXPECT_EQ(CDetectVoice(8000, 2048, 65, 480, 2000).Status, 0);  // 3.90625 Hz
  EXPECT_EQ(CDetectVoice(16000, 4096, 65, 480, 2000).Status, 0);  // 3.90625 Hz
}

}  // namespace
