// Helpers of the engine tests: configuration files written into a fresh
// temporary directory, and capture of the engine's messages.
#ifndef KVD_TESTS_SUPPORT_ENGINE_FIXTURES_H
#define KVD_TESTS_SUPPORT_ENGINE_FIXTURES_H

#include <functional>
#include <string>
#include <utility>
#include <vector>

namespace kvdtest {

// A directory made for one test and removed with everything in it.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  const std::string& Path() const { return path_; }
  // Writes text into the file name of this directory; returns its path.
  std::string WriteFile(const std::string& name, const std::string& text) const;

 private:
  std::string path_;
};

// Ordered key=value lines of a configuration file.
class ConfigText {
 public:
  // Sets key (replacing its value where present, else appending a line).
  ConfigText& Set(const std::string& key, const std::string& value);
  ConfigText& Remove(const std::string& key);
  // One "key=value" line each, in order, each ended by "\n".
  std::string Text() const;

 private:
  std::vector<std::pair<std::string, std::string>> entries_;
};

// What a shell command wrote on standard output (add 2>&1 for its errors)
// and its exit status (-1 when it did not exit).
struct ShellRun {
  int exitStatus = -1;
  std::string output;
};
ShellRun RunShell(const std::string& command);

// The whole file as text; "" when it cannot be read.
std::string ReadText(const std::string& path);

// A complete main file: 8000 Hz, online single segment, OpenAllLines off,
// Sensitivity 0.5, AverageGain 0, MaxSilence 60, MaxHoldFrame 80.
ConfigText DefaultMainConfig();

// A complete companion file with every offline key.
ConfigText DefaultOfflineConfig();

// Everything the engine logged while run() ran (standard output, where the
// logging facade writes).
std::string CaptureLog(const std::function<void()>& run);

}  // namespace kvdtest

#endif  // KVD_TESTS_SUPPORT_ENGINE_FIXTURES_H
