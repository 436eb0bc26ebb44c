#include "offline_engine.h"

#include "engine/kvd_api.h"

namespace kvdtest {

OfflineEngine::OfflineEngine(OfflineMode mode, const OfflineOverrides& overrides)
    : mode_(mode) {
  ConfigText main = DefaultMainConfig();
  main.Set("IsOnline", "0").Set("IsOneSeg", mode == OfflineMode::kOneSegment ? "1" : "0");
  ConfigText offline = DefaultOfflineConfig();
  offline.Set("ShortSpeechSegEnergyThd", "10")
      .Set("BackgroundEnergyOffline", "1")
      .Set("DetectSpecLowBorder_Hz", "200")
      .Set("CommonSpeechSegLen_sec", "0.3")
      .Set("CommonSpeechSegEnergyThd", "3")
      .Set("ExtendSpeechLen_sec", "0.03")
      .Set("SpeechSegMinVoiceLen_sec", "0.1")
      .Set("SpeechSegMinVoiceRatio", "0.3")
      .Set("MaxSegNum", "10")
      .Set("DelShortSpeechSideNoiseLen_sec", "0.3");
  for (const auto& [key, value] : overrides) offline.Set(key, value);
  const std::string configPath = dir_.WriteFile("kvd.cfg", main.Text());
  dir_.WriteFile("kvd_offline.cfg", offline.Text());
  initResult_ = KVD_Init(configPath.c_str(), 1);
  if (initResult_ == KVD_OK && KVD_Open(&line_) != KVD_OK) line_ = -1;
}

OfflineEngine::~OfflineEngine() { KVD_Exit(); }

OfflineResult OfflineEngine::Run(const std::vector<int16_t>& pcm, int32_t listEntries) {
  OfflineResult r;
  r.result = KVD_Start(line_);
  if (r.result != KVD_OK) return r;
  const auto count = static_cast<int32_t>(pcm.size());
  if (mode_ == OfflineMode::kOneSegment) {
    r.result = KVD_DetectSpeech(line_, pcm.data(), count, &r.state, &r.start, &r.end,
                                &r.processed);
  } else {
    r.starts.assign(static_cast<size_t>(listEntries), -7);
    r.ends.assign(static_cast<size_t>(listEntries), -7);
    r.result = KVD_DetectSpeech(line_, pcm.data(), count, &r.state, r.starts.data(),
                                r.ends.data(), &r.processed);
  }
  return r;
}

}  // namespace kvdtest
