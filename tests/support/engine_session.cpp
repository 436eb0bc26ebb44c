#include "engine_session.h"

#include "engine/config_reader.h"
#include "engine/kvd_api.h"

namespace kvdtest {

namespace {

// The companion name of a main file name that ends in a four-character
// ".cfg" in any case.
std::string CompanionName(const std::string& mainName) {
  return mainName.substr(0, mainName.size() - 4) + "_offline.cfg";
}

}  // namespace

EngineSession::EngineSession() : main_(DefaultMainConfig()), offline_(DefaultOfflineConfig()) {}

void EngineSession::TearDown() {
  CaptureLog([] { KVD_Exit(); });
}

int32_t EngineSession::Init(int32_t lineCount, const std::string& mainName) {
  const std::string path = dir_.WriteFile(mainName, main_.Text());
  if (writeOffline_) {
    dir_.WriteFile(CompanionName(mainName), offline_.Text());
  }
  int32_t result = 0;
  log_ = CaptureLog([&] { result = KVD_Init(path.c_str(), lineCount); });
  EXPECT_EQ(configFile, nullptr) << "KVD_Init left a configuration file open";
  return result;
}

std::string EngineSession::Parameter(int32_t line, const char* name) {
  char value[kConfigLineBytes] = "stale";
  CaptureLog([&] { KVD_GetParameter(line, name, value); });
  return value;
}

bool EngineSession::Logged(const std::string& text) const {
  return log_.find(text) != std::string::npos;
}

}  // namespace kvdtest
