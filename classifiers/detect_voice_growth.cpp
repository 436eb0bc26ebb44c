// CDetectVoice: growing a seeded pitch track, with the steps of earlier
// calls replayed.
//
// Connect3 / Connect4 (k, s, e) read the sets, areas and pitches of frames
// s .. e (the areas as the track's sum, kept with the steps) and the kept
// peaks of frame k, and write frame k's set (cleared when k is refused);
// the set of the reference frame they change for a while is put back.
// Backwards the track is the seed plus the frames grown before, so each
// step is fixed by the seed and the frames stepped over; forwards it
// also holds the frames grown backwards, fixed in turn by the frame the
// track starts at. A frame keeps its serial, and its peaks, while it is in
// the window: a step over the same serials gives what it gave before, and
// is replayed from the record instead of searched again. The first frame
// that is new, or not where it was, is searched, and so is every step after
// it.
#include <climits>
#include <cstring>
#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "classifiers/detect_voice_tuning.h"
#include "kvd/detect_voice.h"

using namespace kvd_voice;

namespace {

// Copies `bytes` (a multiple of 4, at least 4) from src to dst, which do
// not overlap. With SSE2 16 bytes at a time, the last 16 (or 8) overlapping
// the ones before: the runs are short, a call to memcpy would cost more.
inline void CopyRows(void* dst, const void* src, size_t bytes) {
#if defined(__SSE2__)
  char* to = static_cast<char*>(dst);
  const char* from = static_cast<const char*>(src);
  if (bytes >= 16) {
    for (size_t i = 0; i + 16 < bytes; i += 16) {
      _mm_storeu_si128(reinterpret_cast<__m128i*>(to + i),
                       _mm_loadu_si128(reinterpret_cast<const __m128i*>(from + i)));
    }
    _mm_storeu_si128(reinterpret_cast<__m128i*>(to + bytes - 16),
                     _mm_loadu_si128(reinterpret_cast<const __m128i*>(from + bytes - 16)));
  } else if (bytes >= 8) {
    const __m128i head = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(from));
    const __m128i tail = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(from + bytes - 8));
    _mm_storel_epi64(reinterpret_cast<__m128i*>(to), head);
    _mm_storel_epi64(reinterpret_cast<__m128i*>(to + bytes - 8), tail);
  } else {
    std::memcpy(to, from, 4);
  }
#else
  std::memcpy(dst, src, bytes);
#endif
}

}  // namespace

// Only GrowTrack, below, stores and restores steps: inline here.
inline void CDetectVoice::StoreGrown(TrackGrowth& growth, int32_t row, int32_t slot) const {
  growth.serial[row] = frameSerial[slot];
  std::memcpy(growth.peak[row], HarmoPeak[slot], sizeof(growth.peak[row]));
  growth.pitch[row] = FramePitch[slot];
  std::memcpy(growth.area[row], HarmoArea[slot], sizeof(growth.area[row]));
  std::memcpy(growth.absArea[row], HarmoAbsArea[slot], sizeof(growth.absArea[row]));
}

inline void CDetectVoice::RestoreGrown(const TrackGrowth& growth, int32_t row, int32_t slot,
                                       int32_t count, int32_t last) {
  const auto rows = static_cast<size_t>(count);
  CopyRows(HarmoPeak[slot], growth.peak[row], rows * sizeof(growth.peak[0]));
  CopyRows(FramePitch + slot, growth.pitch + row, rows * sizeof(growth.pitch[0]));
  const int32_t lastSlot = slot + (last - row);
  std::memcpy(HarmoArea[lastSlot], growth.area[last], sizeof(growth.area[last]));
  std::memcpy(HarmoAbsArea[lastSlot], growth.absArea[last], sizeof(growth.absArea[last]));
}

namespace {

// The first serial, the series position and the first frame's set of a
// seed, folded into 32 bits: they tell most records apart.
uint32_t GrowthTag(uint64_t firstSerial, int16_t m, const int16_t* firstSet) {
  uint64_t set = 0;
  std::memcpy(&set, firstSet, sizeof(set));
  return static_cast<uint32_t>(firstSerial) ^
         (static_cast<uint32_t>(static_cast<uint16_t>(m)) << 20) ^
         static_cast<uint32_t>((set * 0x9E3779B97F4A7C15ull) >> 32);
}

// Bit i: tags[i] (i < used) equals tag. The tags of the group of sixteen
// that holds tags[used - 1] are read whole.
uint64_t TagsEqual(const uint32_t* tags, int32_t used, uint32_t tag) {
  uint64_t equal = 0;
#if defined(__SSE2__)
  const __m128i wanted = _mm_set1_epi32(static_cast<int32_t>(tag));
  auto four = [&](const uint32_t* at) {
    return _mm_cmpeq_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i*>(at)), wanted);
  };
  for (int32_t i = 0; i < used; i += 16) {
    // Each lane of all ones or zeros narrowed to a byte: one mask bit a tag.
    const __m128i bytes = _mm_packs_epi16(_mm_packs_epi32(four(tags + i), four(tags + i + 4)),
                                          _mm_packs_epi32(four(tags + i + 8), four(tags + i + 12)));
    equal |= static_cast<uint64_t>(static_cast<uint32_t>(_mm_movemask_epi8(bytes))) << i;
  }
#else
  for (int32_t i = 0; i < used; ++i) equal |= static_cast<uint64_t>(tags[i] == tag) << i;
#endif
  return used < 64 ? equal & ((uint64_t{1} << used) - 1u) : equal;
}

// The index of the smallest of use[0 .. records - 1] (records a multiple
// of 4) counted back from now (clock readings of the last uses, all at or before now): the
// record used least recently. The ages are taken modulo 2^32, so the order
// holds across a wrap of the 32-bit readings. The first of equal ages wins
// (the readings of different records differ).
int32_t LeastRecentlyUsed(const uint32_t* use, int32_t records, uint32_t now) {
#if defined(__SSE2__)
  // Unsigned ages compared as signed after flipping their top bits.
  const __m128i nowLanes = _mm_set1_epi32(static_cast<int32_t>(now));
  const __m128i top = _mm_set1_epi32(INT32_MIN);
  auto agesOf = [&](int32_t i) {
    const __m128i four = _mm_loadu_si128(reinterpret_cast<const __m128i*>(use + i));
    return _mm_xor_si128(_mm_sub_epi32(nowLanes, four), top);
  };
  auto larger = [](__m128i a, __m128i b) {
    const __m128i aLarger = _mm_cmpgt_epi32(a, b);
    return _mm_or_si128(_mm_and_si128(aLarger, a), _mm_andnot_si128(aLarger, b));
  };
  __m128i oldest = agesOf(0);
  for (int32_t i = 4; i < records; i += 4) oldest = larger(agesOf(i), oldest);
  oldest = larger(oldest, _mm_shuffle_epi32(oldest, _MM_SHUFFLE(1, 0, 3, 2)));
  oldest = larger(oldest, _mm_shuffle_epi32(oldest, _MM_SHUFFLE(2, 3, 0, 1)));
  for (int32_t i = 0; i < records; i += 4) {
    const int32_t lanes = _mm_movemask_ps(_mm_castsi128_ps(_mm_cmpeq_epi32(agesOf(i), oldest)));
    if (lanes != 0) return i + __builtin_ctz(static_cast<uint32_t>(lanes));
  }
  return 0;
#else
  int32_t oldest = 0;
  uint32_t oldestAge = now - use[0];
  for (int32_t i = 1; i < records; ++i) {
    const uint32_t age = now - use[i];
    oldest = age > oldestAge ? i : oldest;
    oldestAge = age > oldestAge ? age : oldestAge;
  }
  return oldest;
#endif
}

// The positive relative areas of a set, as TrackGrowth::grownAreas counts
// them: their sum times 128 plus their number.
uint32_t PositiveAreas(const int16_t* area) {
#if defined(__SSE2__)
  // Per pair of entries 128 times their positive areas (below 2^24) less
  // their flags of -1: two int32 lanes, added.
  const __m128i four = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(area));
  const __m128i positive = _mm_cmpgt_epi16(four, _mm_setzero_si128());
  const __m128i scaled = _mm_madd_epi16(_mm_and_si128(four, positive), _mm_set1_epi16(128));
  const __m128i pairs = _mm_sub_epi32(scaled, _mm_madd_epi16(positive, _mm_set1_epi16(1)));
  return static_cast<uint32_t>(_mm_cvtsi128_si32(_mm_add_epi32(pairs, _mm_srli_epi64(pairs, 32))));
#else
  uint32_t sum = 0;
  uint32_t count = 0;
  for (int32_t h = 0; h < CDetectVoice::kSetSize; ++h) {
    const int32_t a = area[h];
    sum += a > 0 ? static_cast<uint32_t>(a) : 0u;
    count += a > 0 ? 1u : 0u;
  }
  return sum << 7 | count;
#endif
}

}  // namespace

// A record matches when its key holds the serials and sets of the seed's
// slots, and m. Called by GrowthOf and GrowthUnhinted alone: inline there.
inline bool CDetectVoice::SeedMatches(const SeedKey& known, const uint64_t* serials,
                                      const int16_t (*peak)[kSetSize], int16_t m) {
#if defined(__SSE2__)
  static_assert(sizeof(known.frames) == 24 && sizeof(known.peak) == 24,
                "the loads below cover each field");
  auto same16 = [](const void* a, const void* b) {
    return _mm_cmpeq_epi8(_mm_loadu_si128(static_cast<const __m128i*>(a)),
                          _mm_loadu_si128(static_cast<const __m128i*>(b)));
  };
  // The last 8 bytes of each, side by side in one register.
  auto tails = [](const void* a, const void* b) {
    return _mm_unpacklo_epi64(_mm_loadl_epi64(static_cast<const __m128i*>(a)),
                              _mm_loadl_epi64(static_cast<const __m128i*>(b)));
  };
  const __m128i same = _mm_and_si128(
      _mm_and_si128(same16(known.frames, serials), same16(known.peak, peak[0])),
      _mm_cmpeq_epi8(tails(known.frames + 2, known.peak[2]), tails(serials + 2, peak[2])));
  return _mm_movemask_epi8(same) == 0xFFFF && known.m == m;
#else
  return known.frames[0] == serials[0] && known.m == m &&
         std::memcmp(known.frames, serials, sizeof(known.frames)) == 0 &&
         std::memcmp(known.peak, peak[0], sizeof(known.peak)) == 0;
#endif
}

// Called by GrowTrack alone: inline there. The lookups that miss the hint
// (about one in five) go on out of line, so that GrowTrack's own steps do
// not carry their registers.
inline CDetectVoice::TrackGrowth& CDetectVoice::GrowthOf(int16_t m, int32_t f) {
  static_assert(kGrowthRecords % 16 == 0 && kGrowthRecords <= 64,
                "tags compared sixteen at a time, ages four at a time");
  static_assert(kGrowthRecords <= UINT8_MAX && (kGrowthHints & (kGrowthHints - 1)) == 0,
                "hints index the records by a power-of-two slice of the hash");
  const uint64_t* serials = frameSerial + f;
  const uint32_t tag = GrowthTag(serials[0], m, HarmoPeak[f]);
  // Fibonacci hashing: the top bits of the product.
  constexpr int32_t kHintBits = __builtin_ctz(kGrowthHints);
  uint8_t& hint = growthHints[(tag * 0x9E3779B1u) >> (32 - kHintBits)];
  if (hint < growthRecordsUsed && growthTags[hint] == tag &&
      SeedMatches(growthRecords[hint].key, serials, HarmoPeak + f, m)) {
    growthUse[hint] = static_cast<uint32_t>(++growthClock);
    return growthRecords[hint];
  }
  return GrowthUnhinted(m, f, tag, hint);
}

// GrowthOf past a hint that does not hold the seed: the record found by
// its tag, else a new one (the least recently used once all are).
__attribute__((noinline)) CDetectVoice::TrackGrowth& CDetectVoice::GrowthUnhinted(
    int16_t m, int32_t f, uint32_t tag, uint8_t& hint) {
  const uint64_t* serials = frameSerial + f;
  for (uint64_t candidates = TagsEqual(growthTags, growthRecordsUsed, tag); candidates != 0;
       candidates &= candidates - 1u) {
    const int32_t index = __builtin_ctzll(candidates);
    TrackGrowth& growth = growthRecords[index];
    if (SeedMatches(growth.key, serials, HarmoPeak + f, m)) {
      hint = static_cast<uint8_t>(index);
      growthUse[index] = static_cast<uint32_t>(++growthClock);
      return growth;
    }
  }
  SeedKey key;
  // Written whole: the padding zero too.
  std::memset(&key, 0, sizeof(key));
  std::memcpy(key.frames, serials, sizeof(key.frames));
  key.m = m;
  std::memcpy(key.peak, HarmoPeak[f], sizeof(key.peak));
  int32_t oldest = 0;
  if (growthRecordsUsed < kGrowthRecords) {
    oldest = growthRecordsUsed++;
    // TagsEqual reads the tags sixteen at a time: a new group starts zeroed.
    if (oldest % 16 == 0) std::memset(growthTags + oldest, 0, 16 * sizeof(growthTags[0]));
  } else {
    oldest = LeastRecentlyUsed(growthUse, kGrowthRecords, static_cast<uint32_t>(growthClock));
  }
  TrackGrowth& growth = growthRecords[oldest];
  growthTags[oldest] = tag;
  hint = static_cast<uint8_t>(oldest);
  growth.key = key;
  growthUse[oldest] = static_cast<uint32_t>(++growthClock);
  growth.backward.count = 0;
  growth.backward.refused = false;
  growth.forwardStart = 0;
  growth.forward.count = 0;
  growth.forward.refused = false;
  return growth;
}

// Slots lo .. f - 1, lo = max(f - backLook, 0): one with VoicePitch below 1.
uint32_t CDetectVoice::UnvoicedSlots(const int16_t* pitch) {
  static_assert(kWindowFrames == 30, "slots 0 .. 15, 16 .. 23 and 22 .. 29");
#if defined(__SSE2__)
  const __m128i one = _mm_set1_epi16(1);
  auto below = [&](int32_t from) {
    return _mm_cmplt_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(pitch + from)), one);
  };
  const auto first = static_cast<uint32_t>(_mm_movemask_epi8(_mm_packs_epi16(below(0), below(8))));
  const auto last = static_cast<uint32_t>(_mm_movemask_epi8(_mm_packs_epi16(below(16), below(22))));
  return first | (last & 0xFFu) << 16 | (last >> 8) << 22;
#else
  uint32_t slots = 0;
  for (int32_t i = 0; i < kWindowFrames; ++i) slots |= static_cast<uint32_t>(pitch[i] < 1) << i;
  return slots;
#endif
}

bool CDetectVoice::UnvoicedBefore(int32_t f, int32_t backLook) const {
  const int32_t lo = f <= backLook ? 0 : f - backLook;
  if (lo >= f) return false;
#if defined(__SSE2__)
  static_assert(kWindowFrames >= 16, "a row of 16 slots");
  if (f - lo <= 16) {
    // The 16 slots that end at f (those from 0 when f < 16), a bit each.
    const int32_t base = f >= 16 ? f - 16 : 0;
    const __m128i one = _mm_set1_epi16(1);
    const __m128i* row = reinterpret_cast<const __m128i*>(VoicePitch + base);
    const auto below = static_cast<uint32_t>(
        _mm_movemask_epi8(_mm_packs_epi16(_mm_cmplt_epi16(_mm_loadu_si128(row), one),
                                          _mm_cmplt_epi16(_mm_loadu_si128(row + 1), one))));
    const uint32_t inRow = ((uint32_t{1} << (f - base)) - 1u) & ~((uint32_t{1} << (lo - base)) - 1u);
    return (below & inRow) != 0;
  }
#endif
  const uint32_t wanted = ((uint32_t{1} << f) - 1u) & ~((uint32_t{1} << lo) - 1u);
  return (UnvoicedSlots(VoicePitch) & wanted) != 0;
}

void CDetectVoice::GrowTrack(int16_t m, int32_t f, bool growBack, int16_t* sOut, int16_t* eOut) {
  TrackGrowth& growth = GrowthOf(m, f);
  grownAreasLive = true;
  grownSeed = static_cast<int16_t>(f);
  grownAreas = kAreasUnsummed;
  int16_t s = static_cast<int16_t>(f);
  int16_t e = static_cast<int16_t>(f + kSeedFrames - 1);
  auto connect = [&](int32_t k) {
    const int16_t frame = static_cast<int16_t>(k);
    return m == 0 ? Connect3(frame, s, e) : Connect4(frame, s, e, m);
  };

  // Steps from slot `from` by `step` (-1 backwards, +1 forwards) while the
  // window lasts and the frames are accepted, moving `end` (s or e) along.
  // The recorded steps over the same frames are replayed first; the chain
  // then ends at the first frame that differs, or stops where it was
  // refused before.
  auto walk = [&](GrowthChain& chain, GrowthChain& other, int32_t from, int32_t step,
                  int16_t& end) {
    // Step i is row rowOf(i).
    auto rowOf = [&](int32_t i) { return step < 0 ? kGrowthSteps - 1 - i : i; };
    auto inWindow = [](int32_t slot) {
      return static_cast<uint32_t>(slot) < static_cast<uint32_t>(kWindowFrames);
    };
    // The steps that can still lie in the window.
    const int32_t room = step < 0 ? from + 1 : kWindowFrames - from;
    const int32_t replayable = chain.count < room ? chain.count : room;
    // A frame leaves the window only at one of its ends and never comes
    // back, so the frames between two that stay are those that were there:
    // with the seed in place, the steps that still hold are the first ones,
    // all of them when the last replayable one does.
    int32_t i = 0;
    if (replayable > 0) {
      const int32_t last = replayable - 1;
      if (growth.serial[rowOf(last)] == frameSerial[from + last * step]) {
        i = replayable;
      } else {
        while (i < last && growth.serial[rowOf(i)] == frameSerial[from + i * step]) ++i;
      }
    }
    int32_t slot = from + i * step;
    if (i > 0) {
      // Of the rows of the track, Connect3 / Connect4 read the pitches (the
      // zig-zag test) and the whole rows of the end next to the frame they
      // try (the track's areas come from grownAreas), and Find the sets (to
      // write the pitches of the slots no track has covered yet): the areas
      // of the other frames replayed are left unwritten, and are written
      // again before anything reads them. Steps 0 .. i - 1 fill the slots
      // from .. slot - step, in rows of slot order.
      end = static_cast<int16_t>(slot - step);
      if (step < 0) {
        RestoreGrown(growth, kGrowthSteps - i, slot + 1, i, kGrowthSteps - i);
      } else {
        RestoreGrown(growth, 0, from, i, i - 1);
      }
      grownAreas = growth.grownAreas[rowOf(i - 1)];
    }
    // Past the window the steps left are kept: they lie outside it.
    if (!inWindow(slot)) return;
    if (i < chain.count) {
      chain.count = i;  // a different frame: the rest no longer holds
      chain.refused = false;
    } else if (chain.refused && chain.refusedSerial == frameSerial[slot]) {
      // Refused again. The rows a refusing Connect3 / Connect4 clears lie
      // outside the track, where nothing reads them.
      return;
    }
    for (; inWindow(slot); ++i, slot += step) {
      if (connect(slot) < 1) {
        chain.count = i;
        chain.refused = true;
        chain.refusedSerial = frameSerial[slot];
        return;
      }
      // The other direction gives up its steps at this place (they lie
      // outside the window).
      const int32_t otherRoom = kGrowthSteps - 1 - i;
      if (other.count > otherRoom) {
        other.count = otherRoom;
        other.refused = false;
      }
      if (grownAreas == kAreasUnsummed) {
        // The seed's, not needed before.
        grownAreas = 0;
        for (int32_t j = 0; j < kSeedFrames; ++j) grownAreas += PositiveAreas(HarmoArea[f + j]);
      }
      grownAreas += PositiveAreas(HarmoArea[slot]);
      StoreGrown(growth, rowOf(i), slot);
      growth.grownAreas[rowOf(i)] = grownAreas;
      chain.count = i + 1;
      chain.refused = false;
      end = static_cast<int16_t>(slot);
    }
  };

  if (growBack) {
    walk(growth.backward, growth.forward, s - 1, -1, s);
  }
  if (growth.forwardStart != frameSerial[s]) {
    growth.forwardStart = frameSerial[s];
    growth.forward.count = 0;
    growth.forward.refused = false;
  }
  walk(growth.forward, growth.backward, e + 1, 1, e);
  grownAreasLive = false;
  *sOut = s;
  *eOut = e;
}
