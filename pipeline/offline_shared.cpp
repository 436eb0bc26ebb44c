#include "pipeline/offline_shared.h"

#include <algorithm>
#include <cstddef>
#include <new>
#include <vector>

#include "pipeline/offline_background.h"
#include "pipeline/offline_labels.h"
#include "platform/ipps.h"

namespace {

template <typename T>
void ReleaseVector(std::vector<T>& values) {
  std::vector<T>().swap(values);
}

// Largest memory for the spectra kept between the offline passes: 32 MiB,
// 5.5 minutes at 8000 Hz (1 kB a frame), 2.7 at 16000 Hz. Longer recordings
// are transformed again where a later pass needs a frame, with the same
// results.
constexpr std::size_t kKeptSpectraBytesMax = std::size_t{32} << 20;

}  // namespace

bool OfflineArrays::Allocate(int32_t frameCount, int32_t energyEntries, int32_t frameEntries,
                             int32_t segmentEntries) {
  SpeechDetector& d = detector_;
  try {
    d.frameEnergy.assign(static_cast<std::size_t>(energyEntries), 0.0f);
    d.labels.assign(static_cast<std::size_t>(frameEntries), 0);
    d.voiceFlags.assign(static_cast<std::size_t>(frameEntries), 0);
    d.bandVar.assign(static_cast<std::size_t>(frameEntries), 0.0f);
    d.segStartList.assign(static_cast<std::size_t>(segmentEntries), 0);
    d.segEndList.assign(static_cast<std::size_t>(segmentEntries), 0);
  } catch (const std::bad_alloc&) {
    Release();
    return false;
  }
  // The enhanced decision mode makes one pass and keeps no spectra.
  const std::size_t spectra = static_cast<std::size_t>(frameCount) * d.binCount;
  if (d.enhanced == nullptr && spectra * sizeof(float) <= kKeptSpectraBytesMax) {
    try {
      d.framePowers.resize(spectra);
      d.frameBandVar.resize(static_cast<std::size_t>(frameCount));
    } catch (const std::bad_alloc&) {
      ReleaseVector(d.framePowers);  // not kept: the later passes transform again
      ReleaseVector(d.frameBandVar);
    }
  }
  d.frameCount = frameCount;
  ippsSet_16s(kLabelCandidate, d.labels.data(), frameCount);
  std::fill(d.hist, d.hist + kHistogramBins, 0.0f);
  d.maxEnergy = 0.0f;
  return true;
}

void OfflineArrays::Release() {
  SpeechDetector& d = detector_;
  ReleaseVector(d.frameEnergy);
  ReleaseVector(d.labels);
  ReleaseVector(d.voiceFlags);
  ReleaseVector(d.bandVar);
  ReleaseVector(d.segStartList);
  ReleaseVector(d.segEndList);
  ReleaseVector(d.framePowers);
  ReleaseVector(d.frameBandVar);
}

int32_t OfflineFrameCount(const SpeechDetector& detector, int32_t sampleCount) {
  if (sampleCount < detector.frameLength) return 0;
  return (sampleCount - detector.frameLength) / detector.frameShift + 1;
}

void FindBackground(SpeechDetector& detector) {
  FindBackground(detector.frameEnergy.data(), detector.labels.data(), detector.frameCount,
                 detector.floorValue, detector.maxEnergy);
  DeleteShortSpeech(detector);
}

void DeleteShortSpeech(SpeechDetector& detector) {
  DeleteShortSpeech(detector.labels.data(), detector.frameCount,
                    detector.DelShortSpeechSegLen_sec, detector.DelShortSpeechSideNoiseLen_sec);
}
