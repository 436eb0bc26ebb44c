// One line of the engine: everything one audio stream needs, so that lines
// never share state. The record owns the sample and spectrum buffers of the
// frame front end, the FFT specification, the analysis window, the two frame
// classifiers, the parameter block, the line state and the working state of
// online and offline detection.
//
// Life cycle: constructed by KVD_Init (all buffers allocated once), ReInitial
// at every KVD_Start (no allocation), Free and delete at KVD_Exit. A non-zero
// errorStatus is permanent: ReInitial, SetParameter, GetParameter and the
// detection operations refuse to work and return it.
//
// Units: frames are 10 ms analysis steps; bins are FFT bins of binWidthHz;
// positions handed to callers are sample indices of the line's stream.
//
// Rings, indexed by frame number modulo their length (never negative):
//   spectrumRing, voiceFlagsRing, bandVariance   kHistoryFrames (500)
//   AllFramesBinEnergy rows, usable              kPowerRingFrames (30)
//   ToneFlag, TonePeak, ToneEnergy               kToneRingFrames (10)
#ifndef KVD_ENGINE_SPEECH_DETECTOR_H
#define KVD_ENGINE_SPEECH_DETECTOR_H

#include <atomic>
#include <cstdint>
#include <vector>

#include "classifiers/dtmf_check.h"
#include "platform/ipps.h"

class CDetectEnergy;
class CDetectVoice;
class EnhancedLine;
struct FrameTrace;

// Frames of the long histories: 5 s of 10 ms frames.
constexpr int32_t kHistoryFrames = 500;
// Frames of the power-spectrum ring: the voice detector's window.
constexpr int32_t kPowerRingFrames = 30;
// Magnitudes kept per frame in spectrumRing, spanning 0 Hz to just below
// half the sample rate whatever the FFT size.
constexpr int32_t kReducedBins = 128;
// Bands of the energy detector (four octaves below 4000 Hz).
constexpr int32_t kEnergyBands = 4;
// Bins of the offline energy histogram.
constexpr int32_t kHistogramBins = 100;

// Frame index modulo a ring length, never negative (frames before frame 0
// land in the ring's last slots instead of before its start).
inline int32_t RingSlot(int32_t frame, int32_t ringLength) {
  const int32_t slot = frame % ringLength;
  return slot < 0 ? slot + ringLength : slot;
}

class SpeechDetector {
 public:
  // [in] sampleRate in Hz; success leaves errorStatus 0, failure -99 (below
  // 8000 Hz) or -94 (a classifier, buffer or the FFT specification could not
  // be created) with nothing allocated.
  explicit SpeechDetector(int32_t sampleRate);
  ~SpeechDetector();
  SpeechDetector(const SpeechDetector&) = delete;
  SpeechDetector& operator=(const SpeechDetector&) = delete;

  // Releases everything the object owns and nulls the pointers; safe after a
  // failed construction and when called twice. A failed release of the FFT
  // specification is recorded as errorStatus -91.
  void Free();

  // Prepares the line for a new run (KVD_Start). Returns 0, errorStatus when
  // already broken, -96 when the line is not open (kept for good) or -93
  // when a classifier fails to re-initialise.
  int32_t ReInitial();

  // Sets one parameter from its configuration text; only in the states
  // KVD_STATE_UNINIT and KVD_STATE_IDLE. Returns errorStatus (0 when healthy).
  int32_t SetParameter(const char* paramName, const char* paramValue);

  // Writes the text of one parameter into paramValue (at least
  // kConfigLineBytes bytes); paramValue is emptied on every path that writes
  // no value. Returns errorStatus.
  int32_t GetParameter(const char* paramName, char* paramValue);

  // Chooses the decision mode: enhanced builds the line's EnhancedLine
  // (once), specified releases it. False, with the mode left specified and a
  // message, when memory runs out.
  bool SelectDecisionMode(bool enhancedMode);

  // Sets the absolute energy levels and the start thresholds from
  // Sensitivity (at 0 dB gain).
  void ApplySensitivity();
  // Scales the absolute energy levels by the AverageGain (dB) and sets
  // deadRange.
  void ApplyAverageGain();

  // --- front end buffers and geometry ---
  float* spectrumRing = nullptr;     // owned [kHistoryFrames * kReducedBins], row = frame mod 500
  int32_t frameLength = 0;           // samples per 25 ms frame
  int32_t fftSize = 0;               // transform length, power of two
  int32_t frameShift = 0;            // samples between frame starts (10 ms)
  int32_t binCount = 0;              // fftSize / 2
  float binWidthHz = 0.0f;           // Hz per bin: SampleRate / fftSize
  int16_t* DataBuffer = nullptr;     // owned [frameLength]: samples kept between calls
  const float* hamwin = nullptr;     // shared [frameLength]: analysis window
  bool frameReady = false;           // the last frame request produced a frame
  int32_t frameIndex = 0;            // index of the current frame
  int32_t frameCount = 0;            // offline: frames of the whole signal
  const int16_t* newData = nullptr;  // caller's samples not yet consumed (not owned)
  int32_t newDataLength = 0;         // samples at newData
  int32_t historyLength = 0;         // valid samples in DataBuffer
  float* ffts = nullptr;             // owned [fftSize]: frame, then its transform
  IppsFFTSpec_R_32f* FFTSpec1 = nullptr;  // owned real-FFT plan, forward scaled by 1/fftSize
  float* currentPower = nullptr;  // row of AllFramesBinEnergy of the current frame (not owned)
  float* magnitude = nullptr;     // owned [binCount]: magnitude spectrum of the current frame
  float* AllFramesBinEnergy = nullptr;  // owned [kPowerRingFrames * binCount], row = frame mod 30
  int32_t lastVoiceCheckFrame = -1;     // FastMode: last frame fed to the voice detector
  bool usable[kPowerRingFrames] = {};   // frame neither flat nor a dual tone, slot = frame mod 30

  // --- dual-tone check rings, slot = frame mod 10 ---
  bool ToneFlag[kToneRingFrames] = {};
  int32_t TonePeak[kToneRingFrames][2] = {};  // bins of the two peak groups
  float ToneEnergy[kToneRingFrames] = {};
  // The dual-tone check's view of the rings above.
  ToneCheckState ToneState() {
    return {binCount, binWidthHz, ToneFlag, TonePeak, ToneEnergy};
  }
  bool isDtmf = false;  // dual-tone verdict of the current frame

  // --- offline analysis (arrays live for one offline call) ---
  float floorValue = 0.0f;          // background energy level
  float maxEnergy = 0.0f;           // largest mean energy of a 60-frame window
  std::vector<int16_t> labels;      // per frame: > 0 speech candidate, < 0 noise reason
  std::vector<int16_t> voiceFlags;  // per frame: voicing (> 0 voiced)
  std::vector<float> bandVar;       // per frame: spectral variance of the detection band
  std::vector<float> frameEnergy;   // per frame: detection-band energy
  // Kept by the energy pass for the later passes, which would transform the
  // same frames again, when they fit a bound (pipeline/offline_shared.cpp);
  // empty otherwise: every frame's power spectrum (binCount values each,
  // frame after frame) and detection-band variance.
  std::vector<float> framePowers;
  std::vector<float> frameBandVar;
  float hist[kHistogramBins] = {};  // energy histogram, then relative frequencies

  // --- online histories, slot = frame mod 500 ---
  int16_t voiceFlagsRing[kHistoryFrames] = {};
  float bandVariance[kEnergyBands][kHistoryFrames] = {};

  // --- modes ---
  int32_t IsOneSeg = 0;    // 1: one segment; 0: offline multi-segment
  int32_t IsOnline = 0;    // 1: streaming; 0: offline
  int32_t SampleRate = 0;  // Hz

  // --- parameter block (configuration; durations in frames unless noted) ---
  int32_t voiceThr = 0;           // voiced frames of 30 needed for a start
  int32_t MinSpeechDuration = 0;  // compared in samples
  int32_t MaxSpeechDuration = 0;
  int32_t MaxSilence = 0;  // at most kHistoryFrames
  int32_t MaxWaitFrame = 0;
  int32_t energyStartThr = 0;  // active bands needed to start
  int32_t energyContThr = 0;   // active bands needed to continue
  float Sensitivity = 0.0f;    // 0.04 .. 0.99
  float deadRange = 0.0f;      // peak-to-peak amplitude of a flat frame
  float AverageGain = 0.0f;    // dB
  int32_t stRelaxFrames = 0;
  int32_t edRelaxFrames = 0;
  int32_t MaxHoldFrame = 0;  // at least MaxSilence
  bool FastMode = false;
  bool UseCheckDTMF = false;
  int32_t startRunLength = 0;
  int32_t MinSignalLen = 0;
  int32_t DefaultSpeech = 0;
  int32_t MaxSegNum = 0;
  int32_t ShortSpeechSegEnergyThd = 0;  // multiple of the histogram step
  int32_t CommonSpeechSegLen_sec = 0;
  int32_t ShortSpeechSegLen_sec = 0;
  float BackgroundEnergyOffline = 0.0f;
  float BakgroundEnergyRelativeOffline = 0.0f;
  int32_t DetectSpecLowBorder_Hz = 0;     // bin
  int32_t DetectSpecHighBorder_Hz = 0;    // bin, excluded
  float CommonSpeechSegEnergyThd = 0.0f;  // multiple of floorValue
  int32_t ExtendSpeechLen_sec = 0;
  int32_t SpeechSegMinVoiceLen_sec = 0;
  float SpeechSegMinVoiceRatio = 0.0f;
  int32_t DelShortSpeechSegLen_sec = 0;
  int32_t DelShortSpeechSideNoiseLen_sec = 0;

  // --- line state ---
  // Written by KVD_Close and KVD_Stop from other threads; a single atomic
  // value.
  std::atomic<int32_t> DetectState{-1};
  // 0 healthy, else the first failure (permanent). Written by the line's own
  // calls and read by KVD_GetParameter from any thread: a single atomic value.
  std::atomic<int32_t> errorStatus{0};
  CDetectVoice* detectVoice = nullptr;    // owned
  CDetectEnergy* detectEnergy = nullptr;  // owned
  // owned; set while the configuration selects the enhanced decision mode,
  // which then decides instead of the two classifiers above
  EnhancedLine* enhanced = nullptr;
  // 1 while started; cleared by KVD_Stop from any thread and read by
  // detection once per frame; a single atomic value.
  std::atomic<int32_t> busyFlag{0};

  // --- online detection state (frames unless named Samples) ---
  int32_t speechStartSamples = -1;
  int32_t finalEnd = -1;       // samples; >= 0 once the utterance is finished
  int32_t reportedStart = -1;  // samples
  int32_t reportedEnd = -1;    // samples
  int32_t lowEnergyRun = 0;
  int32_t unvoicedRun = 0;
  int32_t startFrame = -1;
  int32_t endFrame = -1;
  int32_t runStartFrame = -1;
  int32_t energyRun = 0;
  int32_t segStart = -1;
  int32_t silenceStart = -1;
  int32_t voiceCount = 0;
  int32_t energyScore = 0;
  bool inSpeech = false;

  // --- per-frame trace of online detection (pipeline/frame_trace.h); off when null ---
  void (*frameTraceHook)(void* user, const FrameTrace& frame) = nullptr;
  void* frameTraceUser = nullptr;  // handed to the hook, not owned

  // --- offline multi-segment results, MaxSegNum entries, samples ---
  std::vector<int32_t> segStartList;
  std::vector<int32_t> segEndList;

 private:
  // Allocates the six owned buffers; false (with its message) on the first
  // that cannot be allocated.
  bool AllocateBuffers();
  // Frees the owned buffers and deletes the classifiers.
  void ReleaseBuffers();
};

#endif  // KVD_ENGINE_SPEECH_DETECTOR_H
