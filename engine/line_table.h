// The engine-wide table of lines, shared by the line operations and the
// initialisation of the engine.
//
//   slot:    0     1     2    ...  lineCount-1   ...  kMaxLines-1
//          [det] [det] [det]  ...  [det]         (empty)
//
// Invariant: detectors live only in slots below lineCount. lineCount is 0
// before KVD_Init and after KVD_Exit; a failed KVD_Init may leave it set
// over empty slots, and a negative count asked of KVD_Init leaves it
// negative with no lines.
#ifndef KVD_ENGINE_LINE_TABLE_H
#define KVD_ENGINE_LINE_TABLE_H

#include <cstdint>

#include "engine/kvd_api.h"

int32_t LineCount();

// Releases every detector of the table and empties its slot; lineCount is
// not changed.
void FreeEveryLine();

// Releases the lines of an earlier initialisation, sets lineCount to count
// and builds lines 0 .. count-1 at sampleRate, each free and not busy.
// Returns 0, or -94 (with its message) when a line cannot be built; the
// lines built before it are released then.
int32_t BuildLines(int32_t count, int32_t sampleRate);

// The number of the line whose detector this is, -1 when it is in no slot.
int32_t LineNumberOf(const SpeechDetector& detector);

// Calls visit on every line in line order.
template <typename Visit>
void ForEachLine(Visit visit) {
  for (int32_t i = 0; i < LineCount(); ++i) {
    if (SpeechDetector* line = GetLine(i); line != nullptr) {
      visit(*line);
    }
  }
}

#endif  // KVD_ENGINE_LINE_TABLE_H
