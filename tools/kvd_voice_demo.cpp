// kvd-voice-demo <recording.wav|.pcm>
//
// Runs the voice detector CDetectVoice over one recording (8000 Hz, 16-bit
// mono, little endian; a ".wav" file loses its 44-byte header, any other file
// is raw PCM) the way the engine feeds it: 25 ms frames (200 samples) every
// 10 ms (80 samples), Hamming window, zero padded to 512 points, power
// spectrum on the 1/N scale. DetectVoice is called once 30 frames have
// entered and after every frame from then on; a frame's pitch is the
// VoicePitch it holds when it leaves the window (or at the end).
//
// Prints one line per voiced stretch (consecutive frames with a pitch),
//   voiced 1.52 s - 2.31 s, pitch 118 Hz
// from the start of its first frame to the end of its last frame, with the
// median pitch, then a summary line. Exit status 0, or 1 when the file
// cannot be read or is too short for one frame.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "kvd/detect_voice.h"
#include "platform/ipps.h"

namespace {

constexpr int32_t kSampleRateHz = 8000;
constexpr int32_t kFrameSamples = kSampleRateHz * 25 / 1000;  // 25 ms
constexpr int32_t kShiftSamples = kSampleRateHz * 10 / 1000;  // 10 ms
constexpr int32_t kFftOrder = 9;
constexpr int32_t kFftSize = 1 << kFftOrder;  // 512 points, 15.625 Hz per bin
constexpr int32_t kBinCount = kFftSize / 2;
constexpr float kBinWidthHz = static_cast<float>(kSampleRateHz) / kFftSize;
// The detector's arguments as the speech detector passes them.
constexpr int32_t kLowestPitchHz = 65;
constexpr int32_t kHighestPitchHz = 480;
constexpr int32_t kHighestHarmonicHz = 2000;
constexpr size_t kWaveHeaderBytes = 44;
// Hamming window as the engine builds it (2 pi written 6.28318).
constexpr double kWindowTwoPi = 6.28318;

std::vector<int16_t> ReadRecording(const std::string& path, bool& ok) {
  std::ifstream file(path, std::ios::binary);
  ok = static_cast<bool>(file);
  if (!ok) return {};
  std::vector<char> bytes((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
  size_t offset = 0;
  if (path.size() >= 4 && path.compare(path.size() - 4, 4, ".wav") == 0) {
    offset = std::min(bytes.size(), kWaveHeaderBytes);
  }
  std::vector<int16_t> samples((bytes.size() - offset) / 2);
  for (size_t i = 0; i < samples.size(); ++i) {
    const auto low = static_cast<uint8_t>(bytes[offset + 2 * i]);
    const auto high = static_cast<uint8_t>(bytes[offset + 2 * i + 1]);
    samples[i] = static_cast<int16_t>(static_cast<uint16_t>(low | (high << 8)));
  }
  return samples;
}

double FrameStartSec(int32_t frame) {
  return static_cast<double>(frame) * kShiftSamples / kSampleRateHz;
}

double FrameEndSec(int32_t frame) {
  return static_cast<double>(frame * kShiftSamples + kFrameSamples) / kSampleRateHz;
}

int32_t MedianPitchHz(std::vector<int16_t> pitchBins) {
  std::sort(pitchBins.begin(), pitchBins.end());
  const size_t n = pitchBins.size();
  const float medianBins = n % 2 == 1 ? pitchBins[n / 2]
                                      : 0.5f * (pitchBins[n / 2 - 1] + pitchBins[n / 2]);
  return static_cast<int32_t>(std::lround(medianBins * kBinWidthHz));
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: kvd-voice-demo <recording.wav|.pcm> (8000 Hz, 16-bit mono)\n");
    return 1;
  }
  bool ok = false;
  const std::vector<int16_t> pcm = ReadRecording(argv[1], ok);
  if (!ok) {
    std::fprintf(stderr, "kvd-voice-demo: cannot read %s\n", argv[1]);
    return 1;
  }
  if (static_cast<int32_t>(pcm.size()) < kFrameSamples) {
    std::fprintf(stderr, "kvd-voice-demo: %s holds %zu samples, fewer than one frame (%d)\n",
                 argv[1], pcm.size(), kFrameSamples);
    return 1;
  }
  const int32_t frameCount =
      (static_cast<int32_t>(pcm.size()) - kFrameSamples) / kShiftSamples + 1;

  CDetectVoice voice(kSampleRateHz, kFftSize, kLowestPitchHz, kHighestPitchHz, kHighestHarmonicHz);
  if (voice.Status != 0 || voice.ReInit() != 0) {
    std::fprintf(stderr, "kvd-voice-demo: the voice detector could not be built\n");
    return 1;
  }
  IppsFFTSpec_R_32f* spec = nullptr;
  if (ippsFFTInitAlloc_R_32f(&spec, kFftOrder, IPP_FFT_DIV_FWD_BY_N, ippAlgHintNone) !=
      ippStsNoErr) {
    std::fprintf(stderr, "kvd-voice-demo: cannot set up the FFT\n");
    return 1;
  }

  std::vector<float> window(kFrameSamples);
  const float step = static_cast<float>(kWindowTwoPi / (kFrameSamples - 1));
  for (int32_t n = 0; n < kFrameSamples; ++n) {
    window[n] = static_cast<float>(0.54 - 0.46 * std::cos(n * static_cast<double>(step)));
  }
  std::vector<float> buffer(kFftSize);
  std::vector<float> magnitude(kBinCount);
  std::vector<float> power(kBinCount);
  // Final pitch of every frame, in bins; -1 until it leaves the window.
  std::vector<int16_t> framePitch(frameCount, -1);
  const int32_t window30 = CDetectVoice::kWindowFrames;

  for (int32_t t = 0; t < frameCount; ++t) {
    if (t >= window30) {
      framePitch[t - window30] = voice.VoicePitch[0];  // slot 0 leaves now
    }
    const int16_t* frame = pcm.data() + static_cast<size_t>(t) * kShiftSamples;
    ippsConvert_16s32f(frame, buffer.data(), kFrameSamples);
    // A flat frame (every sample equal) carries no signal: not analysed.
    const bool flat = std::all_of(frame, frame + kFrameSamples,
                                  [&](int16_t sample) { return sample == frame[0]; });
    ippsZero_32f(buffer.data() + kFrameSamples, kFftSize - kFrameSamples);
    ippsMul_32f_I(window.data(), buffer.data(), kFrameSamples);
    ippsFFTFwd_RToPerm_32f(buffer.data(), buffer.data(), spec, nullptr);
    ippsMagnitude_32fc(reinterpret_cast<const Ipp32fc*>(buffer.data()), magnitude.data(),
                       kBinCount);
    ippsMul_32f(magnitude.data(), magnitude.data(), power.data(), kBinCount);
    voice.UpdateBuf(power.data(), !flat);
    if (t >= window30 - 1) {
      voice.DetectVoice();
    }
  }
  ippsFFTFree_R_32f(spec);
  if (frameCount >= window30) {
    for (int32_t i = 0; i < window30; ++i) {
      framePitch[frameCount - window30 + i] = voice.VoicePitch[i];
    }
  }

  int32_t voicedFrames = 0;
  int32_t stretches = 0;
  for (int32_t t = 0; t < frameCount;) {
    if (framePitch[t] <= 0) {
      ++t;
      continue;
    }
    const int32_t first = t;
    std::vector<int16_t> pitches;
    while (t < frameCount && framePitch[t] > 0) pitches.push_back(framePitch[t++]);
    const int32_t last = t - 1;
    std::printf("voiced %.2f s - %.2f s, pitch %d Hz\n", FrameStartSec(first), FrameEndSec(last),
                MedianPitchHz(pitches));
    voicedFrames += last - first + 1;
    ++stretches;
  }
  std::printf("%d frames (%.2f s), %d voiced in %d stretches\n", frameCount,
              static_cast<double>(pcm.size()) / kSampleRateHz, voicedFrames, stretches);
  return 0;
}
