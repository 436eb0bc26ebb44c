// The line table and the life cycle of one line: open, start, stop, close,
// parameter read-back, and the release of the whole table at exit.
#include "engine/line_table.h"

#include <kvd/tprintf.h>

#include <algorithm>
#include <array>
#include <mutex>
#include <new>

#include "engine/kvd_api.h"
#include "engine/speech_detector.h"

namespace {

std::array<SpeechDetector*, kMaxLines> lineTable{};
int32_t lineCount = 0;
// Serialises the free-line search of KVD_Open, so that no two callers take
// the same line. KVD_Close frees a line without it: its single atomic write
// of DetectState makes the line available to the next search.
std::mutex lineMutex;

void ReleaseSlot(int32_t index) {
  if (lineTable[index] != nullptr) {
    lineTable[index]->Free();
    delete lineTable[index];
    lineTable[index] = nullptr;
  }
}

}  // namespace

SpeechDetector* GetLine(int32_t line) {
  if (line < 0 || line >= lineCount) {
    return nullptr;
  }
  return lineTable[line];
}

int32_t LineCount() { return lineCount; }

int32_t LineNumberOf(const SpeechDetector& detector) {
  for (int32_t line = 0; line < lineCount && line < kMaxLines; ++line) {
    if (lineTable[line] == &detector) return line;
  }
  return -1;
}

void FreeEveryLine() {
  for (int32_t i = 0; i < kMaxLines; ++i) {
    ReleaseSlot(i);
  }
}

namespace {

// Lines still built when the process exits or a host unloads the library
// (GetMuteEnd leaves the engine initialised after an offline call) are
// released then, not left to the operating system.
struct ReleaseLinesAtUnload {
  ~ReleaseLinesAtUnload() { FreeEveryLine(); }
};
const ReleaseLinesAtUnload releaseLinesAtUnload;

}  // namespace

int32_t BuildLines(int32_t count, int32_t sampleRate) {
  FreeEveryLine();
  lineCount = count;
  for (int32_t i = 0; i < lineCount; ++i) {
    lineTable[i] = new (std::nothrow) SpeechDetector(sampleRate);
    if (lineTable[i] == nullptr || lineTable[i]->errorStatus != 0) {
      tprintf7("\nKVD_Init error in line %d!\n", i);
      FreeEveryLine();
      return KVD_ERR_LINE_BUILD;
    }
    lineTable[i]->busyFlag = 0;
    lineTable[i]->DetectState = KVD_STATE_UNINIT;
  }
  return KVD_OK;
}

int32_t KVD_Exit() {
  if (lineCount < 0 || lineCount > kMaxLines) {
    tprintf2("KVD_Exit warning! %d lines have been used!\n", lineCount);
  }
  int32_t result = KVD_OK;
  for (int32_t i = 0; i < std::min(lineCount, kMaxLines); ++i) {
    if (lineTable[i] == nullptr) {
      tprintf7("Error in KVD_Exit! Line %d is NULL\n", i);
      result = KVD_ERR_BAD_LINE;
      continue;
    }
    if (lineTable[i]->busyFlag == 1) {
      tprintf2("KVD_Exit Warning! Line %d is still active when KVD_Exit\n", i);
      KVD_Close(i);
    }
    ReleaseSlot(i);
  }
  tprintf2("Exit %d lines successful!\n", lineCount);
  lineCount = 0;
  return result;
}

int32_t KVD_Open(int32_t* line) {
  if (line == nullptr) {
    tprintf7("%s\n", "KVD_Open Error! NULL Pointer to open!");
    return KVD_ERR_BAD_LINE;
  }
  std::lock_guard<std::mutex> lock(lineMutex);
  for (int32_t i = 0; i < lineCount; ++i) {
    SpeechDetector* detector = lineTable[i];
    if (detector == nullptr) {
      tprintf7("%s\n", "KVD_Open Error! System is not initialized!");
      return KVD_ERR_NOT_INITIALISED;
    }
    if (detector->DetectState == KVD_STATE_UNINIT) {
      if (detector->busyFlag != 0) {
        tprintf2("KVD_Open warning! Line %d has not been closed correctly!", i);
      }
      *line = i;
      detector->DetectState = KVD_STATE_IDLE;
      detector->busyFlag = 0;
      tprintf2("KVD_Open successful on line %d!\n", i);
      return KVD_OK;
    }
  }
  tprintf7("%s\n", "KVD_Open Error! No free line!");
  return KVD_ERR_NO_FREE_LINE;
}

int32_t KVD_Close(int32_t line) {
  SpeechDetector* detector = GetLine(line);
  if (detector == nullptr) {
    tprintf7("%s\n", "KVD_Close Error! NULL pointer to kvd!");
    return KVD_ERR_BAD_LINE;
  }
  const int32_t state = detector->DetectState;
  if (state == KVD_STATE_UNINIT) {
    tprintf2("KVD_Close warning! Close Line %d when it is not started!\n", line);
  } else if (detector->busyFlag != 0 || state != KVD_STATE_IDLE) {
    tprintf2("KVD_Close warning! Line %d is not idle when it is closed!\n", line);
  }
  detector->DetectState = KVD_STATE_UNINIT;
  return KVD_OK;
}

int32_t KVD_Start(int32_t line) {
  SpeechDetector* detector = GetLine(line);
  if (detector == nullptr) {
    tprintf7("%s\n", "KVD_Start Error! NULL pointer to kvd.\n");
    return KVD_ERR_BAD_LINE;
  }
  if (detector->DetectState == KVD_STATE_UNINIT) {
    tprintf7("%s\n", "KVD_Start Error! The line is not open.\n");
    return KVD_ERR_NOT_OPEN;
  }
  if (detector->busyFlag == 1) {
    tprintf2("KVD_Start Warning! Try to start a busy line of number %d!\n", line);
  }
  const int32_t result = detector->ReInitial();
  if (result != 0) {
    tprintf7("%s\n", "KVD_Start Error! Fail in ReInitialization of detector.\n");
    return result;
  }
  detector->busyFlag = 1;
  return KVD_OK;
}

int32_t KVD_Stop(int32_t line) {
  SpeechDetector* detector = GetLine(line);
  if (detector == nullptr) {
    tprintf7("%s\n", "KVD_Stop Error! NULL pointer to kvd.\n");
    return KVD_ERR_BAD_LINE;
  }
  int32_t state = detector->DetectState;
  if (state == KVD_STATE_UNINIT) {
    tprintf7("KVD_Stop Error! Line %d has not been open!\n", line);
    return KVD_ERR_NOT_OPEN;
  }
  if (state == KVD_STATE_IDLE) {
    tprintf2("KVD_Stop Warning! Line %d is idle already. state=idle.\n", line);
  }
  if (detector->busyFlag == 0) {
    tprintf2("KVD_Stop Warning! Line %d is idle already. flag=idle.\n", line);
  }
  // A stop from another thread may meet the owner's KVD_Close after the test
  // above: a closed line stays free for KVD_Open, never turned back to idle.
  while (!detector->DetectState.compare_exchange_weak(state, KVD_STATE_IDLE)) {
    if (state == KVD_STATE_UNINIT) {
      tprintf7("KVD_Stop Error! Line %d has not been open!\n", line);
      return KVD_ERR_NOT_OPEN;
    }
  }
  detector->busyFlag = 0;
  return KVD_OK;
}

int32_t KVD_GetParameter(int32_t line, const char* name, char* value) {
  // The caller parses the buffer whatever happens: it never keeps old text.
  if (value != nullptr) {
    value[0] = '\0';
  }
  SpeechDetector* detector = GetLine(line);
  if (detector == nullptr) {
    tprintf7("%s\n", "KVD_GetParameter Error! NULL pointer to kvd.\n");
    return KVD_ERR_BAD_LINE;
  }
  if (name == nullptr) {
    tprintf2("%s\n", "KVD_GetParameter warning! paraName is NULL!\n");
    return KVD_OK;
  }
  if (value == nullptr) {
    tprintf2("%s\n", "KVD_GetParameter warning!  Buffer for parameter is NULL!\n");
    return KVD_OK;
  }
  detector->GetParameter(name, value);
  return KVD_OK;
}
