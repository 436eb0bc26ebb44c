// Steps shared by single- and multi-segment offline detection on a line's
// SpeechDetector: the per-call arrays and the background search with its
// short-run deletion.
#ifndef KVD_PIPELINE_OFFLINE_SHARED_H
#define KVD_PIPELINE_OFFLINE_SHARED_H

#include <cstdint>

#include "engine/speech_detector.h"

// Owns a line's per-call offline arrays for the duration of one call:
// Allocate sizes them zero-filled (labels set to kLabelCandidate), the
// destructor releases them on every return path.
class OfflineArrays {
 public:
  explicit OfflineArrays(SpeechDetector& detector) : detector_(detector) {}
  ~OfflineArrays() { Release(); }
  OfflineArrays(const OfflineArrays&) = delete;
  OfflineArrays& operator=(const OfflineArrays&) = delete;

  // frameCount frames: frameEnergy gets energyEntries entries, labels,
  // voiceFlags and bandVar frameEntries (both at least frameCount), the
  // segment lists segmentEntries (0: none). The first frameCount labels are
  // kLabelCandidate, the histogram and maxEnergy 0. Returns false, with
  // nothing left allocated, when memory runs out.
  bool Allocate(int32_t frameCount, int32_t energyEntries, int32_t frameEntries,
                int32_t segmentEntries);
  void Release();

 private:
  SpeechDetector& detector_;
};

// Number of complete frames in sampleCount samples (0 when there is not one).
int32_t OfflineFrameCount(const SpeechDetector& detector, int32_t sampleCount);

// Background level, loudest mean and background labels of the recording
// (frameEnergy, labels over frameCount frames; floorValue from the energy
// pass, maxEnergy 0), then DeleteShortSpeech.
void FindBackground(SpeechDetector& detector);

// Relabels isolated short candidate runs (DelShortSpeechSegLen_sec,
// DelShortSpeechSideNoiseLen_sec).
void DeleteShortSpeech(SpeechDetector& detector);

#endif  // KVD_PIPELINE_OFFLINE_SHARED_H
