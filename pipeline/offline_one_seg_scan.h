// The segment scans and edge refinements of single-segment offline
// detection, over a recording's per-frame arrays (N frames):
//   frameEnergy  band energy of each frame
//   labels       positive: speech candidate; negative: noise (offline_labels.h)
//   voiceFlags   voice detector pitch of each frame, > 0 voiced
//   bandVar      variance of the magnitude spectrum over the detection band
//
// A run is a stretch of consecutive candidate frames. The forward scan looks
// for the first run loud enough to be speech, the backward scan for the last
// one; each edge is then moved outwards over voiced frames, over frames of
// still high spectral variance and down the energy slope, and widened by a
// fixed margin.
#ifndef KVD_PIPELINE_OFFLINE_ONE_SEG_SCAN_H
#define KVD_PIPELINE_OFFLINE_ONE_SEG_SCAN_H

#include <cstdint>

// When a run is loud enough. Runs of at least longRunFrames frames must
// have a mean energy above longRunLevel; a longer one that fails is
// relabelled kLabelWeakRun. Shorter runs, of more than shortRunFrames frames
// (forwards) or at least shortRunFrames frames (backwards), must have a mean
// above shortRunLevel. A run of 0 frames is never tested.
struct RunEnergyTest {
  int32_t longRunFrames;
  int32_t shortRunFrames;
  float longRunLevel;   // energy units
  float shortRunLevel;  // energy units
};

// Frames first .. endExclusive - 1.
struct FrameRun {
  int32_t first;
  int32_t endExclusive;
};

// Forward scan from frame 0. Returns true with the accepted run, false when
// no run passes (the labels of failed long runs are changed either way).
bool FindStartRun(const float* frameEnergy, int16_t* labels, int32_t frameCount,
                  const RunEnergyTest& test, FrameRun& run);

// Backward scan from the last frame. Returns the end frame of the accepted
// run (its test window is the run shifted one frame earlier: from the noise
// frame before it up to, not including, its last frame), or -1 when the scan
// reaches frame 0 without accepting a run.
int32_t FindEndRun(const float* frameEnergy, int16_t* labels, int32_t frameCount,
                   const RunEnergyTest& test);

// Moves a start frame back over the voiced frames before it, then back while
// the spectral variance stays above a fifth of its value there (at most
// extendFrames), then down the rising energy slope, and finally
// extendFrames further; never below 0.
int32_t RefineSegmentStart(const float* frameEnergy, const int16_t* voiceFlags,
                           const float* bandVar, int32_t startFrame, int32_t extendFrames);

// The mirror image for an end frame; never beyond frame frameCount - 1.
int32_t RefineSegmentEnd(const float* frameEnergy, const int16_t* voiceFlags,
                         const float* bandVar, int32_t frameCount, int32_t endFrame,
                         int32_t extendFrames);

#endif  // KVD_PIPELINE_OFFLINE_ONE_SEG_SCAN_H
