// Detect: the per-frame loop of online detection.
#include "pipeline/online_detection.h"

#include <cstdint>

#include "classifiers/detect_energy.h"
#include "classifiers/dtmf_check.h"
#include "engine/kvd_api.h"
#include "engine/line_table.h"
#include "enhanced/enhanced_online.h"
#include "kvd/detect_voice.h"
#include "kvd/tprintf.h"
#include "pipeline/frame_front_end.h"
#include "pipeline/frame_trace.h"
#include "pipeline/online_decisions.h"

namespace {

// The first frame whose 30-frame window is complete; earlier frames only
// fill the histories.
constexpr int32_t kFirstDecisionFrame = 29;
constexpr double kSecondsPerHour = 3600.0;

int32_t FailFrameStep(SpeechDetector& detector, const char* message) {
  tprintf7("%s\n", message);
  detector.errorStatus = KVD_ERR_BAD_DATA;
  return KVD_ERR_BAD_DATA;
}

// The stream has reached the last sample position an int32 can report:
// detection of the line ends here; every further call gives -90 until
// KVD_Start begins a new stream.
int32_t EndLongStream(const SpeechDetector& detector) {
  const double hours =
      static_cast<double>(INT32_MAX) / detector.SampleRate / kSecondsPerHour;
  tprintf7("KVD_DetectSpeech error! Line %d has reached sample position %d (%.1f h at %d Hz), "
           "the last one that can be reported; detection ended. Start the line again.\n",
           LineNumberOf(detector), SamplePosition(detector, detector.frameIndex), hours,
           detector.SampleRate);
  return KVD_ERR_BAD_DATA;
}

// KVD_Stop cleared busyFlag: the line is left stopped (idle, not busy).
void LeaveStopped(SpeechDetector& detector) {
  tprintf7("%s\n", "Exit DetectSpeech from outside.\n");
  SetDetectionState(detector, KVD_STATE_IDLE);
  detector.errorStatus = 0;
}

// Front end and key-tone check of frame t; true when the frame is dead.
bool AnalyseSpectrum(SpeechDetector& detector, int32_t t) {
  const int32_t slot = RingSlot(t, kPowerRingFrames);
  // Only FastMode reads a frame's power again, when it feeds the voice
  // detector the frames it skipped; otherwise every frame takes row 0, which
  // then stays in the caches from one frame of the line to the next.
  const int32_t powerRow = detector.FastMode ? slot : 0;
  detector.currentPower = detector.AllFramesBinEnergy + powerRow * detector.binCount;
  const bool dead = IsDeadFrame(detector);
  ComputeSpectrum(detector, dead, t, detector.currentPower, detector.magnitude);
  if (!dead && detector.UseCheckDTMF) {
    detector.isDtmf = CheckDTMF(detector.ToneState(), t, detector.currentPower);
  } else {
    // Not analysed: the tone ring must not keep frame t - 10's verdict.
    detector.isDtmf = false;
    detector.ToneFlag[RingSlot(t, kToneRingFrames)] = false;
  }
  detector.usable[slot] = !dead && !detector.isDtmf;
  return dead;
}

// Front end, key-tone check and per-frame classifier feeding of frame t.
void AnalyseFrame(SpeechDetector& detector, int32_t t) {
  AnalyseSpectrum(detector, t);
  const bool usable = detector.usable[RingSlot(t, kPowerRingFrames)];
  CDetectEnergy& energy = *detector.detectEnergy;
  energy.UpdateBandEnergy(detector.currentPower, t, detector.usable);
  if (detector.FastMode) return;
  const int32_t historySlot = RingSlot(t, kHistoryFrames);
  // The band powers were just summed by the energy detector (its band
  // energy of a usable frame is that sum; an unusable frame's variance is 0).
  for (int32_t band = 0; band < kEnergyBands; ++band)
    detector.bandVariance[band][historySlot] = GetBandVarianceOfPowerSum(
        energy.BandEnergy[band][historySlot], detector.magnitude, energy.BandEdge[band][0],
        energy.BandEdge[band][1], usable);
  detector.detectVoice->UpdateBuf(detector.currentPower, usable);
}

// Voicing and active bands of decision frame t.
void ScoreFrame(SpeechDetector& detector, int32_t t) {
  detector.voiceCount = 0;
  if (detector.FastMode) {
    // The voice detector runs only while a start is possible; frames it does
    // not see are unvoiced rather than whatever was there 500 frames ago.
    detector.voiceFlagsRing[RingSlot(t, kHistoryFrames)] = 0;
  } else {
    detector.voiceCount = detector.detectVoice->DetectVoice();
    CopyVoiceFlags(detector, t);
  }
  detector.detectEnergy->UpdateBackground(t, detector.speechStartSamples, detector.voiceCount);
  detector.energyScore = detector.detectEnergy->GetActiveBands(t);
}

}  // namespace

int32_t Detect(SpeechDetector& detector, const int16_t* samples, int32_t sampleCount,
               int32_t* state, int32_t* start, int32_t* end, int32_t* position, float** block1,
               int32_t* count1, float** block2, int32_t* count2, int32_t reserved) {
  if (detector.errorStatus != 0) {
    tprintf7("%s\n", "Error to begin Detect!\n");
    return detector.errorStatus;
  }
  if (sampleCount < 0) {
    tprintf7("%s\n", "KVD_DetectSpeech error! Error data sent to KVD_DetectSpeech.\n");
    detector.errorStatus = KVD_ERR_BAD_DATA;
    return KVD_ERR_BAD_DATA;
  }
  if (detector.finalEnd >= 0) return 0;

  const SpectrumHandout spectra{block1, count1, block2, count2};
  if (count1 && count2) {
    *count1 = 0;
    *count2 = 0;
  }
  *start = detector.reportedStart;
  *end = detector.reportedEnd;
  *position = SamplePosition(detector, detector.frameIndex);

  detector.newData = samples;
  detector.newDataLength = sampleCount;
  if (GetOneFrame(detector) != 0) return FailFrameStep(detector, "Error in GetOneFrame!");

  while (detector.frameReady && detector.finalEnd < 0) {
    const int32_t t = detector.frameIndex;
    if (detector.busyFlag != 1) {
      LeaveStopped(detector);
      return 0;
    }
    if (FramePosition(detector, t + 1) > INT32_MAX) return EndLongStream(detector);
    if (detector.enhanced != nullptr) {
      const bool dead = AnalyseSpectrum(detector, t);
      // Band energies for the trace only; the decision is the classifier's.
      if (detector.frameTraceHook)
        detector.detectEnergy->UpdateBandEnergy(detector.currentPower, t, detector.usable);
      EnhancedOnlineFrame(detector, t, dead, start, end, spectra);
    } else {
      AnalyseFrame(detector, t);
      if (t >= kFirstDecisionFrame) {
        ScoreFrame(detector, t);
        if (detector.reportedStart == -1) {
          WaitForSpeech(detector, t, start, spectra);
        } else if (detector.reportedEnd == -1) {
          FollowUtterance(detector, t, end, spectra);
        }
      }
    }
    if (detector.frameTraceHook) ReportFrameTrace(detector, t);
    detector.frameIndex = t + 1;
    if (GetOneFrame(detector) != 0)
      return FailFrameStep(detector, t < kFirstDecisionFrame && detector.enhanced == nullptr
                                         ? "KVD data error!\n"
                                         : "Error in GetOneFrame!");
  }
  *state = detector.DetectState;
  *position = SamplePosition(detector, detector.frameIndex);
  return detector.errorStatus;
}
