// An engine initialised for offline detection (8000 Hz, one line) from
// configuration files written into a fresh temporary directory, with its
// line opened; exited and removed when it goes out of scope.
#ifndef KVD_TESTS_SUPPORT_OFFLINE_ENGINE_H
#define KVD_TESTS_SUPPORT_OFFLINE_ENGINE_H

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "engine_fixtures.h"

namespace kvdtest {

enum class OfflineMode { kOneSegment, kMultiSegment };

// Companion-file values by key, replacing those of the offline tests'
// companion file: detection band 200 .. 3400 Hz, long runs 0.3 s above 3 x
// the background, short runs 0.1 s above 10 histogram steps, margin
// (ExtendSpeechLen_sec) 0.03 s, voice test 0.1 s or 30 %, at most 10 list
// entries, recordings under 0.5 s default to speech, isolated runs under
// 0.1 s with 0.3 s of noise around them deleted.
using OfflineOverrides = std::map<std::string, std::string>;

// Outputs of one offline call; -7 where the call wrote nothing.
struct OfflineResult {
  int32_t result = -7;
  int32_t state = -7;
  int32_t start = -7;  // single segment
  int32_t end = -7;    // single segment
  int32_t processed = -7;
  std::vector<int32_t> starts;  // multi segment
  std::vector<int32_t> ends;    // multi segment
};

class OfflineEngine {
 public:
  explicit OfflineEngine(OfflineMode mode, const OfflineOverrides& overrides = {});
  ~OfflineEngine();

  int32_t initResult() const { return initResult_; }
  int32_t line() const { return line_; }

  // Starts the line and passes the whole recording to KVD_DetectSpeech (in
  // the mode the engine was configured for); multi segment with lists of
  // listEntries (MaxSegNum) entries.
  OfflineResult Run(const std::vector<int16_t>& pcm, int32_t listEntries = 10);

 private:
  OfflineMode mode_;
  TempDir dir_;
  int32_t initResult_ = -1;
  int32_t line_ = -1;
};

}  // namespace kvdtest

#endif  // KVD_TESTS_SUPPORT_OFFLINE_ENGINE_H
