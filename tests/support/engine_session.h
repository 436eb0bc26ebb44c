// A test fixture that runs KVD_Init on configuration files written into a
// fresh temporary directory and ends the engine with KVD_Exit.
#ifndef KVD_TESTS_SUPPORT_ENGINE_SESSION_H
#define KVD_TESTS_SUPPORT_ENGINE_SESSION_H

#include <gtest/gtest.h>

#include <cstdint>
#include <string>

#include "engine/config_reader.h"
#include "engine/kvd_api.h"
#include "engine_fixtures.h"

namespace kvdtest {

class EngineSession : public ::testing::Test {
 protected:
  void TearDown() override {
    CaptureLog([] { KVD_Exit(); });
  }

  // Writes main_ as mainName and, when writeOffline_, offline_ as its
  // companion ("kvd.cfg" beside "kvd_offline.cfg"); runs KVD_Init with
  // lineCount, keeps its log in log_ and checks that no configuration file
  // was left open.
  int32_t Init(int32_t lineCount = 2, const std::string& mainName = "kvd.cfg") {
    const std::string path = dir_.WriteFile(mainName, main_.Text());
    const std::string stem = mainName.substr(0, mainName.size() - 4);  // less ".cfg"
    if (writeOffline_) dir_.WriteFile(stem + "_offline.cfg", offline_.Text());
    int32_t result = 0;
    log_ = CaptureLog([&] { result = KVD_Init(path.c_str(), lineCount); });
    EXPECT_EQ(configFile, nullptr) << "KVD_Init left a configuration file open";
    return result;
  }

  // The text of a parameter of a line, through KVD_GetParameter.
  std::string Parameter(int32_t line, const char* name) {
    char value[kConfigLineBytes] = "stale";
    CaptureLog([&] { KVD_GetParameter(line, name, value); });
    return value;
  }

  bool Logged(const std::string& text) const { return log_.find(text) != std::string::npos; }

  TempDir dir_;
  ConfigText main_ = DefaultMainConfig();
  ConfigText offline_ = DefaultOfflineConfig();
  bool writeOffline_ = true;
  std::string log_;
};

}  // namespace kvdtest

#endif  // KVD_TESTS_SUPPORT_ENGINE_SESSION_H
