#include "pipeline/offline_one_seg_scan.h"

#include <algorithm>

#include "pipeline/offline_labels.h"
#include "platform/ipps.h"

namespace {

// An edge moves on over frames whose spectral variance is above this part
// of the variance at the voiced edge.
constexpr float kVarianceRatio = 0.2f;

float MeanEnergy(const float* frameEnergy, int32_t first, int32_t count) {
  float mean = 0.0f;
  ippsMean_32f(frameEnergy + first, count, &mean, ippAlgHintNone);
  return mean;
}

// Whether the run first .. first + count - 1 is loud enough; a long run
// that is not is relabelled. shortRunMinFrames: the shortest short run
// tested (one more than shortRunFrames forwards, shortRunFrames backwards).
bool PassesEnergyTest(const float* frameEnergy, int16_t* labels, int32_t first, int32_t count,
                      const RunEnergyTest& test, int32_t shortRunMinFrames) {
  if (count <= 0) return false;
  if (count >= test.longRunFrames) {
    if (MeanEnergy(frameEnergy, first, count) > test.longRunLevel) return true;
    SetLabels(labels, first, first + count, kLabelWeakRun);
    return false;
  }
  return count >= shortRunMinFrames && MeanEnergy(frameEnergy, first, count) > test.shortRunLevel;
}

}  // namespace

bool FindStartRun(const float* frameEnergy, int16_t* labels, int32_t frameCount,
                  const RunEnergyTest& test, FrameRun& run) {
  int32_t first = 0;
  int32_t end = 0;
  while (end < frameCount) {
    while (end < frameCount && labels[end] > 0) ++end;
    if (PassesEnergyTest(frameEnergy, labels, first, end - first, test,
                         test.shortRunFrames + 1)) {
      run = FrameRun{first, end};
      return true;
    }
    first = end;
    while (first < frameCount && labels[first] <= 0) ++first;
    end = first;
  }
  return false;
}

int32_t FindEndRun(const float* frameEnergy, int16_t* labels, int32_t frameCount,
                   const RunEnergyTest& test) {
  int32_t end = frameCount - 1;
  int32_t first = end;
  while (first > 0) {
    while (first > 0 && labels[first] > 0) --first;
    if (PassesEnergyTest(frameEnergy, labels, first, end - first, test, test.shortRunFrames)) {
      return end;
    }
    end = first;
    while (end > 0 && labels[end] <= 0) --end;
    first = end;
  }
  return -1;
}

int32_t RefineSegmentStart(const float* frameEnergy, const int16_t* voiceFlags,
                           const float* bandVar, int32_t startFrame, int32_t extendFrames) {
  while (startFrame > 0 && voiceFlags[startFrame] > 0) --startFrame;
  int32_t c = startFrame;
  if (c > 0) {
    const float threshold = kVarianceRatio * bandVar[startFrame];
    while (bandVar[c] > threshold && c > startFrame - extendFrames) {
      --c;
      if (c <= 0) break;
    }
  }
  while (c >= 2 && (frameEnergy[c] > frameEnergy[c - 1] || frameEnergy[c] > frameEnergy[c - 2])) {
    --c;
  }
  return std::max(0, c - extendFrames);
}

int32_t RefineSegmentEnd(const float* frameEnergy, const int16_t* voiceFlags,
                         const float* bandVar, int32_t frameCount, int32_t endFrame,
                         int32_t extendFrames) {
  const int32_t lastFrame = frameCount - 1;
  while (endFrame < lastFrame && voiceFlags[endFrame] > 0) ++endFrame;
  int32_t c = endFrame;
  if (c < lastFrame) {
    const float threshold = kVarianceRatio * bandVar[endFrame];
    while (bandVar[c] > threshold && c < endFrame + extendFrames) {
      ++c;
      if (c >= lastFrame) break;
    }
  }
  while (c < frameCount - 2 &&
         (frameEnergy[c] > frameEnergy[c + 1] || frameEnergy[c] > frameEnergy[c + 2])) {
    ++c;
  }
  return std::min(c + extendFrames, lastFrame);
}
