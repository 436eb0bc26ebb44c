// Construction, release and re-initialisation of one line's detector.
#include "engine/speech_detector.h"

#include <kvd/detect_voice.h>
#include <kvd/tprintf.h>
#include <sys/mman.h>

#include <algorithm>
#include <cstdlib>
#include <new>
#include <type_traits>

#include "classifiers/detect_energy.h"
#include "engine/hamming_window.h"
#include "engine/kvd_api.h"
#include "enhanced/enhanced_line.h"

namespace {

constexpr int32_t kLowestSampleRateHz = 8000;
constexpr int32_t kFrameLengthMs = 25;
constexpr int32_t kFrameShiftMs = 10;
constexpr int32_t kMsPerSecond = 1000;

// The FFT starts at 256 points (order 8) and doubles until a bin is no wider
// than 15.625 Hz (8000 Hz / 512): every rate gets at least that resolution.
constexpr int32_t kSmallestFftSize = 256;
constexpr int kSmallestFftOrder = 8;
constexpr float kInverseSmallestFftSize = 0.00390625f;  // 1 / 256
constexpr float kWidestBinHz = 15.625f;

// Range searched by the voice detector.
constexpr int32_t kLowestPitchHz = 65;
constexpr int32_t kHighestPitchHz = 480;
constexpr int32_t kHighestHarmonicHz = 2000;

template <typename T>
void ReleaseArray(T*& buffer) {
  std::free(buffer);
  buffer = nullptr;
}

// Zero-filled array of count elements (plain numbers), or null when memory
// is short. calloc does not write pages the system hands out zeroed.
template <typename T>
T* AllocateArray(int32_t count) {
  static_assert(std::is_trivially_default_constructible_v<T>, "plain numbers only");
  return static_cast<T*>(std::calloc(static_cast<size_t>(count), sizeof(T)));
}

// The spectrum ring (256 kB, most of a line's memory) is mapped straight
// from the system: its pages are zero and stay untouched until the line
// first writes them, whatever the heap holds, which keeps KVD_Init with 1024
// lines short. calloc gives that only for memory the heap has never used.
constexpr size_t kSpectrumRingBytes = sizeof(float) * kHistoryFrames * kReducedBins;

float* MapSpectrumRing() {
  void* pages = mmap(nullptr, kSpectrumRingBytes, PROT_READ | PROT_WRITE,
                     MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  return pages == MAP_FAILED ? nullptr : static_cast<float*>(pages);
}

void UnmapSpectrumRing(float*& ring) {
  if (ring != nullptr) munmap(ring, kSpectrumRingBytes);
  ring = nullptr;
}

}  // namespace

SpeechDetector::SpeechDetector(int32_t sampleRate) {
  if (sampleRate < kLowestSampleRateHz) {
    tprintf7("KVD_API Cannot process data with so low sample rate.\n");
    errorStatus = KVD_ERR_LOW_SAMPLE_RATE;
    return;
  }

  fftSize = kSmallestFftSize;
  int fftOrder = kSmallestFftOrder;
  binWidthHz = static_cast<float>(sampleRate) * kInverseSmallestFftSize;
  while (binWidthHz > kWidestBinHz) {
    binWidthHz *= 0.5f;
    fftSize *= 2;
    ++fftOrder;
  }
  binCount = fftSize / 2;
  frameLength = sampleRate * kFrameLengthMs / kMsPerSecond;
  frameShift = sampleRate * kFrameShiftMs / kMsPerSecond;

  detectEnergy = new (std::nothrow) CDetectEnergy(sampleRate, fftSize);
  if (detectEnergy == nullptr) {
    tprintf7("Error in Initial of Speech Detector!\n detectEnergy is NULL!\n");
    errorStatus = KVD_ERR_LINE_BUILD;
    return;
  }
  if (detectEnergy->Status != 0) {
    tprintf7("Error in Initial of Speech Detector!\n Error to new detectEnergy!\n");
    errorStatus = KVD_ERR_LINE_BUILD;
    ReleaseBuffers();
    return;
  }
  detectVoice = new (std::nothrow)
      CDetectVoice(sampleRate, fftSize, kLowestPitchHz, kHighestPitchHz, kHighestHarmonicHz);
  if (detectVoice == nullptr) {
    tprintf7("Error in Initial of Speech Detector!\n detectVoice is NULL!\n");
    errorStatus = KVD_ERR_LINE_BUILD;
    ReleaseBuffers();
    return;
  }
  if (detectVoice->Status != 0) {
    tprintf7("Error in Initial of Speech Detector!\n Error to new detectVoice!\n");
    errorStatus = KVD_ERR_LINE_BUILD;
    ReleaseBuffers();
    return;
  }

  SampleRate = sampleRate;

  if (!AllocateBuffers()) {
    errorStatus = KVD_ERR_LINE_BUILD;
    ReleaseBuffers();
    return;
  }

  if (ippsFFTInitAlloc_R_32f(&FFTSpec1, fftOrder, IPP_FFT_DIV_FWD_BY_N, ippAlgHintNone) !=
      ippStsNoErr) {
    tprintf7("Error in New SpeechDetector! Cannot allocate FFTSpec1.\n");
    errorStatus = KVD_ERR_LINE_BUILD;
    FFTSpec1 = nullptr;
    ReleaseBuffers();
    return;
  }

  busyFlag = 0;
}

SpeechDetector::~SpeechDetector() { Free(); }

// Each buffer is zero-filled so that nothing reads an unset value before the
// first frame writes it.
bool SpeechDetector::AllocateBuffers() {
  if ((hamwin = SharedHammingWindow(frameLength)) == nullptr) {
    tprintf7("Cannot allocate memory for hamwin!\n");
    return false;
  }
  if ((ffts = AllocateArray<float>(fftSize)) == nullptr) {
    tprintf7("Cannot allocate memory for ffts!\n");
    return false;
  }
  if ((DataBuffer = AllocateArray<int16_t>(frameLength)) == nullptr) {
    tprintf7("Cannot allocate memory for DataBuffer!\n");
    return false;
  }
  if ((magnitude = AllocateArray<float>(binCount)) == nullptr) {
    return false;
  }
  if ((AllFramesBinEnergy = AllocateArray<float>(kPowerRingFrames * binCount)) == nullptr ||
      (spectrumRing = MapSpectrumRing()) == nullptr) {
    tprintf7("Cannot allocate memory for AllFramesBinEnergy!\n");
    return false;
  }
  return true;
}

void SpeechDetector::ReleaseBuffers() {
  hamwin = nullptr;  // shared, not owned
  ReleaseArray(ffts);
  ReleaseArray(DataBuffer);
  ReleaseArray(AllFramesBinEnergy);
  ReleaseArray(magnitude);
  delete detectEnergy;
  detectEnergy = nullptr;
  delete detectVoice;
  detectVoice = nullptr;
  delete enhanced;
  enhanced = nullptr;
  UnmapSpectrumRing(spectrumRing);
  currentPower = nullptr;
}

bool SpeechDetector::SelectDecisionMode(bool enhancedMode) {
  if (!enhancedMode) {
    delete enhanced;
    enhanced = nullptr;
    return true;
  }
  if (enhanced != nullptr) return true;
  try {
    enhanced = new EnhancedLine(fftSize, SampleRate);
  } catch (const std::bad_alloc&) {
    tprintf7("Cannot allocate memory for the enhanced decision mode!\n");
    enhanced = nullptr;
    return false;
  }
  return true;
}

void SpeechDetector::Free() {
  ReleaseBuffers();
  std::vector<int16_t>().swap(labels);
  std::vector<int16_t>().swap(voiceFlags);
  std::vector<float>().swap(bandVar);
  std::vector<float>().swap(frameEnergy);
  std::vector<int32_t>().swap(segStartList);
  std::vector<int32_t>().swap(segEndList);
  if (FFTSpec1 != nullptr) {
    if (ippsFFTFree_R_32f(FFTSpec1) != ippStsNoErr) {
      tprintf7("Error in free SpeechDetector! Cannot free FFTSpec1.\n");
      errorStatus = KVD_ERR_FFT_RELEASE;
    }
    FFTSpec1 = nullptr;
  }
}

int32_t SpeechDetector::ReInitial() {
  if (errorStatus != 0) {
    tprintf7("%s\n", "Error to begin ReInitial!");
    return errorStatus;
  }
  if (DetectState == KVD_STATE_UNINIT) {
    tprintf7("%s\n", "Error in ReInitial! This line is not open!\n");
    errorStatus = KVD_ERR_NOT_OPEN;
    return errorStatus;
  }
  if (busyFlag == 1) {
    tprintf2("KVD_Start warning! Reinitializing a busy line!");
  }

  if (IsOnline == 1 && IsOneSeg == 1) {
    std::fill(std::begin(ToneFlag), std::end(ToneFlag), false);
    std::fill(std::begin(ToneEnergy), std::end(ToneEnergy), 0.0f);
    std::fill(std::begin(voiceFlagsRing), std::end(voiceFlagsRing), int16_t{0});
    std::fill(spectrumRing, spectrumRing + kHistoryFrames * kReducedBins, 0.0f);
    for (auto& band : bandVariance) {
      std::fill(std::begin(band), std::end(band), 0.0f);
    }

    for (int32_t b = 0; b < kEnergyBands; ++b) {
      detectEnergy->BandThd[b] = detectEnergy->BandThdInit[b];
      detectEnergy->NoiseLevel[b] = 0.0f;
      detectEnergy->NoiseCV[b] = 0.0f;
    }
    if (detectEnergy->ReInit() != 0) {
      tprintf7("%s\n",
               "Error to in ReInitial of Speech Detector!\n Fail to Reinit detectEnergy!\n");
      errorStatus = KVD_ERR_REINIT;
      return errorStatus;
    }

    speechStartSamples = -1;
    finalEnd = -1;
    reportedEnd = -1;
    reportedStart = -1;
    endFrame = -1;
    startFrame = -1;
    runStartFrame = -1;
    energyRun = 0;
    newData = nullptr;
    frameReady = false;
    voiceCount = 0;
    inSpeech = false;
    newDataLength = 0;
    historyLength = 0;
    lastVoiceCheckFrame = -1;
  }

  if (detectVoice->ReInit() != 0) {
    tprintf7("Error to in ReInitial of Speech Detector!\n Fail to Reinit detectVoice!\n");
    errorStatus = KVD_ERR_REINIT;
    return errorStatus;
  }

  if (enhanced != nullptr) enhanced->Reset();
  DetectState = before_speech;
  endFrame = -1;
  startFrame = -1;
  frameIndex = 0;
  return errorStatus;
}
