// CDetectVoice: pitch tracks over the window: Find seeds tracks
// on three consecutive frames, SearchHarmo picks a seed frame's harmonic
// set, Connect3 / Connect4 (with ConnectHarmo3Full / ConnectHarmo4Full)
// grow a track frame by frame. The acceptance tests are in
// detect_voice_checks.cpp.
//
// Connect3 and ConnectHarmo3Full are the m = 0 cases of Connect4 and
// ConnectHarmo4Full: one body each, the differences between the
// 3- and 4-harmonic variants taken from the series position.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <type_traits>
#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "classifiers/detect_voice_set_runs.h"
#include "classifiers/detect_voice_sets.h"
#include "classifiers/detect_voice_track_checks.h"
#include "classifiers/detect_voice_tuning.h"
#include "kvd/detect_voice.h"

using namespace kvd_voice;

// The seed search's lambdas are called for every pitch triple and series
// position it tries: inlined into Find whatever its size, or their calls
// would cost as much as their bodies.
#if defined(__GNUC__)
#define KVD_INLINE __attribute__((always_inline))
#else
#define KVD_INLINE
#endif

namespace {

// SearchHarmo: spacing tolerance 10 % of the pitch, 1.01 .. 2.01 bins;
// spread bound 20 % of the pitch, at most 2 bins.
constexpr float kSeedToleranceShare = 0.1f;
constexpr float kSeedToleranceMinBins = 1.01f;
constexpr float kSeedToleranceMaxBins = 2.01f;
constexpr int32_t kSeedBoundPercent = 20;
constexpr int16_t kSeedBoundMaxBins = 2;
// TestTrueFullHarmo rejects a set whose every relative area is below 1 %
// (1/10000).
constexpr int16_t kSeedStrongArea = 100;
// Growing a track: tolerance 10 % of the reference pitch, 1.01 .. 3.01
// bins; spread bound 30 % of it, at most 3 bins.
constexpr float kGrowToleranceShare = 0.1f;
constexpr float kGrowToleranceMinBins = 1.01f;
constexpr float kGrowToleranceMaxBins = 3.01f;
constexpr float kGrowBoundShare = 0.3f;
constexpr int16_t kGrowBoundMaxBins = 3;
// A grown frame's set must hold at least 0.1 % of the frame's peak area.
constexpr int16_t kGrowMinArea = 10;
// The set lists of Connect4's sets with a virtual peak are told apart from
// ConnectHarmo4Full's by their bound field, kPartialSetList + w (those of
// ConnectHarmo4Full hold a spread bound of at most kGrowBoundMaxBins).
constexpr int32_t kPartialSetList = 64;
// Backward growth needs an unvoiced slot among the 10 before the seed.
constexpr int32_t kBackLookFrames = 10;

// Outcomes of the seed searches of one frame, by series position m. The
// seed search of Find meets the same search again for every pitch of the
// later seed frames: SearchHarmo(p0, m) of the first frame depends on p0 and
// m only, that of the second frame on p1, m and the first frame's set. Each
// is searched once and then replayed from here. The candidate fields are
// scratch (every search writes them before it reads them), so only the
// frame's set, areas, pitch and the result need keeping. Series positions
// from kMemoSeries on (beyond every geometry of the engine) are searched
// each time.
constexpr int32_t kMemoSeries = 64;

struct SeedMemo {
  struct Outcome {
    int16_t result;
    int16_t peak[kSetSize];
    int16_t area[kSetSize];
    float absArea[kSetSize];
    float pitch;
    uint32_t members;  // SearchHarmo's, when result > 0
    // Pads an outcome to 48 bytes: its place in a memo is then its index
    // times 3 times 16, two address steps.
    uint32_t unused;
  };
  static_assert(sizeof(Outcome) == 48, "48 bytes an outcome");
  Outcome outcome[kMemoSeries];
  // Bit m: outcome[m] holds the search of series position m.
  static_assert(kMemoSeries <= 64, "one bit per series position");
  uint64_t known;

  void Forget() { known = 0; }
  bool Knows(int32_t m) const { return m < kMemoSeries && (known >> m & 1u) != 0; }
};

// Outcomes of the later seed frames' searches, SearchHarmo(p, m, f + rows,
// f, f + rows) for rows 1 and 2. Besides p, m and frame f + rows' kept peaks
// such a search reads only the sets, areas and pitches of frames f ..
// f + rows - 1, and different earlier pitches often leave those the same
// (on speech about 40 % of the second frame's searches that SeedMemo does
// not replay, and over half of the third frame's, repeat an earlier one). A
// few outcomes are kept, keyed by p, m and the earlier frames' sets; once
// full, the oldest is replaced. On speech one slot's search meets more than
// 16 keys in the second frame and meets the replaced ones again: 32 are kept
// for it. The third frame searches no less with more than 16.
constexpr int32_t kSecondFrameOutcomes = 32;
constexpr int32_t kThirdFrameOutcomes = 16;

template <int32_t kRows, int32_t kOutcomes>
struct KeyedMemo {
  static constexpr int32_t kSize = kOutcomes;
  // The rows of frames f .. f + kRows - 1 are those of their searches'
  // chosen sets (a later frame is searched only after the earlier ones
  // succeeded), told apart by SearchHarmo's members and m.
  static_assert(kRows == 1 || kRows == 2, "two members words in a key");
  struct Key {
    uint64_t seed;     // p in the low 32 bits, m in the high ones
    uint64_t members;  // of frame f in the low 32 bits, of f + 1 in the high ones
    Key(int32_t p, int32_t m, const uint32_t* rowMembers)
        : seed(static_cast<uint32_t>(p) | static_cast<uint64_t>(static_cast<uint32_t>(m)) << 32),
          members(rowMembers[0] |
                  (kRows == 2 ? static_cast<uint64_t>(rowMembers[kRows - 1]) << 32 : 0)) {}
    Key() = default;
    int32_t p() const { return static_cast<int32_t>(static_cast<uint32_t>(seed)); }
    bool operator==(const Key& other) const {
      return ((seed ^ other.seed) | (members ^ other.members)) == 0;
    }
  };
  Key key[kOutcomes];
  SeedMemo::Outcome outcome[kOutcomes];
  int32_t used;
  int32_t next;  // the slot written next once all are used
  // Bit i of entry p - MinPitchBin: key i holds pitch p. Pitches from
  // kIndexedPitches candidates on (beyond every geometry of the engine) are
  // looked for among all keys.
  static constexpr int32_t kIndexedPitches = 64;
  static_assert(kOutcomes <= 32, "one bit per key");
  using Keys = uint32_t;
  Keys keysOfPitch[kIndexedPitches];

  // Empties the memo: called when a slot's search starts, so that a slot
  // whose seeds are replayed does not clear the memos it never uses.
  // Only the entries of the geometry's `pitches` candidates are read.
  void Reset(int32_t pitches) {
    used = 0;
    next = 0;
    std::fill(keysOfPitch, keysOfPitch + std::min(pitches, kIndexedPitches), Keys{0});
  }
};

// Find works the seed search from the candidates' words when a geometry
// has at most this many pitch candidates (the engine's have fewer than 30).
constexpr int32_t kWordPitches = 128;

// A pitch candidate needs three harmonics on kept peaks: MatchPitch marks
// none in a frame of fewer kept peaks.
constexpr int16_t kCandidatePeaks = 3;

// Bit m of entry c: series position m lies below MaxHarmoBin / (MinPitchBin
// + c) - 4 (below HarmoNum, so below 64), for pitchNum <= kWordPitches
// candidates. The limits depend on the geometry alone: each thread keeps
// those of the last geometry it met, so that lines of one geometry share
// them and no line holds a table of its own.
const uint64_t* SeriesLimitsOf(int32_t minPitchBin, int32_t pitchNum, int32_t maxHarmoBin) {
  struct Limits {
    int32_t minPitchBin = 0;
    int32_t pitchNum = 0;  // 0: none worked out yet
    int32_t maxHarmoBin = 0;
    uint64_t limit[kWordPitches] = {};
  };
  thread_local Limits limits;
  if (limits.pitchNum != pitchNum || limits.minPitchBin != minPitchBin ||
      limits.maxHarmoBin != maxHarmoBin) {
    for (int32_t c = 0; c < pitchNum; ++c) {
      const int32_t seriesEnd = maxHarmoBin / (minPitchBin + c) - 4;
      limits.limit[c] = seriesEnd > 0 ? (uint64_t{1} << seriesEnd) - 1u : 0;
    }
    limits.minPitchBin = minPitchBin;
    limits.pitchNum = pitchNum;
    limits.maxHarmoBin = maxHarmoBin;
  }
  return limits.limit;
}

// The set bits of v, without the library call __builtin_popcount makes
// for a target without a population count instruction.
inline int32_t CountBits(uint32_t v) {
  v = v - ((v >> 1) & 0x55555555u);
  v = (v & 0x33333333u) + ((v >> 2) & 0x33333333u);
  v = (v + (v >> 4)) & 0x0F0F0F0Fu;
  return static_cast<int32_t>((v * 0x01010101u) >> 24);
}

}  // namespace

// Only the set searches below keep candidates: inline here.
inline void CDetectVoice::KeepCandidate(int16_t frame) {
  std::memcpy(CandPeak, HarmoPeak[frame], sizeof(CandPeak));
  std::memcpy(CandArea, HarmoArea[frame], sizeof(CandArea));
  std::memcpy(CandAbsArea, HarmoAbsArea[frame], sizeof(CandAbsArea));
  CandPitch = FramePitch[frame];
}

namespace {

// The pair of lists of seedLists that may keep the list of a key: the keys
// of one seed search (neighbouring frames, pitches and series positions)
// spread over the pairs.
inline int32_t SeedListPair(uint64_t serial, int16_t p, int16_t m) {
  const uint32_t hash = static_cast<uint32_t>(serial) * 0x9E3779B1u ^
                        static_cast<uint32_t>(static_cast<uint16_t>(p)) * 0x85EBCA6Bu ^
                        static_cast<uint32_t>(static_cast<uint16_t>(m)) * 0xC2B2AE35u;
  return static_cast<int32_t>(hash >> 25);  // 128 pairs
}

}  // namespace

inline CDetectVoice::SeedList* CDetectVoice::SeedListOf(uint64_t serial, int16_t p, int16_t m,
                                                        bool* found) {
  static_assert(kSeedLists == 256, "seven bits of the hash, two lists a pair");
  const int32_t i = 2 * SeedListPair(serial, p, m);
  SeedList* pair = seedLists + i;
  uint64_t& kept = seedListsKept[i / 64];
  const int32_t shift = i % 64;
  const uint32_t keptOfPair = static_cast<uint32_t>(kept >> shift) & 3u;
  for (int32_t way = 0; way < 2; ++way) {
    const SeedList& list = pair[way];
    if ((keptOfPair >> way & 1u) != 0 && list.serial == serial && list.p == p && list.m == m) {
      *found = true;
      return pair + way;
    }
  }
  // Not kept until the caller has filled it. A list not kept is taken
  // first, else the one of the older frame (serials rise as frames come
  // in), which a later search of the window is less likely to meet again.
  *found = false;
  int32_t way = 0;
  if ((keptOfPair & 1u) != 0 && ((keptOfPair & 2u) == 0 || pair[1].serial < pair[0].serial)) {
    way = 1;
  }
  kept &= ~(uint64_t{1} << (shift + way));
  SeedList& list = pair[way];
  list.serial = serial;
  list.p = p;
  list.m = m;
  list.count = 0;
  return &list;
}

// Chooses the harmonic set of pitch bin p and series position m in `frame`
// among its kept peaks, checked against the track first .. last (frame is
// last; the slots before it hold the sets of the seed's earlier frames, as
// their own searches chose them). Returns the set's mean relative area
// (> 0), or -1 with the frame's set cleared.
int16_t CDetectVoice::SearchHarmo(int16_t p, int16_t m, int16_t frame, int16_t first,
                                  int16_t last, uint32_t* members) {
  const int16_t startBound = static_cast<int16_t>(
      std::min<int32_t>(p * kSeedBoundPercent / 100, kSeedBoundMaxBins));
  int16_t bound = startBound;
  int16_t best = -1;
  const int16_t* peaks = PeakBins(frame);
  const int16_t* peakArea = PeakAreas(frame);
  const float* peakAbsArea = PeakAbsAreas(frame);
  // A set is written into the frame's rows only when the track test reads
  // them (a seed's later frames) and once more for the best set: the
  // spacing spread, mean area and strongest area (the first test of
  // TestTrueFullHarmo) come from the kept peaks themselves.
  const bool alone = first >= last;
  int32_t kept[kSetSize] = {0, 0, 0, 0};
  bool anyKept = false;
  bool rowsHoldKept = false;  // the rows were last written with the kept set
  bool listed = false;
  SeedList* list = SeedListOf(frameSerial[frame], p, m, &listed);
  // One body per member count (3 for m = 0, else 4), so that the loops over
  // the members unroll.
  auto search = [&](auto membersConstant) {
    constexpr int32_t kMembers = decltype(membersConstant)::value;
    constexpr int32_t kFirstEntry = kSetSize - kMembers;
    auto write = [&](const int32_t* idx) {
      int16_t* set = HarmoPeak[frame];
      set[0] = 0;
      for (int32_t j = 0; j < kMembers; ++j) set[kFirstEntry + j] = peaks[idx[j]];
      if (set[kFirstEntry] >= 1) {
        // MemberAreas' rows for members that all lie at bin 1 or above (they
        // ascend from the first).
        int16_t* area = HarmoArea[frame];
        float* absArea = HarmoAbsArea[frame];
        area[0] = 0;
        absArea[0] = 0.0f;
        for (int32_t j = 0; j < kMembers; ++j) {
          area[kFirstEntry + j] = peakArea[idx[j]];
          absArea[kFirstEntry + j] = peakAbsArea[idx[j]];
        }
      } else {
        MemberAreas(peaks, peakArea, peakAbsArea, idx, kFirstEntry, HarmoArea[frame],
                    HarmoAbsArea[frame]);
      }
      FramePitch[frame] = SetPitch(set, m);
    };
    // A set within the starting bound and with a strong member, in search
    // order: its spread and mean area against the best so far, then the
    // track.
    auto consider = [&](const int32_t* idx, int16_t spread, int16_t area) {
      if (spread > bound || !(spread < bound || area > best)) return;
      if (!alone) {
        write(idx);
        rowsHoldKept = false;
        // The sets of first .. last - 1 passed these tests in turn, each
        // against the ones before it: only the pair ending at last is new.
        if (TestTrueFullHarmo(frame, first, last, static_cast<int16_t>(last - 1)) < 0) return;
        rowsHoldKept = true;
      }
      bound = spread;
      best = area;
      std::memcpy(kept, idx, sizeof(kept));
      anyKept = true;
    };
    if (listed) {
      for (int32_t i = 0; i < list->count; ++i) {
        const ListedSet& listedSet = list->sets[i];
        int32_t idx[kSetSize] = {0, 0, 0, 0};
        for (int32_t j = 0; j < kMembers; ++j) idx[j] = listedSet.peakIndex[j];
        consider(idx, listedSet.spread, listedSet.area);
      }
    } else {
      int32_t count = 0;  // sets met; kSeedListSets + 1: more than a list holds
      auto visit = [&](const int32_t* idx) {
        int16_t bins[kSetSize] = {0, 0, 0, 0};
        for (int32_t j = 0; j < kMembers; ++j) bins[kFirstEntry + j] = peaks[idx[j]];
        const int16_t spread = TestEven(bins, LayoutOf(m).numbers);
        if (spread > startBound) return;
        // MemberAreas' mean and TestTrueFullHarmo's strongest-harmonic test.
        // The members ascend from bins[kFirstEntry]: from bin 1 on, none
        // is left out.
        int32_t sum = 0;
        int32_t found = 0;
        bool strong = false;
        if (bins[kFirstEntry] >= 1) {
          for (int32_t j = 0; j < kMembers; ++j) {
            const int32_t a = peakArea[idx[j]];
            sum = sum + a < kAreaSumCap ? sum + a : kAreaSumCap;
            strong = strong || a >= kSeedStrongArea;
          }
          found = kMembers;
        } else {
          for (int32_t j = 0; j < kMembers; ++j) {
            const int32_t i = idx[j];
            if (peaks[i] < 1) continue;
            const int32_t a = peakArea[i];
            sum = sum + a < kAreaSumCap ? sum + a : kAreaSumCap;
            ++found;
            strong = strong || a >= kSeedStrongArea;
          }
        }
        if (!strong) return;
        const int16_t area = found > 0 ? static_cast<int16_t>(sum / found) : 0;
        if (count < kSeedListSets) list->sets[count].Keep(idx, kMembers, area, spread);
        if (count <= kSeedListSets) ++count;
        consider(idx, spread, area);
      };
      const float pitch = static_cast<float>(p);
      const float tol =
          Clamp(kSeedToleranceShare * pitch, kSeedToleranceMinBins, kSeedToleranceMaxBins);
      const float firstLo = m == 0 ? pitch - tol : static_cast<float>((m + 1) * p) - tol;
      const float firstHi =
          m == 0 ? pitch + 1.0f + tol : static_cast<float>((m + 1) * (p + 1)) + tol;
      ForEachSet(peaks, MaxNum[frame], kMembers, firstLo, firstHi, pitch - tol, pitch + tol,
                 visit);
      if (count <= kSeedListSets) {
        list->count = count;
        const int32_t i = static_cast<int32_t>(list - seedLists);
        seedListsKept[i / 64] |= uint64_t{1} << (i % 64);
      }
    }
    // The kept set in the rows, as the search left it.
    if (anyKept && !rowsHoldKept) write(kept);
  };
  if (m == 0) {
    search(std::integral_constant<int32_t, 3>{});
  } else {
    search(std::integral_constant<int32_t, kSetSize>{});
  }

  // The set stays in the frame's rows; the candidate fields are left as
  // they are: ConnectHarmo4Full and Connect4 write them before they read
  // them.
  if (anyKept && best > 0) {
    static_assert(kMaxPeaks <= 255, "a byte a member");
    if (members != nullptr) {
#if defined(__SSE2__)
      const __m128i words = _mm_loadu_si128(reinterpret_cast<const __m128i*>(kept));
      const __m128i halves = _mm_packs_epi32(words, words);
      *members = static_cast<uint32_t>(_mm_cvtsi128_si32(_mm_packus_epi16(halves, halves)));
#else
      *members = static_cast<uint32_t>(kept[0]) | static_cast<uint32_t>(kept[1]) << 8 |
                 static_cast<uint32_t>(kept[2]) << 16 | static_cast<uint32_t>(kept[3]) << 24;
#endif
    }
    return best;
  }
  ClearSet(frame);
  return -1;
}

int16_t CDetectVoice::ConnectHarmo3Full(int16_t k, int16_t s, int16_t e) {
  return ConnectHarmo4Full(k, s, e, 0);
}

inline CDetectVoice::SetList* CDetectVoice::SetListOf(uint64_t serial, uint32_t tolBits,
                                                      int16_t pitchBin, uint8_t m, int8_t bound,
                                                      bool* found) {
  // Neighbouring frames and series positions fall into different buckets.
  const uint32_t bucket =
      (static_cast<uint32_t>(serial) * 7u + m * 3u + static_cast<uint32_t>(bound)) %
      kSetListBuckets;
  SetList* lists = setLists[bucket];
  const int32_t used = setListUsed[bucket];
  for (int32_t way = 0; way < kSetListWays; ++way) {
    SetList& list = lists[way];
    if (way < used && list.serial == serial && list.tolBits == tolBits && list.pitchBin == pitchBin &&
        list.m == m && list.bound == bound) {
      *found = true;
      return &list;
    }
  }
  // Replaced in turn; the caller fills the sets (or empties the list).
  *found = false;
  int32_t way = used;
  if (used < kSetListWays) {
    setListUsed[bucket] = static_cast<uint8_t>(used + 1);
  } else {
    way = setListNext[bucket];
    setListNext[bucket] = static_cast<uint8_t>((way + 1) % kSetListWays);
  }
  SetList& list = lists[way];
  list.serial = serial;
  list.tolBits = tolBits;
  list.pitchBin = pitchBin;
  list.m = m;
  list.bound = bound;
  return &list;
}

// Searches a full set in frame k (three harmonics for m = 0, four from
// harmonic m + 1 otherwise) near the pitch of the track's reference frame.
// Returns the best mean relative area, or -1; frame k holds the chosen set
// (all zero when none). Connect4 is its only caller in the growth: inline
// there.
inline int16_t CDetectVoice::ConnectHarmo4Full(int16_t k, int16_t s, int16_t e, int16_t m) {
  const int32_t r = k > e ? e : s;
  const SetLayout layout = LayoutOf(m);
  // One body per member count (3 for m = 0, else 4), so that the loops over
  // the members unroll. The frame numbers, m and the layout are copied into
  // the closure: the body reads them there, not through their addresses.
  auto search = [this, k, s, e, m, r, layout](auto membersConstant) -> int16_t {
    constexpr int32_t kMembers = decltype(membersConstant)::value;
    constexpr int32_t kFirstEntry = kSetSize - kMembers;
    int16_t best = -1;
    // The best set so far is the one in frame k's rows: it is kept in the
    // candidate fields only when another set is about to take its place
    // there (on speech the set accepted is mostly the last one tried).
    bool bestInRows = false;
    const float refPitch = FramePitch[r];
    int16_t bound = static_cast<int16_t>(
        std::min<int32_t>(static_cast<int32_t>(kGrowBoundShare * refPitch), kGrowBoundMaxBins));
    const float tol =
        Clamp(kGrowToleranceShare * refPitch, kGrowToleranceMinBins, kGrowToleranceMaxBins);
    const int32_t p = static_cast<int32_t>(refPitch);
    int16_t* set = HarmoPeak[k];
    // Frame k's kept peaks.
    const int16_t* const peaks = PeakBins(k);
    const int16_t* const peakAreas = PeakAreas(k);
    const float* const peakAbsAreas = PeakAbsAreas(k);
    // Summed as the first set reaches the tests that read the whole track.
    TrackSums track{};

    // The set now in frame k's rows (its spread and mean area given) against
    // the best so far: a smaller spread, or the same with a larger area, that
    // the track accepts becomes the best.
    auto tryAgainstTrack = [&](int16_t spread, int16_t area) {
      FramePitch[k] = SetPitch(set, m);
      if (TestTrueHarmo(track, s, e, k) > 0) {
        bound = spread;
        best = area;
        bestInRows = true;
      }
    };
    // Called before another set is written into frame k's rows.
    auto setBestAside = [&]() {
      if (bestInRows) {
        KeepCandidate(k);
        bestInRows = false;
      }
    };
    // Frame k's rows end with the best set, or empty (pitch 0) when none.
    auto finish = [&]() {
      if (best < 0) {
        ClearSet(k);
      } else if (!bestInRows) {
        StoreCandidate(k);
      }
      return best;
    };

    // The list holds every set within the starting bound and of enough area,
    // in search order; the bound only falls, so the sets outside it never
    // pass. A list is kept only when its key fits.
    SetList* list = nullptr;
    bool listed = false;
    if (m <= UINT8_MAX && bound >= INT8_MIN && bound <= INT8_MAX && p >= INT16_MIN &&
        p <= INT16_MAX) {
      uint32_t tolBits = 0;
      std::memcpy(&tolBits, &tol, sizeof(tolBits));
      list = SetListOf(frameSerial[k], tolBits, static_cast<int16_t>(p), static_cast<uint8_t>(m),
                       static_cast<int8_t>(bound), &listed);
    }
    if (listed) {
      for (int32_t i = 0; i < kListedSets; ++i) {
        const ListedSet& listedSet = list->sets[i];
        const int16_t spread = listedSet.spread;
        if (spread < 0) break;
        if (spread > bound || !(spread < bound || listedSet.area > best)) continue;
        int32_t idx[kSetSize] = {0, 0, 0, 0};
        setBestAside();
        set[0] = 0;
        for (int32_t j = 0; j < kMembers; ++j) {
          idx[j] = listedSet.peakIndex[j];
          set[kFirstEntry + j] = peaks[idx[j]];
        }
        MemberAreas(peaks, peakAreas, peakAbsAreas, idx, kFirstEntry,
                    HarmoArea[k], HarmoAbsArea[k]);
        tryAgainstTrack(spread, listedSet.area);
      }
      return finish();
    }

    const int16_t startBound = bound;
    int32_t count = 0;  // sets listed; kListedSets + 1: too many to keep
    // A set of kept peaks, as the search by q meets it.
    auto consider = [&](const int32_t* idx) {
      setBestAside();
      set[0] = 0;
      for (int32_t j = 0; j < kMembers; ++j) {
        set[kFirstEntry + j] = peaks[idx[j]];
      }
      const int16_t spread = TestEven(set, layout.numbers);
      if (spread > startBound) return;
      const int16_t area = MemberAreas(peaks, peakAreas, peakAbsAreas, idx,
                                       kFirstEntry, HarmoArea[k], HarmoAbsArea[k]);
      if (area < kGrowMinArea) return;
      if (list != nullptr && count < kListedSets) {
        list->sets[count].Keep(idx, kMembers, area, spread);
      }
      if (count <= kListedSets) ++count;
      if (spread > bound || !(spread < bound || area > best)) return;
      tryAgainstTrack(spread, area);
    };
    // The search tries the pitches q = qFirst .. qLast in turn, each with its
    // windows for the first member and the spacings.
    const int32_t qFirst = std::max<int32_t>(p - Bin40, MinPitchBin);
    const int32_t qLast = std::min<int32_t>(p + Bin40 + 1, MaxPitchBin);
    auto firstLoOf = [&](int32_t q) {
      return m == 0 ? static_cast<float>(q) - tol : static_cast<float>((m + 1) * q) - tol;
    };
    auto firstHiOf = [&](int32_t q) {
      return m == 0 ? static_cast<float>(q) + 1.0f + tol
                    : static_cast<float>((m + 1) * (q + 1)) + tol;
    };
    if (!ForEachSetOfPitchRun(peaks, MaxNum[k], kMembers, qFirst, qLast, tol,
                              m == 0 ? 1 : m + 1, consider)) {
      // The first member's window rises with q: its first peak is searched
      // from where the previous q found it.
      int32_t firstPeak = 0;
      for (int32_t q = qFirst; q <= qLast; ++q) {
        const float qf = static_cast<float>(q);
        ForEachSet(peaks, MaxNum[k], kMembers, firstLoOf(q), firstHiOf(q), qf - tol,
                   qf + tol, firstPeak, consider);
      }
    }
    if (list != nullptr) list->Close(count);
    return finish();
  };
  if (m == 0) return search(std::integral_constant<int32_t, 3>{});
  return search(std::integral_constant<int32_t, kSetSize>{});
}

int16_t CDetectVoice::Connect3(int16_t k, int16_t s, int16_t e) { return Connect4(k, s, e, 0); }

// Extends the track s .. e (series position m; m = 0 is Connect3) to frame
// k = s - 1 or e + 1. Returns 3 / 4 (m = 0 / m >= 1) for a full set, 2 / 3
// for a set with one harmonic missing, -1 when k does not continue the
// track (frame k's set is then cleared).
int16_t CDetectVoice::Connect4(int16_t k, int16_t s, int16_t e, int16_t m) {
  const bool three = m == 0;
  const int32_t firstEntry = three ? 1 : 0;  // of the set's lowest member
  const int16_t* ref = HarmoPeak[k < s ? s : e];

  // Full: every entry from the set's lowest member on holds a peak.
#if defined(__SSE2__)
  // The four entries at once: two mask bits each, those below the lowest
  // member counted as present.
  const int32_t present = _mm_movemask_epi8(_mm_cmpgt_epi16(
      _mm_loadl_epi64(reinterpret_cast<const __m128i*>(ref)), _mm_setzero_si128()));
  const bool full = ((present | ((1 << (2 * firstEntry)) - 1)) & 0xFF) == 0xFF;
#else
  bool full = true;
  for (int32_t h = firstEntry; h < kSetSize; ++h) {
    if (ref[h] <= 0) full = false;
  }
#endif
  if (full && ConnectHarmo4Full(k, s, e, m) > 0) return three ? 3 : 4;
  return ConnectPartial(k, s, e, m, full);
}

int16_t CDetectVoice::ConnectPartial(int16_t k, int16_t s, int16_t e, int16_t m, bool full) {
  const bool three = m == 0;
  const int16_t partialResult = three ? 2 : 3;
  const SetLayout layout = LayoutOf(m);
  const int32_t r = k < s ? s : e;
  int16_t* ref = HarmoPeak[r];
  int16_t best = -1;

  // Removed weakest harmonic of r, restored before returning.
  int32_t removed = -1;
  int16_t removedPeak = 0;
  int16_t removedArea = 0;
  float removedAbsArea = 0.0f;
  const float savedPitch = FramePitch[r];
  if (full) {
    // Weakest: smallest relative area; ties go to the higher entry for
    // m = 0 and to the lower entry for m >= 1.
    removed = layout.firstEntry;
    for (int32_t h = layout.firstEntry + 1; h < kSetSize; ++h) {
      const bool weaker = three ? HarmoArea[r][h] <= HarmoArea[r][removed]
                                : HarmoArea[r][h] < HarmoArea[r][removed];
      if (weaker) removed = h;
    }
    removedPeak = ref[removed];
    removedArea = HarmoArea[r][removed];
    removedAbsArea = HarmoAbsArea[r][removed];
    ref[removed] = 0;
    HarmoArea[r][removed] = 0;
    HarmoAbsArea[r][removed] = 0.0f;
  }

  int32_t w = -1;  // first absent entry of r
  for (int32_t h = layout.firstEntry; h < kSetSize; ++h) {
    if (ref[h] <= 0) {
      w = h;
      break;
    }
  }

  if (w >= 0) {
    // Pitch estimate of r: m = 0 from its two remaining harmonics
    // (h1 + h2 / 2 + h3 / 3) / 2, the missing one counting 0; the track
    // pitch otherwise.
    const float pe = three ? (static_cast<float>(ref[1]) + static_cast<float>(ref[2]) / 2.0f +
                              static_cast<float>(ref[3]) / 3.0f) /
                                 2.0f
                           : FramePitch[r];
    const float tol = Clamp(kGrowToleranceShare * pe, kGrowToleranceMinBins, kGrowToleranceMaxBins);
    // m >= 1 accepts only perfectly even sets.
    int16_t bound = three ? static_cast<int16_t>(std::min<int32_t>(
                                static_cast<int32_t>(kGrowBoundShare * pe), kGrowBoundMaxBins))
                          : 0;
    const int32_t pBin = static_cast<int32_t>(pe);
    const int32_t qFirst = std::max<int32_t>(pBin - Bin40, MinPitchBin);
    const int32_t qLast = std::min<int32_t>(pBin + Bin40, MaxPitchBin);
    const int32_t virtualMember = w - layout.firstEntry;
    int16_t* set = HarmoPeak[k];
    auto virtualBinOf = [&](int32_t q) {
      return three ? static_cast<int32_t>(static_cast<float>(w) * pe) : (m + 1 + w) * q;
    };
    // The set now in frame k's rows (areas written, spread and mean area
    // given) against the best so far and the track.
    auto tryAgainstTrack = [&](int16_t spread, int16_t area) {
      FramePitch[k] = SetPitch(set, m);
      if ((spread < bound || area > best) && TestTrueHarmo(s, e, k, removedArea) > 0) {
        bound = spread;
        best = area;
        KeepCandidate(k);
        CandPeak[w] = 0;
        if (three) {
          CandArea[w] = 0;
          CandAbsArea[w] = 0.0f;
          CandPitch = (static_cast<float>(CandPeak[1]) + static_cast<float>(CandPeak[2]) / 2.0f +
                       static_cast<float>(CandPeak[3]) / 3.0f) /
                      2.0f;
        } else {
          float sum = 0.0f;
          for (int32_t h = 0; h < kSetSize; ++h) {
            sum += static_cast<float>(CandPeak[h]) / static_cast<float>(layout.numbers[h]);
          }
          CandPitch = sum / static_cast<float>(kSetSize - 1);
        }
      }
    };

    // As in ConnectHarmo4Full, the sets found before the track is read
    // depend on frame k, m, w and pe alone: listed once, replayed for the
    // other tracks. A listed member is a kept peak of k or kVirtualPeak,
    // the virtual peak of the set's q (qFirst + ListedSet::qOffset).
    constexpr uint8_t kVirtualPeak = 0xFF;
    SetList* list = nullptr;
    bool listed = false;
    if (m <= UINT8_MAX && qLast - qFirst <= UINT8_MAX && pBin >= INT16_MIN && pBin <= INT16_MAX) {
      uint32_t peBits = 0;
      std::memcpy(&peBits, &pe, sizeof(peBits));
      list = SetListOf(frameSerial[k], peBits, static_cast<int16_t>(pBin),
                       static_cast<uint8_t>(m), static_cast<int8_t>(kPartialSetList + w), &listed);
    }
    if (listed) {
      for (int32_t i = 0; i < kListedSets && list->sets[i].spread >= 0; ++i) {
        const ListedSet& listedSet = list->sets[i];
        const int16_t spread = listedSet.spread;
        if (spread > bound || !(spread < bound || listedSet.area > best)) continue;
        const int32_t virtualBin = virtualBinOf(qFirst + listedSet.qOffset);
        set[0] = 0;
        for (int32_t j = 0; j < layout.members; ++j) {
          const uint8_t peak = listedSet.peakIndex[j];
          set[layout.firstEntry + j] =
              peak == kVirtualPeak ? static_cast<int16_t>(virtualBin) : PeakBins(k)[peak];
        }
        GetHarmoArea(set, k);
        tryAgainstTrack(spread, listedSet.area);
      }
    } else {
      const int16_t startBound = bound;
      int32_t listedCount = 0;  // up to kListedSets + 1: too many to keep
      // k's kept peaks with the virtual peak inserted in ascending order.
      int16_t peaks[kMaxPeaks + 1];
      const int16_t* kept = PeakBins(k);
      const int32_t keptCount = MaxNum[k];
      // The virtual bin does not fall as q rises (m = 0: it stays), so the
      // first kept peak at or above it is searched from where the previous
      // q found it, and the list is built again only when the virtual peak
      // moves to another place in it (otherwise only its bin changes).
      int32_t above = 0;        // first kept peak at or above the virtual bin
      int32_t builtIndex = -1;  // virtualIndex and inserted of the list in peaks
      bool builtInserted = false;
      int32_t count = 0;
      // ForEachSet's start: the first member's window rises with q, so its
      // first peak is searched from where the previous q found it, or from
      // before the virtual peak when that moved.
      int32_t firstPeak = 0;

      for (int32_t q = qFirst; q <= qLast; ++q) {
        const float qf = static_cast<float>(q);
        const int32_t virtualBin = virtualBinOf(q);
        while (above < keptCount && kept[above] < virtualBin) ++above;
        const int32_t virtualIndex = above;
        // The virtual peak is not one of k's kept peaks.
        const bool inserted = above == keptCount || kept[above] != virtualBin;
        if (virtualIndex != builtIndex || inserted != builtInserted) {
          std::memcpy(peaks, kept, sizeof(peaks[0]) * static_cast<size_t>(virtualIndex));
          const int32_t rest = inserted ? virtualIndex + 1 : virtualIndex;
          std::memcpy(peaks + rest, kept + virtualIndex,
                      sizeof(peaks[0]) * static_cast<size_t>(keptCount - virtualIndex));
          count = keptCount + (inserted ? 1 : 0);
          builtIndex = virtualIndex;
          builtInserted = inserted;
          firstPeak = 0;
        }
        if (inserted) {
          peaks[virtualIndex] = static_cast<int16_t>(virtualBin);
          firstPeak = std::min(firstPeak, virtualIndex);
        }

        const float firstLo = three ? qf - tol : static_cast<float>((m + 1) * q) - tol;
        const float firstHi = three ? qf + tol : static_cast<float>((m + 1) * (q + 1)) + tol;
        // Only the sets whose member virtualMember is the virtual peak are
        // taken: their first member lies virtualMember spacings below it,
        // each spacing a whole number in [CeilToInt(qf - tol), CeilToInt(qf
        // + tol)) as ForEachSet compares them, so the first member's window
        // is narrowed to those bins. firstPeak then moves on only when the
        // window keeps its lower end (the narrowed start may fall as q rises).
        const int32_t shortest = CeilToInt(qf - tol);
        const int32_t longest = CeilToInt(qf + tol) - 1;
        const float reachLo = static_cast<float>(virtualBin - virtualMember * longest);
        const float reachHi = static_cast<float>(virtualBin - virtualMember * shortest + 1);
        int32_t start = firstPeak;
        ForEachSet(peaks, count, layout.members, std::max(firstLo, reachLo),
                   std::min(firstHi, reachHi), qf - tol, qf + tol, start,
                   [&](const int32_t* idx) {
                     if (idx[virtualMember] != virtualIndex) return;
                     set[0] = 0;
                     for (int32_t j = 0; j < layout.members; ++j) {
                       set[layout.firstEntry + j] = peaks[idx[j]];
                     }
                     const int16_t spread = TestEven(set, layout.numbers);
                     if (spread > startBound) return;
                     const int16_t area = GetHarmoArea(set, k);
                     if (area < kGrowMinArea) return;
                     if (list != nullptr && listedCount < kListedSets) {
                       ListedSet& listedSet = list->sets[listedCount];
                       for (int32_t j = 0; j < kSetSize; ++j) {
                         const int32_t a = j < layout.members ? idx[j] : 0;
                         listedSet.peakIndex[j] = static_cast<uint8_t>(
                             j == virtualMember ? kVirtualPeak
                                                : (inserted && a > virtualIndex ? a - 1 : a));
                       }
                       listedSet.area = area;
                       listedSet.spread = static_cast<int8_t>(spread);
                       listedSet.qOffset = static_cast<uint8_t>(q - qFirst);
                     }
                     if (listedCount <= kListedSets) ++listedCount;
                     if (spread > bound) return;
                     tryAgainstTrack(spread, area);
                   });
        if (!(reachLo > firstLo)) firstPeak = start;
      }
      if (list != nullptr) list->Close(listedCount);
    }
  }

  if (removed >= 0) {
    ref[removed] = removedPeak;
    HarmoArea[r][removed] = removedArea;
    HarmoAbsArea[r][removed] = removedAbsArea;
  }
  FramePitch[r] = savedPitch;

  if (best > 0) {
    StoreCandidate(k);
    return partialResult;
  }
  ClearSet(k);
  CandPitch = 0.0f;
  return -1;
}

// Builds pitch tracks over the window and writes VoicePitch of every slot
// of a track at least 6 frames long. Returns 0, or -1 after "Error pitch!".
int32_t CDetectVoice::Find() {
  // Bit f: slot f is not done. A slot only becomes done while the slots
  // before it are searched, so the bits left set are rechecked, never missed.
  static_assert(kWindowFrames - kSeedFrames < 32, "one bit per seed slot");
  constexpr int32_t kSeedSlots = kWindowFrames - kSeedFrames + 1;  // 28
  uint32_t pending = 0;
  // Bit f: slot f holds at least kCandidatePeaks kept peaks.
  uint32_t peaked = 0;
#if defined(__SSE2__)
  // Slots 0 .. 15 and 14 .. 29, one byte of a mask each (the pending bits of
  // slots 28 and 29 are then dropped).
  static_assert(kWindowFrames == 30, "two rows of 16 slots");
  const __m128i done = _mm_set1_epi16(kStateDone);
  auto doneMask = [&](int32_t from) {
    const __m128i* row = reinterpret_cast<const __m128i*>(FrameState + from);
    const __m128i low = _mm_cmpeq_epi16(_mm_loadu_si128(row), done);
    const __m128i high = _mm_cmpeq_epi16(_mm_loadu_si128(row + 1), done);
    return static_cast<uint32_t>(_mm_movemask_epi8(_mm_packs_epi16(low, high)));
  };
  const __m128i fewest = _mm_set1_epi16(kCandidatePeaks - 1);
  auto peakedMask = [&](int32_t from) {
    const __m128i* row = reinterpret_cast<const __m128i*>(MaxNum + from);
    const __m128i low = _mm_cmpgt_epi16(_mm_loadu_si128(row), fewest);
    const __m128i high = _mm_cmpgt_epi16(_mm_loadu_si128(row + 1), fewest);
    return static_cast<uint32_t>(_mm_movemask_epi8(_mm_packs_epi16(low, high)));
  };
  pending = ~(doneMask(0) | doneMask(14) << 14) & ((1u << kSeedSlots) - 1u);
  peaked = peakedMask(0) | peakedMask(14) << 14;
#else
  for (int32_t f = 0; f < kSeedSlots; ++f) {
    pending |= static_cast<uint32_t>(FrameState[f] != kStateDone) << f;
  }
  for (int32_t f = 0; f < kWindowFrames; ++f) {
    peaked |= static_cast<uint32_t>(MaxNum[f] >= kCandidatePeaks) << f;
  }
#endif
  // A seed needs kCandidatePeaks kept peaks in each of its three slots. With
  // no pending slot that may seed (as in silence), SearchSeeds would only
  // mark the slots untracked or reaching the end done: done here, without
  // the search's set-up.
  if ((pending & peaked & peaked >> 1 & peaked >> 2) != 0) return SearchSeeds(pending);
  for (; pending != 0; pending &= pending - 1u) {
    const int32_t f = __builtin_ctz(pending);
    if (FrameState[f] == kStateUntracked || FrameState[f] == kStateReachedEnd) {
      FrameState[f] = kStateDone;
    }
  }
  return 0;
}

// Apart from Find, so that a frame with no slot to search (as in silence)
// does not pay for the search's set-up.
int32_t CDetectVoice::SearchSeeds(uint32_t pending) {
  bool reachedEnd = false;  // kept across the slots of one call
  const int32_t newest = kWindowFrames - 1;

  // Per candidate c: the series positions a seed of pitch MinPitchBin + c
  // may take (SeriesLimitsOf), looked up at the first search by words of
  // the call.
  const uint64_t* seriesLimit = nullptr;

  for (; pending != 0; pending &= pending - 1u) {
    const int32_t f = __builtin_ctz(pending);
    if (FrameState[f] == kStateDone) continue;
    if (FrameState[f] == kStateReachedEnd) reachedEnd = false;

    // No seed without a pitch candidate in each of its three frames: the
    // search would change nothing but the slot's state (and its record,
    // which would stay empty).
    if (MaxNum[f] < kCandidatePeaks || MaxNum[f + 1] < kCandidatePeaks ||
        MaxNum[f + 2] < kCandidatePeaks) {
      if (FrameState[f] == kStateUntracked) {
        FrameState[f] = kStateDone;
      } else if (FrameState[f] == kStateReachedEnd && !reachedEnd) {
        FrameState[f] = kStateDone;
      }
      continue;
    }

    // Bit i: VoicePitch[i] below 1, kept up to date as pitches are written
    // (only writePitches writes them while a slot is searched).
    uint32_t unvoicedSlots = UnvoicedSlots(VoicePitch);
    int32_t unvoiced = CountBits(unvoicedSlots);
    int16_t seed[kSeedFrames][kSetSize] = {};

    // Writes the pitch of every untouched slot of s .. e from its set;
    // false after "Error pitch!".
    auto writePitches = [&](int32_t s, int32_t e, int32_t m) {
      // The untouched slots (-1) are among the unvoiced ones.
      static_assert(kWindowFrames < 32, "one bit per slot");
      const uint32_t span = ((uint32_t{2} << e) - 1u) & ~((uint32_t{1} << s) - 1u);
      for (uint32_t slots = unvoicedSlots & span; slots != 0; slots &= slots - 1u) {
        const int32_t i = __builtin_ctz(slots);
        if (VoicePitch[i] != -1) continue;
        const int16_t* set = HarmoPeak[i];
        int16_t pitch = 0;
        if (m == 0) {
          pitch = set[1] > 0 ? set[1] : (set[2] > 0 ? set[2] / 2 : set[3] / 3);
        } else if (set[0] > 0) {
          pitch = static_cast<int16_t>(set[0] / (m + 1));
        } else if (set[1] > 0) {
          pitch = static_cast<int16_t>(set[1] / (m + 2));
        } else if (set[2] > 0) {
          pitch = static_cast<int16_t>(set[2] / (m + 3));
        } else {
          if (e == newest) {
            printf("Error in Voice Detector of KVD_DetectSpeech! mode=%d, harmo = %d, %d, %d\n",
                   m, set[0], set[1], set[2]);
          }
          printf("Error pitch!\n");
          return false;
        }
        VoicePitch[i] = pitch;
        if (pitch >= 1) unvoicedSlots &= ~(uint32_t{1} << i);
        --unvoiced;
      }
      return true;
    };

    // Per seed frame f + i: SearchHarmo's members of the set in its rows
    // (read only after a search of the frame that succeeded), and the
    // series position of that search while the rows still hold its set (-1
    // once they may not). Within a slot the frame's peaks stay the same, so
    // the members and m tell the rows whole.
    uint32_t rowMembers[kSeedFrames] = {0, 0, 0};
    int32_t rowSeries[kSeedFrames] = {-1, -1, -1};

    // Grows an accepted seed of slots f .. f + 2 into a track; false after
    // "Error pitch!".
    auto processSeed = [&](int16_t m) KVD_INLINE {
      std::memcpy(seed, HarmoPeak[f], sizeof(seed));
      std::fill(rowSeries, rowSeries + kSeedFrames, -1);  // the growth may write them
      // The other slots' sets, areas and pitches are left as they are: the
      // growth reads only the track's rows and the frame it tries, whose
      // row Connect3 / Connect4 write whole before they read it, and the
      // seed searches write each seed row before they read it.
      // Backwards (only with an unvoiced slot among the kBackLookFrames
      // before the seed) while s >= 1 and Connect(s - 1) accepts, then
      // forwards while e + 1 < 30 and Connect(e + 1) accepts.
      int16_t s = 0;
      int16_t e = 0;
      // UnvoicedBefore(f, kBackLookFrames), from the slots' bits.
      const int32_t lookFrom = f <= kBackLookFrames ? 0 : f - kBackLookFrames;
      const uint32_t lookedAt = ((uint32_t{1} << f) - 1u) & ~((uint32_t{1} << lookFrom) - 1u);
      GrowTrack(m, f, (unvoicedSlots & lookedAt) != 0, &s, &e);

      if (e < newest) {
        if (e - s + 1 < kMinTrackFrames) {
          if (FrameState[f] == kStateReachedEnd) FrameState[f] = kStateUntracked;
          return true;
        }
        for (int32_t i = s; i <= e; ++i) FrameState[i] = kStateDone;
        return writePitches(s, e, m);
      }
      reachedEnd = true;
      FrameState[f] = kStateReachedEnd;
      if (kWindowFrames - s >= kMinTrackFrames) {
        return writePitches(s, e, m);
      }
      return true;
    };

    // A search's outcome in frame's rows: kept from them, or put back. The
    // rows of a failed one are never put back.
    auto keep = [&](SeedMemo::Outcome& outcome, int16_t result, int32_t frame) {
      outcome.result = result;
      if (result <= 0) return;
      outcome.members = rowMembers[frame - f];
      std::memcpy(outcome.peak, HarmoPeak[frame], sizeof(outcome.peak));
      std::memcpy(outcome.area, HarmoArea[frame], sizeof(outcome.area));
      std::memcpy(outcome.absArea, HarmoAbsArea[frame], sizeof(outcome.absArea));
      outcome.pitch = FramePitch[frame];
    };
    // A search that fails leaves the frame's set, areas and pitch 0, and its
    // rows are read again only after a search of the same frame that
    // succeeds has written them (a try stops at the first frame that
    // fails): a failed outcome is not put back, only marked in zeroRows
    // (bit i: the rows of f + i are to be 0), and written at the end of the
    // slot if still marked.
    uint32_t zeroRows = 0;
    auto putBack = [&](const SeedMemo::Outcome& outcome, int32_t m, int32_t frame) {
      const int16_t result = outcome.result;
      const int32_t r = frame - f;
      const uint32_t row = uint32_t{1} << r;
      if (result <= 0) {
        zeroRows |= row;
        return result;
      }
      zeroRows &= ~row;
      // Rows that hold the outcome's set already (as after the same search
      // for the previous pitch of a later frame) are left as they are.
      if (rowSeries[r] == m && rowMembers[r] == outcome.members) return result;
      rowSeries[r] = m;
      rowMembers[r] = outcome.members;
      std::memcpy(HarmoPeak[frame], outcome.peak, sizeof(outcome.peak));
      std::memcpy(HarmoArea[frame], outcome.area, sizeof(outcome.area));
      std::memcpy(HarmoAbsArea[frame], outcome.absArea, sizeof(outcome.absArea));
      FramePitch[frame] = outcome.pitch;
      return result;
    };
    // SearchHarmo(p, m, frame, f, frame) for frame f + 1 or f + 2 (the
    // memo's rows), replayed when the memo holds the same p, m and frames
    // f .. frame - 1.
    KeyedMemo<1, kSecondFrameOutcomes> secondFrameKeyed;
    KeyedMemo<2, kThirdFrameOutcomes> thirdFrameKeyed;
    auto searchKeyed = [&](auto& memo, int32_t p, int32_t m, int32_t frame) KVD_INLINE {
      using Memo = std::remove_reference_t<decltype(memo)>;
      const typename Memo::Key key(p, m, rowMembers);
      const int32_t c = p - MinPitchBin;
      const bool indexed = c >= 0 && c < Memo::kIndexedPitches;
      if (indexed) {
        for (typename Memo::Keys keys = memo.keysOfPitch[c]; keys != 0; keys &= keys - 1u) {
          const int32_t i = __builtin_ctz(keys);
          if (memo.key[i] == key) return putBack(memo.outcome[i], m, frame);
        }
      } else {
        for (int32_t i = 0; i < memo.used; ++i) {
          if (memo.key[i] == key) return putBack(memo.outcome[i], m, frame);
        }
      }
      const int16_t result =
          SearchHarmo(static_cast<int16_t>(p), static_cast<int16_t>(m),
                      static_cast<int16_t>(frame), static_cast<int16_t>(f),
                      static_cast<int16_t>(frame), &rowMembers[frame - f]);
      rowSeries[frame - f] = result > 0 ? m : -1;
      zeroRows &= ~(uint32_t{1} << (frame - f));  // the search wrote the rows
      int32_t slot = memo.used;
      if (slot < Memo::kSize) {
        ++memo.used;
      } else {
        slot = memo.next;
        memo.next = (slot + 1) % Memo::kSize;
        const int32_t replaced = memo.key[slot].p() - MinPitchBin;
        if (replaced >= 0 && replaced < Memo::kIndexedPitches) {
          memo.keysOfPitch[replaced] &= ~(typename Memo::Keys{1} << slot);
        }
      }
      if (indexed) memo.keysOfPitch[c] |= typename Memo::Keys{1} << slot;
      memo.key[slot] = key;
      keep(memo.outcome[slot], result, frame);
      return result;
    };

    // SearchHarmo(p, m, frame, f, frame), replayed when memo knows m; a
    // search of frame f + 1 that it does not know goes to its keyed memo.
    SeedMemo firstFrameMemo;   // frame f, for the current p0
    SeedMemo secondFrameMemo;  // frame f + 1, for the current p0 and p1
    auto searchOnce = [&](SeedMemo& memo, int32_t p, int32_t m, int32_t frame) KVD_INLINE {
      if (memo.Knows(m)) return putBack(memo.outcome[m], m, frame);
      if (frame == f) zeroRows &= ~1u;  // the search writes the rows
      const int16_t result =
          frame == f ? SearchHarmo(static_cast<int16_t>(p), static_cast<int16_t>(m),
                                   static_cast<int16_t>(frame), static_cast<int16_t>(f),
                                   static_cast<int16_t>(frame), &rowMembers[0])
                     : searchKeyed(secondFrameKeyed, p, m, frame);
      if (frame == f) rowSeries[0] = result > 0 ? m : -1;
      if (m < kMemoSeries) {
        keep(memo.outcome[m], result, frame);
        memo.known |= uint64_t{1} << m;
      }
      return result;
    };

    // The seeds accepted by an earlier complete search of the same three
    // frames are replayed in their order. Replayed or searched, the search
    // stops once every slot is voiced; with no unvoiced slot at the start
    // it tries one pitch triple at most, which is cheaper searched.
    const int32_t replay = unvoiced > 0 ? RecordOf(f) : -1;
    if (replay >= 0) {
      for (int32_t i = 0; i < seedRecords[replay].count && unvoiced > 0; ++i) {
        const RecordedSeed& recorded = recordedSeeds[replay][i];
        RestoreSeed(recorded, f);
        if (!processSeed(recorded.m)) return -1;
      }
    }
    int32_t recording = replay < 0 && unvoiced > 0 ? StartRecord() : -1;

    bool searching = replay < 0;
    if (searching) {
      secondFrameKeyed.Reset(PitchNum);
      thirdFrameKeyed.Reset(PitchNum);
    }
    // The three frames' candidates and series, looked up only for a search.
    const char* can0 = searching ? CanRow(f) : nullptr;
    const char* can1 = searching ? CanRow(f + 1) : nullptr;
    const char* can2 = searching ? CanRow(f + 2) : nullptr;
    const uint64_t* match0 = searching ? MatchRow(f) : nullptr;
    const uint64_t* match1 = searching ? MatchRow(f + 1) : nullptr;
    const uint64_t* match2 = searching ? MatchRow(f + 2) : nullptr;
    // Tries the series positions of `common` (bit i: m = base + i) in
    // ascending order on the pitches p0, p1, p2 until one gives a new seed,
    // which is processed: 1 then, 0 when none does, -1 after "Error pitch!".
    auto trySeries = [&](int32_t p0, int32_t p1, int32_t p2, uint64_t common,
                         int32_t base) KVD_INLINE {
      for (; common != 0; common &= common - 1u) {
        const int32_t m = base + __builtin_ctzll(common);
        const int16_t mm = static_cast<int16_t>(m);
        if (searchOnce(firstFrameMemo, p0, m, f) <= 0 ||
            searchOnce(secondFrameMemo, p1, m, f + 1) <= 0 ||
            searchKeyed(thirdFrameKeyed, p2, m, f + 2) <= 0) {
          continue;
        }
        if (std::memcmp(seed, HarmoPeak[f], sizeof(seed)) == 0) continue;
        if (recording >= 0 && !RecordSeed(recording, mm, f)) recording = -1;
        return processSeed(mm) ? 1 : -1;
      }
      return 0;
    };
    // With one word per candidate, at most kWordPitches candidates and p1 /
    // p2 ranges of at most 64 pitches (every geometry of the engine), and an
    // unvoiced slot to search for (with none the search below tries the
    // lowest p1 and p2 of the first candidate of frame f, whatever their
    // words, and stops), the candidates are worked from words that
    // hold only the positions a seed of their pitch may take: 0 for a
    // candidate the frame lacks, else its series word less the positions
    // from MaxHarmoBin / p - 4 on. That limit falls as p rises, so the
    // positions left in all three words of a triple are those below the
    // limit of its highest pitch, as the search by pitch takes them. The
    // p1 of a range that share a position with p0, and the p2 that share one
    // with both, are then found as bits in one pass, without a branch each.
    const bool byWords = matchWords == 1 && PitchNum <= kWordPitches &&
                         2 * Bin40 + 1 <= kSeriesPerWord && unvoiced > 0;
    if (searching && byWords) {
      if (seriesLimit == nullptr) seriesLimit = SeriesLimitsOf(MinPitchBin, PitchNum, MaxHarmoBin);
      uint64_t words1[kWordPitches];
      uint64_t words2[kWordPitches];
      for (int32_t c = 0; c < PitchNum; ++c) {
        words1[c] = can1[c] ? match1[c] & seriesLimit[c] : 0;
        words2[c] = can2[c] ? match2[c] & seriesLimit[c] : 0;
      }
      // Bit i: candidate from + i (up to to) shares a position with `with`.
      auto sharing = [](const uint64_t* words, int32_t from, int32_t to, uint64_t with) {
        // Filled from the top candidate down, two a step (the top one alone
        // when their count is odd).
        int32_t i = to - from;
        uint64_t bits = (i & 1) == 0 ? static_cast<uint64_t>((words[from + i] & with) != 0) : 0;
        if ((i & 1) == 0) --i;
        for (; i > 0; i -= 2) {
          bits = bits * 4u + static_cast<uint64_t>((words[from + i] & with) != 0) * 2u +
                 static_cast<uint64_t>((words[from + i - 1] & with) != 0);
        }
        return bits;
      };
      const int32_t lastCandidate = MaxPitchBin - MinPitchBin;
      for (int32_t c0 = 0; c0 <= lastCandidate && searching; ++c0) {
        const uint64_t word0 = can0[c0] ? match0[c0] & seriesLimit[c0] : 0;
        if (word0 == 0) continue;
        firstFrameMemo.Forget();
        const int32_t c1From = std::max<int32_t>(c0 - Bin40, 0);
        const int32_t c1To = std::min<int32_t>(c0 + Bin40, lastCandidate);
        for (uint64_t p1s = sharing(words1, c1From, c1To, word0); p1s != 0 && searching;
             p1s &= p1s - 1u) {
          const int32_t c1 = c1From + __builtin_ctzll(p1s);
          const uint64_t firstTwo = word0 & words1[c1];
          const int32_t c2From = std::max<int32_t>(c1 - Bin40, 0);
          const int32_t c2To = std::min<int32_t>(c1 + Bin40, lastCandidate);
          uint64_t p2s = sharing(words2, c2From, c2To, firstTwo);
          if (p2s == 0) continue;
          secondFrameMemo.Forget();
          // The pitches of c0 and c1, worked out once for all their p2.
          const int32_t p0 = MinPitchBin + c0;
          const int32_t p1 = MinPitchBin + c1;
          const int32_t p2From = MinPitchBin + c2From;
          for (; p2s != 0; p2s &= p2s - 1u) {
            const int32_t i2 = __builtin_ctzll(p2s);
            const int32_t tried =
                trySeries(p0, p1, p2From + i2, firstTwo & words2[c2From + i2], 0);
            if (tried < 0) return -1;
            // Slots are voiced only by a processed seed.
            if (tried > 0 && unvoiced == 0) break;
          }
          if (unvoiced == 0) searching = false;
        }
      }
    }
    for (int32_t p0 = MinPitchBin; p0 <= MaxPitchBin && searching && !byWords; ++p0) {
      const int32_t c0 = p0 - MinPitchBin;
      if (!can0[c0]) continue;
      firstFrameMemo.Forget();
      const uint64_t* series0 = match0 + c0 * matchWords;
      const int32_t p1Last = std::min<int32_t>(p0 + Bin40, MaxPitchBin);
      for (int32_t p1 = std::max<int32_t>(p0 - Bin40, MinPitchBin); p1 <= p1Last && searching;
           ++p1) {
        const int32_t c1 = p1 - MinPitchBin;
        const uint64_t* series1 = match1 + c1 * matchWords;
        // With one word per candidate (every geometry of the engine) a p2
        // whose word shares no series position with these is passed over
        // at once, and all of them when p0 and p1 share none.
        const bool oneWord = matchWords == 1;
        const uint64_t firstTwo = series0[0] & series1[0];
        if (can1[c1] && (!oneWord || firstTwo != 0)) {
          secondFrameMemo.Forget();
          const int32_t p2First = std::max<int32_t>(p1 - Bin40, MinPitchBin);
          int32_t p2Last = std::min<int32_t>(p1 + Bin40, MaxPitchBin);
          // With every slot voiced from the start one p2 is tried at most.
          if (unvoiced == 0) p2Last = std::min(p2Last, p2First);
          for (int32_t p2 = p2First; p2 <= p2Last; ++p2) {
            const int32_t c2 = p2 - MinPitchBin;
            if (!can2[c2]) continue;
            const uint64_t* series2 = match2 + c2 * matchWords;
            const int32_t pm = std::max(p0, std::max(p1, p2));
            const int32_t seriesEnd = MaxHarmoBin / pm - 4;
            // Series positions m < seriesEnd matched in all three frames,
            // ascending: the set bits of the three words' intersection.
            int32_t tried = 0;
            if (oneWord) {
              // seriesEnd stays below HarmoNum, so below 64.
              const uint64_t common = firstTwo & series2[0];
              if (common == 0 || seriesEnd <= 0) continue;
              tried = trySeries(p0, p1, p2, common & ((uint64_t{1} << seriesEnd) - 1u), 0);
            } else {
              for (int32_t word = 0; word * kSeriesPerWord < seriesEnd && tried == 0; ++word) {
                uint64_t common = series0[word] & series1[word] & series2[word];
                const int32_t inWord = seriesEnd - word * kSeriesPerWord;
                if (inWord < kSeriesPerWord) common &= (uint64_t{1} << inWord) - 1u;
                tried = trySeries(p0, p1, p2, common, word * kSeriesPerWord);
              }
            }
            if (tried < 0) return -1;
            // Slots are voiced only by a processed seed.
            if (tried > 0 && unvoiced == 0) break;
          }
        }
        if (unvoiced == 0) searching = false;
      }
    }
    for (; zeroRows != 0; zeroRows &= zeroRows - 1u) {
      const int32_t frame = f + __builtin_ctz(zeroRows);
      ClearSet(static_cast<int16_t>(frame));
    }
    // Stopped early, the record would lack the seeds a later search with
    // unvoiced slots goes on to.
    const bool exhausted = searching;

    if (FrameState[f] == kStateUntracked) {
      FrameState[f] = kStateDone;
    } else if (FrameState[f] == kStateReachedEnd && !reachedEnd) {
      FrameState[f] = kStateDone;
    }
    // Only a slot in state 2 is searched again.
    if (recording >= 0 && exhausted && FrameState[f] == kStateReachedEnd) {
      PublishRecord(recording, f);
    }
  }
  return 0;
}

void CDetectVoice::StoreCandidate(int16_t frame) {
  std::memcpy(HarmoPeak[frame], CandPeak, sizeof(CandPeak));
  std::memcpy(HarmoArea[frame], CandArea, sizeof(CandArea));
  std::memcpy(HarmoAbsArea[frame], CandAbsArea, sizeof(CandAbsArea));
  FramePitch[frame] = CandPitch;
}

// One row of fixed size: cleared in place, without a library call.
void CDetectVoice::ClearSet(int16_t frame) {
  std::memset(HarmoPeak[frame], 0, sizeof(HarmoPeak[0]));
  std::memset(HarmoArea[frame], 0, sizeof(HarmoArea[0]));
  std::memset(HarmoAbsArea[frame], 0, sizeof(HarmoAbsArea[0]));
  FramePitch[frame] = 0.0f;
}
