#include "logging/log_levels.h"

#include "logging/option_text.h"

#include <memory>

namespace kvd::logging {

const char kLevelClassName[] = "KvdLevel";

namespace {

constexpr int kDetailSeverity = 24000;
constexpr int kFlowSeverity = 25000;
constexpr int kStatusSeverity = 26000;
constexpr int kUserErrorSeverity = 28000;

constexpr int kDetailSyslog = 6;
constexpr int kFlowSyslog = 5;
constexpr int kStatusSyslog = 5;
constexpr int kUserErrorSyslog = 4;

// Resolves "NAME#KvdLevel" in configuration text: the added names first,
// then log4cxx's own.
class FacadeLevelClass : public log4cxx::Level::LevelClass {
 public:
  log4cxx::LogString getName() const override { return kLevelClassName; }

  log4cxx::LevelPtr toLevel(const log4cxx::LogString& name) const override {
    log4cxx::LevelPtr added = AddedLevelByName(name);
    return added ? added : log4cxx::Level::toLevelLS(name);
  }

  log4cxx::LevelPtr toLevel(int severity) const override {
    for (const log4cxx::LevelPtr& level :
         {DetailLevel(), FlowLevel(), StatusLevel(), UserErrorLevel()}) {
      if (level->toInt() == severity) {
        return level;
      }
    }
    return log4cxx::Level::toLevel(severity);
  }
};

log4cxx::LevelPtr MakeLevel(int severity, const char* name, int syslog) {
  return std::make_shared<log4cxx::Level>(severity, name, syslog);
}

}  // namespace

log4cxx::LevelPtr DetailLevel() {
  static const log4cxx::LevelPtr level = MakeLevel(kDetailSeverity, "DETAIL", kDetailSyslog);
  return level;
}

log4cxx::LevelPtr FlowLevel() {
  static const log4cxx::LevelPtr level = MakeLevel(kFlowSeverity, "FLOW", kFlowSyslog);
  return level;
}

log4cxx::LevelPtr StatusLevel() {
  static const log4cxx::LevelPtr level = MakeLevel(kStatusSeverity, "STATUS", kStatusSyslog);
  return level;
}

log4cxx::LevelPtr UserErrorLevel() {
  static const log4cxx::LevelPtr level =
      MakeLevel(kUserErrorSeverity, "USER_ERROR", kUserErrorSyslog);
  return level;
}

log4cxx::LevelPtr LevelOfFacadeNumber(int number) {
  switch (number) {
    case 0:
      return log4cxx::Level::getInfo();
    case 1:
      return DetailLevel();
    case 2:
      return FlowLevel();
    case 3:
      return StatusLevel();
    case 4:
      return UserErrorLevel();
    case 5:
      return log4cxx::Level::getWarn();
    case 6:
      return log4cxx::Level::getError();
    case 7:
      return log4cxx::Level::getFatal();
    case log4cxx::Level::ALL_INT:
      return log4cxx::Level::getAll();
    case log4cxx::Level::OFF_INT:
      return log4cxx::Level::getOff();
    default:
      return log4cxx::Level::getDebug();
  }
}

log4cxx::LevelPtr AddedLevelByName(const std::string& name) {
  const std::string trimmed = Trim(name);
  for (const log4cxx::LevelPtr& level :
       {DetailLevel(), FlowLevel(), StatusLevel(), UserErrorLevel()}) {
    if (EqualsIgnoreCase(trimmed, level->toString())) {
      return level;
    }
  }
  return nullptr;
}

void RegisterLevelClass() {
  static const FacadeLevelClass levelClass;
  log4cxx::helpers::Class::registerClass(levelClass);
}

}  // namespace kvd::logging
