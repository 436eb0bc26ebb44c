// The voice test and edge refinement of one multi-segment candidate.
#ifndef KVD_PIPELINE_OFFLINE_VERIFY_SEGMENT_H
#define KVD_PIPELINE_OFFLINE_VERIFY_SEGMENT_H

#include <cstdint>

#include "engine/speech_detector.h"

// Examines candidate frames first .. last (at least 30 frames) of data with
// a freshly re-initialised voice detector, frame by frame from the first,
// until the voiced frames seen exceed SpeechSegMinVoiceLen_sec or the share
// SpeechSegMinVoiceRatio of the candidate frames.
// Rejected: labels first .. last - 1 become kLabelUnvoiced.
// Accepted: the voice flags of the rest of the candidate are completed
// (backwards from its last frame when more than 30 frames remain, else
// forwards), and the edges are refined (RefineCandidate) with peakLevel as the
// energy level a start may climb over.
void VerifySegment(SpeechDetector& detector, const int16_t* data, int32_t first, int32_t last,
                   float peakLevel);

#endif  // KVD_PIPELINE_OFFLINE_VERIFY_SEGMENT_H
