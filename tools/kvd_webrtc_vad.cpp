// kvd-webrtc-vad [--likelihood 0..3] [--rate R] FILE...
//
// Runs WebRTC's voice-activity detector, the peer we compare our detector
// with, over each recording and prints one JSON line per file:
//
//   {"file":"a.wav","rate":8000,"frame_ms":10,"flags":"0001110"}
//
// with one character per complete 10 ms frame, 1 where the peer finds voice
// (a last partial frame is left out). A file is 16-bit mono PCM: a RIFF/WAVE
// file gives its own rate; any other file is raw little-endian PCM at
// --rate R. Rates: 8000, 16000, 32000, 48000 Hz. --likelihood is WebRTC's
// setting (0 very low .. 3 high; default 1, the module's own default).
// A file that cannot be used gives {"file":"...","error":"..."}; the exit
// status is then 1, as for bad arguments (a message on standard error).
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "peer/riff_wave.h"
#include "peer/webrtc_vad_peer.h"

namespace {

constexpr int kFrameMs = 10;
constexpr int kDefaultLikelihood = 1;

struct Options {
  int likelihood = kDefaultLikelihood;
  int rawRate = 0;  // Hz; 0 when not given
  std::vector<std::string> files;
};

// The whole text of arg as a decimal integer, or false.
bool ParseInt(const char* arg, int& value) {
  try {
    size_t used = 0;
    value = std::stoi(arg, &used);
    return arg[used] == '\0';
  } catch (const std::exception&) {
    return false;
  }
}

bool ParseOptions(int argc, char** argv, Options& options, std::string& error) {
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--likelihood" || arg == "--rate") {
      int value = 0;
      if (i + 1 >= argc || !ParseInt(argv[++i], value)) {
        error = arg + " needs a number";
        return false;
      }
      if (arg == "--likelihood") {
        if (value < 0 || value > 3) {
          error = "--likelihood must be 0, 1, 2 or 3";
          return false;
        }
        options.likelihood = value;
      } else {
        if (!kvdpeer::WebRtcVadPeer::IsSupportedRate(value)) {
          error = "--rate " + std::to_string(value) +
                  ": supported rates are 8000, 16000, 32000 and 48000 Hz";
          return false;
        }
        options.rawRate = value;
      }
    } else if (arg.rfind("--", 0) == 0) {
      error = "unknown option " + arg;
      return false;
    } else {
      options.files.push_back(arg);
    }
  }
  if (options.files.empty()) error = "no file given";
  return !options.files.empty();
}

std::string JsonString(const std::string& text) {
  std::string quoted = "\"";
  for (const char c : text) {
    const auto code = static_cast<unsigned char>(c);
    if (c == '"' || c == '\\') {
      quoted += '\\';
      quoted += c;
    } else if (code < 0x20) {
      char escaped[8];
      std::snprintf(escaped, sizeof escaped, "\\u%04x", code);
      quoted += escaped;
    } else {
      quoted += c;
    }
  }
  return quoted + '"';
}

bool LoadRecording(const std::string& path, int rawRate, kvdpeer::MonoPcm& pcm,
                   std::string& error) {
  std::ifstream file(path, std::ios::binary);
  if (!file) {
    error = "cannot open the file";
    return false;
  }
  const std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(file)),
                                   std::istreambuf_iterator<char>());
  if (kvdpeer::IsRiffWave(bytes)) {
    if (!kvdpeer::ReadRiffWave(bytes, pcm, error)) return false;
    if (rawRate != 0 && rawRate != pcm.sampleRate) {
      error = "the file says " + std::to_string(pcm.sampleRate) + " Hz, --rate says " +
              std::to_string(rawRate);
      return false;
    }
    return true;
  }
  if (rawRate == 0) {
    error = "not a RIFF/WAVE file; raw PCM needs --rate";
    return false;
  }
  pcm.sampleRate = rawRate;
  pcm.samples = kvdpeer::RawPcmSamples(bytes.data(), bytes.size());
  return true;
}

// One character per complete frame, '1' for voice.
bool VoiceFlags(const kvdpeer::MonoPcm& pcm, int likelihood, std::string& flags,
                std::string& error) {
  const auto peer = kvdpeer::WebRtcVadPeer::Create(pcm.sampleRate, likelihood, &error);
  if (!peer) return false;
  const size_t frame = static_cast<size_t>(peer->FrameSamples());
  for (size_t first = 0; first + frame <= pcm.samples.size(); first += frame) {
    const std::optional<bool> voice = peer->HasVoice(pcm.samples.data() + first);
    if (!voice) {
      error = "WebRTC rejected frame " + std::to_string(first / frame);
      return false;
    }
    flags += *voice ? '1' : '0';
  }
  return true;
}

// Prints the file's line; false when the file gave an error.
bool ReportFile(const std::string& path, const Options& options) {
  kvdpeer::MonoPcm pcm;
  std::string flags;
  std::string error;
  if (!LoadRecording(path, options.rawRate, pcm, error) ||
      !VoiceFlags(pcm, options.likelihood, flags, error)) {
    std::printf("{\"file\":%s,\"error\":%s}\n", JsonString(path).c_str(),
                JsonString(error).c_str());
    return false;
  }
  std::printf("{\"file\":%s,\"rate\":%d,\"frame_ms\":%d,\"flags\":\"%s\"}\n",
              JsonString(path).c_str(), pcm.sampleRate, kFrameMs, flags.c_str());
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  Options options;
  std::string error;
  if (!ParseOptions(argc, argv, options, error)) {
    std::fprintf(stderr, "kvd-webrtc-vad: %s\nusage: kvd-webrtc-vad [--likelihood 0..3] "
                         "[--rate 8000|16000|32000|48000] FILE...\n",
                 error.c_str());
    return 1;
  }
  bool allGood = true;
  for (const std::string& path : options.files) allGood = ReportFile(path, options) && allGood;
  return allGood ? 0 : 1;
}
