#include "fuzz/engine_driver.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "engine/kvd_api.h"
#include "engine/speech_detector.h"

namespace kvdfuzz {

namespace {

// Calls per line at most, so that chunks of 0 samples cannot loop for ever.
constexpr int32_t kMaxCalls = 4000;
// What the out-arguments hold before a call.
constexpr int32_t kUnwritten = -7;

[[noreturn]] void Impossible(const char* what, int32_t value) {
  std::fprintf(stderr, "kvd fuzz: %s (%d)\n", what, value);
  std::abort();
}

bool KnownResult(int32_t result) {
  return result == KVD_OK || (result >= KVD_ERR_NO_FREE_LINE && result <= KVD_ERR_OFFLINE);
}

// A streamed line's outputs after a call that succeeded.
void CheckOnlineReport(int32_t state, int32_t start, int32_t end, int32_t position,
                       int32_t previousPosition) {
  if (state < KVD_STATE_IDLE || state > speech_too_short) Impossible("state", state);
  if (position < previousPosition) Impossible("position went back", position);
  if (start < -1 || start > position) Impossible("start", start);
  if (end < -1 || end > position) Impossible("end", end);
  if (end >= 0 && end < start) Impossible("end before start", end);
}

}  // namespace

void RunLine(const int16_t* samples, size_t sampleCount, const std::function<size_t()>& nextChunk) {
  int32_t line = -1;
  int32_t result = KVD_Open(&line);
  if (!KnownResult(result)) Impossible("KVD_Open", result);
  if (result != KVD_OK) return;
  result = KVD_Start(line);
  if (!KnownResult(result)) Impossible("KVD_Start", result);
  const SpeechDetector& detector = *GetLine(line);
  const bool online = detector.IsOnline == 1 && detector.IsOneSeg == 1;
  // The multi-segment mode writes MaxSegNum starts and ends.
  const size_t listLength = detector.IsOneSeg == 1 ? 1 : std::max(detector.MaxSegNum, 1);
  std::vector<int32_t> starts(listLength), ends(listLength);
  int32_t lastPosition = 0;
  size_t offset = 0;
  for (int32_t call = 0; call < kMaxCalls && result == KVD_OK; ++call) {
    const size_t chunk = std::min(nextChunk(), sampleCount - offset);
    int32_t state = kUnwritten, position = kUnwritten;
    starts[0] = ends[0] = kUnwritten;
    result = KVD_DetectSpeech(line, samples + offset, static_cast<int32_t>(chunk), &state,
                              starts.data(), ends.data(), &position);
    if (!KnownResult(result)) Impossible("KVD_DetectSpeech", result);
    // A finished online line writes nothing.
    if (result == KVD_OK && online && state != kUnwritten) {
      CheckOnlineReport(state, starts[0], ends[0], position, lastPosition);
      lastPosition = position;
    }
    if (offset == sampleCount) break;  // that call had no samples left
    offset += chunk;
  }
  KVD_Stop(line);
  KVD_Close(line);
}

const int16_t* SyntheticUtterance(size_t* sampleCount) {
  static const std::vector<int16_t> utterance = [] {
    constexpr int kRate = 8000;
    std::vector<int16_t> samples(kRate);
    uint32_t noise = 12345;
    for (int i = 0; i < kRate; ++i) {
      noise = noise * 1103515245u + 12345u;
      double value = static_cast<int32_t>(noise >> 16 & 0xff) - 128;  // about -42 dBFS
      if (i >= 3 * kRate / 10 && i < 8 * kRate / 10) {
        for (int harmonic = 1; harmonic <= 12; ++harmonic)
          value += 2000.0 / harmonic * std::sin(2 * M_PI * 150.0 * harmonic * i / kRate);
      }
      samples[i] = static_cast<int16_t>(value);
    }
    return samples;
  }();
  *sampleCount = utterance.size();
  return utterance.data();
}

}  // namespace kvdfuzz
