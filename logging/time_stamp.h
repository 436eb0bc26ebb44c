// Local-time texts used in log lines and log file names.
#ifndef KVD_LOGGING_TIME_STAMP_H
#define KVD_LOGGING_TIME_STAMP_H

#include <string>

namespace kvd::logging {

// Characters of "MM/DD/YY HH:MM:SS.mmm", without the terminator.
constexpr int kTimeStampLength = 21;

// Writes the current local time as "MM/DD/YY HH:MM:SS.mmm" and a terminator
// into stamp, which holds at least kTimeStampLength + 1 characters.
// Returns the characters written before the terminator.
int FormatLocalTimeStamp(char* stamp);

// The current local time as "MM-DD-YY-HH-MM-SS": the date and time of the
// stamp above with every "\", "/" and ":" turned into "-", fit for a file
// name.
std::string LocalTimeSuffix();

}  // namespace kvd::logging

#endif  // KVD_LOGGING_TIME_STAMP_H
