// Fuzz target: the logging facade configured from an arbitrary LogClt.cfg
// text, re-read as the file watch does, then used.
//
// Runs in a scratch folder; the text is first made safe (see
// SanitizeLogConfig), so the files it names stay in the folder's "out/",
// which is emptied after every input.
#include <log4cxx/logmanager.h>

#include <string>

#include "fuzz/fuzz_support.h"
#include "fuzz/log_config_sanitizer.h"
#include "kvd/tprintf.h"
#include "logging/config_loader.h"
#include "logging/default_config.h"

namespace {

// Far beyond any run: the watch never re-reads the file by itself.
constexpr long kNoWatchMs = 24L * 3600 * 1000;

// Every kind of facade call, at every level.
void UseFacade(unsigned seed) {
  tprintf1("detail %u\n", seed);
  tprintf2("flow %u\n", seed);
  tprintf3("status\n");
  tprintf4("user error\n");
  tprintf5("warn\n");
  tprintf6("error\n");
  tprintf7("%s %d\n", "fatal", static_cast<int>(seed));
  KES_Log("info\n");
  KES_LOG(__FILE__, __LINE__, static_cast<int>(seed % 10) - 2, "levelled %u\n", seed);
  KES_LOG("name", static_cast<int>(seed % 10) - 2, "unformatted %d\n");
  KES_RESULT("result\n");
  KES_EnableTimeStamp(seed & 1);
  KES_EnableLogNameWithTime(seed & 2);
  KES_SetLogLimit(static_cast<int>(seed % 5));
  tprintf7("after the switches\n");
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  kvdfuzz::EnterQuietScratchFolder();
  kvd::logging::SetConfigWatchIntervalMs(kNoWatchMs);
  tprintf7("start\n");  // the facade's one-time set-up from the quiet file
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::optional<std::string> config =
      kvdfuzz::SanitizeLogConfig(std::string(reinterpret_cast<const char*>(data), size));
  if (!config) return 0;
  kvdfuzz::WriteFileOrAbort(kvd::logging::kConfigFileName, config->data(), config->size());
  kvd::logging::ReloadLogConfiguration();
  UseFacade(size);
  log4cxx::LogManager::resetConfiguration();  // closes every file before it is removed
  kvdfuzz::RemoveTree(kvdfuzz::kLogOutputFolder);
  return 0;
}
