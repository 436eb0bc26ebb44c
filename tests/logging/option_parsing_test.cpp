// Option values, file names and the translation of LogClt.cfg's vocabulary,
// all without configuring the facade.
#include "logging/config_translation.h"
#include "logging/file_name.h"
#include "logging/option_text.h"

#include <gmock/gmock.h>

namespace kvd::logging {
namespace {

using ::testing::Contains;
using ::testing::IsEmpty;
using ::testing::Pair;

TEST(FileSizeTest, UnitsAndPlainNumbers) {
  EXPECT_EQ(ParseFileSize("8MB", -1), 8 * 1024 * 1024);
  EXPECT_EQ(ParseFileSize("512kb", -1), 512 * 1024);
  EXPECT_EQ(ParseFileSize("100", -1), 100);
  EXPECT_EQ(ParseFileSize(" 3Gb ", -1), int64_t{3} * 1024 * 1024 * 1024);
}

TEST(FileSizeTest, MissingOrBadNumbers) {
  EXPECT_EQ(ParseFileSize("", 77), 77);
  EXPECT_EQ(ParseFileSize("kb", 77), 77);
  EXPECT_EQ(ParseFileSize("abc", 77), 0);
  EXPECT_EQ(ParseFileSize("-5", 77), 0);
}

TEST(BooleanOptionTest, WordsInAnyCaseElseFallback) {
  EXPECT_TRUE(ParseBoolean(" TRUE ", false));
  EXPECT_FALSE(ParseBoolean("False", true));
  EXPECT_TRUE(ParseBoolean("yes", true));
  EXPECT_FALSE(ParseBoolean("1", false));
}

TEST(FileNameTest, ExtensionIsTakenFromTheFileNameOnly) {
  EXPECT_EQ(SplitBaseAndExtension("logs/VOLA2.log").base, "logs/VOLA2");
  EXPECT_EQ(SplitBaseAndExtension("logs/VOLA2.log").extension, "log");
  EXPECT_EQ(SplitBaseAndExtension("my.logs/app").base, "my.logs/app");
  EXPECT_EQ(SplitBaseAndExtension("my.logs\\app").extension, "log");
  EXPECT_EQ(SplitBaseAndExtension("a.b/c.d.txt").base, "a.b/c.d");
}

TEST(FileNameTest, EffectiveNameCarriesTheSuffixBeforeTheExtension) {
  EXPECT_EQ(EffectiveFileName("logs/VOLA2.log", "12-05-26-06-44-31"),
            "logs/VOLA2-12-05-26-06-44-31.log");
  EXPECT_EQ(EffectiveFileName("logs/VOLA2.log", ""), "logs/VOLA2.log");
  EXPECT_EQ(EffectiveFileName("logs/app", ""), "logs/app.log");
}

TEST(ConfigTranslationTest, KeysAndClassNames) {
  const TranslatedConfig translated = TranslateConfig({
      {"Kestrin.appender.R", "Kestrin.RollingFileAppender"},
      {"Kestrin.appender.R.layout", "org.SIMPLELAYOUT"},
      {"Kestrin.appender.F", "FileAppender"},
      {"Kestrin.appender.C", "Kestrin.ConsoleAppender"},
      {"Kestrin.appender.R.FileName", "logs/VOLA2.log"},
      {"log4j.rootLogger", "DEBUG, C"},
  });
  EXPECT_THAT(translated.entries,
              ::testing::ElementsAre(Pair("log4j.appender.R", "KvdRollingFileAppender"),
                                     Pair("log4j.appender.R.layout", "KvdSimpleLayout"),
                                     Pair("log4j.appender.F", "KvdFileAppender"),
                                     Pair("log4j.appender.C", "ConsoleAppender"),
                                     Pair("log4j.appender.R.FileName", "logs/VOLA2.log")));
}

TEST(ConfigTranslationTest, AddedLevelsAndDebugSwitch) {
  const TranslatedConfig translated = TranslateConfig({
      {"Kestrin.category.tprintf_logger", "flow, T_stdout"},
      {"Kestrin.rootCategory", "ALL, RollingFile"},
      {"Kestrin.threshold", "User_Error"},
      {"Kestrin.appender.T_stdout.Threshold", "STATUS"},
      {"Kestrin.appender.R.Threshold", "DEBUG"},
      {"Kestrin.debug", "true"},
  });
  EXPECT_THAT(translated.entries,
              Contains(Pair("log4j.category.tprintf_logger", "flow#KvdLevel, T_stdout")));
  EXPECT_THAT(translated.entries, Contains(Pair("log4j.rootCategory", "ALL, RollingFile")));
  EXPECT_THAT(translated.entries, Contains(Pair("log4j.threshold", "User_Error#KvdLevel")));
  ASSERT_EQ(translated.addedLevelThresholds.size(), 1u);
  EXPECT_EQ(translated.addedLevelThresholds[0].appenderName, "T_stdout");
  EXPECT_EQ(translated.addedLevelThresholds[0].levelName, "STATUS");
  EXPECT_TRUE(translated.debug);
  EXPECT_FALSE(TranslateConfig({}).debug);
  EXPECT_THAT(TranslateConfig({}).entries, IsEmpty());
}

}  // namespace
}  // namespace kvd::logging
