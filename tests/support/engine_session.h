// A test fixture that runs KVD_Init on configuration files written into a
// fresh temporary directory and ends the engine with KVD_Exit.
#ifndef KVD_TESTS_SUPPORT_ENGINE_SESSION_H
#define KVD_TESTS_SUPPORT_ENGINE_SESSION_H

#include <gtest/gtest.h>

#include <cstdint>
#include <string>

#include "engine_fixtures.h"

namespace kvdtest {

class EngineSession : public ::testing::Test {
 protected:
  EngineSession();
  void TearDown() override;

  // Writes main (as mainName) and, unless offline is null, the companion
  // file beside it; runs KVD_Init with lineCount and keeps its log in log_.
  // Also checks that no configuration file was left open.
  int32_t Init(int32_t lineCount = 2, const std::string& mainName = "kvd.cfg");

  // The text of a parameter of a line, through KVD_GetParameter.
  std::string Parameter(int32_t line, const char* name);

  // Whether log_ holds text.
  bool Logged(const std::string& text) const;

  TempDir dir_;
  ConfigText main_;
  ConfigText offline_;
  bool writeOffline_ = true;
  std::string log_;
};

}  // namespace kvdtest

#endif  // KVD_TESTS_SUPPORT_ENGINE_SESSION_H
