// Per-frame features of the enhanced decision mode, computed from the power
// and magnitude spectra of the frame front end. They describe the frame in
// terms that do not depend on the recording level or the sample rate: band
// levels against a tracked noise floor, harmonicity, spectral shape and how
// these move over the last few hundred milliseconds.
//
// Only 100 .. 3400 Hz is looked at (the telephone band), so a 16000 Hz
// recording gives the same features as its 8000 Hz copy, up to the finer
// bins. Everything is causal: the features of frame t use frames <= t.
#ifndef KVD_ENHANCED_FRAME_FEATURES_H
#define KVD_ENHANCED_FRAME_FEATURES_H

#include <cstdint>
#include <vector>

#include "platform/ipps.h"

// Bands of the noise-floor tracker, spaced roughly evenly in pitch.
constexpr int32_t kFeatureBands = 8;
// Values per frame handed to the model (see FeatureIndex).
constexpr int32_t kFeatureCount = 29;

// Position of each value in the feature vector.
enum FeatureIndex : int32_t {
  kBandSnrFirst = 0,  // kFeatureBands values: band level over its noise floor, dB / 10
  kMeanSnr = kFeatureBands,  // mean of the band values above
  kLevel,                    // frame level in the band, dB / 10 (level of a full-scale sine: 9.0)
  kHarmonicity,              // peak of the spectral autocorrelation at 80 .. 400 Hz, 0 .. 1
  kFlatness,                 // log10 of geometric over arithmetic mean power, <= 0
  kFlux,                     // mean absolute change of the band levels since the last frame, dB / 10
  kDualTone,                 // 1 when the keypad-tone check flagged the frame
  kMeanSnrFast,              // kMeanSnr smoothed over about 3 frames
  kMeanSnrSlow,              // kMeanSnr smoothed over about 20 frames
  kHarmonicityFast,          // kHarmonicity smoothed over about 3 frames
  kHarmonicityMax,           // largest kHarmonicity of the last 10 frames
  kLevelSpread,              // standard deviation of kLevel over the last 20 frames
  kHarmonicitySlow,          // kHarmonicity smoothed over about 50 frames
  kCentroid,                 // spectral centroid over 3400 Hz, 0 .. 1
  kLowShare,                 // share of the band power below 1000 Hz, 0 .. 1
  kFluxFast,                 // kFlux smoothed over about 3 frames
  kNoiseLevel,               // mean noise floor of the bands, dB / 10
  kBelowPeak,                // kLevel under its slowly falling peak, dB / 10, -6 .. 0
  kLevelSpreadLong,          // standard deviation of kLevel over the last 100 frames
  kQuietShare,               // share of the last 100 frames within 3 dB of the noise floor
  kPitchSteadiness,          // share of the last 20 frames harmonic at this frame's period (within 2 %)
  kFluxLong,                 // mean absolute change of the band levels over 10 frames, dB / 10
};

// Frames of the short histories (maximum harmonicity, level spread).
constexpr int32_t kFeatureHistoryFrames = 20;
// Frames over which kFluxLong compares the band levels.
constexpr int32_t kFluxLongFrames = 10;
// Frames of the long histories (long level spread, quiet share): 1 s.
constexpr int32_t kLongHistoryFrames = 100;
// Sub-windows of the minimum-statistics noise tracker and their length:
// the floor is the lowest smoothed level of the last 8 x 25 frames (2 s).
constexpr int32_t kNoiseSubWindows = 8;
constexpr int32_t kNoiseSubWindowFrames = 25;

// The feature state of one line: geometry set once, the tracker's memory
// cleared by Reset at every start. Built when the mode is configured;
// nothing is allocated per frame.
class FrameFeatures {
 public:
  // fftSize and sampleRate of the line's front end. Throws std::bad_alloc
  // when memory for the autocorrelation transform runs out.
  FrameFeatures(int32_t fftSize, int32_t sampleRate);
  ~FrameFeatures();
  FrameFeatures(const FrameFeatures&) = delete;
  FrameFeatures& operator=(const FrameFeatures&) = delete;

  // Forgets everything heard: the next frame is the first of a recording.
  void Reset();

  // Features of the next frame into out[kFeatureCount]. power and magnitude
  // hold fftSize / 2 bins; dead frames (constant samples) count as silence
  // at the noise floor; dualTone is the keypad-tone verdict of the frame.
  void Compute(const float* power, const float* magnitude, bool dead, bool dualTone, float* out);

 private:
  // What one frame's spectrum alone tells.
  struct Spectral {
    float bandDb[kFeatureBands];
    float level;        // dB / 10
    float harmonicity;  // 0 .. 1
    int32_t period;     // samples of the harmonic period; 0 when not harmonic enough
    float flatness;
    float centroid;
    float lowShare;
  };

  Spectral Analyse(const float* power, const float* magnitude, bool dead);
  // Harmonicity of the frame; sets period to the period of its peak.
  float Harmonicity(const float* magnitude, int32_t& period);
  void TrackNoise(const float* bandDb);
  // The band values, their mean and the flux over one and over ten frames.
  void BandFeatures(const Spectral& frame, float* out);
  // The smoothed copies and the short and long histories.
  void HistoryFeatures(const Spectral& frame, float meanSnr, float flux, float* out);

  IppsFFTSpec_R_32f* spec_ = nullptr;  // owned: real FFT of fftSize / 2 points
  int32_t halfSize_;                   // fftSize / 2
  int32_t firstBin_ = 0;               // 100 Hz
  int32_t endBin_ = 0;                 // 3400 Hz, excluded
  int32_t lowEndBin_ = 0;              // 1000 Hz, excluded
  int32_t flatFirstBin_ = 0;           // 300 Hz
  int32_t bandEdge_[kFeatureBands + 1] = {};
  int32_t shortestLag_ = 0;  // samples of a 400 Hz period
  int32_t longestLag_ = 0;   // samples of an 80 Hz period
  float binWidthHz_ = 0.0f;
  std::vector<float> work_;  // halfSize_: the autocorrelation transform

  // Tracker memory.
  int32_t frames_ = 0;
  float smoothedDb_[kFeatureBands] = {};
  float previousDb_[kFeatureBands] = {};
  float noiseDb_[kFeatureBands] = {};
  float subWindowMin_[kFeatureBands] = {};
  float windowMins_[kNoiseSubWindows][kFeatureBands] = {};
  float bandDbRing_[kFluxLongFrames][kFeatureBands] = {};
  float meanSnrFast_ = 0.0f;
  float meanSnrSlow_ = 0.0f;
  float harmonicityFast_ = 0.0f;
  float harmonicitySlow_ = 0.0f;
  float fluxFast_ = 0.0f;
  float peakLevel_ = 0.0f;  // dB / 10
  float harmonicityRing_[kFeatureHistoryFrames] = {};
  float levelRing_[kFeatureHistoryFrames] = {};
  // Periods of the last frames, 0 for a frame not harmonic enough.
  int32_t periodRing_[kFeatureHistoryFrames] = {};
  float longLevelRing_[kLongHistoryFrames] = {};
  bool quietRing_[kLongHistoryFrames] = {};
  int32_t quietFrames_ = 0;  // true entries of quietRing_
};

#endif  // KVD_ENHANCED_FRAME_FEATURES_H
