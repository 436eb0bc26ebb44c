// Loads the recordings of one GetMuteEnd call into memory before any
// detection starts: a table of entries and one contiguous buffer holding all
// their samples, one recording after another.
//
// A path whose text from its last "." is ".wav" (any letter case) is a
// RIFF/WAVE file: its chunks are walked (entry/riff_wave_image.h) and only
// 16-bit mono PCM at the expected rate is taken, from its data chunk wherever
// that lies. Any other path, also one without a ".", is raw 16-bit signed
// little-endian PCM from its first byte, taken to be at the expected rate.
#ifndef KVD_ENTRY_WAVE_READER_H
#define KVD_ENTRY_WAVE_READER_H

#include <cstdint>

#include "kvd/get_mute_end.h"

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
// standard output. waveRate is the rate in Hz a ".wav" file must have (0:
// any). A failure prints its message (and logs it), leaves the table empty
// and gives one of the KVD_MUTE_END_ codes of kvd/get_mute_end.h: no path,
// a path that does not fit the table, a folder or a file that cannot be
// opened (NO_RECORDING); a ".wav" file that is not 16-bit mono PCM at
// waveRate (BAD_FORMAT); no samples (NO_SAMPLES); more than kMaxTotalSamples
// samples, or a buffer that cannot be had (TOO_LONG).
int32_t ReadWaveList(const char* waveFile, WaveTable& table, int32_t waveRate = 0);

// Releases the entries and the sample buffer; the table is empty afterwards.
void ReleaseWaveTable(WaveTable& table);

#endif  // KVD_ENTRY_WAVE_READER_H
