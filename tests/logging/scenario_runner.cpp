#include "scenario_runner.h"

#include <algorithm>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <spawn.h>
#include <sys/wait.h>

extern char** environ;

namespace kvdtest {

namespace fs = std::filesystem;

void ScenarioTest::SetUp() {
  std::string pattern = (fs::temp_directory_path() / "kvd_logging_XXXXXX").string();
  ASSERT_NE(mkdtemp(pattern.data()), nullptr);
  root_ = pattern;
  fs::create_directory(WorkPath(""));
}

void ScenarioTest::TearDown() {
  if (!HasFailure()) {
    fs::remove_all(root_);
  } else {
    std::printf("scenario folder kept: %s\n", root_.c_str());
  }
}

std::string ScenarioTest::WorkPath(const std::string& relative) const {
  return root_ + "/work/" + relative;
}

void ScenarioTest::WriteWorkFile(const std::string& relative, const std::string& content) const {
  fs::create_directories(fs::path(WorkPath(relative)).parent_path());
  std::ofstream(WorkPath(relative), std::ios::binary) << content;
}

std::string ScenarioTest::ReadWorkFile(const std::string& relative) const {
  std::ifstream file(WorkPath(relative), std::ios::binary);
  if (!file) {
    return "<missing>";
  }
  return std::string(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
}

bool ScenarioTest::WorkFileExists(const std::string& relative) const {
  return fs::exists(WorkPath(relative));
}

std::vector<std::string> ScenarioTest::ListWorkFolder(const std::string& relative) const {
  std::vector<std::string> names;
  for (const fs::directory_entry& entry : fs::directory_iterator(WorkPath(relative))) {
    names.push_back(entry.path().filename().string());
  }
  std::sort(names.begin(), names.end());
  return names;
}

ScenarioOutcome ScenarioTest::Run(const std::vector<std::string>& arguments) {
  const std::string outPath = root_ + "/stdout.txt";
  const std::string errPath = root_ + "/stderr.txt";
  const std::string workPath = WorkPath("");

  std::vector<std::string> argvText = {KVD_LOGGING_SCENARIO};
  argvText.insert(argvText.end(), arguments.begin(), arguments.end());
  std::vector<char*> argv;
  for (std::string& text : argvText) {
    argv.push_back(text.data());
  }
  argv.push_back(nullptr);

  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addchdir_np(&actions, workPath.c_str());
  posix_spawn_file_actions_addopen(&actions, 1, outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                   0644);
  posix_spawn_file_actions_addopen(&actions, 2, errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                   0644);
  pid_t child = 0;
  const int spawnError = posix_spawn(&child, argv[0], &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);

  ScenarioOutcome outcome;
  EXPECT_EQ(spawnError, 0) << "cannot start " << argv[0];
  if (spawnError != 0) {
    return outcome;
  }
  int status = 0;
  waitpid(child, &status, 0);
  outcome.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  auto readAll = [](const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
  };
  outcome.standardOutput = readAll(outPath);
  outcome.standardError = readAll(errPath);
  return outcome;
}

int CountOccurrences(const std::string& text, const std::string& needle) {
  int count = 0;
  for (size_t at = text.find(needle); at != std::string::npos;
       at = text.find(needle, at + needle.size())) {
    ++count;
  }
  return count;
}

}  // namespace kvdtest
