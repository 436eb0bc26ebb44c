// The looped audio that kvd-soak streams into its lines: the bundled recording
// and four synthetic signals, all 16-bit PCM at 8000 Hz.
#ifndef KVD_BENCH_SOAK_AUDIO_H
#define KVD_BENCH_SOAK_AUDIO_H

#include <cstdint>
#include <string>
#include <vector>

namespace kvdsoak {

constexpr int kSoakSampleRateHz = 8000;

enum class SourceKind { kRecorded, kSilence, kNoise, kToneBurst, kKeypad };
constexpr int kSourceKinds = 5;

const char* SourceName(SourceKind kind);

// One loop per source kind, indexed by the kind's value:
//   recorded   the recording at samplePath (a ".wav" loses its 44-byte header)
//   silence    digital zeros, 1 s
//   noise      white noise of amplitude 2000, 10 s
//   tone burst 0.5 s of 1000 Hz at amplitude 6000, then 2.5 s of zeros
//   keypad     the digits 5551234# (100 ms tone, 100 ms gap), then 2 s of zeros
// Empty (with a message on stderr) when the recording cannot be read.
std::vector<std::vector<int16_t>> MakeSourceLoops(const std::string& samplePath);

}  // namespace kvdsoak

#endif  // KVD_BENCH_SOAK_AUDIO_H
