// Per-frame trace of online detection for a host that wants to show why the
// engine decided what it did (the kvd program's `trace` command). A line
// whose frameTraceHook is set calls it once per analysed frame, after the
// frame's decision, on the detection thread; with no hook the cost is one
// pointer test per frame. The hook only reads: results are the same with
// and without it.
#ifndef KVD_PIPELINE_FRAME_TRACE_H
#define KVD_PIPELINE_FRAME_TRACE_H

#include <cstdint>

#include "engine/speech_detector.h"

struct FrameTrace {
  int32_t frame = 0;                      // index of the frame (10 ms steps from the start)
  float bandEnergy[kEnergyBands] = {};    // the frame's band energies (power, 1/N FFT scale)
  float bandThreshold[kEnergyBands] = {}; // current band thresholds, same scale
  float background[kEnergyBands] = {};    // current band background levels, 0: not yet known
  int32_t activeBands = 0;                // bands above threshold in the decision window, 0 .. 4
  int32_t voicedFrames = 0;               // voiced frames of the 30-frame window ending here
  int32_t settledFrame = -1;              // frame whose voicing the window has settled (frame - 29)
  float settledPitchHz = 0.0f;            // its pitch, 0 unvoiced
  bool dualTone = false;                  // the frame holds a keypad (dual) tone
  float speechProbability = -1.0f;        // enhanced mode: the classifier's verdict 0 .. 1; -1 otherwise
  int32_t state = 0;                      // DetectState after the frame's decision
};

// The hook's type: user is the line's frameTraceUser.
using FrameTraceHook = void (*)(void* user, const FrameTrace& frame);

// Fills a FrameTrace for frame t of the line and hands it to the hook.
void ReportFrameTrace(const SpeechDetector& detector, int32_t t);

#endif  // KVD_PIPELINE_FRAME_TRACE_H
