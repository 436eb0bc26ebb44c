#include "tools/kvd/options.h"

#include <cerrno>
#include <cstdlib>
#include <initializer_list>
#include <limits>
#include <utility>

#include "engine/kvd_api.h"

namespace kvdtool {
namespace {

// Walks the words of a command line; "--name=value" and "--name value" are
// the same option.
class ArgumentCursor {
 public:
  explicit ArgumentCursor(const std::vector<std::string>& args) : args_(args) {}

  bool Done() const { return index_ >= args_.size(); }

  // The next word; for "--name=value" only "--name" (the value is kept for
  // Value()).
  std::string Next() {
    std::string word = args_[index_++];
    inlineValue_.clear();
    hasInlineValue_ = false;
    const size_t equals = word.find('=');
    if (word.rfind("--", 0) == 0 && equals != std::string::npos) {
      inlineValue_ = word.substr(equals + 1);
      hasInlineValue_ = true;
      word.resize(equals);
    }
    return word;
  }

  // The value of option name, or false (with error set) when there is none.
  bool Value(const std::string& name, std::string& value, std::string& error) {
    if (hasInlineValue_) {
      value = inlineValue_;
      hasInlineValue_ = false;
      return true;
    }
    if (Done()) {
      error = "option " + name + " needs a value";
      return false;
    }
    value = args_[index_++];
    return true;
  }

  bool HasStrayValue() const { return hasInlineValue_; }

 private:
  const std::vector<std::string>& args_;
  size_t index_ = 0;
  std::string inlineValue_;
  bool hasInlineValue_ = false;
};

// A whole decimal number from 1 to highest.
bool ParsePositive(const std::string& name, const std::string& text, int64_t highest,
                   int32_t& value, std::string& error) {
  char* stop = nullptr;
  errno = 0;
  const long long number = std::strtoll(text.c_str(), &stop, 10);
  if (text.empty() || *stop != '\0' || errno == ERANGE) {
    error = "option " + name + " needs a whole number, not \"" + text + "\"";
    return false;
  }
  if (number < 1 || number > highest) {
    error = "option " + name + " must be between 1 and " + std::to_string(highest) + ", not " +
            text;
    return false;
  }
  value = static_cast<int32_t>(number);
  return true;
}

// One of the named choices; what names the option in the message.
template <typename Value>
bool ParseChoice(const std::string& text, const char* what,
                 std::initializer_list<std::pair<const char*, Value>> choices, Value& value,
                 std::string& error) {
  std::string names;
  size_t index = 0;
  for (const auto& choice : choices) {
    if (text == choice.first) {
      value = choice.second;
      return true;
    }
    names += std::string(index == 0 ? "" : index + 1 == choices.size() ? " or " : ", ") + choice.first;
    ++index;
  }
  error = std::string("unknown ") + what + " \"" + text + "\" (" + names + ")";
  return false;
}

bool ParseMode(const std::string& text, Mode& mode, std::string& error) {
  return ParseChoice(text, "mode",
                     {{"online", Mode::Online}, {"offline", Mode::Offline}, {"multi", Mode::Multi}},
                     mode, error);
}

bool ParseDetector(const std::string& text, Detector& detector, std::string& error) {
  return ParseChoice(text, "detector",
                     {{"specified", Detector::Specified}, {"enhanced", Detector::Enhanced}},
                     detector, error);
}

bool ParseFormat(const std::string& text, Format& format, std::string& error) {
  return ParseChoice(text, "format",
                     {{"text", Format::Text}, {"json", Format::Json}, {"csv", Format::Csv},
                      {"labels", Format::Labels}},
                     format, error);
}

constexpr int64_t kInt32Max = std::numeric_limits<int32_t>::max();

// What an option parser made of one option word.
enum class OptionResult { NotMine, Taken, Refused };

OptionResult Taken(bool accepted) { return accepted ? OptionResult::Taken : OptionResult::Refused; }

// The options both commands know.
OptionResult ParseEngineOption(const std::string& name, ArgumentCursor& cursor,
                               EngineOptions& options, std::string& error) {
  if (name != "--mode" && name != "--config" && name != "--chunk" && name != "--rate" &&
      name != "--detector")
    return OptionResult::NotMine;
  std::string value;
  if (!cursor.Value(name, value, error)) return OptionResult::Refused;
  if (name == "--mode") return Taken(ParseMode(value, options.mode, error));
  if (name == "--detector") return Taken(ParseDetector(value, options.detector, error));
  if (name == "--chunk") return Taken(ParsePositive(name, value, kInt32Max, options.chunk, error));
  if (name == "--rate") return Taken(ParsePositive(name, value, kInt32Max, options.rawRate, error));
  if (value.empty()) error = "option --config needs a file name";
  options.config = value;
  return Taken(!value.empty());
}

template <typename Options>
Parsed<Options> Refuse(Parsed<Options> parsed, const std::string& error) {
  parsed.status = ParseStatus::Error;
  parsed.error = error;
  return parsed;
}

// Parses args with the shared options and those of one command
// (commandOption, like ParseEngineOption); other words go to addFile.
template <typename Options, typename CommandOption, typename AddFile>
Parsed<Options> ParseCommand(const std::vector<std::string>& args, CommandOption commandOption,
                             AddFile addFile) {
  Parsed<Options> parsed;
  ArgumentCursor cursor(args);
  bool optionsEnded = false;
  std::string error;
  while (!cursor.Done() && error.empty()) {
    const std::string word = cursor.Next();
    if (optionsEnded || word.size() < 2 || word[0] != '-') {
      addFile(word, parsed.options, error);
    } else if (word == "--") {
      optionsEnded = true;
    } else if (word == "-h" || word == "--help") {
      if (cursor.HasStrayValue()) {
        error = "option " + word + " takes no value";
      } else {
        parsed.status = ParseStatus::Help;
        return parsed;
      }
    } else {
      OptionResult result = ParseEngineOption(word, cursor, parsed.options.engine, error);
      if (result == OptionResult::NotMine)
        result = commandOption(word, cursor, parsed.options, error);
      if (result == OptionResult::NotMine) error = "unknown option " + word;
      if (error.empty() && cursor.HasStrayValue()) error = "option " + word + " takes no value";
    }
  }
  return error.empty() ? parsed : Refuse(parsed, error);
}

}  // namespace

Parsed<DetectOptions> ParseDetectOptions(const std::vector<std::string>& args) {
  auto commandOption = [](const std::string& name, ArgumentCursor& cursor, DetectOptions& options,
                          std::string& error) {
    if (name != "--jobs" && name != "--format") return OptionResult::NotMine;
    std::string value;
    if (!cursor.Value(name, value, error)) return OptionResult::Refused;
    if (name == "--jobs") return Taken(ParsePositive(name, value, kMaxLines, options.jobs, error));
    return Taken(ParseFormat(value, options.format, error));
  };
  auto addFile = [](const std::string& word, DetectOptions& options, std::string&) {
    options.files.push_back(word);
  };
  Parsed<DetectOptions> parsed = ParseCommand<DetectOptions>(args, commandOption, addFile);
  if (parsed.status != ParseStatus::Run) return parsed;
  if (parsed.options.files.empty()) return Refuse(parsed, "no recording given");
  if (parsed.options.format == Format::Labels && parsed.options.files.size() > 1)
    return Refuse(parsed, "--format labels writes the label track of one recording; give one file");
  return parsed;
}

Parsed<TraceOptions> ParseTraceOptions(const std::vector<std::string>& args) {
  auto commandOption = [](const std::string& name, ArgumentCursor& cursor, TraceOptions& options,
                          std::string& error) {
    if (name != "--svg" && name != "--csv") return OptionResult::NotMine;
    std::string& path = name == "--svg" ? options.svgPath : options.csvPath;
    if (!cursor.Value(name, path, error)) return OptionResult::Refused;
    if (path.empty()) error = "option " + name + " needs a file name";
    return Taken(!path.empty());
  };
  auto addFile = [](const std::string& word, TraceOptions& options, std::string& error) {
    if (options.file.empty()) options.file = word;
    else error = "kvd trace draws one recording; \"" + word + "\" is one too many";
  };
  Parsed<TraceOptions> parsed = ParseCommand<TraceOptions>(args, commandOption, addFile);
  if (parsed.status != ParseStatus::Run) return parsed;
  if (parsed.options.file.empty()) return Refuse(parsed, "no recording given");
  if (parsed.options.svgPath.empty() && parsed.options.csvPath.empty())
    return Refuse(parsed, "nothing to write: give --svg FILE and/or --csv FILE");
  return parsed;
}

const char* ModeName(Mode mode) {
  switch (mode) {
    case Mode::Online: return "online";
    case Mode::Offline: return "offline";
    case Mode::Multi: return "multi";
    case Mode::FromConfig: break;
  }
  return "configured";
}

}  // namespace kvdtool
