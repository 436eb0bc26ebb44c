// The decision-frame steps of online detection: waiting for speech, the
// utterance's speech stretches and pauses, and the end decision.
#include "pipeline/online_decisions.h"

#include <algorithm>

#include "classifiers/detect_energy.h"
#include "engine/kvd_api.h"
#include "kvd/detect_voice.h"
#include "pipeline/frame_front_end.h"

namespace {

constexpr int32_t kWindowFrames = CDetectVoice::kWindowFrames;
// Run counters of the utterance start at this many frames: one decision
// frame stands for the whole 30-frame window it looked at.
constexpr int32_t kRunFloorFrames = 30;

// FastMode: feeds the voice detector the frames it has not seen yet (at most
// the last 30) and detects voice over its window.
void RunVoiceDetector(SpeechDetector& detector, int32_t t) {
  const int32_t last = detector.lastVoiceCheckFrame;
  const int32_t first =
      (last != -1 && last > t - kWindowFrames) ? last + 1 : t - (kWindowFrames - 1);
  for (int32_t f = first; f <= t; ++f) {
    const int32_t slot = RingSlot(f, kPowerRingFrames);
    detector.detectVoice->UpdateBuf(detector.AllFramesBinEnergy + slot * detector.binCount,
                                    detector.usable[slot]);
  }
  detector.voiceCount = detector.detectVoice->DetectVoice();
  detector.lastVoiceCheckFrame = t;
  CopyVoiceFlags(detector, t);
}

// Unvoiced frames t, t-1, ... in a row, at most the 500 held and not before
// frame 0.
int32_t UnvoicedFramesBefore(const SpeechDetector& detector, int32_t t) {
  int32_t run = 0;
  for (int32_t f = t; f >= 0 && run < kHistoryFrames; --f, ++run)
    if (detector.voiceFlagsRing[RingSlot(f, kHistoryFrames)] > 0) break;
  return run;
}

void StartUtterance(SpeechDetector& detector, int32_t t, int32_t* start,
                    const SpectrumHandout& spectra) {
  CDetectEnergy& energy = *detector.detectEnergy;
  int32_t startFrame = detector.FastMode
                           ? t
                           : energy.ConfirmStart(t, detector.runStartFrame, detector.bandVariance,
                                                 detector.startRunLength);
  // The first voiced frame of the window that ends at the candidate.
  int32_t firstVoiced = std::max(startFrame - (kWindowFrames - 1), 0);
  while (detector.voiceFlagsRing[RingSlot(firstVoiced, kHistoryFrames)] <= 0 &&
         firstVoiced < startFrame)
    ++firstVoiced;
  startFrame = energy.RefineStart(t, firstVoiced);

  detector.speechStartSamples = SamplePosition(detector, startFrame);
  detector.segStart = startFrame;
  detector.silenceStart = -1;
  detector.inSpeech = true;
  SetDetectionState(detector, in_speech);
  if (spectra.Wanted())
    SendSpectrum(detector, startFrame, t, spectra.block1, spectra.count1, spectra.block2,
                 spectra.count2);
  energy.ResetSpeechLevel();

  startFrame -= detector.stRelaxFrames;
  if (startFrame > t) startFrame = t - 1;
  if (startFrame <= 0) startFrame = 0;
  detector.startFrame = startFrame;
  detector.reportedStart = SamplePosition(detector, startFrame);
  *start = detector.reportedStart;

  detector.lowEnergyRun = 0;
  detector.unvoicedRun = UnvoicedFramesBefore(detector, t);
}

// A speech stretch of the utterance ends where its pause candidate begins.
void EndStretchOnPause(SpeechDetector& detector, int32_t t) {
  const int32_t lowRun = detector.lowEnergyRun;
  const int32_t unvoicedRun = detector.unvoicedRun;
  const int32_t maxSilence = detector.MaxSilence;
  if (lowRun > 0 && unvoicedRun > 0) {
    detector.silenceStart = std::max(t - lowRun, t - unvoicedRun);
  } else if (unvoicedRun >= maxSilence) {
    detector.silenceStart = t - maxSilence;
  } else if (lowRun > maxSilence && detector.energyScore == 0) {
    detector.silenceStart = t - lowRun;
  }
  if (detector.silenceStart > 0 && detector.silenceStart < detector.segStart)
    detector.silenceStart = -1;
  if (detector.silenceStart > 0) {
    detector.detectEnergy->AccumulateSpeechLevel(detector.segStart, detector.silenceStart, t);
    detector.inSpeech = false;
    detector.segStart = -1;
  }
}

// During a pause: speech resumes, or a long enough pause lets FindEnd look.
void FollowPause(SpeechDetector& detector, int32_t t) {
  if (detector.FastMode) detector.voiceCount = detector.voiceThr;
  const int32_t voiced = detector.voiceCount;
  const int32_t active = detector.energyScore;
  if ((voiced >= detector.voiceThr && active >= detector.energyContThr) ||
      (voiced + active > detector.voiceThr + detector.energyContThr && active > 0)) {
    detector.inSpeech = true;
    detector.segStart = t;
    detector.silenceStart = -1;
  }
  if (t >= detector.silenceStart + detector.MaxSilence && detector.segStart < 0)
    detector.endFrame =
        detector.detectEnergy->FindEnd(detector.silenceStart, detector.voiceFlagsRing, t);
}

}  // namespace

void SetDetectionState(SpeechDetector& detector, int32_t next) {
  int32_t seen = detector.DetectState.load();
  if (seen < before_speech) return;  // stopped or closed from outside
  detector.DetectState.compare_exchange_strong(seen, next);
}

void CopyVoiceFlags(SpeechDetector& detector, int32_t t) {
  const int16_t* pitch = detector.detectVoice->VoicePitch;
  // The window's slots run up to the ring's end and go on from slot 0.
  const int32_t first = RingSlot(t - (kWindowFrames - 1), kHistoryFrames);
  const int32_t beforeWrap = std::min(kWindowFrames, kHistoryFrames - first);
  std::copy_n(pitch, beforeWrap, detector.voiceFlagsRing + first);
  std::copy_n(pitch + beforeWrap, kWindowFrames - beforeWrap, detector.voiceFlagsRing);
}

void WaitForSpeech(SpeechDetector& detector, int32_t t, int32_t* start,
                   const SpectrumHandout& spectra) {
  if (detector.energyScore < detector.energyStartThr) {
    detector.energyRun = 0;
  } else {
    detector.energyRun += 1;
    if (detector.energyRun > detector.startRunLength)
      detector.runStartFrame = t - detector.energyRun;
    if (detector.FastMode) RunVoiceDetector(detector, t);
  }
  if (detector.energyScore < detector.energyStartThr || detector.voiceCount < detector.voiceThr) {
    if (t > detector.MaxWaitFrame) SetDetectionState(detector, no_speech);
    return;
  }
  StartUtterance(detector, t, start, spectra);
}

void FollowUtterance(SpeechDetector& detector, int32_t t, int32_t* end,
                     const SpectrumHandout& spectra) {
  if (spectra.Wanted())
    SendSpectrum(detector, t, t, spectra.block1, spectra.count1, spectra.block2, spectra.count2);
  const bool lowEnergy = detector.energyScore < detector.energyContThr;
  detector.lowEnergyRun = lowEnergy ? std::max(detector.lowEnergyRun + 1, kRunFloorFrames) : 0;
  if (detector.FastMode) {
    detector.unvoicedRun = detector.lowEnergyRun;
  } else {
    detector.unvoicedRun =
        detector.voiceCount == 0 ? std::max(detector.unvoicedRun + 1, kRunFloorFrames) : 0;
  }
  if (detector.inSpeech) EndStretchOnPause(detector, t);
  if (!detector.inSpeech) FollowPause(detector, t);
  DecideEnd(detector, t, end);
}

void DecideEnd(SpeechDetector& detector, int32_t t, int32_t* end) {
  const int32_t speechStartFrame = detector.speechStartSamples / detector.frameShift;
  const int32_t reportedStartFrame = detector.reportedStart / detector.frameShift;
  if (detector.endFrame > 0) {
    int32_t endFrame = std::max(detector.endFrame, t - detector.MaxHoldFrame);
    detector.finalEnd = SamplePosition(detector, endFrame);
    const int32_t lengthFrames = endFrame - speechStartFrame;
    if (lengthFrames > detector.MaxSpeechDuration) {
      SetDetectionState(detector, speech_too_long);
      endFrame = speechStartFrame + detector.MaxSpeechDuration;
    } else if (FramePosition(detector, lengthFrames) < detector.MinSpeechDuration) {
      SetDetectionState(detector, speech_too_short);
    } else {
      SetDetectionState(detector, speech_end);
    }
    endFrame = std::max(endFrame, reportedStartFrame + 1);
    endFrame = std::min(endFrame + detector.edRelaxFrames, t - 1);
    detector.endFrame = endFrame;
    detector.reportedEnd = SamplePosition(detector, endFrame);
    *end = detector.reportedEnd;
  } else if (t - speechStartFrame > detector.MaxSilence + detector.MaxSpeechDuration) {
    SetDetectionState(detector, speech_too_long);
    detector.reportedEnd = SamplePosition(detector, reportedStartFrame + detector.MaxSpeechDuration);
    detector.finalEnd = detector.reportedEnd;
    *end = detector.reportedEnd;
  }
}
