// The level table and the time stamp, without configuring the facade.
#include <kvd/tprintf.h>

#include "logging/log_levels.h"
#include "logging/time_stamp.h"

#include <gmock/gmock.h>

#include <cstring>

namespace kvd::logging {
namespace {

struct LevelRow {
  int facadeNumber;
  const char* name;
  int severity;
  int syslog;
};

// Facade numbers, names, severities and syslog equivalents of the table.
const LevelRow kLevelTable[] = {
    {-1, "DEBUG", 10000, 7},  {0, "INFO", 20000, 6},        {1, "DETAIL", 24000, 6},
    {2, "FLOW", 25000, 5},    {3, "STATUS", 26000, 5},      {4, "USER_ERROR", 28000, 4},
    {5, "WARN", 30000, 4},    {6, "ERROR", 40000, 3},       {7, "FATAL", 50000, 0},
    {INT32_MIN, "ALL", INT32_MIN, 7}, {INT32_MAX, "OFF", INT32_MAX, 0}};

TEST(LogLevelsTest, FacadeNumbersGiveTheTabledLevels) {
  for (const LevelRow& row : kLevelTable) {
    const log4cxx::LevelPtr level = LevelOfFacadeNumber(row.facadeNumber);
    EXPECT_EQ(level->toString(), row.name) << row.facadeNumber;
    EXPECT_EQ(level->toInt(), row.severity) << row.name;
    EXPECT_EQ(level->getSyslogEquivalent(), row.syslog) << row.name;
  }
}

TEST(LogLevelsTest, UnknownNumbersMeanDebug) {
  EXPECT_EQ(LevelOfFacadeNumber(42)->toString(), "DEBUG");
  EXPECT_EQ(LevelOfFacadeNumber(-2)->toString(), "DEBUG");
  EXPECT_EQ(LevelOfFacadeNumber(8)->toString(), "DEBUG");
}

TEST(LogLevelsTest, AddedNamesInAnyCase) {
  EXPECT_EQ(AddedLevelByName("user_error"), UserErrorLevel());
  EXPECT_EQ(AddedLevelByName(" Flow "), FlowLevel());
  EXPECT_EQ(AddedLevelByName("WARN"), nullptr);
}

TEST(TimeStampTest, LocalTimeStampHasTwentyOneCharacters) {
  char stamp[32];
  std::memset(stamp, '#', sizeof stamp);
  EXPECT_EQ(GetLocalTimeStamp(stamp), 21);
  EXPECT_EQ(std::strlen(stamp), 21u);
  EXPECT_THAT(stamp, ::testing::MatchesRegex(
                         "[0-9]{2}/[0-9]{2}/[0-9]{2} [0-9]{2}:[0-9]{2}:[0-9]{2}\\.[0-9]{3}"));
  EXPECT_EQ(stamp[22], '#');
}

TEST(TimeStampTest, SuffixIsTheStampFitForAFileName) {
  EXPECT_THAT(LocalTimeSuffix(), ::testing::MatchesRegex("[0-9]{2}(-[0-9]{2}){5}"));
}

}  // namespace
}  // namespace kvd::logging
