// Helpers of the online detection tests: a detector started without the
// engine, an engine initialised from a configuration written into a fresh
// temporary directory, and a stream fed through a line in chunks.
#ifndef KVD_TESTS_SUPPORT_ONLINE_FIXTURES_H
#define KVD_TESTS_SUPPORT_ONLINE_FIXTURES_H

#include <cstdint>
#include <initializer_list>
#include <memory>
#include <vector>

#include "engine/speech_detector.h"
#include "engine_fixtures.h"

namespace kvdtest {

// A detector built for sampleRate and started for online detection (state
// before_speech), with the flat-frame range of 0 dB gain (deadRange 10) and
// the other parameters zero.
std::unique_ptr<SpeechDetector> StartedOnlineDetector(int32_t sampleRate = 8000);

// The main configuration of the stream tests: 8000 Hz online, Sensitivity
// 0.5, MaxSilence 80, MaxHoldFrame 100, MaxWaitFrame 500, MinSpeechDuration
// 200 samples, MaxSpeechDuration 2000, no relax frames, key-tone check on,
// FastMode off. AverageGain is -10 dB: the bundled sample's speech lies
// about that far below the level the 0 dB thresholds expect.
ConfigText StreamTestConfig();

// The engine initialised from `config` with `lines` lines for the life of
// the object; KVD_Exit at the end.
class OnlineEngine {
 public:
  explicit OnlineEngine(const ConfigText& config, int32_t lines = 1);
  ~OnlineEngine();

  int32_t InitResult() const { return initResult_; }
  // KVD_Open and KVD_Start; the line number, or -1 when either failed.
  int32_t StartLine();

 private:
  TempDir dir_;
  int32_t initResult_;
};

// What KVD_DetectSpeech reported after one call.
struct CallReport {
  int32_t result;
  int32_t state;
  int32_t start;
  int32_t end;
  int32_t position;
  bool operator==(const CallReport& o) const {
    return result == o.result && state == o.state && start == o.start && end == o.end &&
           position == o.position;
  }
};

// A whole stream: every call's report, and the first position at which each
// state 0 .. 6 was reported, -1 for states never reported.
struct StreamReport {
  std::vector<CallReport> calls;
  int32_t firstSeenAt[7] = {-1, -1, -1, -1, -1, -1, -1};
  const CallReport& Last() const { return calls.back(); }
};

// Feeds pcm through a started line in chunks of `chunk` samples (the last
// one shorter). Each call starts from the values of the call before (state
// 1, positions -1 and 0 before the first), as a caller's variables would: a
// finished line writes nothing.
StreamReport StreamThrough(int32_t line, const std::vector<int16_t>& pcm, int32_t chunk);

// The same through a started line of a fresh engine configured with config.
StreamReport StreamFresh(const ConfigText& config, const std::vector<int16_t>& pcm,
                         int32_t chunk);

// The bundled sample at 8000 Hz (80 samples a frame) and where its speech
// lies, in samples (samples/README.md: 1.55 s to 6.62 s); a start is found
// within 150 ms of it.
std::vector<int16_t> SamplePcm();
constexpr int32_t kShiftSamples8k = 80;
constexpr int32_t kSampleSpeechStart = 1550 * 8;
constexpr int32_t kSampleSpeechEnd = 6620 * 8;
constexpr int32_t kSampleStartTolerance = 150 * 8;

// Key '1' at 8000 Hz: 697 Hz + 1209 Hz, each of the given amplitude.
std::vector<int16_t> KeyOnePcm(double amplitude, int32_t samples);

// The parts one after the other.
std::vector<int16_t> Joined(std::initializer_list<std::vector<int16_t>> parts);

}  // namespace kvdtest

#endif  // KVD_TESTS_SUPPORT_ONLINE_FIXTURES_H
