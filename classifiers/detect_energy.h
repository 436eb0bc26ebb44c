// Energy classifier of online detection: splits each frame's power spectrum
// into four octave bands below 4000 Hz, keeps 500-frame band histories with
// their 10-frame mean and coefficient of variation, tracks the background of
// each band while no speech is active and answers how many bands stand above
// it, where a speech start holds, where speech began and where it ended.
//
// Usage, per line (the speech detector owns one instance):
//   CDetectEnergy energy(sampleRate, fftSize);   // Status 0 on success
//   // the owner loads SpreadFactor, MaxSilence, BandThdCap/Init/Floor and
//   // NoiseFloor, and at every start copies BandThdInit into BandThd, zeroes
//   // NoiseLevel and NoiseCV and calls ReInit().
//   per frame t:      UpdateBandEnergy(power, t, usable);
//   from frame 29 on: UpdateBackground(t, speechStart, voiceCount);
//                     GetActiveBands(t);
//   on a start:       ConfirmStart, RefineStart, then ResetSpeechLevel;
//   in speech:        AccumulateSpeechLevel per finished stretch, FindEnd.
//
// Frames are counted from the start of the line's run (frame 0 is the first).
// Every history is a ring indexed by frame modulo its length; frames before
// frame 0 map to the ring's last slots (the modulo is never negative).
//
// Band energy is the sum of a frame's power values over the band's bins, on
// the scale of a forward FFT divided by the FFT size. Bands at 8000 Hz with a
// 512-point FFT (15.625 Hz per bin), end bin excluded:
//
//   band 0: bins   3 ..  32   ~   47 ..  500 Hz
//   band 1: bins  32 ..  64   ~  500 .. 1000 Hz
//   band 2: bins  64 .. 128   ~ 1000 .. 2000 Hz
//   band 3: bins 128 .. 256   ~ 2000 .. 4000 Hz
//
// A statistics slot s is BandMean[b][s mod 500] and BandCV[b][s mod 500]; it
// describes the band energies of frames s .. s+9, so the statistics of slot s
// are known once frame s+9 has been analysed.
//
// One instance belongs to one line and is used by that line's thread only.
// Nothing is allocated after construction.
#ifndef KVD_CLASSIFIERS_DETECT_ENERGY_H
#define KVD_CLASSIFIERS_DETECT_ENERGY_H

#include <cstdint>

class CDetectEnergy {
 public:
  static constexpr int32_t kBandCount = 4;
  // Length of the band-energy and statistics rings, in frames (5 s).
  static constexpr int32_t kHistoryFrames = 500;
  // Number of frames one statistics slot summarises.
  static constexpr int32_t kStatFrames = 10;
  // Length of the caller's usable-frame ring, in frames.
  static constexpr int32_t kUsableRingFrames = 30;
  // Frames of the decision window; the first decision is taken on frame 29,
  // and the background follows statistics slot t - 29.
  static constexpr int32_t kWindowFrames = 30;

  // sampleRateHz [in] at least 8000; fftSizePoints [in] transform length.
  // A rate below 8000 Hz is refused: the message is logged and Status
  // stays -1.
  CDetectEnergy(int32_t sampleRateHz, int32_t fftSizePoints);

  // Zeroes the band histories, the statistics and the background.
  // Returns 0.
  int32_t ReInit();

  // Stores the band energies of frame t and, from frame 9 on, the statistics
  // of slot t - 9 (carried forward from slot t - 10 when one of frames
  // t - 9 .. t is not usable) and whether that slot is silent.
  //   powerSpectrum [in] BinNum power values of frame t
  //   t             [in] frame index, >= 0
  //   usable        [in] ring of kUsableRingFrames flags, slot = frame mod 30;
  //                      false marks a dead or dual-tone frame
  // Returns -1 while t < 9, else 0.
  int32_t UpdateBandEnergy(const float* powerSpectrum, int32_t t, const bool* usable);

  // Follows the background with statistics slot t - 29 and sets BandThd.
  //   t                  [in] current frame, nothing is done below 29
  //   speechStartSamples [in] start of speech on the line, < 0 while none
  //   voiceCount         [in] voiced frames of the voice detector's window
  void UpdateBackground(int32_t t, int32_t speechStartSamples, int32_t voiceCount);

  // Number of bands (0 .. 4) whose statistics slot `slot` lies above
  // BandThd, or -1 as soon as a band below its threshold looks like
  // background. A silent slot has no band above.
  int32_t CountBandsAbove(int32_t slot) const;

  // The largest CountBandsAbove over slots t - 29 .. t - 9, -1 counting as
  // 0. Returns 0 .. 4.
  int32_t GetActiveBands(int32_t t) const;

  // Checks a candidate start against the spectral variance around the
  // energy peak of the last 30 frames.
  //   t                 [in] current frame
  //   candidateFrame    [in] candidate start frame, < 0 when none
  //   bandVariance      [in] the speech detector's per-band spectral
  //                          variance, [band][frame mod 500]
  //   minGapFrames      [in] frames after the candidate before a peak counts
  // Returns candidateFrame when it holds, else t.
  int32_t ConfirmStart(int32_t t, int32_t candidateFrame,
                       const float (*bandVariance)[kHistoryFrames],
                       int32_t minGapFrames) const;

  // Walks back from firstFrame to the onset of the energy rise, then forward
  // to the first frame above the background. Returns the start frame,
  // never below 0 when firstFrame >= 0.
  int32_t RefineStart(int32_t t, int32_t firstFrame) const;

  // Forgets the speech level of the previous utterance. Returns 0.
  int32_t ResetSpeechLevel();

  // Adds the band energies of frames fromFrame .. toFrame (the first raised
  // to t - 499, the oldest frame still held) to the speech level. An empty
  // range leaves the level unchanged. Returns 0.
  int32_t AccumulateSpeechLevel(int32_t fromFrame, int32_t toFrame, int32_t t);

  // Looks for MaxSilence quiet statistics slots in a row from fromFrame on;
  // a silent slot is quiet whatever its carried statistics.
  //   fromFrame  [in] first frame to examine
  //   voiceFlags [in] the speech detector's voicing ring, slot = frame mod
  //                   500, > 0 means voiced
  //   t          [in] current frame
  // Returns the end frame, or -1 when no end is found yet.
  int32_t FindEnd(int32_t fromFrame, const int16_t* voiceFlags, int32_t t) const;

  int32_t BinNum = 0;                     // spectrum bins, FFT size / 2
  float SpeechLevel[kBandCount] = {};     // mean band energy of the utterance
  float SpeechSum[kBandCount] = {};       // band energy summed over SpeechFrames
  int32_t SpeechFrames = 0;               // frames in SpeechSum
  float BinWidth = 0.0f;                  // Hz per bin, sample rate / FFT size
  int32_t Status = -1;                    // 0 constructed, -1 refused
  float SpreadFactor = 0.0f;              // weight of the background CV in thresholds
  float NoiseLevel[kBandCount] = {};      // background band energy; all 0: not established
  float NoiseCV[kBandCount] = {};         // background coefficient of variation
  int32_t MaxSilence = 0;                 // frames of quiet that end speech, <= 500
  float BandThd[kBandCount] = {};         // current threshold, band energy
  float BandThdCap[kBandCount] = {};      // threshold ceiling; also an absolute loudness
  float BandThdFloor[kBandCount] = {};    // threshold floor
  float BandThdInit[kBandCount] = {};     // threshold while no background is known
  float NoiseFloor = 0.0f;                // smallest background level, band energy
  int32_t BandEdge[kBandCount][2] = {};   // first bin, end bin (excluded)
  float BandEnergy[kBandCount][kHistoryFrames] = {};  // [band][frame mod 500]
  float RecentEnergy[kBandCount][kStatFrames] = {};   // [band][frame mod 10]
  float BandMean[kBandCount][kHistoryFrames] = {};    // [band][slot mod 500]
  float BandCV[kBandCount][kHistoryFrames] = {};      // [band][slot mod 500], divisor-10 deviation / mean
  // [slot mod 500]: none of the slot's 10 frames had power in any band
  // (digital silence; a dead frame's spectrum is all zero). Its statistics
  // are still carried forward for the background, but it counts as quiet:
  // no band is active in it and it ends speech.
  bool SilentSlot[kHistoryFrames] = {};
  int32_t SilentRunFrames = 0;            // powerless frames in a row up to the last one, at most 10

 private:
  // Non-negative ring slot of a frame, also for frames before frame 0.
  static int32_t RingSlot(int32_t frame, int32_t ringLength) {
    const int32_t slot = frame % ringLength;
    return slot < 0 ? slot + ringLength : slot;
  }
  static int32_t HistorySlot(int32_t frame) { return RingSlot(frame, kHistoryFrames); }
  // CountBandsAbove of ring slot s (0 .. 499), with bound[band] =
  // BackgroundBound(band).
  int32_t CountBandsAboveIn(int32_t s, const float* bound) const;

  bool BackgroundEstablished() const;
  // (NoiseCV + 1) x NoiseLevel of a band: the level a background frame stays under.
  float BackgroundBound(int32_t band) const;
  // True when the band energy of frame f exceeds the background bound in some band.
  bool AboveBackgroundInAnyBand(int32_t frame) const;
  void UpdateBackgroundNoSpeech(int32_t band, int32_t current);
  void UpdateBackgroundInSpeech(int32_t band, int32_t current);
  void SetThresholdFromBackground(int32_t band);
};

#endif  // KVD_CLASSIFIERS_DETECT_ENERGY_H
