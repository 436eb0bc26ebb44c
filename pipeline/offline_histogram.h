// Energy histogram of the offline detections and the three ways its bins
// become a level.
//
// The histogram spans the frame energies from the background level
// (floorValue) up to the loudest 60-frame mean (maxEnergy) in 100 bins of
// equal width ("step", energy units). A frame falls into the bin k reached
// after k steps from floorValue - 1 that first lift the running value to its
// energy or beyond; everything above the top is counted in bin 99. The bins
// are then turned into relative frequencies (fractions of all frames).
//
//   bin:   0        1        2      ...      99
//        |floor-1 |+step   |+2 step |  ...  |everything louder
//
// A bin index idx stands for the level floorValue + idx * step.
#ifndef KVD_PIPELINE_OFFLINE_HISTOGRAM_H
#define KVD_PIPELINE_OFFLINE_HISTOGRAM_H

#include <cstdint>

#include "engine/speech_detector.h"  // kHistogramBins

// Fills hist with the relative frequency of each bin and returns the bin
// width (maxEnergy - floorValue) / 100, single precision.
//   frameEnergy [in]  frameCount band energies; frameCount > 0
//   floorValue  [in]  background energy; below maxEnergy
//   maxEnergy   [in]  largest 60-frame mean energy
//   hist        [out] kHistogramBins fractions summing to 1
// At most 99 steps are taken per frame, so a step too small to move the
// running value in single precision cannot stall the count.
float BuildEnergyHistogram(const float* frameEnergy, int32_t frameCount, float floorValue,
                           float maxEnergy, float* hist);

// Single-segment threshold: the bin where the quiet mass of the histogram
// ends. Starting from bin 0 (moved on to bin 1 or 2 when the histogram rises
// there), bins are taken one by one while the histogram does not rise and
// less than half of all frames has been taken, or while it rises and less
// than a tenth has been taken.
int32_t MassThresholdBin(const float* hist);

// Multi-segment valley: from bin 0 (or 1 or 2 where the histogram rises
// there), the last bin of the first falling stretch.
int32_t ValleyBin(const float* hist);

// Multi-segment peak: from the valley, the top of the following rise, never
// searched beyond bin 50 (a valley already at 50 or above stays).
int32_t PeakBin(const float* hist);

#endif  // KVD_PIPELINE_OFFLINE_HISTOGRAM_H
