// The harmonic sets of a range of pitches, visited once each: against the
// search pitch by pitch that they stand in for; and the skip to a set's
// first member against the walk it replaces.
#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <random>
#include <vector>

#include "classifiers/detect_voice_set_runs.h"
#include "classifiers/detect_voice_sets.h"

namespace {

using kvd_voice::ForEachSet;
using kvd_voice::ForEachSetOfPitchRun;
using Set = std::array<int32_t, 4>;

struct Search {
  std::vector<int16_t> peaks;
  int32_t members;
  int32_t m;  // series position: the first member's window is that of harmonic m + 1
  int32_t qFirst;
  int32_t qLast;
  float tol;

  float FirstLo(int32_t q) const {
    return m == 0 ? static_cast<float>(q) - tol : static_cast<float>((m + 1) * q) - tol;
  }
  float FirstHi(int32_t q) const {
    return m == 0 ? static_cast<float>(q) + 1.0f + tol
                  : static_cast<float>((m + 1) * (q + 1)) + tol;
  }

  // Pitch by pitch, a set kept where it is first met.
  std::vector<Set> ByPitch() const {
    std::vector<Set> sets;
    for (int32_t q = qFirst; q <= qLast; ++q) {
      const float qf = static_cast<float>(q);
      ForEachSet(peaks.data(), static_cast<int32_t>(peaks.size()), members, FirstLo(q),
                 FirstHi(q), qf - tol, qf + tol, [&](const int32_t* idx) {
                   const Set set{idx[0], idx[1], idx[2], idx[3]};
                   for (const Set& known : sets) {
                     if (known == set) return;
                   }
                   sets.push_back(set);
                 });
    }
    return sets;
  }

  bool ByRun(std::vector<Set>* sets) const {
    auto visit = [&](const int32_t* idx) { sets->push_back({idx[0], idx[1], idx[2], idx[3]}); };
    return ForEachSetOfPitchRun(peaks.data(), static_cast<int32_t>(peaks.size()), members,
                                qFirst, qLast, tol, m == 0 ? 1 : m + 1, visit);
  }
};

// Peaks as a frame keeps them: ascending bins, at least two apart, 4 .. 127.
std::vector<int16_t> RandomPeaks(std::mt19937& random) {
  std::vector<int16_t> peaks;
  int32_t bin = 4 + static_cast<int32_t>(random() % 6);
  const size_t count = 3 + random() % 23;
  while (peaks.size() < count && bin < 128) {
    peaks.push_back(static_cast<int16_t>(bin));
    bin += 2 + static_cast<int32_t>(random() % 12);
  }
  return peaks;
}

TEST(VoiceSetRuns, EachSetOnceInTheOrderThePitchByPitchSearchFirstMeetsIt) {
  std::mt19937 random(20261208);
  int32_t withSets = 0;
  int32_t refused = 0;
  for (int trial = 0; trial < 3000; ++trial) {
    Search search;
    search.peaks = RandomPeaks(random);
    search.m = trial % 3 == 0 ? 0 : 1 + static_cast<int32_t>(random() % 6);
    search.members = search.m == 0 ? 3 : 4;
    const int32_t p = 4 + static_cast<int32_t>(random() % 28);
    const int32_t reach = 1 + static_cast<int32_t>(random() % 3);  // 40 Hz in bins
    search.qFirst = std::max(p - reach, 4);
    search.qLast = std::min(p + reach + 1, 31);
    search.tol = 1.01f + static_cast<float>(random() % 201) / 100.0f;
    const std::vector<Set> expected = search.ByPitch();
    std::vector<Set> visited;
    if (!search.ByRun(&visited)) {
      EXPECT_TRUE(visited.empty()) << trial;  // refused before visiting any
      EXPECT_GT(expected.size(), 0u) << trial;
      ++refused;
      continue;
    }
    EXPECT_EQ(visited, expected) << trial;
    if (!expected.empty()) ++withSets;
  }
  EXPECT_GT(withSets, 300);  // the comparisons were not all of empty searches
  EXPECT_LT(refused, 30);
}

TEST(VoiceSetRuns, RefusesMoreSetsThanItHoldsAndAnEmptyRangeVisitsNothing) {
  // A peak on every bin, a first member among seven and each spacing among
  // seven: hundreds of sets.
  Search dense;
  for (int16_t bin = 1; bin < 60; ++bin) dense.peaks.push_back(bin);
  dense.m = 0;
  dense.members = 3;
  dense.qFirst = 6;
  dense.qLast = 9;
  dense.tol = 3.01f;
  ASSERT_GT(dense.ByPitch().size(), static_cast<size_t>(kvd_voice::kRunSets));
  std::vector<Set> visited;
  EXPECT_FALSE(dense.ByRun(&visited));
  EXPECT_TRUE(visited.empty());

  Search empty = dense;
  empty.qFirst = 10;
  empty.qLast = 9;
  EXPECT_TRUE(empty.ByRun(&visited));
  EXPECT_TRUE(visited.empty());
}

// The first peak at or above a bin, eight at a time where eight are left:
// against the plain walk for every start, for rows of every length a frame
// keeps and for bins around, between and past the peaks, the int16 range's
// ends included.
TEST(VoiceSets, FirstAtOrAboveMatchesTheWalkFromEveryStart) {
  std::mt19937 random(20261209);
  int32_t checked = 0;
  for (int trial = 0; trial < 200; ++trial) {
    std::vector<int16_t> peaks = RandomPeaks(random);
    if (trial == 0) peaks = {INT16_MIN, INT16_MIN + 1, -3, 0, 5, 9, 100, 1000, 30000, INT16_MAX};
    const int32_t count = static_cast<int32_t>(peaks.size());
    std::vector<int32_t> bins = {INT16_MIN - 1, INT16_MIN, 0, 1, INT16_MAX, INT16_MAX + 1};
    for (const int16_t peak : peaks) {
      bins.push_back(peak - 1);
      bins.push_back(peak);
      bins.push_back(peak + 1);
    }
    for (const int32_t bin : bins) {
      for (int32_t start = 0; start <= count; ++start) {
        int32_t expected = start;
        while (expected < count && peaks[expected] < bin) ++expected;
        ASSERT_EQ(kvd_voice::FirstAtOrAbove(peaks.data(), start, count, bin), expected)
            << trial << " bin " << bin << " start " << start;
        ++checked;
      }
    }
  }
  EXPECT_GT(checked, 20000);
}

}  // namespace
