#include "engine_fixtures.h"

#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
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
  for (auto& entry : entries_) {
    if (entry.first == key) {
      entry.second = value;
      return *this;
    }
  }
  entries_.emplace_back(key, value);
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
  for (const auto& entry : entries_) {
    text += entry.first + "=" + entry.second + "\n";
  }
  return text;
}

ConfigText DefaultMainConfig() {
  ConfigText config;
  config.Set("SampleRate", "8000")
      .Set("OpenAllLines", "false")
      .Set("IsOneSeg", "1")
      .Set("IsOnline", "1")
      .Set("MinSpeechDuration", "200")
      .Set("MaxSpeechDuration", "2000")
      .Set("MaxSilence", "60")
      .Set("MaxWaitFrame", "500")
      .Set("Sensitivity", "0.5")
      .Set("stRelaxFrames", "10")
      .Set("edRelaxFrames", "10")
      .Set("AverageGain", "0")
      .Set("MaxHoldFrame", "80")
      .Set("FastMode", "0")
      .Set("UseCheckDTMF", "1");
  return config;
}

ConfigText DefaultOfflineConfig() {
  ConfigText config;
  config.Set("ShortSpeechSegEnergyThd", "3")
      .Set("BackgroundEnergyOffline", "0.5")
      .Set("DetectSpecLowBorder_Hz", "300")
      .Set("DetectSpecHighBorder_Hz", "3400")
      .Set("CommonSpeechSegLen_sec", "0.25")
      .Set("ShortSpeechSegLen_sec", "0.1")
      .Set("CommonSpeechSegEnergyThd", "4.5")
      .Set("ExtendSpeechLen_sec", "0.3")
      .Set("SpeechSegMinVoiceLen_sec", "0.05")
      .Set("SpeechSegMinVoiceRatio", "0.2")
      .Set("MaxSegNum", "100")
      .Set("DefaultSpeech", "1")
      .Set("MinSignalLen", "0.5")
      .Set("BakgroundEnergyRelativeOffline", "0.1")
      .Set("DelShortSpeechSegLen_sec", "0.1")
      .Set("DelShortSpeechSideNoiseLen_sec", "0.5");
  return config;
}

namespace {

// Every test process logs from a temporary folder of its own: the logging
// facade writes LogClt.cfg and logs/ into the current folder, and test
// processes run in parallel.
class OwnLogFolder {
 public:
  OwnLogFolder() : previous_(std::filesystem::current_path()) {
    std::filesystem::current_path(folder_.Path());
  }
  ~OwnLogFolder() {
    std::error_code ignored;
    std::filesystem::current_path(previous_, ignored);
  }

 private:
  TempDir folder_;
  std::filesystem::path previous_;
};

const OwnLogFolder ownLogFolder;

// Standard output while a capture runs: the saved descriptor and the file
// that receives the output.
int savedStdout = -1;
std::FILE* captureFile = nullptr;

}  // namespace

void BeginLogCapture() {
  std::fflush(stdout);
  captureFile = std::tmpfile();
  savedStdout = dup(STDOUT_FILENO);
  if (captureFile == nullptr || savedStdout < 0 || dup2(fileno(captureFile), STDOUT_FILENO) < 0) {
    throw std::runtime_error("cannot capture standard output");
  }
}

std::string EndLogCapture() {
  std::fflush(stdout);
  dup2(savedStdout, STDOUT_FILENO);
  close(savedStdout);
  savedStdout = -1;
  std::string text;
  std::rewind(captureFile);
  char buffer[4096];
  for (size_t got; (got = std::fread(buffer, 1, sizeof buffer, captureFile)) > 0;) {
    text.append(buffer, got);
  }
  std::fclose(captureFile);
  captureFile = nullptr;
  return text;
}

}  // namespace kvdtest
