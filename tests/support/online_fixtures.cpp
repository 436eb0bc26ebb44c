#include "online_fixtures.h"

#include <algorithm>

#include "engine/kvd_api.h"
#include "test_signals.h"

namespace kvdtest {

std::unique_ptr<SpeechDetector> StartedOnlineDetector(int32_t sampleRate) {
  auto detector = std::make_unique<SpeechDetector>(sampleRate);
  detector->IsOnline = 1;
  detector->IsOneSeg = 1;
  detector->deadRange = 10.0f;  // peak-to-peak range of a flat frame at 0 dB: 10 x sqrt(10^0)
  detector->DetectState = KVD_STATE_IDLE;
  detector->ReInitial();
  return detector;
}

ConfigText StreamTestConfig() {
  ConfigText config = DefaultMainConfig();
  config.Set("MaxSilence", "80")
      .Set("MaxHoldFrame", "100")
      .Set("stRelaxFrames", "0")
      .Set("edRelaxFrames", "0")
      .Set("AverageGain", "-10");
  return config;
}

OnlineEngine::OnlineEngine(const ConfigText& config, int32_t lines)
    : initResult_(KVD_Init(dir_.WriteFile("kvd.cfg", config.Text()).c_str(), lines)) {}

OnlineEngine::~OnlineEngine() { KVD_Exit(); }

int32_t OnlineEngine::StartLine() {
  int32_t line = -1;
  if (KVD_Open(&line) != 0) return -1;
  return KVD_Start(line) == 0 ? line : -1;
}

StreamReport StreamThrough(int32_t line, const std::vector<int16_t>& pcm, int32_t chunk) {
  StreamReport report;
  const auto total = static_cast<int32_t>(pcm.size());
  for (int32_t offset = 0; offset < total; offset += chunk) {
    const int32_t count = std::min(chunk, total - offset);
    CallReport call = report.calls.empty() ? CallReport{0, 1, -1, -1, 0} : report.calls.back();
    call.result = KVD_DetectSpeech(line, pcm.data() + offset, count, &call.state, &call.start,
                                   &call.end, &call.position);
    report.calls.push_back(call);
    if (call.state >= 0 && call.state <= 6 && report.firstSeenAt[call.state] < 0)
      report.firstSeenAt[call.state] = call.position;
  }
  return report;
}

StreamReport StreamFresh(const ConfigText& config, const std::vector<int16_t>& pcm,
                         int32_t chunk) {
  OnlineEngine engine(config);
  return StreamThrough(engine.StartLine(), pcm, chunk);
}

std::vector<int16_t> SamplePcm() { return ReadPcmFile(SamplePath("kvd_sample.wav")); }

std::vector<int16_t> KeyOnePcm(double amplitude, int32_t samples) {
  std::vector<int16_t> tone = CosinePcm(697.0, amplitude, 8000, samples);
  const std::vector<int16_t> high = CosinePcm(1209.0, amplitude, 8000, samples);
  for (size_t i = 0; i < tone.size(); ++i) tone[i] = static_cast<int16_t>(tone[i] + high[i]);
  return tone;
}

std::vector<int16_t> Joined(std::initializer_list<std::vector<int16_t>> parts) {
  std::vector<int16_t> joined;
  for (const auto& part : parts) joined.insert(joined.end(), part.begin(), part.end());
  return joined;
}

}  // namespace kvdtest
