#include "pipeline/offline_multi_seg_edges.h"

#include <algorithm>

#include "pipeline/offline_labels.h"

namespace {

// An edge moves over frames whose variance stays below this part of the
// variance at the voiced edge and whose energy stays below half of its energy.
constexpr float kVarianceRatio = 0.2f;
constexpr float kEnergyRatio = 0.5f;
// The energy slopes are followed at most this far outside the candidate.
constexpr int32_t kSlopeReachFrames = 30;

int32_t RefineStartEdge(const float* frameEnergy, const int16_t* voiceFlags,
                        const float* bandVar, int32_t frameCount, const CandidateEdges& edges) {
  const int32_t a = edges.first;
  const int32_t b = edges.last;
  int32_t s = a;
  if (a < b) {
    int32_t voiced = a;
    while (voiced < b && voiced < frameCount - 1 && voiceFlags[voiced] <= 0) ++voiced;
    s = voiced;
    if (voiced > a) {
      const float threshold = kVarianceRatio * bandVar[voiced];
      const float quiet = kEnergyRatio * frameEnergy[voiced];
      int32_t k = a;
      while (k < voiced && bandVar[k] < threshold && bandVar[k + 1] < threshold &&
             frameEnergy[k] < quiet) {
        ++k;
      }
      s = k;
    }
  }
  const int32_t before = s;
  while (s > a - kSlopeReachFrames && s > 0 && frameEnergy[s] > edges.floorValue &&
         (frameEnergy[s] > frameEnergy[s - 1] || frameEnergy[s] > edges.peakLevel)) {
    --s;
  }
  if (s == before) {
    while (s < b && s < frameCount - 1 && frameEnergy[s] > frameEnergy[s + 1] &&
           frameEnergy[s] < edges.peakLevel) {
      ++s;
    }
  }
  return s;
}

int32_t RefineEndEdge(const float* frameEnergy, const int16_t* voiceFlags, const float* bandVar,
                      int32_t frameCount, const CandidateEdges& edges, int32_t start) {
  const int32_t b = edges.last;
  int32_t e = b;
  if (b > start) {
    while (voiceFlags[e] <= 0 && e > start) --e;
  }
  const float threshold = kVarianceRatio * bandVar[e];
  const float quiet = kEnergyRatio * frameEnergy[e];
  int32_t c = b;
  while (c > 0 && bandVar[c] < threshold && bandVar[c - 1] < threshold && frameEnergy[c] < quiet) {
    --c;
  }
  if (c > e) e = c;
  while (e < b + kSlopeReachFrames && e + 1 < frameCount - 1 &&
         frameEnergy[e + 1] < frameEnergy[e] && frameEnergy[e + 1] > edges.floorValue) {
    ++e;
  }
  return e;
}

}  // namespace

void RefineCandidate(const float* frameEnergy, int16_t* labels, const int16_t* voiceFlags,
                     const float* bandVar, int32_t frameCount, const CandidateEdges& edges) {
  const int32_t a = edges.first;
  const int32_t b = edges.last;
  const int32_t s = RefineStartEdge(frameEnergy, voiceFlags, bandVar, frameCount, edges);
  if (s > a) SetLabels(labels, a, s, kLabelHeadCut);
  if (s < a) SetLabels(labels, s, a, kLabelRefinedIn);

  const int32_t e = RefineEndEdge(frameEnergy, voiceFlags, bandVar, frameCount, edges, s);
  if (e < b) SetLabels(labels, e, b, kLabelTailCut);
  if (e > b) SetLabels(labels, b, e, kLabelRefinedIn);

  SetLabels(labels, std::max(0, s - edges.extendFrames),
            std::min(e + edges.extendFrames, frameCount - 1), kLabelSegment);
}

void FillShortGaps(int16_t* labels, int32_t frameCount) {
  for (int32_t i = 1; i + 2 < frameCount; ++i) {
    if (labels[i] <= 0 && labels[i - 1] > 0 && labels[i + 1] > 0) labels[i] = kLabelSegment;
    if (labels[i] <= 0 && labels[i + 1] <= 0 && labels[i - 1] > 0 && labels[i + 2] > 0) {
      labels[i] = kLabelSegment;
      labels[i + 1] = kLabelSegment;
    }
  }
}

SegmentList CollectSegments(const int16_t* labels, int32_t frameCount, int32_t frameShift,
                            int32_t maxSegments, int32_t* starts, int32_t* ends) {
  const int32_t entries = std::max(maxSegments, 1);
  std::fill(starts, starts + entries, 0);
  std::fill(ends, ends + entries, 0);
  SegmentList list{0, false, 0};
  int16_t previous = 0;
  for (int32_t i = 0; i < frameCount; ++i) {
    if (labels[i] > 0 && previous <= 0) starts[list.count] = frameShift * i;
    if ((labels[i] <= 0 || i == frameCount - 1) && previous > 0) {
      ends[list.count] = frameShift * i;
      ++list.count;
    }
    if (list.count >= maxSegments) {
      list.full = true;
      list.stopFrame = i;
      return list;
    }
    previous = labels[i];
  }
  // A candidate on the last frame alone opens a segment that never closes.
  if (list.count < entries) starts[list.count] = 0;
  return list;
}
