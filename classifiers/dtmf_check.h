// Dual-tone (keypad tone) frame check of online detection.
//
// A key tone is two steady sinusoids, one of a low and one of a high group.
// Such frames carry plenty of band energy and would pass the energy detector
// as speech; online detection runs this check on every frame that is not
// dead (when UseCheckDTMF is on) and marks a frame found tonal as not
// usable.
//
// State lives in the caller's rings of kToneRingFrames frames (slot = frame
// mod 10), handed over as a ToneCheckState: ToneFlag (the frame is made of at most two narrow peak groups),
// TonePeak (bin of the first and second group, -1 absent, -1000 after a
// failed analysis) and ToneEnergy (power collected from the picked peaks).
// ToneFlag and ToneEnergy are cleared at every
// start of the line; a frame on which the check does not run must have its
// ToneFlag cleared by the caller.
#ifndef KVD_CLASSIFIERS_DTMF_CHECK_H
#define KVD_CLASSIFIERS_DTMF_CHECK_H

#include <cstdint>

// Frames of the dual-tone ring.
constexpr int32_t kToneRingFrames = 10;

// What the check reads and writes: the spectrum geometry, a scratch row and
// the three rings, all owned by the caller (the line's SpeechDetector).
struct ToneCheckState {
  int32_t binCount = 0;          // power values per frame
  float binWidthHz = 0.0f;       // Hz per bin
  bool* flag = nullptr;          // [kToneRingFrames] ToneFlag
  int32_t (*peak)[2] = nullptr;  // [kToneRingFrames][2] TonePeak
  float* energy = nullptr;       // [kToneRingFrames] ToneEnergy
};

// Analyses frame t and answers whether frames t-3 .. t form one steady dual
// (or single) tone: every one of the four made of at most two peak groups,
// the groups at the same bins within one bin, the collected power within
// 0.99 .. 1.02 of each earlier frame's. Frames 0 .. 2 are never tones.
//   t        [in] frame index, >= 0
//   spectrum [in] the frame's binCount power values
bool CheckDTMF(const ToneCheckState& rings, int32_t t, const float* spectrum);

#endif  // KVD_CLASSIFIERS_DTMF_CHECK_H
