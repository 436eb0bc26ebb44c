// Constants and small helpers shared by the three source files of
// CDetectVoice (Parts 3.2 and 3.3). Internal to classifiers/.
#ifndef KVD_CLASSIFIERS_DETECT_VOICE_TUNING_H
#define KVD_CLASSIFIERS_DETECT_VOICE_TUNING_H

#include <cstdint>

#include "kvd/detect_voice.h"

namespace kvd_voice {

// Positions inside MatchPitch are in tenths of a bin.
constexpr int32_t kTenthsPerBin = 10;
// Relative areas are int16 in units of 1/10000 of a frame's total peak area.
constexpr float kAreaUnitsPerWhole = 10000.0f;
// Sums of relative areas held at this value (just inside the int16 range).
constexpr int32_t kAreaSumCap = 32765;

// FrameState values.
constexpr int16_t kStateUntracked = -1;
constexpr int16_t kStateDone = 1;
constexpr int16_t kStateReachedEnd = 2;

// Shortest track (frames) that writes pitches.
constexpr int32_t kMinTrackFrames = 6;

// Entries of a harmonic set (peak bins, 0 = absent).
constexpr int32_t kSetSize = CDetectVoice::kSetSize;

}  // namespace kvd_voice

#endif  // KVD_CLASSIFIERS_DETECT_VOICE_TUNING_H
