#include "pipeline/offline_one_seg_locate.h"

#include <algorithm>
#include <cstddef>

#include "pipeline/offline_histogram.h"
#include "pipeline/offline_labels.h"
#include "pipeline/offline_one_seg_scan.h"

namespace {

// Labels every candidate below the histogram threshold as noise and returns
// the histogram step.
float ApplyHistogramThreshold(SpeechDetector& detector) {
  const int32_t frameCount = detector.frameCount;
  const float* energy = detector.frameEnergy.data();
  const float step = BuildEnergyHistogram(energy, frameCount, detector.floorValue,
                                          detector.maxEnergy, detector.hist);
  const float threshold =
      detector.floorValue + static_cast<float>(MassThresholdBin(detector.hist)) * step;
  for (int32_t i = 0; i < frameCount; ++i) {
    int16_t& label = detector.labels[static_cast<std::size_t>(i)];
    if (energy[i] < threshold && label > 0) label = kLabelBelowThreshold;
  }
  return step;
}

}  // namespace

bool LocateOneSegment(SpeechDetector& detector, SegmentFrames& segment) {
  const int32_t frameCount = detector.frameCount;
  const float step = ApplyHistogramThreshold(detector);
  const RunEnergyTest test{detector.CommonSpeechSegLen_sec, detector.ShortSpeechSegLen_sec,
                           detector.CommonSpeechSegEnergyThd * detector.floorValue,
                           static_cast<float>(detector.ShortSpeechSegEnergyThd) * step};
  const float* energy = detector.frameEnergy.data();
  int16_t* labels = detector.labels.data();
  FrameRun startRun{};
  if (!FindStartRun(energy, labels, frameCount, test, startRun)) return false;
  segment.startFrame =
      RefineSegmentStart(energy, detector.voiceFlags.data(), detector.bandVar.data(),
                         startRun.first, detector.ExtendSpeechLen_sec);
  // The backward windows lie one frame earlier than the forward ones, so the
  // scan may pass the start run without accepting it (and reach frame 0, or
  // accept a run before it): the end is never taken before the last frame of
  // the start run.
  const int32_t endRunFrame =
      std::max(FindEndRun(energy, labels, frameCount, test), startRun.endExclusive - 1);
  segment.endFrame =
      RefineSegmentEnd(energy, detector.voiceFlags.data(), detector.bandVar.data(), frameCount,
                       endRunFrame, detector.ExtendSpeechLen_sec);
  return true;
}
