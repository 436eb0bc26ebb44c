// Runs the logging_scenario child in a fresh temporary folder, so that each
// run reads or writes its own LogClt.cfg and logs/ and never the source or
// build tree. The parent itself never logs, so no log4cxx thread runs in it
// when it starts a child.
#ifndef KVD_TESTS_LOGGING_SCENARIO_RUNNER_H
#define KVD_TESTS_LOGGING_SCENARIO_RUNNER_H

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace kvdtest {

struct ScenarioOutcome {
  int exitCode = -1;
  std::string standardOutput;
  std::string standardError;
};

class ScenarioTest : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;

  // Runs the child with these arguments in WorkPath("").
  ScenarioOutcome Run(const std::vector<std::string>& arguments);

  // Path of a file in the child's current folder.
  std::string WorkPath(const std::string& relative) const;
  void WriteWorkFile(const std::string& relative, const std::string& content) const;
  // Content of the file, or "<missing>" when it cannot be read.
  std::string ReadWorkFile(const std::string& relative) const;
  bool WorkFileExists(const std::string& relative) const;
  // Names of the entries of a folder of the work folder, sorted.
  std::vector<std::string> ListWorkFolder(const std::string& relative) const;

 private:
  std::string root_;
};

// Occurrences of needle in text.
int CountOccurrences(const std::string& text, const std::string& needle);

}  // namespace kvdtest

#endif  // KVD_TESTS_LOGGING_SCENARIO_RUNNER_H
