// Loads the recordings of one GetMuteEnd call into memory before any
// detection starts: a table of entries and one contiguous buffer holding all
// their samples, one recording after another.
//
// A path whose text from its last "." is ".wav" (any letter case) is a
// canonical wave file: its 44-byte header is skipped unread. Any other path,
// also one without a ".", is raw 16-bit signed little-endian PCM from its
// first byte. Neither header nor data is examined for rate or channels: the
// engine's SampleRate turns samples into time.
#ifndef KVD_ENTRY_WAVE_READER_H
#define KVD_ENTRY_WAVE_READER_H

#include <cstdint>

// Longest recording path the table holds, in characters (without the
// terminator).
constexpr int32_t kMaxWavePathChars = 255;
// Cap on the samples of all recordings together: the buffer stays at or below
// 1,000,000,000 bytes.
constexpr int32_t kMaxTotalSamples = 500000000;

struct WaveEntry {
  char path[kMaxWavePathChars + 1] = {};  // as passed to GetMuteEnd
  int32_t sampleCount = 0;                // 16-bit samples after any header
  const int16_t* samples = nullptr;       // first sample, inside the shared buffer
};

struct WaveTable {
  int32_t entryCount = 0;
  WaveEntry* entries = nullptr;     // owned, entryCount entries
  int32_t totalSamples = 0;         // sum of the entries' sample counts
  int16_t* sampleBuffer = nullptr;  // owned, totalSamples samples
};

// Fills table from waveFile (one recording) and gives 0. Prints its progress on
// standard output. Every failure ends the process with a non-zero status after
// its message: a path that does not fit the table, a file that cannot be
// opened, a buffer that cannot be had. A recording that would take the total
// above kMaxTotalSamples is dropped (the table then has no entry).
int32_t ReadWaveList(const char* waveFile, WaveTable& table);

// Releases the entries and the sample buffer; the table is empty afterwards.
void ReleaseWaveTable(WaveTable& table);

#endif  // KVD_ENTRY_WAVE_READER_H
