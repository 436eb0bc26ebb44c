// The analysis window of the front end, shared by every line.
#ifndef KVD_ENGINE_HAMMING_WINDOW_H
#define KVD_ENGINE_HAMMING_WINDOW_H

#include <cstdint>

// The Hamming window of frameLength samples: one read-only copy for all the
// lines of that length, made when the first of them asks and kept for the
// life of the process (a few kB for all the rates the engine takes, so that
// 1024 lines do not each hold and load their own). nullptr when frameLength
// is below 2 or the memory cannot be had. Safe to call from any thread.
const float* SharedHammingWindow(int32_t frameLength);

#endif  // KVD_ENGINE_HAMMING_WINDOW_H
