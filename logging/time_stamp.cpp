#include "logging/time_stamp.h"

#include <cstdio>
#include <ctime>
#include <sys/time.h>

namespace kvd::logging {

namespace {

constexpr int kMicrosecondsPerMillisecond = 1000;
// Room for "%s-%s" of date and time; far more than the 17 characters used.
constexpr size_t kSuffixBufferLength = 200;

struct LocalClock {
  char date[16];  // MM/DD/YY
  char time[16];  // HH:MM:SS
  int milliseconds;
};

LocalClock ReadLocalClock() {
  timeval now{};
  gettimeofday(&now, nullptr);
  tm local{};
  const time_t seconds = now.tv_sec;
  localtime_r(&seconds, &local);
  LocalClock clock{};
  std::strftime(clock.date, sizeof clock.date, "%m/%d/%y", &local);
  std::strftime(clock.time, sizeof clock.time, "%H:%M:%S", &local);
  clock.milliseconds = static_cast<int>(now.tv_usec / kMicrosecondsPerMillisecond);
  return clock;
}

}  // namespace

int FormatLocalTimeStamp(char* stamp) {
  const LocalClock clock = ReadLocalClock();
  return std::snprintf(stamp, kTimeStampLength + 1, "%s %s.%03d", clock.date, clock.time,
                       clock.milliseconds);
}

std::string LocalTimeSuffix() {
  const LocalClock clock = ReadLocalClock();
  char suffix[kSuffixBufferLength];
  std::snprintf(suffix, sizeof suffix, "%s-%s", clock.date, clock.time);
  std::string text = suffix;
  for (char& c : text) {
    if (c == '\\' || c == '/' || c == ':') {
      c = '-';
    }
  }
  return text;
}

}  // namespace kvd::logging
