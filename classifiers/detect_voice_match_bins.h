// The harmonic-by-harmonic match of MatchPitch's candidate bins, the ten F
// of a bin side by side in int16 lanes: one body (detect_voice_match_bins.inc)
// built for SSE2 and, on x86-64, for AVX2, chosen at run time by the CPU.
// Internal to classifiers/.
#ifndef KVD_CLASSIFIERS_DETECT_VOICE_MATCH_BINS_H
#define KVD_CLASSIFIERS_DETECT_VOICE_MATCH_BINS_H

#include <cstdint>

namespace kvd_voice {

// What the match of one frame's candidate bins reads and writes. Positions
// are in tenths of a bin; candidate c has F = firstF + 10 c + 0 .. 9.
struct BinMatchJob {
  // The first kept peak at or above tenth t, for t = -1 .. topTenths (and
  // kNoPeakAbove when there is none); indexable from -1.
  const int16_t* firstPeakAt = nullptr;
  // The tolerance d of F = firstF + t, tenths; 16 entries readable from the
  // first tenth of every candidate.
  const int16_t* tolerance = nullptr;
  const int16_t* peakTenths = nullptr;  // the kept peaks, ascending
  int32_t firstF = 0;
  int32_t candidates = 0;
  int32_t topTenths = 0;  // the harmonic limit
  int32_t lastQ = 0;      // harmonic m + 4 of the last series position
  // With chainTest, bit c of pos0Bins: position 0 may match in bin c; of
  // chainBins: some position m >= 1 may, with harmonic m + 1 at a peak
  // firstChain[c] .. lastChain[c] (indices into peakTenths).
  bool chainTest = false;
  uint64_t pos0Bins = 0;
  uint64_t chainBins = 0;
  const int8_t* firstChain = nullptr;
  const int8_t* lastChain = nullptr;
  uint64_t* matchRows = nullptr;  // matchWords words per candidate
  int32_t matchWords = 0;
  char* canRow = nullptr;  // 1 for a candidate with any position matched
};

// Series positions a word of matchRows holds, bit m % 64 of word m / 64.
constexpr int32_t kPositionsPerWord = 64;

// The entry of firstPeakAt for a tenth with no kept peak at or above it.
constexpr int16_t kNoPeakAbove = INT16_MAX;

#if defined(__SSE2__)
void MatchBinsSse2(const BinMatchJob& job);
#endif
#if defined(__x86_64__)
#define KVD_MATCH_BINS_AVX2 1
void MatchBinsAvx2(const BinMatchJob& job);
#endif

}  // namespace kvd_voice

#endif  // KVD_CLASSIFIERS_DETECT_VOICE_MATCH_BINS_H
