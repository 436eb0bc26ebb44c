#include "tools/kvd/stream_command.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "kvd/kvd_stream.h"
#include "kvd/tprintf.h"
#include "tools/kvd/detect_command.h"
#include "tools/kvd/engine_setup.h"

namespace kvdtool {
namespace {

constexpr int32_t kLowestRateHz = 8000;
constexpr int32_t kLargestChunk = 1 << 20;

// Whole decimal number in [lowest, highest], or false.
bool ParseBounded(const std::string& text, int32_t lowest, int32_t highest, int32_t* value) {
  char* end = nullptr;
  const long parsed = std::strtol(text.c_str(), &end, 10);
  if (text.empty() || *end != '\0' || parsed < lowest || parsed > highest) return false;
  *value = static_cast<int32_t>(parsed);
  return true;
}

bool Finishes(int32_t kind) {
  return kind == KVD_EVENT_SPEECH_END || kind == KVD_EVENT_TOO_LONG ||
         kind == KVD_EVENT_TOO_SHORT;
}

void Print(const StreamOptions& options, int32_t utterance, int32_t kind, int64_t sample,
           std::ostream& out) {
  const int64_t ms = sample * 1000 / options.rate;
  if (options.json) {
    out << "{\"event\":\"" << kvd_event_name(kind) << "\",\"utterance\":" << utterance
        << ",\"sample\":" << sample << ",\"ms\":" << ms << "}";
  } else {
    out << ms << " ms  " << kvd_event_name(kind) << "  (utterance " << utterance << ", sample "
        << sample << ")";
  }
  out << std::endl;  // flushed: a host reacts to each event as it happens
}

}  // namespace

Parsed<StreamOptions> ParseStreamOptions(const std::vector<std::string>& args) {
  Parsed<StreamOptions> parsed;
  StreamOptions& options = parsed.options;
  bool inputGiven = false;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& word = args[i];
    if (word == "-h" || word == "--help") {
      parsed.status = ParseStatus::Help;
      return parsed;
    }
    const bool takesValue =
        word == "--rate" || word == "--config" || word == "--format" || word == "--chunk";
    if (takesValue && i + 1 >= args.size()) {
      parsed.status = ParseStatus::Error;
      parsed.error = word + " needs a value";
      return parsed;
    }
    if (word == "--rate") {
      if (!ParseBounded(args[++i], kLowestRateHz, 384000, &options.rate)) {
        parsed.status = ParseStatus::Error;
        parsed.error = "--rate wants a whole number of Hz from 8000 to 384000";
        return parsed;
      }
    } else if (word == "--config") {
      options.config = args[++i];
    } else if (word == "--format") {
      const std::string& format = args[++i];
      if (format != "text" && format != "json") {
        parsed.status = ParseStatus::Error;
        parsed.error = "--format wants text or json";
        return parsed;
      }
      options.json = format == "json";
    } else if (word == "--chunk") {
      if (!ParseBounded(args[++i], 1, kLargestChunk, &options.chunk)) {
        parsed.status = ParseStatus::Error;
        parsed.error = "--chunk wants a whole number of samples from 1 to 1048576";
        return parsed;
      }
    } else if (word.size() > 1 && word[0] == '-') {
      parsed.status = ParseStatus::Error;
      parsed.error = "unknown option " + word;
      return parsed;
    } else if (inputGiven) {
      parsed.status = ParseStatus::Error;
      parsed.error = "one input at most";
      return parsed;
    } else {
      options.input = word;
      inputGiven = true;
    }
  }
  return parsed;
}

int RunStream(const StreamOptions& options, std::FILE* in, std::ostream& out, std::ostream& err) {
  // Standard output carries events only; the engine logs to its files.
  KES_EnableLogInConsole(false);
  std::string config = options.config.empty() ? DefaultConfigPath() : options.config;
  kvd_stream* stream = nullptr;
  const int32_t opened =
      kvd_stream_open(config.empty() ? nullptr : config.c_str(), options.rate, &stream);
  if (opened != KVD_STREAM_OK) {
    err << "kvd: the engine cannot follow the stream: " << kvd_strerror(opened) << "; "
        << kEngineLogHint << "\n";
    return kExitEngine;
  }
  std::vector<int16_t> chunk(static_cast<size_t>(options.chunk));
  std::vector<unsigned char> bytes(chunk.size() * 2);
  int64_t utteranceBase = 0;  // stream sample where the current utterance's count began
  int64_t fed = 0;            // samples read so far
  int32_t utterance = 1;
  unsigned char carry = 0;  // the first byte of a sample split across reads
  bool carrying = false;
  int status = kExitSuccess;
  for (;;) {
    size_t have = carrying ? 1 : 0;
    if (carrying) bytes[0] = carry;
    const size_t got = std::fread(bytes.data() + have, 1, bytes.size() - have, in);
    have += got;
    if (have < 2 && got == 0) break;
    const size_t samples = have / 2;
    carrying = have % 2 == 1;
    if (carrying) carry = bytes[have - 1];
    for (size_t i = 0; i < samples; ++i)
      chunk[i] = static_cast<int16_t>(bytes[2 * i] | (bytes[2 * i + 1] << 8));
    kvd_event events[8];
    int32_t count = 0;
    const int32_t fedResult = kvd_stream_feed(stream, chunk.data(), static_cast<int32_t>(samples),
                                              events, 8, &count);
    fed += static_cast<int64_t>(samples);
    if (fedResult != KVD_STREAM_OK) {
      err << "kvd: detection failed: " << kvd_strerror(fedResult) << "\n";
      status = kExitFileFailed;
      break;
    }
    bool finished = false;
    for (int32_t e = 0; e < count && e < 8; ++e) {
      Print(options, utterance, events[e].kind, utteranceBase + events[e].sample, out);
      finished = finished || Finishes(events[e].kind);
    }
    if (finished) {
      // Re-arm: the next utterance is counted from the samples after this chunk.
      kvd_stream_reset(stream);
      utteranceBase = fed;
      ++utterance;
    }
    if (got == 0) break;
  }
  if (std::ferror(in)) {
    err << "kvd: reading the input failed: " << std::strerror(errno) << "\n";
    status = kExitFileFailed;
  }
  kvd_stream_free(stream);
  return status;
}

int RunStreamCommand(const StreamOptions& options, std::ostream& out, std::ostream& err) {
  if (options.input == "-") return RunStream(options, stdin, out, err);
  std::FILE* in = std::fopen(options.input.c_str(), "rb");
  if (in == nullptr) {
    err << "kvd: " << options.input << " cannot be opened: " << std::strerror(errno) << "\n";
    return kExitFileFailed;
  }
  const int status = RunStream(options, in, out, err);
  std::fclose(in);
  return status;
}

}  // namespace kvdtool
