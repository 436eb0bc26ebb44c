// One frame of a whole recording through the front end, as both offline
// detections analyse it.
#ifndef KVD_PIPELINE_OFFLINE_FRAME_H
#define KVD_PIPELINE_OFFLINE_FRAME_H

#include <cstdint>

#include "engine/speech_detector.h"

// Frame `frame` of data (samples frame * frameShift onwards, frameLength of
// them): its power spectrum lands in currentPower (row 0 of
// AllFramesBinEnergy), its magnitude spectrum in magnitude, and
// bandVar[frame] gets the variance of the magnitudes over the detection band.
// A frame whose spectrum the energy pass kept (framePowers) is not
// transformed again: its power spectrum and band variance are copied, and
// magnitude, ffts and the spectrum ring are left as they are.
void AnalyseFrame(SpeechDetector& detector, const int16_t* data, int32_t frame);

#endif  // KVD_PIPELINE_OFFLINE_FRAME_H
