// Inputs of the benchmarks: configuration files in a temporary folder, and
// speech-like and silent recordings made on the spot.
#ifndef KVD_BENCH_BENCH_SUPPORT_H
#define KVD_BENCH_BENCH_SUPPORT_H

#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace kvdbench {

// Key/value overrides of the benchmark configuration.
using Settings = std::map<std::string, std::string>;

// kvd.cfg and kvd_offline.cfg written into a fresh temporary folder, removed
// with the object. The main file runs at sampleRate, online, one segment,
// with utterances allowed to last an hour so that a line never finishes.
class BenchConfig {
 public:
  BenchConfig(int sampleRate, const Settings& mainOverrides);
  ~BenchConfig();
  BenchConfig(const BenchConfig&) = delete;
  BenchConfig& operator=(const BenchConfig&) = delete;

  const std::string& MainPath() const { return mainPath_; }

 private:
  std::string dir_;
  std::string mainPath_;
  std::string offlinePath_;
};

// seconds of speech-like sound: harmonic vowels with a gliding pitch, 0.6 s
// each with 0.2 s pauses, over faint white noise.
std::vector<int16_t> SpeechRecording(int sampleRate, int seconds);

// seconds of faint white noise only.
std::vector<int16_t> SilentRecording(int sampleRate, int seconds);

// Resident memory of this process in bytes (/proc/self/statm), 0 if unknown.
int64_t ResidentBytes();

}  // namespace kvdbench

#endif  // KVD_BENCH_BENCH_SUPPORT_H
