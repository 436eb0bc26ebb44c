// CDetectVoice: construction, window management and the DetectVoice entry.
// Peak picking and pitch matching are in detect_voice_peaks.cpp, the pitch
// tracks in detect_voice_harmonic*.cpp.
#include "kvd/detect_voice.h"

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <new>

#include "classifiers/detect_voice_tuning.h"

using namespace kvd_voice;

namespace {

// The speech detector loads EnergyFloor as 0.1 * 10^(0.1 * AverageGain dB);
// a detector used on its own gets the value of a 0 dB gain.
constexpr float kDefaultEnergyFloor = 0.1f;

// Widest accepted bin: 16.625 Hz (8000 Hz with 512 points is 15.625 Hz).
constexpr float kMaxBinWidthHz = 16.625f;
// Narrowest accepted bin: 3.9 Hz (8000 Hz with 2048 points is 3.90625 Hz;
// the engine's bins are 7.8 to 15.625 Hz). The track search tries every
// pitch within kFramePitchToleranceHz of its reference against every set of
// peaks, so its work grows with the square of the bins per Hz: at 0.02 Hz
// bins one frame took minutes, at 1.95 Hz seconds.
constexpr float kMinBinWidthHz = 3.9f;
// Pitch change allowed between neighbouring frames of a track.
constexpr float kFramePitchToleranceHz = 40.0f;
// Pitch below which the stricter low-pitch tests of the track checks apply.
constexpr float kLowPitchLimitHz = 157.0f;

// MostDifTabZoom: tolerance of a pitch, 15 % of it, in tenths of a bin,
// limited to 11 .. 30 tenths; the table has 3 spare entries at its end.
constexpr int32_t kTolerancePercent = 15;
constexpr int32_t kToleranceMinTenths = 11;
constexpr int32_t kToleranceMaxTenths = 30;
constexpr int32_t kToleranceTableSpare = 3;

// MaxZoom holds bins x 10 as int16: the highest harmonic bin must fit.
constexpr int32_t kMaxHarmoBinLimit = INT16_MAX / kTenthsPerBin;

// Converts a frequency to a bin count, truncated toward zero. False when the
// count does not fit the int16 it is kept in (a very narrow bin).
bool HzToBins(float hz, float binWidthHz, int16_t* bins) {
  const float count = hz / binWidthHz;
  if (!(count > INT16_MIN - 1.0f && count < INT16_MAX + 1.0f)) return false;
  *bins = static_cast<int16_t>(count);
  return true;
}

template <typename T>
void FreeArray(T*& p) {
  delete[] p;
  p = nullptr;
}

}  // namespace

CDetectVoice::CDetectVoice(int32_t sampleRateHz, int32_t fftSize, int32_t lowestPitchHz,
                           int32_t highestPitchHz, int32_t highestHarmonicHz)
    : Status(-1),
      VoicePitch{},
      EnergyFloor(kDefaultEnergyFloor),
      BinNum(0),
      BinWidth(0.0f),
      MinPitchBin(0),
      PeakStartBin(0),
      MaxPitchBin(0),
      MaxHarmoBin(0),
      PitchNum(0),
      Bin40(0),
      HarmoNum(0),
      matchWords(0),
      Bin157(0),
      FrameState{},
      AllMax{},
      MaxNum{},
      HarmoPeak{},
      HarmoArea{},
      HarmoAbsArea{},
      AllMaxArea{},
      AllMaxAbsArea{},
      FramePitch{},
      CandPeak{},
      CandAbsArea{},
      CandPitch(0.0f),
      CandArea{},
      MaxZoom{},
      MostDifTabZoom(nullptr),
      tmpBinEnergy(nullptr),
      AllMatchPitch(nullptr),
      CanMatchPitch(nullptr),
      rowOfSlot0(0),
      frameSerial{},
      lastSerial(0),
      seedRecordClock(0),
      growthClock(0),
      growthRecordsUsed(0) {
  for (int32_t slot = 0; slot < kWindowFrames; ++slot) {
    VoicePitch[slot] = -1;
    FrameState[slot] = kStateUntracked;
    AllMax[slot][0] = -1;
  }
  RenumberFrames();
  // Unused records (their seeds are written before they are read).
  for (SeedRecord& record : seedRecords) {
    std::memset(record.frames, 0, sizeof(record.frames));
    record.lastUse = 0;
    record.count = 0;
  }
  if (sampleRateHz <= 0 || fftSize <= 0) {
    printf("Invalid sample rate or FFT size to initialize Voice Detector!\n");
    return;
  }
  BinWidth = static_cast<float>(sampleRateHz) / static_cast<float>(fftSize);
  if (BinWidth > kMaxBinWidthHz) {
    printf("Too low FFT size to initialize Voice Detector!\n");
    return;
  }
  if (BinWidth < kMinBinWidthHz) {
    printf("Too narrow FFT bins for the pitch range to initialize Voice Detector!\n");
    return;
  }
  if (sampleRateHz < 2 * highestHarmonicHz) {
    printf("Too low Sample Rate to initialize Voice Detector!\n");
    return;
  }

  BinNum = fftSize / 2;
  if (!HzToBins(static_cast<float>(lowestPitchHz), BinWidth, &MinPitchBin) ||
      !HzToBins(static_cast<float>(highestPitchHz), BinWidth, &MaxPitchBin) ||
      !HzToBins(static_cast<float>(highestHarmonicHz), BinWidth, &MaxHarmoBin) ||
      !HzToBins(kFramePitchToleranceHz, BinWidth, &Bin40) ||
      !HzToBins(kLowPitchLimitHz, BinWidth, &Bin157)) {
    printf("Too narrow FFT bins for the pitch range to initialize Voice Detector!\n");
    return;
  }
  PeakStartBin = MinPitchBin;
  // A lowest pitch below one bin gives MinPitchBin 0: a division by zero in
  // HarmoNum and a read before the spectrum in GetMax.
  if (MinPitchBin < 1) {
    printf("Too low lowest pitch to initialize Voice Detector!\n");
    return;
  }
  if (MaxPitchBin < MinPitchBin) {
    printf("Too low highest pitch to initialize Voice Detector!\n");
    return;
  }
  if (highestHarmonicHz / BinWidth > static_cast<float>(kMaxHarmoBinLimit)) {
    printf("Too high harmonic limit to initialize Voice Detector!\n");
    return;
  }
  PitchNum = static_cast<int16_t>(MaxPitchBin - MinPitchBin + 1);
  HarmoNum = static_cast<int16_t>(MaxHarmoBin / MinPitchBin - 1);
  // Without a second harmonic below the limit no series position exists.
  if (HarmoNum < 1) {
    printf("Too low harmonic limit to initialize Voice Detector!\n");
    return;
  }
  if (!AllocateBuffers()) {
    return;
  }
  Status = 0;
}

bool CDetectVoice::AllocateBuffers() {
  tmpBinEnergy = new (std::nothrow) float[BinNum];
  if (tmpBinEnergy == nullptr) {
    printf("Error allocating memory for tmpBinEnergy!\n");
    return false;
  }

  const int32_t tableEntries = PitchNum * kTenthsPerBin;
  MostDifTabZoom = new (std::nothrow) int16_t[tableEntries + kToleranceTableSpare]();
  if (MostDifTabZoom == nullptr) {
    FreeBuffers();
    printf("Error allocating memory for MostDifTabZoom!\n");
    return false;
  }
  // Entry i is the tolerance of the pitch MinPitchBin + i / 10 bins:
  // trunc(pitch * 1.5) tenths, worked in integers as
  // (MinPitchBin * 10 + i) * 15 / 100 so that 8.0 and 20.0 bins give exactly
  // 12 and 30.
  for (int32_t i = 0; i < tableEntries; ++i) {
    int32_t tenths =
        (MinPitchBin * kTenthsPerBin + i) * kTolerancePercent / (kTenthsPerBin * kTenthsPerBin);
    if (tenths < kToleranceMinTenths) tenths = kToleranceMinTenths;
    if (tenths > kToleranceMaxTenths) tenths = kToleranceMaxTenths;
    MostDifTabZoom[i] = static_cast<int16_t>(tenths);
  }

  matchWords = (HarmoNum + kSeriesPerWord - 1) / kSeriesPerWord;
  AllMatchPitch = new (std::nothrow) uint64_t[MatchWordsPerRow() * kWindowFrames];
  if (AllMatchPitch == nullptr) {
    FreeBuffers();
    printf("Error allocating memory for AllMatchPitch!\n");
    return false;
  }
  CanMatchPitch = new (std::nothrow) char[kWindowFrames * PitchNum];
  if (CanMatchPitch == nullptr) {
    FreeBuffers();
    printf("Error allocating memory for CanMatchPitch!\n");
    return false;
  }
  std::memset(AllMatchPitch, 0, MatchBytesPerRow() * kWindowFrames);
  std::memset(CanMatchPitch, 0, static_cast<size_t>(kWindowFrames) * PitchNum);
  return true;
}

void CDetectVoice::FreeBuffers() {
  FreeArray(tmpBinEnergy);
  FreeArray(MostDifTabZoom);
  FreeArray(AllMatchPitch);
  FreeArray(CanMatchPitch);
}

CDetectVoice::~CDetectVoice() { FreeBuffers(); }

CDetectVoice& CDetectVoice::operator=(const CDetectVoice& other) {
  if (this == &other) {
    return *this;
  }
  const bool sameGeometry = BinNum == other.BinNum && PitchNum == other.PitchNum &&
                            HarmoNum == other.HarmoNum && matchWords == other.matchWords;
  const bool haveBuffers = tmpBinEnergy != nullptr;
  if (!(sameGeometry && haveBuffers)) {
    FreeBuffers();
  }

  Status = other.Status;
  std::memcpy(VoicePitch, other.VoicePitch, sizeof(VoicePitch));
  EnergyFloor = other.EnergyFloor;
  BinNum = other.BinNum;
  BinWidth = other.BinWidth;
  MinPitchBin = other.MinPitchBin;
  PeakStartBin = other.PeakStartBin;
  MaxPitchBin = other.MaxPitchBin;
  MaxHarmoBin = other.MaxHarmoBin;
  PitchNum = other.PitchNum;
  Bin40 = other.Bin40;
  HarmoNum = other.HarmoNum;
  matchWords = other.matchWords;
  Bin157 = other.Bin157;
  spanBinsCount = 0;  // of this geometry: worked out again when needed
  std::memcpy(FrameState, other.FrameState, sizeof(FrameState));
  std::memcpy(AllMax, other.AllMax, sizeof(AllMax));
  std::memcpy(MaxNum, other.MaxNum, sizeof(MaxNum));
  std::memcpy(HarmoPeak, other.HarmoPeak, sizeof(HarmoPeak));
  std::memcpy(HarmoArea, other.HarmoArea, sizeof(HarmoArea));
  std::memcpy(HarmoAbsArea, other.HarmoAbsArea, sizeof(HarmoAbsArea));
  std::memcpy(AllMaxArea, other.AllMaxArea, sizeof(AllMaxArea));
  std::memcpy(AllMaxAbsArea, other.AllMaxAbsArea, sizeof(AllMaxAbsArea));
  std::memcpy(FramePitch, other.FramePitch, sizeof(FramePitch));
  std::memcpy(CandPeak, other.CandPeak, sizeof(CandPeak));
  std::memcpy(CandAbsArea, other.CandAbsArea, sizeof(CandAbsArea));
  CandPitch = other.CandPitch;
  std::memcpy(CandArea, other.CandArea, sizeof(CandArea));
  std::memcpy(MaxZoom, other.MaxZoom, sizeof(MaxZoom));
  rowOfSlot0 = other.rowOfSlot0;
  // The seed records go with the frame serials they are keyed by.
  std::memcpy(frameSerial, other.frameSerial, sizeof(frameSerial));
  lastSerial = other.lastSerial;
  seedRecordClock = other.seedRecordClock;
  std::memcpy(seedRecords, other.seedRecords, sizeof(seedRecords));
  std::memcpy(recordedSeeds, other.recordedSeeds, sizeof(recordedSeeds));
  growthClock = other.growthClock;
  growthRecordsUsed = other.growthRecordsUsed;
  std::memcpy(growthRecords, other.growthRecords, sizeof(TrackGrowth) * growthRecordsUsed);
  std::memcpy(growthTags, other.growthTags, sizeof(growthTags));
  std::memcpy(growthUse, other.growthUse, sizeof(growthUse[0]) * growthRecordsUsed);
  std::memcpy(setListUsed, other.setListUsed, sizeof(setListUsed));
  std::memcpy(setListNext, other.setListNext, sizeof(setListNext));
  for (int32_t bucket = 0; bucket < kSetListBuckets; ++bucket) {
    std::memcpy(setLists[bucket], other.setLists[bucket], sizeof(SetList) * setListUsed[bucket]);
  }
  for (int32_t word = 0; word < kSeedLists / 64; ++word) {
    seedListsKept[word] = other.seedListsKept[word];
    for (uint64_t kept = seedListsKept[word]; kept != 0; kept &= kept - 1u) {
      const int32_t i = word * 64 + __builtin_ctzll(kept);
      seedLists[i] = other.seedLists[i];
    }
  }

  if (other.tmpBinEnergy == nullptr) {
    // The source was never built: so is the copy.
    FreeBuffers();
    Status = -1;
    return *this;
  }
  if (tmpBinEnergy == nullptr && !AllocateBuffers()) {
    Status = -1;
    return *this;
  }
  std::memcpy(tmpBinEnergy, other.tmpBinEnergy, sizeof(float) * BinNum);
  std::memcpy(MostDifTabZoom, other.MostDifTabZoom,
              sizeof(int16_t) * (PitchNum * kTenthsPerBin + kToleranceTableSpare));
  std::memcpy(AllMatchPitch, other.AllMatchPitch, MatchBytesPerRow() * kWindowFrames);
  std::memcpy(CanMatchPitch, other.CanMatchPitch, static_cast<size_t>(kWindowFrames) * PitchNum);
  return *this;
}

int32_t CDetectVoice::ReInit() {
  if (AllMatchPitch == nullptr) {
    printf("%s\n", "Error Memory of AllMatchPitch when Reinit VoiceDetector!\n");
    return -1;
  }
  if (CanMatchPitch == nullptr) {
    printf("%s\n", "Error Memory of CanMatchPitch when Reinit VoiceDetector!\n");
    return -1;
  }
  std::memset(AllMax, 0, sizeof(AllMax));
  std::memset(MaxNum, 0, sizeof(MaxNum));
  std::memset(AllMaxArea, 0, sizeof(AllMaxArea));
  std::memset(AllMaxAbsArea, 0, sizeof(AllMaxAbsArea));
  std::memset(AllMatchPitch, 0, MatchBytesPerRow() * kWindowFrames);
  std::memset(CanMatchPitch, 0, static_cast<size_t>(kWindowFrames) * PitchNum);
  rowOfSlot0 = 0;
  for (int32_t slot = 0; slot < kWindowFrames; ++slot) {
    VoicePitch[slot] = -1;
    FrameState[slot] = kStateUntracked;
    AllMax[slot][0] = -1;
  }
  // New serials: no seed record matches the emptied window.
  RenumberFrames();
  // Find rebuilds the harmonic sets around every seed; clearing them too
  // makes a re-initialised detector behave exactly as a new one.
  std::memset(HarmoPeak, 0, sizeof(HarmoPeak));
  std::memset(HarmoArea, 0, sizeof(HarmoArea));
  std::memset(HarmoAbsArea, 0, sizeof(HarmoAbsArea));
  std::memset(FramePitch, 0, sizeof(FramePitch));
  return 0;
}

void CDetectVoice::ClearSlot(int32_t slot) {
  VoicePitch[slot] = -1;
  FrameState[slot] = kStateUntracked;
  const int32_t row = RingRow(slot);
  std::memset(AllMax[row], 0, sizeof(AllMax[row]));
  AllMax[row][0] = -1;
  MaxNum[slot] = 0;
  std::memset(AllMaxArea[row], 0, sizeof(AllMaxArea[row]));
  std::memset(AllMaxAbsArea[row], 0, sizeof(AllMaxAbsArea[row]));
  std::memset(MatchRow(slot), 0, MatchBytesPerRow());
  std::memset(CanRow(slot), 0, PitchNum);
}

size_t CDetectVoice::MatchWordsPerRow() const {
  return static_cast<size_t>(PitchNum) * static_cast<size_t>(matchWords);
}

size_t CDetectVoice::MatchBytesPerRow() const { return MatchWordsPerRow() * sizeof(uint64_t); }

uint64_t* CDetectVoice::MatchRow(int32_t slot) const {
  return AllMatchPitch + static_cast<size_t>(RingRow(slot)) * MatchWordsPerRow();
}

char* CDetectVoice::CanRow(int32_t slot) const {
  return CanMatchPitch + static_cast<size_t>(RingRow(slot)) * PitchNum;
}

namespace {

// Moves rows 1 .. 29 of a per-slot array to rows 0 .. 28 (towards: -1) or
// rows 0 .. 28 to rows 1 .. 29 (towards: +1); rowBytes bytes per row.
void ShiftRows(void* base, size_t rowBytes, int32_t rows, bool towardsOldEnd) {
  char* p = static_cast<char*>(base);
  const size_t moved = rowBytes * (rows - 1);
  if (towardsOldEnd) {
    std::memmove(p, p + rowBytes, moved);
  } else {
    std::memmove(p + rowBytes, p, moved);
  }
}

}  // namespace

void CDetectVoice::UpdateBuf(float* power, bool valid) {
  if (AllMatchPitch == nullptr || CanMatchPitch == nullptr) {
    return;  // not built (Status -1): the owner discards such a detector
  }
  ShiftRows(VoicePitch, sizeof(VoicePitch[0]), kWindowFrames, true);
  ShiftRows(FrameState, sizeof(FrameState[0]), kWindowFrames, true);
  ShiftRows(MaxNum, sizeof(MaxNum[0]), kWindowFrames, true);
  ShiftRows(frameSerial, sizeof(frameSerial[0]), kWindowFrames, true);
  // Slot s takes the row of slot s + 1; the row of slot 0 becomes slot 29's.
  rowOfSlot0 = (rowOfSlot0 + 1) % kWindowFrames;
  const int32_t newest = kWindowFrames - 1;
  frameSerial[newest] = ++lastSerial;
  ClearSlot(newest);
  if (valid && power != nullptr) {
    GetMax(power, newest);
    MatchPitch(newest);
  }
}

void CDetectVoice::ReverseUpdateBuf(float* power, bool valid) {
  if (AllMatchPitch == nullptr || CanMatchPitch == nullptr) {
    return;
  }
  ShiftRows(VoicePitch, sizeof(VoicePitch[0]), kWindowFrames, false);
  ShiftRows(FrameState, sizeof(FrameState[0]), kWindowFrames, false);
  ShiftRows(MaxNum, sizeof(MaxNum[0]), kWindowFrames, false);
  ShiftRows(frameSerial, sizeof(frameSerial[0]), kWindowFrames, false);
  // Slot s takes the row of slot s - 1; the row of slot 29 becomes slot 0's.
  rowOfSlot0 = (rowOfSlot0 + kWindowFrames - 1) % kWindowFrames;
  const int32_t oldest = 0;
  frameSerial[oldest] = ++lastSerial;
  ClearSlot(oldest);
  if (valid && power != nullptr) {
    GetMax(power, oldest);
    MatchPitch(oldest);
  }
}

int16_t CDetectVoice::DetectVoice() {
  if (AllMatchPitch == nullptr || CanMatchPitch == nullptr) {
    return 0;  // not built (Status -1)
  }
  if (Find() != 0) {
    printf("error in DetectVoice!\n");
  }
  int16_t voiced = 0;
  for (int32_t slot = 0; slot < kWindowFrames; ++slot) {
    if (VoicePitch[slot] > 0) {
      ++voiced;
    }
  }
  return voiced;
}
