// Geometries whose bins are so narrow that a pitch or harmonic limit, in
// bins, would not fit the detector's 16-bit bin numbers are refused.
#include <gtest/gtest.h>

#include "kvd/detect_voice.h"

namespace {

TEST(DetectVoiceNarrowBins, BinCountsBeyond16BitsAreRefused) {
  // 3 Hz / 2048 points: 175 Hz is 119467 bins.
  EXPECT_EQ(CDetectVoice(3, 2048, 175, -1, 0).Status, -1);
  // 100 Hz / 4096 points: the highest pitch, 1000 Hz, is 40960 bins.
  EXPECT_EQ(CDetectVoice(100, 4096, 1, 1000, 50).Status, -1);
  // 0.0244 Hz bins: 40 Hz and 157 Hz, the tracking tolerances, need 1638
  // and 6430 bins; 600 Hz is 24576 bins. All fit.
  CDetectVoice fits(100, 4096, 1, 600, 50);
  EXPECT_EQ(fits.Status, 0);
  EXPECT_EQ(fits.ReInit(), 0);
}

TEST(DetectVoiceNarrowBins, FineTelephoneGeometryStillBuilds) {
  CDetectVoice voice(8000, 4096, 65, 480, 2000);  // 1.95 Hz bins
  EXPECT_EQ(voice.Status, 0);
}

}  // namespace
