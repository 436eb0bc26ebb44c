// Loads one recording with ReadWaveList and prints what the table holds:
// "result=<r> entries=<n> total=<samples>" then, per entry, "count=<n> first=<sample>".
#include <cstdio>

#include "entry/wave_reader.h"

int main(int argc, char** argv) {
  if (argc != 2) return 2;
  WaveTable table;
  const int32_t result = ReadWaveList(argv[1], table);
  std::printf("result=%d entries=%d total=%d\n", result, table.entryCount, table.totalSamples);
  for (int32_t i = 0; i < table.entryCount; ++i) {
    const WaveEntry& entry = table.entries[i];
    std::printf("count=%d first=%d\n", entry.sampleCount,
                entry.sampleCount > 0 ? entry.samples[0] : 0);
  }
  ReleaseWaveTable(table);
  return 0;
}
