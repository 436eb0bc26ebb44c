#include "engine_fixtures.h"

#include <fcntl.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <initializer_list>
#include <sstream>
#include <stdexcept>

namespace kvdtest {

TempDir::TempDir() {
  std::string pattern = (std::filesystem::temp_directory_path() / "kvd_test_XXXXXX").string();
  if (mkdtemp(pattern.data()) == nullptr) {
    throw std::runtime_error("cannot create a temporary directory");
  }
  path_ = pattern;
}

TempDir::~TempDir() {
  std::error_code ignored;
  std::filesystem::remove_all(path_, ignored);
}

std::string TempDir::WriteFile(const std::string& name, const std::string& text) const {
  const std::string path = path_ + "/" + name;
  std::ofstream(path, std::ios::binary) << text;
  return path;
}

ShellRun RunShell(const std::string& command) {
  ShellRun run;
  std::FILE* pipe = ::popen(command.c_str(), "r");
  if (pipe == nullptr) return run;
  char buffer[4096];
  size_t got = 0;
  while ((got = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) run.output.append(buffer, got);
  const int status = ::pclose(pipe);
  run.exitStatus = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return run;
}

std::string ReadText(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  std::ostringstream text;
  text << file.rdbuf();
  return text.str();
}

ConfigText& ConfigText::Set(const std::string& key, const std::string& value) {
  const auto entry = std::find_if(entries_.begin(), entries_.end(),
                                  [&](const auto& item) { return item.first == key; });
  if (entry != entries_.end()) entry->second = value;
  if (entry == entries_.end()) entries_.emplace_back(key, value);
  return *this;
}

ConfigText& ConfigText::Remove(const std::string& key) {
  entries_.erase(std::remove_if(entries_.begin(), entries_.end(),
                                [&](const auto& entry) { return entry.first == key; }),
                 entries_.end());
  return *this;
}

std::string ConfigText::Text() const {
  std::string text;
  for (const auto& [key, value] : entries_) text += key + "=" + value + "\n";
  return text;
}

namespace {

// A configuration of these keys and values, in order.
ConfigText Entries(std::initializer_list<std::pair<const char*, const char*>> entries) {
  ConfigText config;
  for (const auto& [key, value] : entries) config.Set(key, value);
  return config;
}

}  // namespace

ConfigText DefaultMainConfig() {
  return Entries({{"SampleRate", "8000"}, {"OpenAllLines", "false"}, {"IsOneSeg", "1"},
                  {"IsOnline", "1"}, {"MinSpeechDuration", "200"}, {"MaxSpeechDuration", "2000"},
                  {"MaxSilence", "60"}, {"MaxWaitFrame", "500"}, {"Sensitivity", "0.5"},
                  {"stRelaxFrames", "10"}, {"edRelaxFrames", "10"}, {"AverageGain", "0"},
                  {"MaxHoldFrame", "80"}, {"FastMode", "0"}, {"UseCheckDTMF", "1"}});
}

ConfigText DefaultOfflineConfig() {
  return Entries({{"ShortSpeechSegEnergyThd", "3"}, {"BackgroundEnergyOffline", "0.5"},
                  {"DetectSpecLowBorder_Hz", "300"}, {"DetectSpecHighBorder_Hz", "3400"},
                  {"CommonSpeechSegLen_sec", "0.25"}, {"ShortSpeechSegLen_sec", "0.1"},
                  {"CommonSpeechSegEnergyThd", "4.5"}, {"ExtendSpeechLen_sec", "0.3"},
                  {"SpeechSegMinVoiceLen_sec", "0.05"}, {"SpeechSegMinVoiceRatio", "0.2"},
                  {"MaxSegNum", "100"}, {"DefaultSpeech", "1"}, {"MinSignalLen", "0.5"},
                  {"BakgroundEnergyRelativeOffline", "0.1"}, {"DelShortSpeechSegLen_sec", "0.1"},
                  {"DelShortSpeechSideNoiseLen_sec", "0.5"}});
}

namespace {

// Every test process logs from a temporary folder of its own: the logging
// facade writes LogClt.cfg and logs/ into the current folder, and test
// processes run in parallel.
struct OwnLogFolder {
  OwnLogFolder() { std::filesystem::current_path(folder.Path()); }
  TempDir folder;
};

const OwnLogFolder ownLogFolder;

}  // namespace

std::string CaptureLog(const std::function<void()>& run) {
  const std::string path = ownLogFolder.folder.Path() + "/captured_output.txt";
  std::fflush(stdout);
  const int saved = dup(STDOUT_FILENO);
  const int file = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  if (saved < 0 || file < 0 || dup2(file, STDOUT_FILENO) < 0) {
    throw std::runtime_error("cannot capture standard output");
  }
  close(file);
  run();
  std::fflush(stdout);
  dup2(saved, STDOUT_FILENO);
  close(saved);
  return ReadText(path);
}

}  // namespace kvdtest
