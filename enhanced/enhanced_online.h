// Online endpointing in the enhanced decision mode: the same events,
// outcomes and timers as the specified mode (MaxWaitFrame, MaxSilence,
// MaxHoldFrame, MaxSpeechDuration, MinSpeechDuration, stRelaxFrames,
// edRelaxFrames), decided on the learned frame classifier.
#ifndef KVD_ENHANCED_ENHANCED_ONLINE_H
#define KVD_ENHANCED_ENHANCED_ONLINE_H

#include <cstdint>

#include "pipeline/online_decisions.h"

// Decision of frame t, whose spectra are in currentPower and magnitude and
// whose keypad-tone verdict is isDtmf; dead tells a frame of constant
// samples. Before the start: the start (in_speech, *start) once
// kStartSpeechFrames of the last kStartWindowFrames frames are speech, or
// no_speech after MaxWaitFrame frames. In the utterance: the end decision
// once MaxSilence frames passed without speech (DecideEnd).
void EnhancedOnlineFrame(SpeechDetector& detector, int32_t t, bool dead, int32_t* start,
                         int32_t* end, const SpectrumHandout& spectra);

#endif  // KVD_ENHANCED_ENHANCED_ONLINE_H
