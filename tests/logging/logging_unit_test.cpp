// The pieces of the logging facade that need no configured facade: option
// values, the translation of LogClt.cfg's vocabulary, the level table and
// the time stamp's length. Dated file names are judged on the scenarios' files.
#include <kvd/tprintf.h>

#include "logging/config_translation.h"
#include "logging/log_levels.h"
#include "logging/option_text.h"
#include "logging/rolling_file_appender.h"

#include <gmock/gmock.h>

#include <cstring>

namespace kvd::logging {
namespace {

using ::testing::IsEmpty;
using ::testing::Pair;

TEST(OptionTextTest, FileSizesAndBooleans) {
  EXPECT_EQ(ParseFileSize("8MB", -1), 8 * 1024 * 1024);
  EXPECT_EQ(ParseFileSize("512kb", -1), 512 * 1024);
  EXPECT_EQ(ParseFileSize("100", -1), 100);
  EXPECT_EQ(ParseFileSize(" 3Gb ", -1), int64_t{3} * 1024 * 1024 * 1024);
  // Missing numbers give the fallback, bad ones 0.
  EXPECT_EQ(ParseFileSize("", 77), 77);
  EXPECT_EQ(ParseFileSize("kb", 77), 77);
  EXPECT_EQ(ParseFileSize("abc", 77), 0);
  EXPECT_EQ(ParseFileSize("-5", 77), 0);

  EXPECT_TRUE(ParseBoolean(" TRUE ", false));
  EXPECT_FALSE(ParseBoolean("False", true));
  EXPECT_TRUE(ParseBoolean("yes", true));
  EXPECT_FALSE(ParseBoolean("1", false));
}

// Keys and class names translated in order, the added levels marked and
// their appender thresholds also set aside, the debug switch read.
TEST(ConfigTranslationTest, KeysClassNamesAddedLevelsAndDebugSwitch) {
  const TranslatedConfig translated = TranslateConfig({
      {"Kestrin.appender.R", "Kestrin.RollingFileAppender"},
      {"Kestrin.appender.R.layout", "org.SIMPLELAYOUT"},
      {"Kestrin.appender.F", "FileAppender"},
      {"Kestrin.appender.C", "Kestrin.ConsoleAppender"},
      {"Kestrin.appender.R.FileName", "logs/VOLA2.log"},
      {"log4j.rootLogger", "DEBUG, C"},
      {"Kestrin.category.tprintf_logger", "flow, T_stdout"},
      {"Kestrin.rootCategory", "ALL, RollingFile"},
      {"Kestrin.threshold", "User_Error"},
      {"Kestrin.appender.T_stdout.Threshold", "STATUS"},
      {"Kestrin.appender.R.Threshold", "DEBUG"},
  });
  EXPECT_THAT(
      translated.entries,
      ::testing::ElementsAre(Pair("log4j.appender.R", "KvdRollingFileAppender"),
                             Pair("log4j.appender.R.layout", "KvdSimpleLayout"),
                             Pair("log4j.appender.F", "KvdFileAppender"),
                             Pair("log4j.appender.C", "ConsoleAppender"),
                             Pair("log4j.appender.R.FileName", "logs/VOLA2.log"),
                             Pair("log4j.category.tprintf_logger", "flow#KvdLevel, T_stdout"),
                             Pair("log4j.rootCategory", "ALL, RollingFile"),
                             Pair("log4j.threshold", "User_Error#KvdLevel"),
                             Pair("log4j.appender.T_stdout.Threshold", "STATUS"),
                             Pair("log4j.appender.R.Threshold", "DEBUG")));
  ASSERT_EQ(translated.addedLevelThresholds.size(), 1u);
  EXPECT_EQ(translated.addedLevelThresholds[0].appenderName, "T_stdout");
  EXPECT_EQ(translated.addedLevelThresholds[0].levelName, "STATUS");
  EXPECT_FALSE(translated.debug);
  EXPECT_TRUE(TranslateConfig({{"Kestrin.debug", "true"}}).debug);
  EXPECT_THAT(TranslateConfig({}).entries, IsEmpty());
}

// A level naming a class that is not a level class made log4cxx set a null
// level and crash: only the name is passed on; this library's class stays.
TEST(ConfigTranslationTest, LevelClassesOtherThanOursAreDropped) {
  EXPECT_THAT(TranslateConfig({{"Kestrin.rootCategory", "D#Layout, C"},
                               {"Kestrin.threshold", " INFO # org.Foo "},
                               {"Kestrin.category.a", "flow#KvdLevel"}})
                  .entries,
              ::testing::ElementsAre(Pair("log4j.rootCategory", "D, C"),
                                     Pair("log4j.threshold", "INFO"),
                                     Pair("log4j.category.a", "flow#KvdLevel")));
}

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

TEST(LogLevelsTest, FacadeNumbersGiveTheTabledLevelsAndUnknownOnesDebug) {
  for (const LevelRow& row : kLevelTable) {
    const log4cxx::LevelPtr level = LevelOfFacadeNumber(row.facadeNumber);
    EXPECT_EQ(level->toString(), row.name) << row.facadeNumber;
    EXPECT_EQ(level->toInt(), row.severity) << row.name;
    EXPECT_EQ(level->getSyslogEquivalent(), row.syslog) << row.name;
  }
  for (const int unknown : {42, -2, 8}) {
    EXPECT_EQ(LevelOfFacadeNumber(unknown)->toString(), "DEBUG") << unknown;
  }
  // The added levels by name, in any case.
  EXPECT_EQ(AddedLevelByName("user_error"), UserErrorLevel());
  EXPECT_EQ(AddedLevelByName(" Flow "), FlowLevel());
  EXPECT_EQ(AddedLevelByName("WARN"), nullptr);
}

// The stamp's form is judged on the scenarios' log lines; here its length,
// the end it writes and the refused null buffer.
TEST(TimeStampTest, StampHasTwentyOneCharactersAndANullBufferNone) {
  char stamp[32];
  std::memset(stamp, '#', sizeof stamp);
  EXPECT_EQ(GetLocalTimeStamp(stamp), 21);
  EXPECT_EQ(std::strlen(stamp), 21u);
  EXPECT_EQ(stamp[22], '#');
  EXPECT_EQ(GetLocalTimeStamp(nullptr), 0);
}

}  // namespace
}  // namespace kvd::logging

// A size past int64 is taken as the largest; an empty size then asks for one
// byte more than that, which must stay within int64 (the sanitizer build
// stops on an overflow) and leaves the largest size in place.
TEST(RollingFileAppenderTest, EmptySizeAfterTheLargestStaysWithinRange) {
  kvd::logging::KvdRollingFileAppender appender;
  appender.setOption(LOG4CXX_STR("MaxFileSize"), LOG4CXX_STR("100111111111111111111"));
  appender.setOption(LOG4CXX_STR("MaxFileSize"), LOG4CXX_STR(""));
  appender.setOption(LOG4CXX_STR("MaxFileSize"), LOG4CXX_STR("  "));
  SUCCEED();
}
