// CDetectVoice: the pitch/harmonic voice detector, exported by libkvd.so.
//
// Usage:
//   CDetectVoice voice(8000, 512, 65, 480, 2000);   // rate, FFT size, pitch
//   if (voice.Status != 0) { /* unusable: discard */ }  // range, harmonic top
//   voice.EnergyFloor = 0.1f * gain;                 // optional, see below
//   voice.ReInit();                                  // at every stream start
//   for each 10 ms frame t:
//     voice.UpdateBuf(power, usable);                // power: FFT size / 2 bins
//     if (t >= 29) {                                 // 30 frames have entered
//       int16_t voiced = voice.DetectVoice();        // voiced slots, 0 .. 30
//       // voice.VoicePitch[i] is the pitch (in bins) of frame t - 29 + i
//     }
//
// The detector keeps a window of the last 30 frames, slot 0 the oldest and
// slot 29 the newest (ReverseUpdateBuf exchanges the roles of the two ends):
//
//   slot:   0      1     ...     28     29
//         oldest                      newest  <- UpdateBuf enters here
//         ^ ReverseUpdateBuf enters here
//
// Each frame's power spectrum is analysed once, when it enters: its peaks are
// picked and every pitch candidate is matched against them. DetectVoice links
// the candidates into pitch tracks and writes a pitch for every slot of a
// track at least 6 frames long.
//
// Spectra are power values |X(k)|^2 of a forward FFT divided by the FFT size,
// of a Hamming-windowed 25 ms frame zero padded to the FFT size (one value per
// bin, bin k at k * rate / FFT size Hz).
//
// Ownership: the detector owns five heap buffers, allocated by the
// constructor (and by operator= when the geometries differ) and freed by the
// destructor. Nothing else allocates. One thread at a time; no locks.
//
// Messages (allocation failures, refused arguments, search errors) are
// written to standard output with printf.
#ifndef KVD_DETECT_VOICE_H
#define KVD_DETECT_VOICE_H

#include <cstddef>
#include <cstdint>

#include "kvd/export.h"

class CDetectVoiceTestPeer;

class KVD_EXPORT CDetectVoice {
 public:
  static constexpr int32_t kWindowFrames = 30;  // frames in the window
  static constexpr int32_t kMaxPeaks = 25;      // kept spectral peaks per frame
  static constexpr int32_t kSetSize = 4;        // peaks of one harmonic set
  static constexpr int32_t kSeedFrames = 3;     // consecutive frames of a track's seed

  // Builds the detector for one geometry.
  //   sampleRateHz      [in] sampling rate; >= 2 * highestHarmonicHz
  //   fftSize           [in] FFT length; > 0, bin width sampleRateHz / fftSize
  //                          from 3.9 Hz (finer bins make the track search
  //                          take seconds a frame) to 16.625 Hz
  //   lowestPitchHz     [in] lowest pitch searched; >= one bin width
  //   highestPitchHz    [in] highest pitch searched; >= lowestPitchHz
  //   highestHarmonicHz [in] highest frequency searched for harmonics
  // Status is 0 on success; -1 after a refused argument or a failed
  // allocation (a message is printed; the detector must then be discarded).
  // The speech detector passes (rate, fftSize, 65, 480, 2000).
  CDetectVoice(int32_t sampleRateHz, int32_t fftSize, int32_t lowestPitchHz,
               int32_t highestPitchHz, int32_t highestHarmonicHz);
  ~CDetectVoice();

  // A detector owns its buffers: copying would share them.
  CDetectVoice(const CDetectVoice&) = delete;
  // Deep copy: geometry, window and buffers (the buffers are reallocated only
  // when the geometries differ). On a failed allocation Status becomes -1.
  CDetectVoice& operator=(const CDetectVoice& other);

  // Empties the window. Returns 0, or -1 (with a message) when a buffer is
  // missing (the detector was not built).
  int32_t ReInit();

  // Enters one frame at slot 29, shifting the window towards slot 0.
  //   power [in] FFT size / 2 power values (see above); read only when valid
  //   valid [in] false for a frame without usable signal: it occupies its
  //              slot but is not analysed
  void UpdateBuf(float* power, bool valid);
  // The same, entering at slot 0 and shifting towards slot 29 (frames fed
  // backwards in time).
  void ReverseUpdateBuf(float* power, bool valid);

  // Tracks pitches over the window and fills VoicePitch. Returns the number
  // of slots whose VoicePitch is above 0 (0 .. 30). Meaningful once 30
  // frames have entered since ReInit.
  int16_t DetectVoice();

  // 0 after a successful construction, -1 otherwise.
  int32_t Status;
  // Per slot: pitch in FFT bins (> 0) of a voiced frame; -1 while no track
  // has covered the slot (0 is possible only for a degenerate set).
  int16_t VoicePitch[kWindowFrames];
  // Smallest power value considered, on the power-spectrum scale above:
  // 0.1 * 10^(0.1 * AverageGain dB); the constructor sets 0.1 (gain 0 dB).
  float EnergyFloor;

 private:
  friend class CDetectVoiceTestPeer;

  // Peak picking and pitch matching of the entering frame.
  void GetMax(float* spectrum, int32_t slot);
  void MatchPitch(int32_t slot);
  // The spans of the candidate bins by spacing, for MatchPitch's chain test
  // (see detect_voice_peaks.cpp); fixed by the geometry.
  static constexpr int32_t kMaxGapBins = 512;  // spacings kept, bins
  const uint64_t* SpanBinsOfGap(int32_t gapBins);
  void ClearSlot(int32_t slot);
  // The AllMatchPitch rows (PitchNum candidates x matchWords words, bit m of
  // a candidate's words for series position m) and CanMatchPitch rows
  // (PitchNum flags) of a slot, and its rows of kept peaks. These rows form
  // a ring that turns when the window moves, instead of being moved.
  static constexpr int32_t kSeriesPerWord = 64;
  int32_t RingRow(int32_t slot) const {  // slot 0 .. 29
    const int32_t row = rowOfSlot0 + slot;
    return row < kWindowFrames ? row : row - kWindowFrames;
  }
  int16_t* PeakBins(int32_t slot) { return AllMax[RingRow(slot)]; }
  int16_t* PeakAreas(int32_t slot) { return AllMaxArea[RingRow(slot)]; }
  float* PeakAbsAreas(int32_t slot) { return AllMaxAbsArea[RingRow(slot)]; }
  uint64_t* MatchRow(int32_t slot) const;
  size_t MatchWordsPerRow() const;
  size_t MatchBytesPerRow() const;
  char* CanRow(int32_t slot) const;
  void FreeBuffers();
  bool AllocateBuffers();
  // Gives every slot a frame serial not used before.
  void RenumberFrames();

  // Pitch tracks over the window.
  int32_t Find();
  // Find's search of the slots of `pending` (bit f: slot f is not done),
  // once one of them may seed.
  int32_t SearchSeeds(uint32_t pending);
  // Copies the candidate set, its areas and pitch into frame's track entry.
  void StoreCandidate(int16_t frame);
  // The set in frame's rows becomes the candidate (the reverse of
  // StoreCandidate); inline in the set searches.
  void KeepCandidate(int16_t frame);
  // Empties frame's harmonic set, its areas and its pitch: the frame holds
  // no set.
  void ClearSet(int16_t frame);

  // The seed search of a slot depends only on its three frames. Find keeps
  // the seeds a complete search accepted, in order, for slots it searches
  // again in the next call (FrameState 2), and replays them instead of
  // searching while the same three frames are in those slots.
  static constexpr int32_t kSeedRecords = 16;    // slots kept, least recently used replaced
  static constexpr int32_t kRecordedSeeds = 16;  // accepted seeds kept per slot
  struct RecordedSeed {
    int16_t m;  // series position
    int16_t peak[kSeedFrames][kSetSize];
    int16_t area[kSeedFrames][kSetSize];
    float absArea[kSeedFrames][kSetSize];
    float pitch[kSeedFrames];
  };
  struct SeedRecord {
    uint64_t frames[kSeedFrames];  // serials of the three frames; frames[0] 0: unused
    uint64_t lastUse;
    int32_t count;  // seeds in recordedSeeds[record]
  };
  // The index of the complete record of the frames now in slots f .. f + 2,
  // or -1.
  int32_t RecordOf(int32_t f);
  // An emptied record to fill while slot f is searched (not yet usable).
  int32_t StartRecord();
  // Adds the seed now in slots f .. f + 2; false when the record is full.
  bool RecordSeed(int32_t record, int16_t m, int32_t f);
  // Makes a filled record usable for the frames now in slots f .. f + 2.
  void PublishRecord(int32_t record, int32_t f);
  // Writes a recorded seed's sets, areas and pitches into slots f .. f + 2.
  void RestoreSeed(const RecordedSeed& seed, int32_t f);
  // The growth of a track is fixed by its seed (the three frames and their
  // sets), the frames it grows over and, forwards, the frame it starts at:
  // Connect3 / Connect4 read nothing else. Find keeps the growth of the
  // seeds it processed and, when it processes the same seed again (a slot
  // in state 2 the next call, or a search that meets it again), replays
  // the steps over frames that are still the same and searches only the
  // new ones.
  // Seeds kept, least recently used replaced. At a voice onset Find grows
  // up to about 50 seeds a call, and the same ones again in the next few
  // calls: with fewer records than that they push each other out before
  // they are met again, and every step is searched anew.
  static constexpr int32_t kGrowthRecords = 48;
  static constexpr int32_t kGrowthSteps = kWindowFrames - kSeedFrames;
  // The steps of one direction, in order away from the seed.
  struct GrowthChain {
    int32_t count;           // steps that added a frame
    bool refused;            // the frame after them was tried and refused ...
    uint64_t refusedSerial;  // ... this one; otherwise the window ended there
  };
  // A seed's frames and sets. Its areas and pitches are not kept: the seed
  // searches write every seed row from the frame's kept peaks (the set's
  // members, whose bins tell them apart) and m, so with the same frames,
  // sets and m they are the same.
  struct SeedKey {
    uint64_t frames[kSeedFrames];  // serials; frames[0] 0: unused record
    int16_t peak[kSeedFrames][kSetSize];
    int16_t m;
  };
  // The frames the steps added, with their sets as the steps left them, in
  // rows of slot order: the steps replayed over a run of slots are copied
  // back a block per field. Backward step i is row kGrowthSteps - 1 - i,
  // forward step j row j: within one window the two directions hold
  // kGrowthSteps frames at most, and a collision can only drop backward
  // steps that left the window.
  struct TrackGrowth {
    SeedKey key;
    GrowthChain backward;
    GrowthChain forward;
    uint64_t forwardStart;  // serial of the track's first frame for `forward`; 0: none
    uint64_t serial[kGrowthSteps];  // the frame each step added
    int16_t peak[kGrowthSteps][kSetSize];
    float pitch[kGrowthSteps];
    int16_t area[kGrowthSteps][kSetSize];
    float absArea[kGrowthSteps][kSetSize];
    // The positive relative areas of the track (its seed included) once
    // the step added its frame: their sum times 128 plus their number (at
    // most 30 frames x 4 areas below 32768 each: 22 bits of sum, 7 of
    // number).
    uint32_t grownAreas[kGrowthSteps];
  };
  // Grows the seed now in slots f .. f + 2 (series position m): backwards
  // first when growBack, then forwards, as Connect3 / Connect4 would step by
  // step. Sets *s and *e to the track's first and last slot.
  void GrowTrack(int16_t m, int32_t f, bool growBack, int16_t* s, int16_t* e);
  // True when one of the backLook slots before slot f (f <= 30) has a
  // VoicePitch below 1.
  bool UnvoicedBefore(int32_t f, int32_t backLook) const;
  // Bit i: pitch[i] (a VoicePitch row) below 1.
  static uint32_t UnvoicedSlots(const int16_t* pitch);
  // The growth record of the seed in slots f .. f + 2, found or replaced.
  TrackGrowth& GrowthOf(int16_t m, int32_t f);
  // GrowthOf once the hint for `tag` does not hold the seed.
  TrackGrowth& GrowthUnhinted(int16_t m, int32_t f, uint32_t tag, uint8_t& hint);
  static bool SeedMatches(const SeedKey& known, const uint64_t* serials,
                          const int16_t (*peak)[kSetSize], int16_t m);
  // Row `row` of `growth` from slot `slot`.
  void StoreGrown(TrackGrowth& growth, int32_t row, int32_t slot) const;
  // The sets and pitches of rows row .. row + count - 1 into slots slot ..
  // slot + count - 1, and the areas of the last one.
  void RestoreGrown(const TrackGrowth& growth, int32_t row, int32_t slot, int32_t count,
                    int32_t last);
  // `members` (if given): on success, the kept-peak indices of the chosen
  // set's members, a byte each, the lowest member in the low byte. With
  // the frame's peaks and m they tell the set, areas and pitch it writes.
  int16_t SearchHarmo(int16_t p, int16_t m, int16_t frame, int16_t first, int16_t last,
                      uint32_t* members = nullptr);
  int16_t Connect3(int16_t k, int16_t s, int16_t e);
  int16_t Connect4(int16_t k, int16_t s, int16_t e, int16_t m);
  // Connect4 once its full set is refused (full) or the reference frame
  // lacks a member: the sets with the reference's weakest or missing member
  // virtual. Apart, so that the full search's calls stay light.
  int16_t ConnectPartial(int16_t k, int16_t s, int16_t e, int16_t m, bool full);
  int16_t ConnectHarmo3Full(int16_t k, int16_t s, int16_t e);
  int16_t ConnectHarmo4Full(int16_t k, int16_t s, int16_t e, int16_t m);
  // The sets ConnectHarmo4Full finds in a frame before it reads the track
  // depend only on the frame, m and the reference pitch (through its whole
  // bin, the spacing tolerance and the spread bound); those of Connect4
  // with a virtual peak on the frame, m, the absent entry w and the pitch
  // estimate. The tracks that grow into one frame with the same of these
  // meet the same list of sets; it is kept and replayed, the track's tests
  // applied to each set in turn.
  static constexpr int32_t kListedSets = 5;     // longer lists are searched each time
  static constexpr int32_t kSetListWays = 4;    // lists of one bucket
  static constexpr int32_t kSetListBuckets = 64;
  struct ListedSet {
    uint8_t peakIndex[kSetSize];  // the members' kept peaks, lowest first (0xFF: virtual)
    int16_t area;                 // mean relative area of the members, 1/10000
    int8_t spread;                // TestEven of the set; -1: past the list's end
    uint8_t qOffset;              // Connect4: the set's q, from the first q searched (else 0)
    // Keeps the set of the `members` kept peaks idx[0 .. members - 1].
    void Keep(const int32_t* idx, int32_t members, int16_t setArea, int16_t setSpread) {
      for (int32_t j = 0; j < kSetSize; ++j) {
        peakIndex[j] = j < members ? static_cast<uint8_t>(idx[j]) : uint8_t{0};
      }
      area = setArea;
      spread = static_cast<int8_t>(setSpread);
      qOffset = 0;
    }
  };
  struct SetList {
    uint64_t serial;   // the frame searched; 0: an empty list
    uint32_t tolBits;  // bits of the spacing tolerance (Connect4: of the pitch estimate)
    int16_t pitchBin;  // whole bins of the reference pitch (or estimate)
    uint8_t m;
    int8_t bound;      // spread bound at the start of the search (Connect4: 64 + w)
    ListedSet sets[kListedSets];
    // Ends the list after a search that met `count` sets (kListedSets + 1:
    // more than it holds, so it is dropped and searched again next time).
    void Close(int32_t count) {
      if (count < kListedSets) {
        sets[count].spread = -1;
      } else if (count > kListedSets) {
        serial = 0;
      }
    }
  };
  // Where the list of a key is kept (found, or replaced for the caller to fill).
  SetList* SetListOf(uint64_t serial, uint32_t tolBits, int16_t pitchBin, uint8_t m, int8_t bound,
                     bool* found);
  // The sets SearchHarmo finds in a frame before it reads the track (within
  // the starting spread bound, with a strong member) depend only on the
  // frame, the pitch bin and the series position. A frame meets the same
  // search as the third, second and first frame of three seeds in turn, and
  // for several pitches of the earlier frames: the list is kept and
  // replayed. Either list of a pair chosen by a hash of its key, the older
  // frame's replaced when another key needs the pair; a search meeting more
  // sets than a list holds is not kept.
  static constexpr int32_t kSeedListSets = 2;  // on speech a search meets at most two
  static constexpr int32_t kSeedLists = 256;
  struct SeedList {
    uint64_t serial;  // the frame searched
    int16_t p;        // pitch bin
    int16_t m;        // series position
    int32_t count;    // sets listed
    ListedSet sets[kSeedListSets];  // in search order (qOffset unused)
  };
  // Where the list of a key is kept: found, or taken for the caller to fill
  // (and to mark in seedListsKept once filled).
  SeedList* SeedListOf(uint64_t serial, int16_t p, int16_t m, bool* found);
  int16_t GetHarmoArea(const int16_t* a, int16_t frame);
  int16_t CompareAbsArea(const float* a, const float* b, float pitch);
  // ConnectPartial's test, made while the reference row lacks an entry of
  // relative area removedArea (0: none taken out).
  int16_t TestTrueHarmo(int16_t s, int16_t e, int16_t k, int16_t removedArea);
  // What TestTrueHarmo reads of the track s .. e alone, summed once for all
  // the sets tried in one frame k, and only when a set reaches the tests
  // that read it.
  struct TrackSums {
    int32_t areaSum;    // positive relative areas of s .. e
    int32_t areaCount;  // and their number
    int32_t rises;      // pitch steps of s .. e up
    int32_t falls;      // and down
    bool areasSummed;   // areaSum and areaCount hold the track's
    bool stepsCounted;  // rises and falls hold the track's
  };
  // `track` starts zeroed (nothing summed) for a frame k, and is filled as
  // the tests reach what it holds. Its areas are taken from the grown areas
  // below while GrowTrack runs.
  int16_t TestTrueHarmo(TrackSums& track, int16_t s, int16_t e, int16_t k);
  // The set of `frame` against the track: the caller checks that one of its
  // areas reaches 1 %; pairs of slots from pairsFrom on are tested (the
  // earlier ones pass).
  int16_t TestTrueFullHarmo(int16_t frame, int16_t first, int16_t last, int16_t pairsFrom);

  // Geometry.
  int32_t BinNum;   // FFT size / 2
  float BinWidth;   // Hz per bin
  int16_t MinPitchBin;
  int16_t PeakStartBin;
  int16_t MaxPitchBin;
  int16_t MaxHarmoBin;
  int16_t PitchNum;  // MaxPitchBin - MinPitchBin + 1 candidates
  int16_t Bin40;     // pitch tolerance between frames (40 Hz), bins
  int16_t HarmoNum;  // series positions per candidate in AllMatchPitch
  int32_t matchWords;  // 64-bit words per candidate in AllMatchPitch
  int16_t Bin157;    // below this pitch (157 Hz) the low-pitch tests apply

  // Window, one row per slot; the kept peaks' rows (AllMax, AllMaxArea,
  // AllMaxAbsArea) are ring rows, read through PeakBins and the others.
  int16_t FrameState[kWindowFrames];  // -1 untracked, 1 done, 2 track reached slot 29
  int16_t AllMax[kWindowFrames][kMaxPeaks];  // kept peak bins; [0] -1: not analysed
  int16_t MaxNum[kWindowFrames];
  int16_t HarmoPeak[kWindowFrames][kSetSize];     // harmonic set, bins (0 absent)
  int16_t HarmoArea[kWindowFrames][kSetSize];     // relative areas, 1/10000
  float HarmoAbsArea[kWindowFrames][kSetSize];    // absolute areas
  int16_t AllMaxArea[kWindowFrames][kMaxPeaks];   // relative areas, 1/10000
  float AllMaxAbsArea[kWindowFrames][kMaxPeaks];  // absolute areas (ln power x bins)
  float FramePitch[kWindowFrames];                // track pitch, bins

  // Scratch of the harmonic search: the best set found so far.
  int16_t CandPeak[kSetSize];
  float CandAbsArea[kSetSize];
  float CandPitch;
  int16_t CandArea[kSetSize];

  int16_t MaxZoom[kMaxPeaks + 1];  // peak bins x 10 of the frame analysed last

  // Heap buffers, allocated at construction.
  int16_t* MostDifTabZoom;  // pitch tolerance per tenth of a bin, tenths
  float* tmpBinEnergy;      // BinNum values: ln power over PeakStartBin .. MaxHarmoBin - 1
                            // (0 where power <= 0), written by GetMax; then, as int16 and
                            // only when MaxHarmoBin exceeds its stack table, MatchPitch's
                            // first kept peak (tenths) at or above each bin
  uint64_t* AllMatchPitch;  // [ring row][candidate][word], bit = series position
  char* CanMatchPitch;      // [ring row][candidate]
  int32_t rowOfSlot0;  // ring row of slot 0 in AllMatchPitch, CanMatchPitch and the peak rows

  // Identity of the frame in each slot: a serial given when the frame
  // enters (and to every slot by ReInit), never given twice.
  uint64_t frameSerial[kWindowFrames];
  uint64_t lastSerial;
  // Bit i % 64 of word i / 64: seedLists[i] holds a list (construction
  // writes these 32 bytes, beside the other fields it writes; the 8 kB of
  // lists are written as searches fill them).
  uint64_t seedListsKept[kSeedLists / 64] = {};
  uint64_t seedRecordClock;  // counts record uses, for the replacement
  SeedRecord seedRecords[kSeedRecords];
  // The seeds of each record, apart from the records so that construction
  // touches only the records (seeds are written before they are read).
  RecordedSeed recordedSeeds[kSeedRecords][kRecordedSeeds];
  uint64_t growthClock;  // counts growth record uses, for the replacement
  // Records 0 .. growthRecordsUsed - 1 hold seeds; the others were never
  // written (construction touches none of their 67 kB).
  int32_t growthRecordsUsed;
  // GrowthTag of each used record's key, side by side: the records whose
  // tag matches are the only ones compared whole. Written sixteen at a time
  // as the records are first used (construction touches none).
  uint32_t growthTags[kGrowthRecords];
  // The low 32 bits of growthClock at each used record's last use, side by
  // side for the replacement. Written as the records are first used.
  uint32_t growthUse[kGrowthRecords];
  // While GrowTrack runs: the seed's first slot and TrackGrowth::grownAreas of
  // the track s .. e, added up as the steps add frames (and kept with the
  // steps) instead of summed over the track at each step; kAreasUnsummed
  // until the seed's are needed. Nothing reads the areas of the track's
  // rows meanwhile but those of its ends (a replayed step writes back the
  // areas of the last frame it reaches only): Connect4's change of the
  // reference row is put back before the next step, and the test it makes
  // in between takes these areas less the entry it took out.
  static constexpr uint32_t kAreasUnsummed = UINT32_MAX;
  bool grownAreasLive = false;
  int16_t grownSeed = 0;
  uint32_t grownAreas = kAreasUnsummed;
  // By a hash of the tag: the record last found or filled with it, tried
  // before the tags are compared (a record index, checked before use).
  static constexpr int32_t kGrowthHints = 64;
  uint8_t growthHints[kGrowthHints] = {};
  // Ways 0 .. setListUsed[b] - 1 of bucket b of setLists hold lists.
  uint8_t setListUsed[kSetListBuckets] = {};
  uint8_t setListNext[kSetListBuckets] = {};  // the way replaced next once all are used
  // Entries 0 .. spanBinsCount - 1 of spanBinsOfGap hold SpanBinsOfGap's
  // table (0: not yet worked out).
  int32_t spanBinsCount = 0;
  TrackGrowth growthRecords[kGrowthRecords];
  // 14.3 kB: room for the lists of the frames in the window (about 7 a
  // frame), kept with the frame serials they are keyed by (copied with
  // them); the ways not used were never written (construction touches none).
  SetList setLists[kSetListBuckets][kSetListWays];
  SeedList seedLists[kSeedLists];
  // Written at the first frame that needs it (construction touches none).
  uint64_t spanBinsOfGap[kMaxGapBins];
};

#endif  // KVD_DETECT_VOICE_H
