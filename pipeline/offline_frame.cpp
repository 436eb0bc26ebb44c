#include "pipeline/offline_frame.h"

#include <algorithm>
#include <cstddef>

#include "pipeline/frame_front_end.h"
#include "platform/ipps.h"

void AnalyseFrame(SpeechDetector& detector, const int16_t* data, int32_t frame) {
  detector.currentPower = detector.AllFramesBinEnergy;
  const int32_t bins = detector.binCount;
  const auto index = static_cast<std::size_t>(frame);
  if (index < detector.frameBandVar.size() &&
      (index + 1) * bins <= detector.framePowers.size()) {
    // Kept by the energy pass: the same frame's spectrum, as transformed then.
    std::copy_n(detector.framePowers.data() + index * bins, bins, detector.currentPower);
    detector.bandVar[index] = detector.frameBandVar[index];
    return;
  }
  ippsConvert_16s32f(data + static_cast<std::size_t>(frame) * detector.frameShift, detector.ffts,
                     detector.frameLength);
  const bool dead = IsDeadFrame(detector);
  ComputeSpectrum(detector, dead, frame, detector.currentPower, detector.magnitude);
  // The configured band, limited to the bins a spectrum has.
  const int32_t firstBin = std::clamp(detector.DetectSpecLowBorder_Hz, 0, detector.binCount);
  const int32_t endBin = std::clamp(detector.DetectSpecHighBorder_Hz, 0, detector.binCount);
  detector.bandVar[static_cast<std::size_t>(frame)] =
      GetBandVariance(detector.currentPower, detector.magnitude, firstBin, endBin, true);
}
