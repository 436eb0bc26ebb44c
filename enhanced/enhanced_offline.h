// Offline detection in the enhanced decision mode. The offline calls keep
// their checks, results and result codes (pipeline/offline_detection.h);
// only the per-frame speech labels come from the learned frame classifier
// instead of the energy histogram and the voice detector.
#ifndef KVD_ENHANCED_ENHANCED_OFFLINE_H
#define KVD_ENHANCED_ENHANCED_OFFLINE_H

#include <cstdint>
#include <vector>

class SpeechDetector;

// Speech probability of every frame of a whole recording (frameCount frames
// of data) into probability, and, when features is not null, the frames'
// feature vectors one after the other. The line's feature tracker and
// keypad-tone rings start afresh. Returns false when KVD_Stop cleared
// busyFlag meanwhile.
bool ScoreRecording(SpeechDetector& detector, const int16_t* data, int32_t frameCount,
                    std::vector<float>& probability, std::vector<float>* features);

enum class LabelOutcome { kLabelled, kStopped, kNoMemory };

// Labels the detector.frameCount frames of data in detector.labels: 1 for
// speech, -1 for the rest. kStopped when KVD_Stop cleared busyFlag,
// kNoMemory (with its message) when memory ran out.
LabelOutcome LabelSpeechFrames(SpeechDetector& detector, const int16_t* data);

#endif  // KVD_ENHANCED_ENHANCED_OFFLINE_H
