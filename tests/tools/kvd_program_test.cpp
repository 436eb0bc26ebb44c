// The built kvd program run as a user runs it: its standard output, its
// messages and its exit status.
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

#include "engine_fixtures.h"
#include "test_signals.h"

namespace {

struct ProgramRun {
  int status = -1;
  std::string out;
  std::string err;
};

// Runs kvd with args in a fresh folder (where the engine leaves its log).
ProgramRun RunKvd(const std::vector<std::string>& args) {
  kvdtest::TempDir dir;
  const std::string outPath = dir.Path() + "/out";
  const std::string errPath = dir.Path() + "/err";
  std::vector<std::string> words = {KVD_PROGRAM};
  words.insert(words.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (std::string& word : words) argv.push_back(word.data());
  argv.push_back(nullptr);
  const pid_t child = fork();
  if (child == 0) {
    if (chdir(dir.Path().c_str()) != 0 || !freopen(outPath.c_str(), "w", stdout) ||
        !freopen(errPath.c_str(), "w", stderr))
      _exit(127);
    execv(KVD_PROGRAM, argv.data());
    _exit(127);
  }
  int waitStatus = 0;
  waitpid(child, &waitStatus, 0);
  ProgramRun run;
  run.status = WIFEXITED(waitStatus) ? WEXITSTATUS(waitStatus) : -1;
  run.out = kvdtest::ReadText(outPath);
  run.err = kvdtest::ReadText(errPath);
  return run;
}

const std::string kSample = kvdtest::SamplePath("kvd_sample.wav");
const std::string kConfig = KVD_CONFIG_DIR "/kvd.cfg";

TEST(KvdProgram, HelpTexts) {
  for (const auto& args : std::vector<std::vector<std::string>>{
           {"--help"}, {"detect", "--help"}, {"trace", "-h"}}) {
    const ProgramRun run = RunKvd(args);
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.out.rfind("usage: kvd ", 0), 0u) << run.out;
    EXPECT_NE(run.out.find("exit status"), std::string::npos);
    EXPECT_EQ(run.err, "");
  }
}

TEST(KvdProgram, UsageErrorsExitWithTwo) {
  for (const auto& args : std::vector<std::vector<std::string>>{
           {}, {"frobnicate"}, {"detect"}, {"detect", "--jobs", "0", kSample}, {"trace", kSample}}) {
    const ProgramRun run = RunKvd(args);
    EXPECT_EQ(run.status, 2);
    EXPECT_EQ(run.out, "");
    EXPECT_EQ(run.err.rfind("kvd: ", 0), 0u) << run.err;
  }
}

TEST(KvdProgram, DetectsTheSampleWithTheConfigurationBesideTheLibrary) {
  // No --config: the build copies kvd.cfg beside libkvd.so, where the
  // program looks first. The shipped file selects offline single segment.
  const ProgramRun run = RunKvd({"detect", "--format", "json", kSample});
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(run.out.rfind("{\"file\":\"" + kSample + "\",\"rate\":8000,\"samples\":76091,"
                          "\"mode\":\"offline\",\"state\":3,\"segments\":[[", 0),
            0u)
      << run.out;
  EXPECT_EQ(run.err, "");
}

TEST(KvdProgram, OneFailedFileMakesTheStatusOne) {
  const ProgramRun run = RunKvd({"detect", "--config", kConfig, "--mode", "online", "--jobs", "2",
                                 kSample, "/no/such/file.wav"});
  EXPECT_EQ(run.status, 1);
  EXPECT_NE(run.out.find("final: speech_end"), std::string::npos) << run.out;
  EXPECT_EQ(run.err, "kvd: /no/such/file.wav cannot be opened\n");
}

TEST(KvdProgram, TraceWritesItsFilesAndPrintsTheDecisions) {
  kvdtest::TempDir dir;
  const std::string svg = dir.Path() + "/t.svg";
  const std::string csv = dir.Path() + "/t.csv";
  const ProgramRun run = RunKvd({"trace", kSample, "--svg", svg, "--csv", csv, "--mode", "offline"});
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_NE(run.out.find(": offline, 8000 Hz, 9511 ms\n  segment 1: "), std::string::npos) << run.out;
  EXPECT_NE(kvdtest::ReadText(svg).find("</svg>"), std::string::npos);
  EXPECT_EQ(kvdtest::ReadText(csv).rfind("frame,time_ms,", 0), 0u);
}

TEST(KvdProgram, BrokenConfigurationExitsWithThree) {
  const ProgramRun run = RunKvd({"detect", "--config", "/no/such/kvd.cfg", kSample});
  EXPECT_EQ(run.status, 3);
  EXPECT_NE(run.err.find("/no/such/kvd.cfg does not exist"), std::string::npos) << run.err;
}

}  // namespace
