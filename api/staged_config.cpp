#include "api/staged_config.h"

#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "api/default_config.h"
#include "engine/standalone_config.h"
#include "kvd/kvd_stream.h"

namespace {
namespace fs = std::filesystem;

bool ReadWholeFile(const fs::path& path, std::string& text) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  std::ostringstream content;
  content << in.rdbuf();
  text = content.str();
  return true;
}

// A fresh private folder under the system's temporary folder, removed with
// everything in it when the object goes.
class ScratchFolder {
 public:
  ScratchFolder() {
    std::error_code error;
    std::string pattern = (fs::temp_directory_path(error) / "kvd-stream-XXXXXX").string();
    if (error) pattern = "/tmp/kvd-stream-XXXXXX";
    if (mkdtemp(pattern.data()) != nullptr) path_ = pattern;
  }
  ~ScratchFolder() {
    std::error_code ignored;
    if (!path_.empty()) fs::remove_all(path_, ignored);
  }
  ScratchFolder(const ScratchFolder&) = delete;
  ScratchFolder& operator=(const ScratchFolder&) = delete;
  const fs::path& path() const { return path_; }

 private:
  fs::path path_;
};

// Writes the mode keys and then mainText as kvd.cfg, companionText as
// kvd_offline.cfg, and configures detector from them.
int32_t ConfigureStaged(SpeechDetector& detector, const std::string& mainText,
                        const std::string& companionText, ModeKeys modes) {
  ScratchFolder folder;
  if (folder.path().empty()) return KVD_STREAM_ERR_CONFIG_FILE;
  const fs::path mainPath = folder.path() / "kvd.cfg";
  {
    std::ofstream main(mainPath, std::ios::binary);
    main << "IsOnline = " << modes.isOnline << "\nIsOneSeg = " << modes.isOneSeg << "\n"
         << mainText << "\n";
    std::ofstream companion(folder.path() / "kvd_offline.cfg", std::ios::binary);
    companion << companionText << "\n";
    if (!main.flush() || !companion.flush()) return KVD_STREAM_ERR_CONFIG_FILE;
  }
  const int32_t result = ConfigureStandaloneDetector(detector, mainPath.c_str());
  return result == 0 ? KVD_STREAM_OK : KVD_STREAM_ERR_CONFIG;
}

// The line with every blank removed, as the engine's reader sees it.
std::string WithoutBlanks(const std::string& line) {
  std::string kept;
  for (const char c : line) {
    if (c != ' ' && c != '\t' && c != '\r') kept += c;
  }
  return kept;
}

// Checks that every non-blank line of text is "key = value" with a key the
// engine knows.
int32_t CheckText(const std::string& text) {
  std::istringstream lines(text);
  std::string line;
  while (std::getline(lines, line)) {
    const std::string compact = WithoutBlanks(line);
    if (compact.empty()) continue;
    const size_t equals = compact.rfind('=');
    if (equals == std::string::npos || equals == 0) return KVD_STREAM_ERR_CONFIG_SYNTAX;
    if (!IsConfigurationKey(compact.substr(0, equals).c_str())) return KVD_STREAM_ERR_UNKNOWN_KEY;
  }
  return KVD_STREAM_OK;
}

}  // namespace

int32_t ConfigureFromFile(SpeechDetector& detector, const char* configPath, ModeKeys modes) {
  if (configPath == nullptr) {
    return ConfigureStaged(detector, kDefaultConfigText, kDefaultConfigText, modes);
  }
  std::error_code error;
  std::string mainText;
  if (!fs::is_regular_file(configPath, error) || !ReadWholeFile(configPath, mainText))
    return KVD_STREAM_ERR_CONFIG_FILE;
  // The companion is read only when the modes need it; the engine then
  // reports a missing one as a configuration error.
  fs::path companionPath = configPath;
  companionPath.replace_filename(companionPath.stem().string() + "_offline.cfg");
  std::string companionText;
  if (fs::is_regular_file(companionPath, error)) ReadWholeFile(companionPath, companionText);
  return ConfigureStaged(detector, mainText, companionText, modes);
}

int32_t ConfigureFromText(SpeechDetector& detector, const char* text, ModeKeys modes) {
  if (text == nullptr) return KVD_STREAM_ERR_NULL_ARGUMENT;
  const int32_t checked = CheckText(text);
  if (checked != KVD_STREAM_OK) return checked;
  // The caller's lines first: the reader takes the first match of a key.
  const std::string merged = std::string(text) + "\n" + kDefaultConfigText;
  return ConfigureStaged(detector, merged, merged, modes);
}
