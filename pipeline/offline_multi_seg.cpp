#include <algorithm>
#include <cstddef>

#include <kvd/detect_voice.h>
#include <kvd/tprintf.h>

#include "engine/config_limits.h"
#include "engine/kvd_api.h"
#include "engine/speech_detector.h"
#include "enhanced/enhanced_offline.h"
#include "pipeline/frame_front_end.h"
#include "pipeline/offline_detection.h"
#include "pipeline/offline_histogram.h"
#include "pipeline/offline_labels.h"
#include "pipeline/offline_multi_seg_edges.h"
#include "pipeline/offline_shared.h"
#include "pipeline/offline_verify_segment.h"

namespace {

// Fewer frames than the voice detector's window cannot be analysed; a
// candidate is examined over at least this many frames.
constexpr int32_t kMinFrames = CDetectVoice::kWindowFrames;
// Spare entries behind the per-frame arrays.
constexpr int32_t kSpareEnergyEntries = 10;
constexpr int32_t kSpareFrameEntries = 1;
// Result state of a recording with more segments than the list holds.
constexpr int32_t kTooManySegmentsState = 2;

// Zeroes all maxSegments entries of the caller's lists.
void ClearList(int32_t maxSegments, int32_t* starts, int32_t* ends) {
  std::fill(starts, starts + maxSegments, 0);
  std::fill(ends, ends + maxSegments, 0);
}

// Writes all maxSegments entries of the caller's lists: first .. last in
// entry 0, zeros after it.
void WriteSingleEntry(int32_t maxSegments, int32_t* starts, int32_t* ends, int32_t first,
                      int32_t last) {
  ClearList(maxSegments, starts, ends);
  starts[0] = first;
  ends[0] = last;
}

// Labels the candidates below the histogram valley as noise and returns the
// energy level of the histogram peak.
float ApplyValleyAndPeak(SpeechDetector& detector) {
  const int32_t frameCount = detector.frameCount;
  const float* energy = detector.frameEnergy.data();
  const float step = BuildEnergyHistogram(energy, frameCount, detector.floorValue,
                                          detector.maxEnergy, detector.hist);
  const float valley = detector.floorValue + static_cast<float>(ValleyBin(detector.hist)) * step;
  for (int32_t i = 0; i < frameCount; ++i) {
    int16_t& label = detector.labels[static_cast<std::size_t>(i)];
    if (energy[i] < valley && label > 0) label = kLabelBelowThreshold;
  }
  return detector.floorValue + static_cast<float>(PeakBin(detector.hist)) * step;
}

// Finds the candidates and verifies each. A candidate starts on a positive
// frame after a negative one and ends before the first negative frame at
// least 30 frames later, or at the end of the recording (examined over its
// last 30 frames at least). VerifySegment relabels frames ahead of the scan.
void ScanCandidates(SpeechDetector& detector, const int16_t* data, float peakLevel) {
  const int32_t frameCount = detector.frameCount;
  const int16_t* labels = detector.labels.data();
  int32_t candidate = -1;
  for (int32_t i = 0; i < frameCount; ++i) {
    if (candidate >= 0 && i == frameCount - 1) {
      candidate = std::min(candidate, i - (kMinFrames - 1));
      VerifySegment(detector, data, candidate, i, peakLevel);
      candidate = -1;
    } else if (candidate >= 0 && labels[i] < 0 && i >= candidate + kMinFrames) {
      VerifySegment(detector, data, candidate, i - 1, peakLevel);
      candidate = -1;
    } else if (candidate < 0 && labels[i] > 0 && (i == 0 || labels[i - 1] < 0)) {
      candidate = i;
    }
  }
}

}  // namespace

int32_t DetectOfflineMultiSeg(SpeechDetector& detector, const int16_t* data, int32_t sampleCount,
                              int32_t* state, int32_t* starts, int32_t* ends, int32_t* processed) {
  if (data == nullptr || state == nullptr || starts == nullptr || ends == nullptr ||
      processed == nullptr) {
    tprintf7("KVD_DetectSpeech error! NULL pointer!\n");
    detector.errorStatus = KVD_ERR_BAD_DATA;
    return KVD_ERR_BAD_DATA;
  }
  *processed = 0;
  const int32_t frameCount = OfflineFrameCount(detector, sampleCount);
  if (detector.DetectState != before_speech) {
    tprintf7(
        "KVD_DetectSpeech multi-seg offline mode error in KVD_STATE! Forget to reinitialize "
        "KVD?\n");
    detector.errorStatus = KVD_ERR_NOT_STARTED;
    return KVD_ERR_NOT_STARTED;
  }
  const int32_t maxSegments = detector.MaxSegNum;
  if (maxSegments <= 0) {
    // No room for even one segment: nothing is analysed or written.
    tprintf7("KVD_DetectSpeech multi-seg offline error! MaxSegNum should be 1..%d!\n",
             kMostSegments);
    return KVD_ERR_OFFLINE;
  }
  if (frameCount < kMinFrames || frameCount < detector.MinSignalLen) {
    tprintf2("Too short wave file!");
    if (detector.DefaultSpeech == 1) {
      tprintf2("Default as speech.\n");
      WriteSingleEntry(maxSegments, starts, ends, 0, sampleCount - 1);
      *state = speech_end;
    } else {
      tprintf2("Default as noise or silence.\n");
      ClearList(maxSegments, starts, ends);
    }
    detector.errorStatus = KVD_OK;
    *processed = sampleCount;
    return KVD_OK;
  }

  OfflineArrays arrays(detector);
  if (!arrays.Allocate(frameCount, frameCount + kSpareEnergyEntries,
                       frameCount + kSpareFrameEntries, maxSegments)) {
    tprintf7("KVD_DetectSpeech multi-seg offline error! Cannot allocate memory!\n");
    ClearList(maxSegments, starts, ends);
    detector.errorStatus = KVD_ERR_OFFLINE;
    return KVD_ERR_OFFLINE;
  }
  if (detector.enhanced != nullptr) {
    const LabelOutcome outcome = LabelSpeechFrames(detector, data);
    if (outcome != LabelOutcome::kLabelled) {
      // Stopped from outside or out of memory: no list.
      ClearList(maxSegments, starts, ends);
      *state = before_speech;
      if (outcome == LabelOutcome::kStopped) return detector.errorStatus;
      detector.errorStatus = KVD_ERR_OFFLINE;
      return KVD_ERR_OFFLINE;
    }
  } else {
    ComputeFrameEnergies(detector, data);
    FindBackground(detector);
    if (detector.maxEnergy <= detector.floorValue) {
      *state = before_speech;
      *processed = sampleCount;
      WriteSingleEntry(maxSegments, starts, ends, -1, -1);
      return KVD_OK;
    }
    const float peakLevel = ApplyValleyAndPeak(detector);
    ScanCandidates(detector, data, peakLevel);
    DeleteShortSpeech(detector);
    FillShortGaps(detector.labels.data(), frameCount);
  }
  const SegmentList list =
      CollectSegments(detector.labels.data(), frameCount, detector.frameShift, maxSegments,
                      detector.segStartList.data(), detector.segEndList.data());
  if (list.full) {
    tprintf7(
        "Error in KVD_DetectSpeech of Multi-seg offline mode! Too many speech segments! Abort "
        "total detection!\n");
    ClearList(maxSegments, starts, ends);
    *processed = detector.frameShift * list.stopFrame;
    *state = kTooManySegmentsState;
    return KVD_ERR_OFFLINE;
  }
  std::copy(detector.segStartList.begin(), detector.segStartList.begin() + maxSegments, starts);
  std::copy(detector.segEndList.begin(), detector.segEndList.begin() + maxSegments, ends);
  *processed = sampleCount;
  *state = speech_end;
  return KVD_OK;
}
