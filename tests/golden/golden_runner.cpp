#include "golden_runner.h"

#include <algorithm>
#include <sstream>
#include <vector>

#include "engine/kvd_api.h"
#include "engine/speech_detector.h"
#include "engine_fixtures.h"

namespace kvdtest {

namespace {

// The voice detector rewrites the flags of the 30 frames up to the one it
// decides; a frame's flag is final once 29 later frames are analysed.
constexpr int32_t kUnsettledFrames = 29;
// Offline multi-segment list length, and MaxSegNum.
constexpr int32_t kSegmentListEntries = 10;

enum class Mode { kOnline, kOnlineFast, kOfflineOne, kOfflineMulti };

ConfigText MainConfig(int sampleRate, Mode mode) {
  const bool online = mode == Mode::kOnline || mode == Mode::kOnlineFast;
  ConfigText config;
  config.Set("SampleRate", std::to_string(sampleRate))
      .Set("OpenAllLines", "false")
      .Set("IsOneSeg", mode == Mode::kOfflineMulti ? "0" : "1")
      .Set("IsOnline", online ? "1" : "0")
      .Set("MinSpeechDuration", "1600")
      .Set("MaxSpeechDuration", "2000")
      .Set("MaxSilence", "60")
      .Set("MaxWaitFrame", "300")
      .Set("Sensitivity", "0.5")
      .Set("stRelaxFrames", "10")
      .Set("edRelaxFrames", "10")
      .Set("AverageGain", "-10")
      .Set("MaxHoldFrame", "80")
      .Set("FastMode", mode == Mode::kOnlineFast ? "1" : "0")
      .Set("UseCheckDTMF", "1");
  return config;
}

ConfigText OfflineConfig() {
  ConfigText config;
  config.Set("ShortSpeechSegEnergyThd", "10")
      .Set("BackgroundEnergyOffline", "1")
      .Set("DetectSpecLowBorder_Hz", "200")
      .Set("DetectSpecHighBorder_Hz", "3400")
      .Set("CommonSpeechSegLen_sec", "0.3")
      .Set("ShortSpeechSegLen_sec", "0.1")
      .Set("CommonSpeechSegEnergyThd", "3")
      .Set("ExtendSpeechLen_sec", "0.03")
      .Set("SpeechSegMinVoiceLen_sec", "0.1")
      .Set("SpeechSegMinVoiceRatio", "0.3")
      .Set("MaxSegNum", std::to_string(kSegmentListEntries))
      .Set("DefaultSpeech", "1")
      .Set("MinSignalLen", "0.5")
      .Set("BakgroundEnergyRelativeOffline", "0.1")
      .Set("DelShortSpeechSegLen_sec", "0.1")
      .Set("DelShortSpeechSideNoiseLen_sec", "0.3");
  return config;
}

// Flags of frames [first, last) as the ring holds them: values separated by
// spaces, a run of n >= 2 equal values written "value*n".
void WriteFlags(std::ostream& out, const SpeechDetector& detector, int32_t first, int32_t last) {
  int32_t f = first;
  while (f < last) {
    const int16_t value = detector.voiceFlagsRing[RingSlot(f, kHistoryFrames)];
    int32_t run = 1;
    while (f + run < last &&
           detector.voiceFlagsRing[RingSlot(f + run, kHistoryFrames)] == value)
      ++run;
    out << ' ' << value;
    if (run > 1) out << '*' << run;
    f += run;
  }
}

// The recording in chunks of 30 ms and one sample (never aligned with the
// 10 ms frames): one line per chunk, then the flags of the unsettled tail.
void WriteOnline(std::ostream& out, const GoldenRecording& recording, int32_t line) {
  const int32_t chunk = recording.sampleRate * 3 / 100 + 1;
  const SpeechDetector& detector = *GetLine(line);
  const int32_t shift = detector.frameShift;
  int32_t state = before_speech;
  int32_t start = -1;
  int32_t end = -1;
  int32_t position = 0;
  int32_t settled = 0;
  const auto total = static_cast<int32_t>(recording.pcm.size());
  for (int32_t first = 0; first < total; first += chunk) {
    const int32_t count = std::min(chunk, total - first);
    const int32_t result = KVD_DetectSpeech(line, recording.pcm.data() + first, count, &state,
                                            &start, &end, &position);
    out << result << ' ' << state << ' ' << start << ' ' << end << ' ' << position << " :";
    const int32_t nowSettled = std::max(settled, position / shift - kUnsettledFrames);
    WriteFlags(out, detector, settled, nowSettled);
    settled = nowSettled;
    out << '\n';
  }
  out << "tail :";
  WriteFlags(out, detector, settled, position / shift);
  out << '\n';
}

void WriteOffline(std::ostream& out, const GoldenRecording& recording, int32_t line,
                  Mode mode) {
  const auto count = static_cast<int32_t>(recording.pcm.size());
  int32_t state = -7;
  int32_t processed = -7;
  if (mode == Mode::kOfflineOne) {
    int32_t start = -7;
    int32_t end = -7;
    const int32_t result =
        KVD_DetectSpeech(line, recording.pcm.data(), count, &state, &start, &end, &processed);
    out << result << ' ' << state << ' ' << start << ' ' << end << ' ' << processed << '\n';
    return;
  }
  std::vector<int32_t> starts(kSegmentListEntries, -7);
  std::vector<int32_t> ends(kSegmentListEntries, -7);
  const int32_t result = KVD_DetectSpeech(line, recording.pcm.data(), count, &state,
                                          starts.data(), ends.data(), &processed);
  out << result << ' ' << state << ' ' << processed << '\n';
  for (int32_t i = 0; i < kSegmentListEntries; ++i) out << starts[i] << ' ' << ends[i] << '\n';
}

void WriteMode(std::ostream& out, const GoldenRecording& recording, Mode mode,
               const char* title) {
  TempDir dir;
  const std::string path =
      dir.WriteFile("kvd.cfg", MainConfig(recording.sampleRate, mode).Text());
  dir.WriteFile("kvd_offline.cfg", OfflineConfig().Text());
  out << '[' << title << "]\n";
  int32_t line = -1;
  int32_t result = KVD_Init(path.c_str(), 1);
  if (result == KVD_OK) result = KVD_Open(&line);
  if (result == KVD_OK) result = KVD_Start(line);
  if (result != KVD_OK) {
    out << "setup failed " << result << '\n';
  } else if (mode == Mode::kOnline || mode == Mode::kOnlineFast) {
    WriteOnline(out, recording, line);
  } else {
    WriteOffline(out, recording, line, mode);
  }
  if (line >= 0) {
    KVD_Stop(line);
    KVD_Close(line);
  }
  KVD_Exit();
}

}  // namespace

std::string GoldenOutputText(const GoldenRecording& recording) {
  std::ostringstream out;
  out << "recording " << recording.name << " rate " << recording.sampleRate << " samples "
      << recording.pcm.size() << '\n';
  WriteMode(out, recording, Mode::kOnline, "online");
  WriteMode(out, recording, Mode::kOnlineFast, "online FastMode");
  WriteMode(out, recording, Mode::kOfflineOne, "offline one segment");
  WriteMode(out, recording, Mode::kOfflineMulti, "offline multi segment");
  return out.str();
}

}  // namespace kvdtest
