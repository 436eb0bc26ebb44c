// Online detection: one utterance found in a live stream fed in chunks.
//
// A started line (DetectState before_speech) is fed with samples in chunks
// of any length; after every chunk the caller learns the state, where speech
// started and where it ended, in samples of the line's stream. Every 10 ms
// frame runs the front end, the key-tone check, the energy detector and
// (unless FastMode) the voice detector; from frame 29 on each frame is a
// decision frame:
//
//   before_speech / no_speech --(energy and voice start)--> in_speech
//   before_speech --(no start after MaxWaitFrame frames)--> no_speech
//   in_speech --(a pause of MaxSilence frames, FindEnd)--> speech_end,
//                speech_too_long or speech_too_short (finished)
//
// Units: MaxWaitFrame, MaxSpeechDuration, MaxSilence, MaxHoldFrame,
// stRelaxFrames, edRelaxFrames are 10 ms frames; MinSpeechDuration is in
// samples at SampleRate (speech end minus speech start, both before the
// relax frames are applied): at 8000 Hz, 200 means 25 ms.
//
// Once finished, a line analyses nothing more until it is started again;
// further calls return 0 and write nothing.
#ifndef KVD_PIPELINE_ONLINE_DETECTION_H
#define KVD_PIPELINE_ONLINE_DETECTION_H

#include <cstdint>

#include "engine/speech_detector.h"

// Analyses every complete frame of the chunk (and of the samples kept from
// earlier chunks).
//   samples     [in]  sampleCount PCM samples at the line's SampleRate
//   sampleCount [in]  >= 0; a negative count breaks the line (-90, sticky)
//   state       [out] DetectState after the call
//   start       [out] reported speech start in samples, -1 none
//   end         [out] reported speech end in samples, -1 none
//   position    [out] frameShift x frameIndex, the stream position reached
//   block1, count1, block2, count2
//               [out] reduced spectra (128 floats a row) of the utterance's
//                     frames analysed in this call, as at most two ring
//                     blocks; used only when all four are given
//   reserved    [in]  not read
// The out-arguments other than the spectra must be valid pointers. Returns 0,
// or the line's sticky error code. A stream that reaches the last frame
// whose end an int32 can give (sample position 2^31 - 1: 74.6 h at 8000 Hz)
// gives -90, with a message naming the line, on every call that has a frame
// to analyse, until KVD_Start begins a new stream; positions never wrap. When KVD_Stop clears busyFlag during the
// call, it returns 0 at the next frame and leaves the line stopped.
int32_t Detect(SpeechDetector& detector, const int16_t* samples, int32_t sampleCount,
               int32_t* state, int32_t* start, int32_t* end, int32_t* position, float** block1,
               int32_t* count1, float** block2, int32_t* count2, int32_t reserved);

#endif  // KVD_PIPELINE_ONLINE_DETECTION_H
