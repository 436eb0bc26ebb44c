// The offline cutters: each recording of the wave table goes to one line in a
// single call; the single-segment cutter keeps the last recording's limits,
// the multi-segment cutter prints every segment. On request the speech is
// written out as raw 16-bit PCM in the current folder.
#include <cstdio>
#include <cstring>
#include <new>

#include "engine/kvd_api.h"
#include "entry/batch_workers.h"

namespace {

const char kOneSegCutFile[] = "test_cut.pcm";
const char kSegmentFileFormat[] = "test_%.3d.pcm";
const char kMultiSegCutFile[] = "testm_cut.pcm";

bool IsBadLine(int32_t line) { return static_cast<uint32_t>(line) > static_cast<uint32_t>(kMaxLines); }

// Samples start .. end - 1 of the entry, when they lie inside it.
bool IsInside(const WaveEntry& entry, int32_t start, int32_t end) {
  return 0 <= start && start <= end && end <= entry.sampleCount;
}

void WriteSamples(std::FILE* file, const WaveEntry& entry, int32_t start, int32_t end) {
  if (!IsInside(entry, start, end)) return;
  std::fwrite(entry.samples + start, sizeof(int16_t), static_cast<size_t>(end - start), file);
}

// Owns the two segment lists of one multi-segment run.
struct SegmentLists {
  explicit SegmentLists(int32_t capacity)
      : starts(new (std::nothrow) int32_t[static_cast<size_t>(capacity)]),
        ends(new (std::nothrow) int32_t[static_cast<size_t>(capacity)]),
        count(capacity) {}
  ~SegmentLists() {
    delete[] starts;
    delete[] ends;
  }
  SegmentLists(const SegmentLists&) = delete;
  SegmentLists& operator=(const SegmentLists&) = delete;

  void Clear() {
    std::memset(starts, 0, sizeof(int32_t) * static_cast<size_t>(count));
    std::memset(ends, 0, sizeof(int32_t) * static_cast<size_t>(count));
  }
  // Segments before the first end below 1, at most the capacity.
  int32_t Used() const {
    int32_t used = 0;
    while (used < count && ends[used] >= 1) ++used;
    return used;
  }

  int32_t* starts;
  int32_t* ends;
  int32_t count;
};

}  // namespace

int32_t OfflineCutOneSeg(int32_t line, int32_t saveCutPcm, const WaveTable& table,
                         SpeechLimits& limits) {
  if (IsBadLine(line)) {
    std::printf("ERROR in VAD_handle %d! Exit.\n", line);
    return -1;
  }
  for (int32_t k = 0; k < table.entryCount; ++k) {
    const WaveEntry& entry = table.entries[k];
    // A recording with no result must not keep the previous one's limits.
    limits = SpeechLimits{};
    if (KVD_Start(line) != 0) {
      std::printf("Error in Start offline detector at case %d. Exit.\n", k);
      return -1;
    }
    std::printf("%.5d %s: ", k, entry.path);
    int32_t state = 0;
    int32_t processed = 0;
    if (KVD_DetectSpeech(line, entry.samples, entry.sampleCount, &state, &limits.speechStart,
                         &limits.speechEnd, &processed) != 0) {
      std::printf("Error in offline detector at %s! Exit.\n", entry.path);
      KVD_Close(line);
      return -1;
    }
    if (saveCutPcm != 0) {
      std::FILE* file = std::fopen(kOneSegCutFile, "wb");
      if (file == nullptr) {
        std::printf("Warning!!Cannot open %s!\n", kOneSegCutFile);
        if (KVD_Stop(line) != 0) {
          std::printf("Error in stopping offline detector at case %d. Exit.\n", k);
          return -1;
        }
        continue;
      }
      WriteSamples(file, entry, limits.speechStart, limits.speechEnd);
      std::fclose(file);
    }
    if (KVD_Stop(line) != 0) {
      std::printf("Error in stop offline detector at case %d. Exit.\n", k);
      return -1;
    }
  }
  return 0;
}

int32_t OfflineCutMultiSeg(int32_t line, int32_t saveCutPcm, int32_t saveShortPcm,
                           int32_t maxSegNum, const WaveTable& table) {
  if (IsBadLine(line)) {
    std::printf("ERROR in VAD_handle %d! Exit.\n", line);
    return -1;
  }
  if (maxSegNum <= 0) {  // a list without room cannot hold the end mark
    std::printf("Error seg_number! Exit.\n");
    return -1;
  }
  SegmentLists segments(maxSegNum);
  if (segments.starts == nullptr || segments.ends == nullptr) {
    std::printf("Error in allocate memory!\n");
    return -1;
  }
  for (int32_t k = 0; k < table.entryCount; ++k) {
    const WaveEntry& entry = table.entries[k];
    if (KVD_Start(line) != 0) {
      std::printf("Error in Start offline detector of case %d\n", k);
      return -1;
    }
    std::printf("%.5d %s: ", k, entry.path);
    segments.Clear();
    int32_t state = 0;
    int32_t processed = 0;
    if (KVD_DetectSpeech(line, entry.samples, entry.sampleCount, &state, segments.starts,
                         segments.ends, &processed) != 0) {
      std::printf("Error in offline detector at %s! Exit.\n", entry.path);
      KVD_Close(line);
      return -1;
    }
    bool stoppedAfterWarning = false;
    const int32_t used = segments.Used();
    for (int32_t j = 0; j < used && !stoppedAfterWarning; ++j) {
      std::printf("%d-%d ", segments.starts[j], segments.ends[j]);
      if (saveShortPcm == 0) continue;
      char fileName[32];
      std::snprintf(fileName, sizeof fileName, kSegmentFileFormat, j);
      std::FILE* file = std::fopen(fileName, "wb");
      if (file == nullptr) {
        std::printf("Warning!!Cannot open %s!\n", fileName);
        stoppedAfterWarning = true;
        break;
      }
      WriteSamples(file, entry, segments.starts[j], segments.ends[j]);
      std::fclose(file);
    }
    if (!stoppedAfterWarning && saveCutPcm != 0) {
      std::FILE* file = std::fopen(kMultiSegCutFile, "wb");
      if (file == nullptr) {
        std::printf("Warning!!Cannot open %s!\n", kMultiSegCutFile);
        stoppedAfterWarning = true;
      } else {
        for (int32_t j = 0; j < used; ++j)
          WriteSamples(file, entry, segments.starts[j], segments.ends[j]);
        std::fclose(file);
      }
    }
    if (stoppedAfterWarning) {
      if (KVD_Stop(line) != 0) {
        std::printf("Error in stopping offline detector at case %d. Exit.\n", k);
        return -1;
      }
      continue;
    }
    std::printf("\n");
    if (KVD_Stop(line) != 0) {
      std::printf("Error in Stop offline detector of case %d\n", k);
      return -1;
    }
  }
  return 0;
}
