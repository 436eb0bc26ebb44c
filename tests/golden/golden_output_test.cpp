// End-to-end regression: the engine's outputs on the golden recordings must
// equal, character for character, the data files in tests/golden/data/.
// Each recording runs through the engine in every mode, with configurations
// pinned here, and the outputs are written as text (format in README.md).
// Run with --regenerate to rewrite the data files from the engine as it is.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "engine/kvd_api.h"
#include "engine/speech_detector.h"
#include "engine_fixtures.h"
#include "golden_signals.h"
#include "kvd/detect_voice.h"
#include "pipeline/frame_front_end.h"

namespace kvdtest {
namespace {

// The voice detector rewrites the flags of the 30 frames up to the one it
// decides; a frame's flag is final once 29 later frames are analysed.
constexpr int32_t kUnsettledFrames = 29;
// Offline multi-segment list length, and MaxSegNum; recordings longer than
// kLongRecordingSeconds get the longer list, room for all their segments.
constexpr int32_t kSegmentListEntries = 10;
constexpr int32_t kLongSegmentListEntries = 60;
constexpr int32_t kLongRecordingSeconds = 20;

enum class Mode { kOnline, kOnlineFast, kOfflineOne, kOfflineMulti };

ConfigText Config(std::initializer_list<std::pair<const char*, std::string>> pairs) {
  ConfigText config;
  for (const auto& [key, value] : pairs) config.Set(key, value);
  return config;
}

ConfigText MainConfig(int sampleRate, Mode mode) {
  const bool online = mode == Mode::kOnline || mode == Mode::kOnlineFast;
  const char* oneSegment = mode == Mode::kOfflineMulti ? "0" : "1";
  const char* fast = mode == Mode::kOnlineFast ? "1" : "0";
  return Config({{"SampleRate", std::to_string(sampleRate)}, {"OpenAllLines", "false"},
                 {"IsOneSeg", oneSegment},                   {"IsOnline", online ? "1" : "0"},
                 {"MinSpeechDuration", "1600"},              {"MaxSpeechDuration", "2000"},
                 {"MaxSilence", "60"},                       {"MaxWaitFrame", "300"},
                 {"Sensitivity", "0.5"},                     {"stRelaxFrames", "10"},
                 {"edRelaxFrames", "10"},                    {"AverageGain", "-10"},
                 {"MaxHoldFrame", "80"},                     {"FastMode", fast},
                 {"UseCheckDTMF", "1"}});
}

ConfigText OfflineConfig(int32_t segments) {
  return Config({{"ShortSpeechSegEnergyThd", "10"},       {"BackgroundEnergyOffline", "1"},
                 {"DetectSpecLowBorder_Hz", "200"},       {"DetectSpecHighBorder_Hz", "3400"},
                 {"CommonSpeechSegLen_sec", "0.3"},       {"ShortSpeechSegLen_sec", "0.1"},
                 {"CommonSpeechSegEnergyThd", "3"},       {"ExtendSpeechLen_sec", "0.03"},
                 {"SpeechSegMinVoiceLen_sec", "0.1"},     {"SpeechSegMinVoiceRatio", "0.3"},
                 {"MaxSegNum", std::to_string(segments)}, {"DefaultSpeech", "1"},
                 {"MinSignalLen", "0.5"},                 {"BakgroundEnergyRelativeOffline", "0.1"},
                 {"DelShortSpeechSegLen_sec", "0.1"},     {"DelShortSpeechSideNoiseLen_sec", "0.3"}});
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
  int32_t state = before_speech, start = -1, end = -1, position = 0, settled = 0;
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

int32_t SegmentListEntries(const GoldenRecording& recording) {
  const bool isLong =
      recording.pcm.size() > static_cast<size_t>(kLongRecordingSeconds) * recording.sampleRate;
  return isLong ? kLongSegmentListEntries : kSegmentListEntries;
}

void WriteOffline(std::ostream& out, const GoldenRecording& recording, int32_t line,
                  Mode mode) {
  const int32_t entries = SegmentListEntries(recording);
  const auto count = static_cast<int32_t>(recording.pcm.size());
  int32_t state = -7, processed = -7;
  if (mode == Mode::kOfflineOne) {
    int32_t start = -7, end = -7;
    const int32_t result =
        KVD_DetectSpeech(line, recording.pcm.data(), count, &state, &start, &end, &processed);
    out << result << ' ' << state << ' ' << start << ' ' << end << ' ' << processed << '\n';
    return;
  }
  std::vector<int32_t> starts(static_cast<size_t>(entries), -7);
  std::vector<int32_t> ends(static_cast<size_t>(entries), -7);
  const int32_t result = KVD_DetectSpeech(line, recording.pcm.data(), count, &state,
                                          starts.data(), ends.data(), &processed);
  out << result << ' ' << state << ' ' << processed << '\n';
  for (int32_t i = 0; i < entries; ++i) out << starts[i] << ' ' << ends[i] << '\n';
}

// Writes the configuration files of a mode into dir and opens a line of a
// fresh engine on them; -1 when a step fails (the engine is left to KVD_Exit).
int32_t OpenLine(const TempDir& dir, const GoldenRecording& recording, Mode mode) {
  const std::string path =
      dir.WriteFile("kvd.cfg", MainConfig(recording.sampleRate, mode).Text());
  dir.WriteFile("kvd_offline.cfg", OfflineConfig(SegmentListEntries(recording)).Text());
  int32_t line = -1;
  if (KVD_Init(path.c_str(), 1) != KVD_OK || KVD_Open(&line) != KVD_OK) return -1;
  return line;
}

void WriteMode(std::ostream& out, const GoldenRecording& recording, Mode mode,
               const char* title) {
  out << '[' << title << "]\n";
  TempDir dir;
  const int32_t line = OpenLine(dir, recording, mode);
  if (line < 0 || KVD_Start(line) != KVD_OK) {
    out << "setup failed\n";
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

// FNV-1a, 64 bits, over 16-bit values: a digest of the voice detector's
// whole window after each decision.
struct Digest {
  uint64_t value = 14695981039346656037ull;
  void Add(int16_t v) {
    const auto bits = static_cast<uint16_t>(v);
    for (int shift = 0; shift < 16; shift += 8) {
      value ^= (bits >> shift) & 0xFFu;
      value *= 1099511628211ull;
    }
  }
};

// Frames per line of the voice trace (one second).
constexpr int32_t kTraceBlockFrames = 100;

// Runs the spectra through a stand-alone voice detector, frame by frame
// (forwards with UpdateBuf, or backwards with ReverseUpdateBuf from the last
// frame), deciding once the window is full. One line per block of frames:
// the first frame of the block, the voiced slots summed over its decisions
// and a digest of every pitch of the 30-slot window after each decision.
void WriteVoicePass(std::ostream& out, const SpeechDetector& detector,
                    const std::vector<float>& spectra, const std::vector<bool>& usable,
                    bool backwards) {
  CDetectVoice voice(detector.SampleRate, detector.fftSize, 65, 480, 2000);
  voice.EnergyFloor = detector.detectVoice->EnergyFloor;
  voice.ReInit();
  const auto frames = static_cast<int32_t>(usable.size());
  const int32_t bins = detector.binCount;
  int64_t voicedSum = 0;
  Digest digest;
  for (int32_t n = 0; n < frames; ++n) {
    const int32_t frame = backwards ? frames - 1 - n : n;
    float* power = const_cast<float*>(spectra.data()) + static_cast<size_t>(frame) * bins;
    if (backwards) {
      voice.ReverseUpdateBuf(power, usable[static_cast<size_t>(frame)]);
    } else {
      voice.UpdateBuf(power, usable[static_cast<size_t>(frame)]);
    }
    if (n + 1 >= CDetectVoice::kWindowFrames) {
      voicedSum += voice.DetectVoice();
      for (int16_t pitch : voice.VoicePitch) digest.Add(pitch);
    }
    if ((n + 1) % kTraceBlockFrames == 0 || n + 1 == frames) {
      out << (n / kTraceBlockFrames) * kTraceBlockFrames << ' ' << voicedSum << ' ' << std::hex
          << digest.value << std::dec << '\n';
      voicedSum = 0;
      digest = Digest();
    }
  }
}

// The power spectrum of every frame as the line's front end makes it, and
// whether the frame is usable (not flat), then the voice detector over them
// forwards and backwards.
void WriteVoiceTrace(std::ostream& out, const GoldenRecording& recording) {
  TempDir dir;
  const int32_t line = OpenLine(dir, recording, Mode::kOnline);
  if (line < 0) {
    out << "[voice detector]\nsetup failed\n";
    KVD_Exit();
    return;
  }
  SpeechDetector& detector = *GetLine(line);
  const auto total = static_cast<int32_t>(recording.pcm.size());
  const int32_t frames =
      total < detector.frameLength ? 0 : (total - detector.frameLength) / detector.frameShift + 1;
  std::vector<float> spectra(static_cast<size_t>(frames) * detector.binCount);
  std::vector<float> magnitude(static_cast<size_t>(detector.binCount));
  std::vector<bool> usable(static_cast<size_t>(frames));
  for (int32_t f = 0; f < frames; ++f) {
    const int16_t* samples = recording.pcm.data() + static_cast<size_t>(f) * detector.frameShift;
    for (int32_t i = 0; i < detector.frameLength; ++i)
      detector.ffts[i] = static_cast<float>(samples[i]);
    const bool dead = IsDeadFrame(detector);
    ComputeSpectrum(detector, dead, f, spectra.data() + static_cast<size_t>(f) * detector.binCount,
                    magnitude.data());
    usable[static_cast<size_t>(f)] = !dead;
    // The frame's ring row: the magnitude at every (fftSize / 256)-th bin.
    const float* row = detector.spectrumRing + RingSlot(f, kHistoryFrames) * kReducedBins;
    const int32_t step = detector.fftSize / 256;
    for (int32_t j = 0; j < kReducedBins && !dead; ++j) {
      ASSERT_EQ(row[j], magnitude[static_cast<size_t>(j * step)]) << "frame " << f << " bin " << j;
    }
  }
  // The spectra themselves, bit for bit: a change of one bit of one power
  // value shows even where no decision moves.
  out << "[power spectra]\n";
  for (int32_t first = 0; first < frames; first += kTraceBlockFrames) {
    Digest digest;
    const int32_t last = std::min(frames, first + kTraceBlockFrames);
    for (size_t i = static_cast<size_t>(first) * detector.binCount;
         i < static_cast<size_t>(last) * detector.binCount; ++i) {
      uint32_t bits = 0;
      std::memcpy(&bits, &spectra[i], sizeof(bits));
      digest.Add(static_cast<int16_t>(bits & 0xFFFFu));
      digest.Add(static_cast<int16_t>(bits >> 16));
    }
    out << first << ' ' << std::hex << digest.value << std::dec << '\n';
  }
  out << "[voice detector forwards]\n";
  WriteVoicePass(out, detector, spectra, usable, false);
  out << "[voice detector backwards]\n";
  WriteVoicePass(out, detector, spectra, usable, true);
  KVD_Close(line);
  KVD_Exit();
}

// The text of a golden data file (format in README.md).
std::string GoldenOutputText(const GoldenRecording& recording) {
  std::ostringstream out;
  out << "recording " << recording.name << " rate " << recording.sampleRate << " samples "
      << recording.pcm.size() << '\n';
  WriteMode(out, recording, Mode::kOnline, "online");
  WriteMode(out, recording, Mode::kOnlineFast, "online FastMode");
  WriteMode(out, recording, Mode::kOfflineOne, "offline one segment");
  WriteMode(out, recording, Mode::kOfflineMulti, "offline multi segment");
  WriteVoiceTrace(out, recording);
  return out.str();
}

const std::vector<GoldenRecording>& Recordings() {
  static const std::vector<GoldenRecording> recordings = GoldenRecordings();
  return recordings;
}

std::string DataPath(const GoldenRecording& recording) {
  return std::string(KVD_GOLDEN_DATA_DIR) + "/" + recording.name + ".txt";
}

class GoldenOutput : public testing::TestWithParam<size_t> {};

TEST_P(GoldenOutput, MatchesTheStoredOutputs) {
  const GoldenRecording& recording = Recordings()[GetParam()];
  ASSERT_FALSE(recording.pcm.empty());
  std::ifstream file(DataPath(recording));
  ASSERT_TRUE(file) << "missing " << DataPath(recording);
  std::istringstream actual(GoldenOutputText(recording));
  std::string expected, got;
  for (int n = 1; std::getline(file, expected); ++n) {
    ASSERT_TRUE(std::getline(actual, got)) << "the output ends before line " << n;
    ASSERT_EQ(got, expected) << "first difference at line " << n;
  }
  EXPECT_FALSE(std::getline(actual, got)) << "the output is longer than the stored file";
}

INSTANTIATE_TEST_SUITE_P(Recordings, GoldenOutput, testing::Range<size_t>(0, Recordings().size()),
                         [](const testing::TestParamInfo<size_t>& param) {
                           return Recordings()[param.param].name;
                         });

int Regenerate() {
  for (const GoldenRecording& recording : Recordings()) {
    std::ofstream file(DataPath(recording));
    file << GoldenOutputText(recording);
    if (!file) {
      std::cerr << "cannot write " << DataPath(recording) << '\n';
      return 1;
    }
    std::cout << "wrote " << DataPath(recording) << '\n';
  }
  return 0;
}

}  // namespace
}  // namespace kvdtest

int main(int argc, char** argv) {
  if (argc == 2 && std::strcmp(argv[1], "--regenerate") == 0) return kvdtest::Regenerate();
  testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
