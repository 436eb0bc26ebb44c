// GetMuteEnd: brings the engine up from kvd.cfg beside the library, loads one
// recording, runs it in the configured mode and reports where the leading
// silence ends, with a time report, on standard output.
#include "kvd/get_mute_end.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>
#include <system_error>
#include <thread>

#include "engine/kvd_api.h"
#include "entry/batch_workers.h"
#include "entry/wave_reader.h"
#include "kvd/tprintf.h"
#include "platform/module_path.h"

namespace {

constexpr int32_t kEngineLines = kOnlineWorkerCount;
// Pause between starting two online workers, and between two looks at their
// finished flags.
constexpr std::chrono::milliseconds kWorkerPollInterval{100};
// Status the process ends with after a failure that GetMuteEnd cannot hand
// back: the host's parent must not read it as success.
constexpr int kFailureExitStatus = EXIT_FAILURE;

[[noreturn]] void EndProcess() { std::exit(kFailureExitStatus); }

struct LocalTime {
  int month = 0;
  int day = 0;
  int hour = 0;
  int minute = 0;
  int second = 0;
  int millisecond = 0;
};

LocalTime NowLocal() {
  const auto now = std::chrono::system_clock::now();
  const std::time_t seconds = std::chrono::system_clock::to_time_t(now);
  const auto sinceEpoch = now.time_since_epoch();
  const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(sinceEpoch) -
                  std::chrono::duration_cast<std::chrono::seconds>(sinceEpoch);
  std::tm calendar{};
  localtime_r(&seconds, &calendar);
  return {calendar.tm_mon + 1, calendar.tm_mday, calendar.tm_hour, calendar.tm_min,
          calendar.tm_sec, static_cast<int>(ms.count())};
}

void PrintTime(const char* label, const LocalTime& t) {
  std::printf("%s%02d/%02d %02d:%02d:%02d.%03d\n", label, t.month, t.day, t.hour, t.minute,
              t.second, t.millisecond);
}

// Text of one parameter of line 0 ("" when the engine writes none).
std::string ReadParameter(const char* name) {
  char value[kConfigLineBytes] = {};
  KVD_GetParameter(0, name, value);
  return value;
}

// A mode switch as kvd.cfg sets it for this call: only the text "0" clears it.
int32_t ModeFlag(const char* name) { return ReadParameter(name) == "0" ? 0 : 1; }

void RunOnlineWorkers(const WaveTable& table) {
  OnlineWorkerSlots slots;  // case indexes and finished flags start at 0
  std::thread workers[kOnlineWorkerCount];
  for (int32_t i = 0; i < kOnlineWorkerCount; ++i) {
    try {
      workers[i] = std::thread([i, &slots, &table] { LineWorkerThread(i, slots, table); });
    } catch (const std::system_error&) {
      std::printf("CreateThread fail! Thread %d error!\n", i);
      slots.finished[i].store(1, std::memory_order_release);  // nothing to wait for
    }
    std::this_thread::sleep_for(kWorkerPollInterval);
  }
  for (bool allFinished = false; !allFinished;) {
    std::this_thread::sleep_for(kWorkerPollInterval);
    allFinished = true;
    for (const auto& flag : slots.finished)
      if (flag.load(std::memory_order_acquire) == 0) allFinished = false;
  }
  // No thread of ours may outlive the call: the host may unload the library.
  for (auto& worker : workers)
    if (worker.joinable()) worker.join();
}

// Offline run on one line: 0, KVD_ERR_LINE_BUILD when no line could be
// opened, KVD_MUTE_END_NO_SPEECH when the single segment is empty.
int32_t RunOffline(int32_t isOneSeg, const WaveTable& table, int32_t sampleRate,
                   int32_t* muteEndSamples, int32_t* muteEndMs) {
  std::printf("NULL SaveCutPcm. Default: Do not save.\n ");
  int32_t line = -1;
  if (KVD_Open(&line) != 0) {
    std::printf("Error open offline detector!\n");
    return KVD_ERR_LINE_BUILD;
  }
  std::printf("Open offline detector successfully!\n");
  int32_t cutResult = 0;
  int32_t result = 0;
  if (isOneSeg != 0) {
    SpeechLimits limits;
    cutResult = OfflineCutOneSeg(line, 0, table, limits);
    std::printf("%d-%d\n", limits.speechStart, limits.speechEnd);
    const int32_t startMs =
        sampleRate == 0 ? 0 : static_cast<int32_t>(int64_t{limits.speechStart} * 1000 / sampleRate);
    if (muteEndSamples != nullptr) *muteEndSamples = sampleRate == 0 ? 0 : limits.speechStart;
    if (muteEndMs != nullptr) *muteEndMs = startMs;
    // The engine marks "no segment" with an end that is not after the start.
    if (cutResult == 0 && limits.speechEnd <= limits.speechStart) {
      std::printf("No speech found in %s.\n", table.entries[0].path);
      tprintf2("No speech found in %s.\n", table.entries[0].path);
      if (muteEndSamples != nullptr) *muteEndSamples = -1;
      if (muteEndMs != nullptr) *muteEndMs = -1;
      result = KVD_MUTE_END_NO_SPEECH;
    }
  } else {
    std::printf("NULL SaveShortPcm. Default: Do not save.\n");
    const int32_t maxSegNum = std::atoi(ReadParameter("MaxSegNum").c_str());
    if (maxSegNum <= 0) {
      std::printf("Error seg_number! Exit.\n");
      EndProcess();
    }
    cutResult = OfflineCutMultiSeg(line, 0, 0, maxSegNum, table);
  }
  if (KVD_Close(line) != 0) {
    std::printf("Error in Close Offline detector! Exit.\n");
    EndProcess();
  }
  if (cutResult != 0) EndProcess();  // the cutter has printed why
  return result;
}

void PrintStatistics(const WaveTable& table, int32_t sampleRate,
                     std::chrono::steady_clock::time_point clockStart) {
  const auto elapsed = std::chrono::steady_clock::now() - clockStart;
  const int32_t elapsedMs =
      static_cast<int32_t>(std::chrono::duration_cast<std::chrono::milliseconds>(elapsed).count());
  const int32_t waveMs =
      sampleRate == 0 ? 0 : static_cast<int32_t>(table.totalSamples * 1000.0 / sampleRate);
  std::printf("%d waves processed.\n", table.entryCount);
  if (table.entryCount <= 0) return;
  std::printf("Total time on VAD is %d(ms).\n", elapsedMs);
  std::printf("Total wave length is %5.0d(ms).\n", waveMs);
  std::printf("Average VAD time is %5.0f(ms).\n", static_cast<double>(elapsedMs) / table.entryCount);
  std::printf("Realtime rate=%5.4f\n",
              waveMs == 0 ? 0.0 : static_cast<double>(elapsedMs) / waveMs);
}

}  // namespace

extern "C" int32_t GetMuteEnd(const char* waveFile, int32_t* muteEndSamples,
                              int32_t* muteEndMs) {
  const std::string moduleDirectory = OwnModuleDirectory();
  if (moduleDirectory.empty() || KVD_Init((moduleDirectory + "/kvd.cfg").c_str(), kEngineLines) != 0) {
    std::printf("Error in Initializing system!\n");
    EndProcess();
  }
  const int32_t isOneSeg = ModeFlag("IsOneSeg");
  const int32_t isOnline = ModeFlag("IsOnLine");
  const int32_t sampleRate = std::atoi(ReadParameter("SampleRate").c_str());

  WaveTable table;
  const int32_t readResult = ReadWaveList(waveFile, table, sampleRate);
  if (readResult != 0) {
    KVD_Exit();  // the reader has printed and logged why
    return readResult;
  }

  const LocalTime beginTime = NowLocal();
  const auto clockStart = std::chrono::steady_clock::now();
  PrintTime("", beginTime);

  bool offlineRan = false;
  int32_t result = 0;
  if (isOnline != 0) {
    if (isOneSeg != 0) {
      RunOnlineWorkers(table);
      if (KVD_Exit() != 0) {
        std::printf("Error in exiting system!\n");
        EndProcess();
      }
    }
  } else {
    result = RunOffline(isOneSeg, table, sampleRate, muteEndSamples, muteEndMs);
    if (result == KVD_ERR_LINE_BUILD) {
      ReleaseWaveTable(table);
      return result;
    }
    offlineRan = true;
  }

  PrintTime("Begin time: ", beginTime);
  PrintTime("End time:   ", NowLocal());
  if (offlineRan) PrintStatistics(table, sampleRate, clockStart);
  ReleaseWaveTable(table);
  return result;
}
