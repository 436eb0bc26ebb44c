// The facade's severity levels. log4cxx's own ALL, DEBUG, INFO, WARN, ERROR,
// FATAL and OFF are joined by four levels between INFO and WARN:
//
//   name        severity  facade number  syslog
//   DEBUG          10000             -1       7
//   INFO           20000              0       6
//   DETAIL         24000              1       6
//   FLOW           25000              2       5
//   STATUS         26000              3       5
//   USER_ERROR     28000              4       4
//   WARN           30000              5       4
//   ERROR          40000              6       3
//   FATAL          50000              7       0
//
// The facade number is what callers pass; the severity is what log4cxx
// compares against thresholds.
#ifndef KVD_LOGGING_LOG_LEVELS_H
#define KVD_LOGGING_LOG_LEVELS_H

#include <log4cxx/level.h>

#include <string>

namespace kvd::logging {

// Name of the level class given to log4cxx, so that configuration text can
// name an added level as "FLOW#KvdLevel".
extern const char kLevelClassName[];

log4cxx::LevelPtr DetailLevel();
log4cxx::LevelPtr FlowLevel();
log4cxx::LevelPtr StatusLevel();
log4cxx::LevelPtr UserErrorLevel();

// The level of a facade number; a number not in the table gives DEBUG.
log4cxx::LevelPtr LevelOfFacadeNumber(int number);

// One of the four added levels by name, in any letter case; null for any
// other name.
log4cxx::LevelPtr AddedLevelByName(const std::string& name);

// Makes the level class known to log4cxx's class registry.
void RegisterLevelClass();

}  // namespace kvd::logging

#endif  // KVD_LOGGING_LOG_LEVELS_H
