// Reaches the private fields and operations of CDetectVoice for its tests
// (the class names CDetectVoiceTestPeer as a friend).
#ifndef KVD_TESTS_SUPPORT_VOICE_TEST_PEER_H
#define KVD_TESTS_SUPPORT_VOICE_TEST_PEER_H

#include <cstdint>

#include "kvd/detect_voice.h"

class CDetectVoiceTestPeer {
 public:
  explicit CDetectVoiceTestPeer(CDetectVoice& voice) : v_(voice) {}

  // Geometry.
  int32_t BinNum() const { return v_.BinNum; }
  int16_t MinPitchBin() const { return v_.MinPitchBin; }
  int16_t PeakStartBin() const { return v_.PeakStartBin; }
  int16_t MaxPitchBin() const { return v_.MaxPitchBin; }
  int16_t MaxHarmoBin() const { return v_.MaxHarmoBin; }
  int16_t PitchNum() const { return v_.PitchNum; }
  int16_t Bin40() const { return v_.Bin40; }
  int16_t HarmoNum() const { return v_.HarmoNum; }
  int16_t Bin157() const { return v_.Bin157; }
  const int16_t* MostDifTabZoom() const { return v_.MostDifTabZoom; }
  bool HasBuffers() const {
    return v_.MostDifTabZoom != nullptr && v_.tmpBinEnergy != nullptr &&
           v_.AllMatchPitch != nullptr && v_.CanMatchPitch != nullptr;
  }
  const void* AllMatchPitchBuffer() const { return v_.AllMatchPitch; }

  // Window rows.
  int16_t* AllMax(int slot) { return v_.PeakBins(slot); }
  int16_t& MaxNum(int slot) { return v_.MaxNum[slot]; }
  int16_t* AllMaxArea(int slot) { return v_.PeakAreas(slot); }
  float* AllMaxAbsArea(int slot) { return v_.PeakAbsAreas(slot); }
  int16_t* HarmoPeak(int slot) { return v_.HarmoPeak[slot]; }
  int16_t* HarmoArea(int slot) { return v_.HarmoArea[slot]; }
  float* HarmoAbsArea(int slot) { return v_.HarmoAbsArea[slot]; }
  float& FramePitch(int slot) { return v_.FramePitch[slot]; }
  int16_t& FrameState(int slot) { return v_.FrameState[slot]; }
  bool AllMatch(int slot, int pitchBin, int m) const {
    const uint64_t* words = v_.MatchRow(slot) + (pitchBin - v_.MinPitchBin) * v_.matchWords;
    return (words[m / 64] >> (m % 64) & 1u) != 0;
  }

  bool CanMatch(int slot, int pitchBin) const {
    return v_.CanRow(slot)[pitchBin - v_.MinPitchBin] != 0;
  }

  // Private operations.
  // Pitch matching alone of the kept peaks bins[0 .. count - 1] (ascending),
  // into an emptied slot.
  void MatchPeaks(int slot, const int16_t* bins, int count) {
    v_.ClearSlot(slot);
    v_.MaxNum[slot] = static_cast<int16_t>(count);
    for (int i = 0; i < count; ++i) {
      v_.PeakBins(slot)[i] = bins[i];
      v_.MaxZoom[i] = static_cast<int16_t>(bins[i] * 10);
    }
    v_.MatchPitch(slot);
  }
  int16_t SearchHarmo(int p, int m, int frame, int first, int last,
                      uint32_t* members = nullptr) {
    return v_.SearchHarmo(static_cast<int16_t>(p), static_cast<int16_t>(m),
                          static_cast<int16_t>(frame), static_cast<int16_t>(first),
                          static_cast<int16_t>(last), members);
  }
  int16_t GetHarmoArea(const int16_t* a, int frame) {
    return v_.GetHarmoArea(a, static_cast<int16_t>(frame));
  }
  int16_t CompareAbsArea(const float* a, const float* b, float pitch) {
    return v_.CompareAbsArea(a, b, pitch);
  }
  bool UnvoicedBefore(int f, int backLook) const { return v_.UnvoicedBefore(f, backLook); }
  // New serials for every slot, as ReInit gives (rows written by a test then
  // count as new frames).
  void RenumberFrames() { v_.RenumberFrames(); }
  // Drops SearchHarmo's lists: the next searches enumerate the sets again.
  void ForgetSeedLists() {
    for (uint64_t& kept : v_.seedListsKept) kept = 0;
  }
  // Drops the growth records: every step of the next tracks is searched.
  void ForgetGrowth() { v_.growthRecordsUsed = 0; }

 private:
  CDetectVoice& v_;
};

#endif  // KVD_TESTS_SUPPORT_VOICE_TEST_PEER_H
