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
