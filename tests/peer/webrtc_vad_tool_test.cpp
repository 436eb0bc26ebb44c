// kvd-webrtc-vad run as a program: one JSON line per file, errors as JSON
// lines with exit status 1, bad arguments refused.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "engine_fixtures.h"
#include "engine_fixtures.h"
#include "test_signals.h"

namespace {

// Standard output of the tool (standard error dropped) and its exit status.
kvdtest::ShellRun RunTool(const std::string& arguments) {
  return kvdtest::RunShell(std::string(KVD_WEBRTC_VAD_TOOL) + " " + arguments + " 2>/dev/null");
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
  const kvdtest::ShellRun fromWave = RunTool(wave);
  ASSERT_EQ(fromWave.exitStatus, 0);
  EXPECT_EQ(fromWave.output.rfind("{\"file\":\"" + wave + "\",\"rate\":8000,\"frame_ms\":10,", 0), 0u)
      << fromWave.output;
  const std::string flags = FlagsOf(fromWave.output);
  EXPECT_EQ(flags.size(), 76091u / 80);  // complete frames only
  EXPECT_EQ(flags.find_first_not_of("01"), std::string::npos);

  const kvdtest::ShellRun fromRaw = RunTool("--rate 8000 " + kvdtest::SamplePath("kvd_sample.pcm"));
  ASSERT_EQ(fromRaw.exitStatus, 0);
  EXPECT_EQ(FlagsOf(fromRaw.output), flags);
}

TEST(WebRtcVadTool, ReportsUnusableFilesAsJsonErrorsAndExitsWithOne) {
  const kvdtest::TempDir dir;
  const std::string headerOf11025 = std::string(
      "RIFF\x28\0\0\0WAVEfmt \x10\0\0\0\x01\0\x01\0\x11\x2b\0\0\x22\x56\0\0\x02\0\x10\0"
      "data\x04\0\0\0\0\0\0\0",
      48);
  const std::string odd = dir.WriteFile("odd \"rate\".wav", headerOf11025);
  const std::string wave = kvdtest::SamplePath("kvd_sample.wav");
  const kvdtest::ShellRun run = RunTool("'" + odd + "' " + wave + " " + dir.Path() + "/missing.pcm");
  EXPECT_EQ(run.exitStatus, 1);
  const std::string quotedOdd = dir.Path() + "/odd \\\"rate\\\".wav";
  EXPECT_NE(
      run.output.find("{\"file\":\"" + quotedOdd + "\",\"error\":\"unsupported sample rate 11025 Hz"),
      std::string::npos)
      << run.output;
  EXPECT_NE(run.output.find("{\"file\":\"" + wave + "\",\"rate\":8000"), std::string::npos);
  EXPECT_NE(run.output.find("missing.pcm\",\"error\":\"cannot open the file\"}"), std::string::npos);
}

TEST(WebRtcVadTool, RefusesBadArgumentsWithoutOutput) {
  const std::string wave = kvdtest::SamplePath("kvd_sample.wav");
  for (const std::string& arguments :
       {"--likelihood 4 " + wave, "--likelihood x " + wave, "--rate 44100 " + wave,
        "--rate 16000 " + wave, "--verbose " + wave, std::string("")}) {
    const kvdtest::ShellRun run = RunTool(arguments);
    EXPECT_EQ(run.exitStatus, 1) << arguments;
    if (arguments.rfind("--rate 16000", 0) == 0) {
      EXPECT_NE(run.output.find("\"error\":\"the file says 8000 Hz, --rate says 16000\""),
                std::string::npos);
    } else {
      EXPECT_EQ(run.output, "") << arguments;
    }
  }
}

}  // namespace
