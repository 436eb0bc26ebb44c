// The outputs of `kvd detect`: text for people, one JSON object per line
// for pipelines, CSV for spreadsheets, and an Audacity label track.
#ifndef KVD_TOOLS_KVD_OUTPUT_FORMATS_H
#define KVD_TOOLS_KVD_OUTPUT_FORMATS_H

#include <string>

#include "tools/kvd/detection.h"
#include "tools/kvd/options.h"

namespace kvdtool {

// What precedes the first file's output (the CSV header), else empty.
std::string FormatHeader(Format format);

// The output of one processed file (result.error empty), lines ended by "\n".
std::string FormatDetection(Format format, const Detection& result);

// What a file that could not be processed leaves on standard output: the
// JSON error object, nothing in the other formats (the message goes to
// standard error).
std::string FormatFailure(Format format, const Detection& result);

// Milliseconds of a sample position: samples * 1000 / rate, truncated.
long long Milliseconds(int64_t samples, int32_t rate);

}  // namespace kvdtool

#endif  // KVD_TOOLS_KVD_OUTPUT_FORMATS_H
