// The built kvd program run as a user runs it: its standard output, its
// messages and its exit status for every refused command line and failure;
// kvd stream fed through a pipe; and the options the commands accept.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <regex>
#include <sstream>

#include "engine_fixtures.h"
#include "kvd_tool_test.h"
#include "tools/kvd/stream_command.h"

namespace kvdtool {

namespace {

// Runs kvd with args in a fresh folder (where the engine leaves its log).
RunOutput RunKvd(const std::vector<std::string>& args) {
  kvdtest::TempDir dir;
  std::string command = "cd '" + dir.Path() + "' && '" KVD_PROGRAM "'";
  for (const std::string& arg : args) command += " '" + arg + "'";
  const kvdtest::ShellRun run = kvdtest::RunShell(command + " 2>'" + dir.Path() + "/err'");
  return {run.exitStatus, run.output, kvdtest::ReadText(dir.Path() + "/err")};
}

// Every refusal: exit status 2, nothing on standard output, "kvd: " and the
// reason on standard error.
TEST(KvdProgram, RefusedCommandLinesExitWithTwoAndTheirReason) {
  const std::vector<std::pair<std::vector<std::string>, std::string>> rows = {
      {{}, "no command given"},
      {{"frobnicate"}, "unknown command \"frobnicate\""},
      {{"detect"}, "no recording given"},
      {{"detect", "--bogus", "a.wav"}, "unknown option --bogus"},
      {{"detect", "-x", "a.wav"}, "unknown option -x"},
      {{"detect", "a.wav", "--chunk"}, "--chunk needs a value"},
      {{"detect", "a.wav", "--config"}, "--config needs a value"},
      {{"detect", "a.wav", "--config="}, "--config needs a file name"},
      {{"detect", "--chunk", "0", "a.wav"}, "between 1 and"},
      {{"detect", "--chunk", "12x", "a.wav"}, "whole number"},
      {{"detect", "--chunk", "99999999999", "a.wav"}, "between 1 and"},
      {{"detect", "--jobs", "0", "a.wav"}, "between 1 and 1024"},
      {{"detect", "--jobs", "1025", "a.wav"}, "between 1 and 1024"},
      {{"detect", "--rate", "0", "a.raw"}, "between 1 and"},
      {{"detect", "--format", "xml", "a.wav"}, "unknown format \"xml\""},
      {{"detect", "--mode", "live", "a.wav"}, "unknown mode \"live\""},
      {{"detect", "--help=yes"}, "takes no value"},
      {{"detect", "--format", "labels", "a.wav", "b.wav"}, "one file"},
      {{"trace", "a.wav"}, "--svg FILE"},
      {{"trace", "a.wav", "b.wav", "--svg", "t.svg"}, "one too many"},
      {{"trace", "--svg", "t.svg"}, "no recording"},
      {{"trace", "a.wav", "--svg"}, "needs a value"},
      {{"trace", "a.wav", "--jobs", "2", "--svg", "t.svg"}, "unknown"},
      {{"stream", "--rate", "7999"}, "--rate wants a whole number of Hz from 8000 to 384000"},
      {{"stream", "--rate"}, "--rate needs a value"},
      {{"stream", "--format", "csv"}, "--format wants text or json"},
      {{"stream", "--chunk", "0"}, "from 1 to 1048576"},
      {{"stream", "--bogus"}, "unknown option --bogus"},
      {{"stream", "a.pcm", "b.pcm"}, "one input at most"},
  };
  for (const auto& [args, reason] : rows) {
    const RunOutput run = RunKvd(args);
    const bool named = !args.empty() && args[0] != "frobnicate";
    const std::string command = named ? args[0] + " " : "";
    const std::string help = "\nTry `kvd " + command + "--help`.\n";
    const size_t end = run.err.size() - std::min(help.size(), run.err.size());
    EXPECT_EQ(run.status, 2) << command << run.err;
    EXPECT_EQ(run.out, "") << command;
    EXPECT_TRUE(run.err.rfind("kvd: ", 0) == 0 && run.err.substr(end) == help &&
                run.err.substr(0, end).find(reason) != std::string::npos)
        << run.err;
  }
}

// The help texts exit with 0. Without --config the program takes the kvd.cfg
// the build copies beside libkvd.so (offline single segment). A file that
// cannot be processed makes the status 1, a configuration that cannot start
// the engine 3, before any file.
TEST(KvdProgram, ExitStatusOutputAndMessages) {
  kvdtest::TempDir dir;
  const std::string broken = dir.WriteFile("kvd.cfg", "SampleRate = 8000\nOpenAllLines = false\n");
  const std::string unwritable = dir.Path() + "/no/such/folder/t.svg";
  const std::string help = "^usage: kvd [\\s\\S]*exit status";
  const struct {
    std::vector<std::string> args;
    int status;
    std::string out;  // a pattern the standard output matches
    std::string err;  // the whole standard error, or a part of it after "~"
  } rows[] = {
      {{"--help"}, 0, help, ""},
      {{"detect", "--help"}, 0, help, ""},
      {{"trace", "-h"}, 0, help, ""},
      {{"stream", "--help"}, 0, help, ""},
      {{"detect", "--format", "json", kSample}, 0,
       "^\\{\"file\":\"" + kSample + "\",\"rate\":8000,\"samples\":76091,"
       "\"mode\":\"offline\",\"state\":3,\"segments\":\\[\\[", ""},
      {{"detect", "--config", kConfig, "--mode", "online", "--jobs", "2", kSample, "/no/a.wav"},
       1, "final: speech_end", "kvd: /no/a.wav cannot be opened\n"},
      // Every option in its "=" spelling; "--" ends the options.
      {{"detect", "--mode=multi", "--config=" + kConfig, "--chunk=30", "--jobs=4",
        "--format=csv", "--rate=16000", kSample, "--", "--odd-name.wav"},
       1, "^file,mode,[^\n]*\n[^\n]*kvd_sample\\.wav,multi,3,speech_end,",
       "kvd: --odd-name.wav cannot be opened\n"},
      {{"detect", "--config", "/no/such/kvd.cfg", kSample}, 3, "^$",
       "~/no/such/kvd.cfg does not exist"},
      {{"detect", "--config", broken, kSample}, 3, "^$", "~configuration error (-92)"},
      {{"trace", "/no/a.wav", "--svg", dir.Path() + "/t.svg", "--csv=" + dir.Path() + "/t.csv",
        "--chunk", "1", "--config", kConfig},
       1, "", "~/no/a.wav cannot be opened"},
      {{"trace", kSample, "--svg", dir.Path() + "/t.svg", "--config", "/no/such/kvd.cfg"}, 3, "",
       "~/no/such/kvd.cfg does not exist"},
      {{"trace", kSample, "--svg", unwritable, "--config", kConfig}, 1, "",
       "kvd: cannot write " + unwritable + "\n"},
      {{"stream", "--config", "/no/such/kvd.cfg"}, 3, "", "~configuration file missing"},
      {{"stream", "--rate", "16000", "--config", kConfig, "/no/call.pcm"}, 1, "",
       "kvd: /no/call.pcm cannot be opened: No such file or directory\n"},
  };
  for (const auto& row : rows) {
    const RunOutput run = RunKvd(row.args);
    EXPECT_EQ(run.status, row.status) << row.args[0] << " " << run.err;
    EXPECT_TRUE(std::regex_search(run.out, std::regex(row.out))) << run.out;
    if (row.err[0] == '~') {
      EXPECT_NE(run.err.find(row.err.substr(1)), std::string::npos) << run.err;
    } else {
      EXPECT_EQ(run.err, row.err);
    }
  }
}

// The sample twice, through a pipe into the built program and through the
// function in chunks of 1, 160 and 8000 samples: the events lie where the
// sample speaks, the detector re-arms after the first utterance, and no
// chunk size changes the first utterance (the detector re-arms after the
// chunk that ended it, so the second one moves with the chunk size).
TEST(KvdStreamCommand, FollowsTwoUtterancesWhereTheSampleSpeaksWhateverTheChunkSize) {
  const std::string pcm = kvdtest::ReadText(kvdtest::SamplePath("kvd_sample.pcm"));
  const int64_t length = static_cast<int64_t>(pcm.size() / 2);  // samples of the sample
  kvdtest::TempDir dir;
  const std::string piped = kvdtest::RunShell("cd " + dir.Path() + " && cat " +
                                              kvdtest::SamplePath("kvd_sample.pcm") + " " +
                                              kvdtest::SamplePath("kvd_sample.pcm") + " | " +
                                              KVD_PROGRAM " stream --format json --config " +
                                              kConfig).output;
  std::vector<std::pair<std::string, int64_t>> events;
  const std::regex event("\\{\"event\":\"([a-z_]+)\",\"utterance\":[0-9]+,\"sample\":([0-9]+)");
  for (std::sregex_iterator it(piped.begin(), piped.end(), event), end; it != end; ++it) {
    events.emplace_back((*it)[1], std::stoll((*it)[2]));
  }
  ASSERT_EQ(events.size(), 4u) << piped;
  for (size_t k = 0; k < 4; ++k) {
    EXPECT_EQ(events[k].first, k % 2 == 0 ? "speech_start" : "speech_end") << k;
  }
  ExpectSpeechSpan(events[0].second / 8, events[1].second / 8);
  // The second copy speaks at the same place of its own 9.5 s.
  EXPECT_NEAR(events[2].second, events[0].second + length, 800);
  EXPECT_NEAR(events[3].second, events[1].second + length, 800);

  std::string twice = pcm + pcm;
  std::string first;
  for (const int32_t chunk : {1, 160, 8000}) {
    std::FILE* input = fmemopen(twice.data(), twice.size(), "rb");
    ASSERT_NE(input, nullptr);
    StreamOptions options;
    options.config = kConfig;
    options.chunk = chunk;
    std::ostringstream out;
    std::ostringstream err;
    EXPECT_EQ(RunStream(options, input, out, err), 0) << err.str();
    std::fclose(input);
    const std::string text = out.str();
    const std::string firstUtterance = text.substr(0, text.rfind('\n', text.find("(utterance 2")));
    if (first.empty()) first = firstUtterance;
    EXPECT_EQ(firstUtterance, first) << "chunk " << chunk;
  }
  EXPECT_NE(first.find("speech_end  (utterance 1"), std::string::npos) << first;
}

}  // namespace
}  // namespace kvdtool
