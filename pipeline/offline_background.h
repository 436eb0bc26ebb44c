// Background search and short-run deletion of the offline detections, over
// a recording's per-frame band energies and labels (codes in
// offline_labels.h). Energies are sums of power values over the detection
// band, on the scale of a forward FFT divided by the FFT size.
#ifndef KVD_PIPELINE_OFFLINE_BACKGROUND_H
#define KVD_PIPELINE_OFFLINE_BACKGROUND_H

#include <cstdint>

// Finds the background level and the loudest 60-frame mean, and labels the
// frames that belong to the background.
//   frameEnergy [in]     frameCount band energies
//   labels      [in,out] frameCount labels, all kLabelCandidate on entry
//   floorValue  [in,out] in: the level of the energy pass; out: raised to
//                        the mean of every stationary window found
//   maxEnergy   [in,out] 0 on entry; out: the largest mean of a 60-frame
//                        window that lies in a non-stationary 100-frame window
//                        (with fewer than 100 frames: of any 60-frame window,
//                        or of all frames when there are fewer than 60)
// Windows of 100 frames whose energies vary by less than 10 % of their mean
// are background (kLabelStationary100). Elsewhere every 60-frame window
// inside the 100 frames is examined: steady (< 10 %) and below a fifth of
// the 100-frame mean (kLabelQuietDip60), or very steady (< 2 %) and below
// 100 times the background (kLabelSteady60). Finally every candidate below
// the background gets kLabelBelowFloor.
void FindBackground(const float* frameEnergy, int16_t* labels, int32_t frameCount,
                    float& floorValue, float& maxEnergy);

// Relabels short candidate runs that stand alone between long stretches of
// noise: a run of positive labels beginning at frame 1 or later that is
// shorter than shortRunFrames, with more than sideNoiseFrames non-positive
// frames before and after it, becomes kLabelShortRun.
//   labels          [in,out] frameCount labels
//   shortRunFrames  [in]     runs shorter than this are examined
//   sideNoiseFrames [in]     noise needed on each side
void DeleteShortSpeech(int16_t* labels, int32_t frameCount, int32_t shortRunFrames,
                       int32_t sideNoiseFrames);

#endif  // KVD_PIPELINE_OFFLINE_BACKGROUND_H
