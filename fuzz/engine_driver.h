// Runs audio through one engine line after a successful KVD_Init and checks
// what every detection call reports.
#ifndef KVD_FUZZ_ENGINE_DRIVER_H
#define KVD_FUZZ_ENGINE_DRIVER_H

#include <cstddef>
#include <cstdint>
#include <functional>

namespace kvdfuzz {

// Opens and starts a line, then calls KVD_DetectSpeech once per chunk:
// nextChunk() gives each chunk's length in samples (clipped to what is left);
// an online line streams the chunks, an offline one analyses each chunk as a
// recording of its own. Closes the line at the end. Aborts when a result code
// is not one of the interface's, or when an online call that succeeded
// reports a state, start, end or position that cannot be.
void RunLine(const int16_t* samples, size_t sampleCount, const std::function<size_t()>& nextChunk);

// One second at 8000 Hz: quiet noise, a voiced stretch (150 Hz pitch with
// harmonics), quiet noise; the same every call.
const int16_t* SyntheticUtterance(size_t* sampleCount);

}  // namespace kvdfuzz

#endif  // KVD_FUZZ_ENGINE_DRIVER_H
