// Offline detection: a whole recording in one call, answered at once.
//
//   single segment: one stretch of speech, from the first to the last part
//                   of the recording that stands clearly above the background
//   multi segment:  every stretch of speech that passes a voice test
//
// Both need a line that was started (KVD_Start) before each recording; they
// do not change the line's state and report through *state instead. Per-frame
// working arrays are allocated for the call and released before it returns.
// Sample positions count from the first sample of the recording.
#ifndef KVD_PIPELINE_OFFLINE_DETECTION_H
#define KVD_PIPELINE_OFFLINE_DETECTION_H

#include <cstdint>

class SpeechDetector;

// One speech segment of a whole recording.
//   detector    [in,out] a started line (state before_speech)
//   data        [in]     sampleCount samples of 16-bit PCM at the line's rate
//   sampleCount [in]     number of samples n
//   state       [out]    3 segment delivered, 1 no segment (or stopped)
//   start       [out]    first sample of the segment (0 when it begins in the
//                        first 3 frames)
//   end         [out]    last sample of the segment (n - 1 when it reaches the
//                        last 3 frames); never before *start
//   processed   [out]    n when the call completes, 0 when it was stopped
// A recording shorter than 30 frames or MinSignalLen, or without energy
// above its background, is speech from 0 to n - 1 when DefaultSpeech is 1;
// otherwise state, start and end are left as they are.
// Returns 0; -90 null pointer; -95 line not started; -87 out of memory.
// KVD_Stop from another thread ends the call early (state 1, start 0,
// end -1, processed 0).
int32_t DetectOfflineOneSeg(SpeechDetector& detector, const int16_t* data, int32_t sampleCount,
                            int32_t* state, int32_t* start, int32_t* end, int32_t* processed);

// Every speech segment of a whole recording.
//   detector    [in,out] a started line (state before_speech)
//   data        [in]     sampleCount samples of 16-bit PCM at the line's rate
//   sampleCount [in]     number of samples n
//   state       [out]    3 list delivered, 2 too many segments, 1 no dynamic
//                        range
//   starts      [out]    MaxSegNum entries: segment starts in samples
//   ends        [out]    MaxSegNum entries: segment ends in samples (the frame
//                        after the segment, or the last frame)
//   processed   [out]    n, or the position reached when the list overflowed
// All MaxSegNum entries are written: the segments first, zeros after them
// (so a segment is an entry with a positive end). At most MaxSegNum - 1
// segments fit; a recording with more gives state 2, -87 and an all-zero
// list. Without dynamic range the first entries are -1 (state 1). A too-short
// recording is one segment 0 .. n - 1 with DefaultSpeech 1, else no segment.
// Returns 0; -90 null pointer; -95 line not started; -87 out of memory or
// too many segments.
int32_t DetectOfflineMultiSeg(SpeechDetector& detector, const int16_t* data, int32_t sampleCount,
                              int32_t* state, int32_t* starts, int32_t* ends, int32_t* processed);

#endif  // KVD_PIPELINE_OFFLINE_DETECTION_H
