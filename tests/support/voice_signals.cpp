#include "voice_signals.h"

#include <cmath>

#include "platform/ipps.h"

namespace kvdtest {

std::vector<std::vector<float>> PowerFrames(const std::vector<int16_t>& pcm, int sampleRateHz) {
  const int frameSamples = sampleRateHz / 40;  // 25 ms
  const int shiftSamples = sampleRateHz / 100;  // 10 ms
  int fftSize = 256;
  int order = 8;
  for (; static_cast<double>(sampleRateHz) / fftSize > 15.625; fftSize *= 2) ++order;
  const int binCount = fftSize / 2;
  std::vector<std::vector<float>> frames;
  IppsFFTSpec_R_32f* spec = nullptr;
  if (static_cast<int>(pcm.size()) < frameSamples ||
      ippsFFTInitAlloc_R_32f(&spec, order, IPP_FFT_DIV_FWD_BY_N, ippAlgHintNone) != ippStsNoErr) {
    return frames;
  }
  // The engine's Hamming window, which writes 2 pi as 6.28318.
  std::vector<float> window(static_cast<size_t>(frameSamples));
  const float step = static_cast<float>(6.28318 / (frameSamples - 1));
  for (int i = 0; i < frameSamples; ++i)
    window[static_cast<size_t>(i)] = static_cast<float>(0.54 - 0.46 * std::cos(i * double{step}));
  std::vector<float> buffer(static_cast<size_t>(fftSize));
  std::vector<float> magnitude(static_cast<size_t>(binCount));
  const int frameCount = (static_cast<int>(pcm.size()) - frameSamples) / shiftSamples + 1;
  for (int k = 0; k < frameCount; ++k) {
    ippsConvert_16s32f(pcm.data() + static_cast<size_t>(k) * shiftSamples, buffer.data(),
                       frameSamples);
    ippsZero_32f(buffer.data() + frameSamples, fftSize - frameSamples);
    ippsMul_32f_I(window.data(), buffer.data(), frameSamples);
    ippsFFTFwd_RToPerm_32f(buffer.data(), buffer.data(), spec, nullptr);
    ippsMagnitude_32fc(reinterpret_cast<const Ipp32fc*>(buffer.data()), magnitude.data(),
                       binCount);
    std::vector<float> power(static_cast<size_t>(binCount));
    ippsMul_32f(magnitude.data(), magnitude.data(), power.data(), binCount);
    frames.push_back(std::move(power));
  }
  ippsFFTFree_R_32f(spec);
  return frames;
}

}  // namespace kvdtest
