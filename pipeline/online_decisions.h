// The per-decision-frame steps of online detection (frames 29 and later),
// used by Detect.
#ifndef KVD_PIPELINE_ONLINE_DECISIONS_H
#define KVD_PIPELINE_ONLINE_DECISIONS_H

#include <cstdint>

#include "engine/speech_detector.h"

// Sample position of the first sample of a frame (frameShift x frame), in
// 64 bits: frame numbers outlast the int32 sample positions the interface
// hands out (2^31 samples are 74.6 h at 8000 Hz).
inline int64_t FramePosition(const SpeechDetector& detector, int32_t frame) {
  return static_cast<int64_t>(detector.frameShift) * frame;
}

// The same as the int32 the interface reports. Only for frames up to the
// end of the last frame analysed: Detect analyses no frame whose end lies
// beyond the int32 range, so these always fit.
inline int32_t SamplePosition(const SpeechDetector& detector, int32_t frame) {
  return static_cast<int32_t>(FramePosition(detector, frame));
}

// Where the caller wants the utterance's reduced spectra; rows are handed
// out only when all four pointers are given.
struct SpectrumHandout {
  float** block1 = nullptr;
  int32_t* count1 = nullptr;
  float** block2 = nullptr;
  int32_t* count2 = nullptr;

  bool Wanted() const { return block1 && count1 && block2 && count2; }
};

// Moves DetectState from the detection state it holds to `next`. A state
// that KVD_Stop or KVD_Close wrote meanwhile (idle or not open) is kept: the
// write is a compare-and-set against the value just read.
void SetDetectionState(SpeechDetector& detector, int32_t next);

// Copies the voice detector's window (VoicePitch, slot 0 the oldest) into
// voiceFlagsRing for frames t-29 .. t.
void CopyVoiceFlags(SpeechDetector& detector, int32_t t);

// Decision frame t while no start is known: counts the energy run, decides
// the start (DetectState in_speech, reportedStart written to *start) or
// no_speech after MaxWaitFrame frames.
void WaitForSpeech(SpeechDetector& detector, int32_t t, int32_t* start,
                   const SpectrumHandout& spectra);

// Decision frame t inside the utterance: follows speech stretches and pauses
// and, after a pause of MaxSilence frames, asks FindEnd; then DecideEnd.
void FollowUtterance(SpeechDetector& detector, int32_t t, int32_t* end,
                     const SpectrumHandout& spectra);

// The end decision of frame t, taken on frame numbers (the start frames are
// speechStartSamples and reportedStart over frameShift). With an end frame
// found (endFrame > 0): held to at most MaxHoldFrame frames back, judged
// against MaxSpeechDuration (frames) and MinSpeechDuration (samples), moved
// by edRelaxFrames but kept after the reported start and before t; with
// none, the utterance is cut once it is MaxSilence + MaxSpeechDuration frames
// old. A decided end sets
// finalEnd and the state (speech_end, speech_too_long, speech_too_short) and
// writes reportedEnd to *end.
void DecideEnd(SpeechDetector& detector, int32_t t, int32_t* end);

#endif  // KVD_PIPELINE_ONLINE_DECISIONS_H
