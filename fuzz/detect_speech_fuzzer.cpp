// Fuzz target: KVD_DetectSpeech on arbitrary audio fed in arbitrary chunk
// sizes, in the three modes (online, offline single segment, offline
// multi-segment) and both decision modes, with a configuration whose main
// values come from the input too, within their limits and just outside them.
//
// Input layout:
//   kConfigBytes bytes  mode and configuration values (see WriteConfig)
//   kChunkWords words   chunk lengths in samples (little endian, mod 4096),
//                       used in turn
//   1 byte              how often the audio is repeated (1 .. 40), so that a
//                       small input still reaches the decision frames
//   the rest            16-bit little-endian PCM samples
#include <algorithm>
#include <string>
#include <vector>

#include "engine/kvd_api.h"
#include "fuzz/engine_driver.h"
#include "fuzz/fuzz_support.h"

namespace {

constexpr int32_t kChunkWords = 4;
constexpr int32_t kLongestChunk = 4095;
constexpr int32_t kMostRepeats = 40;
// At most 5 s at 8000 Hz per input: the sanitizers make a second of
// detection cost about a tenth of a second.
constexpr size_t kMostSamples = 40000;

// Rates the configuration picks from: usual ones and the two just outside
// the 8000 .. 192000 Hz range.
constexpr int32_t kSampleRates[] = {8000, 8000, 8000, 16000, 11025, 48000, 7999, 192001};

std::string Real(double value) { return std::to_string(value); }
std::string Int(int32_t value) { return std::to_string(value); }

// Writes kvd.cfg and kvd_offline.cfg from the input's first bytes.
void WriteConfig(kvdfuzz::InputReader& in) {
  const int32_t mode = in.InRange(0, 3);  // online, offline single, multi, online+multi
  const int32_t rate = kSampleRates[in.InRange(0, 7)];
  std::string main;
  main += "SampleRate=" + Int(rate) + "\n";
  main += "OpenAllLines=0\n";
  main += std::string("IsOneSeg=") + (mode == 0 || mode == 1 ? "1" : "0") + "\n";
  main += std::string("IsOnline=") + (mode == 0 || mode == 3 ? "1" : "0") + "\n";
  main += "MinSpeechDuration=" + Int(in.InRange(-1, 20000)) + "\n";
  main += "MaxSpeechDuration=" + Int(in.InRange(-1, 400)) + "\n";
  main += "MaxSilence=" + Int(in.InRange(-1, 600)) + "\n";
  main += "MaxWaitFrame=" + Int(in.InRange(-1, 400)) + "\n";
  main += "Sensitivity=" + Real(in.InRange(-10, 110) / 100.0) + "\n";
  main += "stRelaxFrames=" + Int(in.InRange(-1, 100)) + "\n";
  main += "edRelaxFrames=" + Int(in.InRange(-1, 100)) + "\n";
  main += "AverageGain=" + Int(in.InRange(-101, 101)) + "\n";
  main += "MaxHoldFrame=" + Int(in.InRange(-1, 600)) + "\n";
  const int32_t switches = in.Byte();
  main += std::string("FastMode=") + (switches & 1 ? "1" : "0") + "\n";
  main += std::string("UseCheckDTMF=") + (switches & 2 ? "1" : "0") + "\n";
  main += std::string("DecisionMode=") + (switches & 4 ? "enhanced" : "specified") + "\n";
  kvdfuzz::WriteFileOrAbort("kvd.cfg", main.data(), main.size());

  const int32_t nyquist = rate / 2;
  std::string offline;
  offline += "ShortSpeechSegEnergyThd=" + Int(in.InRange(-5, 120)) + "\n";
  offline += "BackgroundEnergyOffline=" + Real(in.InRange(-1, 100) / 10.0) + "\n";
  offline += "DetectSpecLowBorder_Hz=" + Int(in.InRange(-100, nyquist + 100)) + "\n";
  offline += "DetectSpecHighBorder_Hz=" + Int(in.InRange(-100, nyquist + 100)) + "\n";
  offline += "CommonSpeechSegLen_sec=" + Real(in.InRange(-1, 100) / 100.0) + "\n";
  offline += "ShortSpeechSegLen_sec=" + Real(in.InRange(-1, 100) / 100.0) + "\n";
  offline += "CommonSpeechSegEnergyThd=" + Real(in.InRange(-10, 1000) / 10.0) + "\n";
  offline += "ExtendSpeechLen_sec=" + Real(in.InRange(-1, 100) / 100.0) + "\n";
  offline += "SpeechSegMinVoiceLen_sec=" + Real(in.InRange(-1, 100) / 100.0) + "\n";
  offline += "SpeechSegMinVoiceRatio=" + Real(in.InRange(-10, 110) / 100.0) + "\n";
  offline += "MaxSegNum=" + Int(in.InRange(-1, 30)) + "\n";
  offline += "DefaultSpeech=" + Int(in.InRange(0, 1)) + "\n";
  offline += "MinSignalLen=" + Real(in.InRange(-1, 200) / 100.0) + "\n";
  offline += "BakgroundEnergyRelativeOffline=" + Real(in.InRange(-1, 100) / 100.0) + "\n";
  offline += "DelShortSpeechSegLen_sec=" + Real(in.InRange(-1, 100) / 100.0) + "\n";
  offline += "DelShortSpeechSideNoiseLen_sec=" + Real(in.InRange(-1, 100) / 100.0) + "\n";
  kvdfuzz::WriteFileOrAbort("kvd_offline.cfg", offline.data(), offline.size());
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  kvdfuzz::EnterQuietScratchFolder();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  kvdfuzz::InputReader in(data, size);
  WriteConfig(in);
  size_t chunks[kChunkWords];
  for (size_t& chunk : chunks) chunk = in.Word() % (kLongestChunk + 1);
  const int32_t repeats = in.InRange(1, kMostRepeats);

  const size_t clipCount = in.Remaining() / 2;
  std::vector<int16_t> audio;
  for (int32_t r = 0; r < repeats && audio.size() + clipCount <= kMostSamples; ++r) {
    for (size_t i = 0; i < clipCount; ++i) {
      const uint8_t* bytes = in.Rest() + 2 * i;
      audio.push_back(static_cast<int16_t>(bytes[0] | bytes[1] << 8));
    }
  }

  if (KVD_Init("kvd.cfg", 1) == KVD_OK) {
    size_t next = 0;
    kvdfuzz::RunLine(audio.data(), audio.size(),
                     [&]() -> size_t { return chunks[next++ % kChunkWords]; });
  }
  KVD_Exit();
  return 0;
}
