#include "pipeline/frame_trace.h"

#include "classifiers/detect_energy.h"
#include "enhanced/enhanced_line.h"

void ReportFrameTrace(const SpeechDetector& detector, int32_t t) {
  const CDetectEnergy& energy = *detector.detectEnergy;
  FrameTrace trace;
  trace.frame = t;
  for (int32_t band = 0; band < kEnergyBands; ++band) {
    trace.bandEnergy[band] = energy.BandEnergy[band][RingSlot(t, CDetectEnergy::kHistoryFrames)];
    trace.bandThreshold[band] = energy.BandThd[band];
    trace.background[band] = energy.NoiseLevel[band];
  }
  // Frames before the first full window take no decision.
  if (t >= CDetectEnergy::kWindowFrames - 1) {
    trace.activeBands = detector.energyScore;
    trace.voicedFrames = detector.voiceCount;
    trace.settledFrame = t - (CDetectEnergy::kWindowFrames - 1);
    const int16_t pitchBins = detector.voiceFlagsRing[RingSlot(trace.settledFrame, kHistoryFrames)];
    trace.settledPitchHz = pitchBins > 0 ? pitchBins * detector.binWidthHz : 0.0f;
  }
  trace.dualTone = detector.isDtmf;
  if (detector.enhanced != nullptr) trace.speechProbability = detector.enhanced->Probability();
  trace.state = detector.DetectState;
  detector.frameTraceHook(detector.frameTraceUser, trace);
}
