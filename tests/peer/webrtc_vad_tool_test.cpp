// kvd-webrtc-vad run as a program: one JSON line per file, errors as JSON
// lines with exit status 1, bad arguments refused.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdio>
#include <string>

#include "engine_fixtures.h"
#include "test_signals.h"

namespace {

struct ToolRun {
  std::string out;  // standard output; standard error is dropped
  int status = -1;
};

ToolRun RunTool(const std::string& arguments) {
  const std::string command = std::string(KVD_WEBRTC_VAD_TOOL) + " " + arguments + " 2>/dev/null";
  ToolRun run;
  FILE* pipe = popen(command.c_str(), "r");
  if (pipe == nullptr) return run;
  char buffer[4096];
  size_t got = 0;
  while ((got = fread(buffer, 1, sizeof buffer, pipe)) > 0) run.out.append(buffer, got);
  const int raw = pclose(pipe);
  run.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
  return run;
}

// The value of "flags" in a JSON line.
std::string FlagsOf(const std::string& line) {
  const std::string key = "\"flags\":\"";
  const size_t begin = line.find(key);
  if (begin == std::string::npos) return "";
  return line.substr(begin + key.size(), line.find('"', begin + key.size()) - begin - key.size());
}

TEST(WebRtcVadTool, GivesTheSameFlagsForTheWaveFileAndItsRawSamples) {
  const std::string wave = kvdtest::SamplePath("kvd_sample.wav");
  const ToolRun fromWave = RunTool(wave);
  ASSERT_EQ(fromWave.status, 0);
  EXPECT_EQ(fromWave.out.rfind("{\"file\":\"" + wave + "\",\"rate\":8000,\"frame_ms\":10,", 0), 0u)
      << fromWave.out;
  const std::string flags = FlagsOf(fromWave.out);
  EXPECT_EQ(flags.size(), 76091u / 80);  // complete frames only
  EXPECT_EQ(flags.find_first_not_of("01"), std::string::npos);

  const ToolRun fromRaw = RunTool("--rate 8000 " + kvdtest::SamplePath("kvd_sample.pcm"));
  ASSERT_EQ(fromRaw.status, 0);
  EXPECT_EQ(FlagsOf(fromRaw.out), flags);
}

TEST(WebRtcVadTool, ReportsUnusableFilesAsJsonErrorsAndExitsWithOne) {
  const kvdtest::TempDir dir;
  const std::string headerOf11025 =
      std::string("RIFF\x28\0\0\0WAVEfmt \x10\0\0\0\x01\0\x01\0\x11\x2b\0\0\x22\x56\0\0\x02\0\x10\0"
                  "data\x04\0\0\0\0\0\0\0", 48);
  const std::string odd = dir.WriteFile("odd \"rate\".wav", headerOf11025);
  const std::string wave = kvdtest::SamplePath("kvd_sample.wav");
  const ToolRun run = RunTool("'" + odd + "' " + wave + " " + dir.Path() + "/missing.pcm");
  EXPECT_EQ(run.status, 1);
  const std::string quotedOdd = dir.Path() + "/odd \\\"rate\\\".wav";
  EXPECT_NE(run.out.find("{\"file\":\"" + quotedOdd +
                         "\",\"error\":\"unsupported sample rate 11025 Hz"),
            std::string::npos)
      << run.out;
  EXPECT_NE(run.out.find("{\"file\":\"" + wave + "\",\"rate\":8000"), std::string::npos);
  EXPECT_NE(run.out.find("missing.pcm\",\"error\":\"cannot open the file\"}"), std::string::npos);
}

TEST(WebRtcVadTool, RefusesBadArgumentsWithoutOutput) {
  const std::string wave = kvdtest::SamplePath("kvd_sample.wav");
  for (const std::string& arguments :
       {"--likelihood 4 " + wave, "--likelihood x " + wave, "--rate 44100 " + wave,
       "--rate 16000 " + wave, "--verbose " + wave, std::string("")}) {
    const ToolRun run = RunTool(arguments);
    EXPECT_EQ(run.status, 1) << arguments;
    if (arguments.rfind("--rate 16000", 0) == 0) {
      EXPECT_NE(run.out.find("\"error\":\"the file says 8000 Hz, --rate says 16000\""),
                std::string::npos);
    } else {
      EXPECT_EQ(run.out, "") << arguments;
    }
  }
}

}  // namespace
