// The WebRTC peer: its RIFF/WAVE reader, the detector finding voice where
// there is voice and not in the noise before it (loosely: it is someone
// else's detector), and kvd-webrtc-vad run as a program on the sample.
#include <gtest/gtest.h>

#include <algorithm>
#include <optional>
#include <regex>
#include <string>
#include <tuple>
#include <vector>

#include "engine_fixtures.h"
#include "golden_signals.h"
#include "peer/riff_wave.h"
#include "peer/webrtc_vad_peer.h"
#include "test_signals.h"
#include "wave_bytes.h"

namespace {

using kvdtest::Bytes;
using kvdtest::Chunk;
using kvdtest::RiffWave;

// Rows without an error are read as kSamples at 16000 Hz. A data chunk
// claiming more than the file holds gives the whole samples present.
TEST(RiffWave, FindsFmtAndDataBehindOtherChunksAndRefusesAllButMonoIntegerPcm) {
  const std::vector<int16_t> kSamples = {0, 1, -1, 32767, -32768, 1234};
  const Bytes data = kvdtest::SampleBytes(kSamples);
  const auto withFormat = [&](const Bytes& format) {
    return RiffWave({Chunk("fmt ", format), Chunk("data", data)});
  };
  const auto behindOthers = [&](int64_t claimed) {
    return RiffWave({Chunk("LIST", {'a', 'b', 'c'}),  // odd: one pad byte follows
                     Chunk("fmt ", kvdtest::PcmFormat(1, 16000, 16)), Chunk("fact", {1, 0, 0, 0}),
                     Chunk("data", data, claimed)});
  };
  const std::vector<std::pair<Bytes, std::string>> rows = {
      {behindOthers(-1), ""},
      {behindOthers(0xFFFFFFFF), ""},
      {withFormat(kvdtest::PcmFormat(2, 8000, 16)), "2 channels, mono needed"},
      {withFormat(kvdtest::PcmFormat(1, 8000, 8)), "8 bits per sample, 16 needed"},
      {withFormat(kvdtest::FloatFormat(8000)), "not integer PCM (format 3)"},
      {withFormat(kvdtest::ExtensibleFormat(1, 8000, 32, 3)), "not integer PCM (format 3)"},
      {withFormat({1, 0, 1, 0}), "fmt chunk too short"},
      {RiffWave({Chunk("data", data)}), "data chunk before the fmt chunk"},
      {RiffWave({Chunk("fmt ", kvdtest::PcmFormat(1, 8000, 16))}), "no data chunk"},
      {RiffWave({}), "no fmt chunk"},
      {{'R', 'I', 'F', 'F', 0, 0, 0, 0, 'A', 'V', 'I', ' '}, "not a RIFF/WAVE file"},
  };
  for (const auto& [bytes, reason] : rows) {
    kvdpeer::MonoPcm pcm;
    std::string error;
    EXPECT_EQ(kvdpeer::ReadRiffWave(bytes, pcm, error), reason.empty()) << reason;
    EXPECT_EQ(error, reason);
    if (reason.empty()) {
      EXPECT_EQ(pcm.sampleRate, 16000);
      EXPECT_EQ(pcm.samples, kSamples);
    }
  }
}

// Flags of every complete 10 ms frame, '1' voice.
std::string Flags(const std::vector<int16_t>& samples, int sampleRate, int likelihood) {
  std::string error;
  const auto peer = kvdpeer::WebRtcVadPeer::Create(sampleRate, likelihood, &error);
  EXPECT_TRUE(peer) << error;
  std::string flags;
  const size_t frame = peer ? static_cast<size_t>(peer->FrameSamples()) : samples.size() + 1;
  for (size_t first = 0; first + frame <= samples.size(); first += frame) {
    const std::optional<bool> voice = peer->HasVoice(samples.data() + first);
    EXPECT_TRUE(voice.has_value());
    flags += voice.value_or(false) ? '1' : '0';
  }
  return flags;
}

// 1 s of faint noise, then a 2 s vowel over the same noise, at every rate,
// each rate with another likelihood: the share of voice flags in the noise
// (frames 20 .. 100) and in the vowel (110 .. 300). The tool refuses bad
// likelihoods itself, so only this reaches the peer's likelihood check.
TEST(WebRtcVadPeer, FindsASyntheticVowelAtEveryRateAndLikelihoodAndRefusesOthers) {
  const int rates[] = {8000, 16000, 32000, 48000};
  for (int likelihood = 0; likelihood <= 3; ++likelihood) {
    const int rate = rates[likelihood];
    std::vector<int16_t> pcm = kvdtest::GoldenNoise(60.0, 7, 3 * rate);
    kvdtest::AddVowel(pcm, rate, 1000, 2000, 120.0, 140.0, 2500.0);
    const std::string flags = Flags(pcm, rate, likelihood);
    ASSERT_EQ(flags.size(), 300u) << rate;
    EXPECT_LT(std::count(flags.begin() + 20, flags.begin() + 100, '1'), 0.2 * 80) << rate;
    EXPECT_GT(std::count(flags.begin() + 110, flags.end(), '1'), 0.7 * 190) << rate;
  }
  for (const auto& [rate, likelihood, reason] :
       std::vector<std::tuple<int, int, std::string>>{{11025, 1, "unsupported sample rate"},
                                                      {8000, -1, "likelihood"},
                                                      {8000, 4, "likelihood"}}) {
    std::string error;
    EXPECT_FALSE(kvdpeer::WebRtcVadPeer::Create(rate, likelihood, &error)) << rate;
    EXPECT_NE(error.find(reason), std::string::npos) << error;
  }
}

// Standard output of the tool (standard error dropped) and its exit status.
kvdtest::ShellRun RunTool(const std::string& arguments) {
  return kvdtest::RunShell(std::string(KVD_WEBRTC_VAD_TOOL) + " " + arguments + " 2>/dev/null");
}

// The value of "flags" in a JSON line; "" unless it holds only 0 and 1.
std::string FlagsOf(const std::string& line) {
  std::smatch flags;
  return std::regex_search(line, flags, std::regex("\"flags\":\"([01]*)\"")) ? flags[1].str()
                                                                              : "";
}

// Bad arguments give exit status 1 and no output; unusable files a JSON
// error line each among the good ones, and exit status 1. The sample's flags
// are the same from its wave file and from its raw samples.
TEST(WebRtcVadTool, RefusesBadInputAndFlagsTheWaveFileAsItsRawSamples) {
  const kvdtest::TempDir dir;
  const std::string odd = dir.Path() + "/odd \"rate\".wav";
  kvdtest::WriteBytes(odd, kvdtest::CanonicalWave({0, 0}, 11025));
  const std::string wave = kvdtest::SamplePath("kvd_sample.wav");
  for (const std::string& arguments :
       {"--likelihood 4 " + wave, "--likelihood x " + wave, "--rate 44100 " + wave,
        "--verbose " + wave, std::string()}) {
    const kvdtest::ShellRun run = RunTool(arguments);
    EXPECT_EQ(run.exitStatus, 1) << arguments;
    EXPECT_EQ(run.output, "") << arguments;
  }
  EXPECT_NE(RunTool("--rate 16000 " + wave).output.find("the file says 8000 Hz, --rate says 16000"),
            std::string::npos);
  const kvdtest::ShellRun run =
      RunTool("'" + odd + "' " + wave + " " + dir.Path() + "/missing.pcm");
  EXPECT_EQ(run.exitStatus, 1);
  const std::string quotedOdd = dir.Path() + "/odd \\\"rate\\\".wav";
  for (const std::string& line :
       {"{\"file\":\"" + quotedOdd + "\",\"error\":\"unsupported sample rate 11025 Hz",
        "{\"file\":\"" + wave + "\",\"rate\":8000,\"frame_ms\":10,",
        std::string("missing.pcm\",\"error\":\"cannot open the file\"}")}) {
    EXPECT_NE(run.output.find(line), std::string::npos) << line << "\n" << run.output;
  }
  const std::string flags = FlagsOf(run.output);
  EXPECT_EQ(flags.size(), 76091u / 80);  // complete frames only
  const kvdtest::ShellRun fromRaw = RunTool("--rate 8000 " + kvdtest::SamplePath("kvd_sample.pcm"));
  EXPECT_EQ(fromRaw.exitStatus, 0);
  EXPECT_EQ(FlagsOf(fromRaw.output), flags);
}

}  // namespace
