#include "tools/kvd/output_formats.h"

#include <cinttypes>
#include <cstdio>
#include <sstream>

#include "engine/kvd_api.h"

namespace kvdtool {
namespace {

std::string JsonString(const std::string& text) {
  std::string out = "\"";
  for (const char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    if (c == '"' || c == '\\') {
      out += '\\';
      out += c;
    } else if (byte < 0x20) {
      char escaped[8];
      std::snprintf(escaped, sizeof escaped, "\\u%04x", byte);
      out += escaped;
    } else {
      out += c;
    }
  }
  return out + "\"";
}

// A CSV field, quoted when it holds a comma, a quote or a line break.
std::string CsvField(const std::string& text) {
  if (text.find_first_of(",\"\r\n") == std::string::npos) return text;
  std::string out = "\"";
  for (const char c : text) {
    if (c == '"') out += '"';
    out += c;
  }
  return out + "\"";
}

// Seconds with microsecond digits, as label tracks write them.
std::string Seconds(int64_t samples, int32_t rate) {
  char text[32];
  std::snprintf(text, sizeof text, "%.6f", static_cast<double>(samples) / rate);
  return text;
}

long long PositionMs(int32_t samples, int32_t rate) {
  return samples < 0 ? -1 : Milliseconds(samples, rate);
}

std::string SegmentsJson(const Detection& result) {
  std::ostringstream out;
  out << "[";
  for (size_t k = 0; k < result.segments.size(); ++k) {
    out << (k ? "," : "") << "[" << Milliseconds(result.segments[k].start, result.rate) << ","
        << Milliseconds(result.segments[k].end, result.rate) << "]";
  }
  out << "]";
  return out.str();
}

std::string Json(const Detection& result) {
  std::ostringstream out;
  out << "{\"file\":" << JsonString(result.file) << ",\"rate\":" << result.rate
      << ",\"samples\":" << result.samples << ",\"mode\":\"" << ModeName(result.mode)
      << "\",\"state\":" << result.state;
  if (result.mode == Mode::Online) {
    out << ",\"outcome\":\"" << StateName(result.state) << "\",\"start_ms\":"
        << PositionMs(result.start, result.rate) << ",\"end_ms\":"
        << PositionMs(result.end, result.rate);
  }
  out << ",\"segments\":" << SegmentsJson(result);
  if (result.mode == Mode::Online) {
    out << ",\"events\":[";
    for (size_t k = 0; k < result.events.size(); ++k) {
      const StateEvent& event = result.events[k];
      out << (k ? "," : "") << "{\"ms\":" << Milliseconds(event.position, result.rate)
          << ",\"state\":" << event.state << ",\"outcome\":\"" << StateName(event.state) << "\"}";
    }
    out << "]";
  }
  out << "}\n";
  return out.str();
}

std::string Text(const Detection& result) {
  std::ostringstream out;
  out << result.file << ": " << ModeName(result.mode) << ", " << result.rate << " Hz, "
      << Milliseconds(result.samples, result.rate) << " ms\n";
  if (result.mode == Mode::Online) {
    for (const StateEvent& event : result.events) {
      out << "  " << Milliseconds(event.position, result.rate) << " ms  "
          << StateName(event.state) << "\n";
    }
    out << "  final: " << StateName(result.state) << ", start "
        << PositionMs(result.start, result.rate) << " ms, end "
        << PositionMs(result.end, result.rate) << " ms\n";
    return out.str();
  }
  for (size_t k = 0; k < result.segments.size(); ++k) {
    out << "  segment " << k + 1 << ": " << Milliseconds(result.segments[k].start, result.rate)
        << " ms .. " << Milliseconds(result.segments[k].end, result.rate) << " ms\n";
  }
  if (result.segments.empty()) out << "  no speech segment\n";
  return out.str();
}

// One row per segment; a file without a segment has one row with segment 0.
std::string Csv(const Detection& result) {
  std::ostringstream out;
  const std::string lead = CsvField(result.file) + "," + ModeName(result.mode) + "," +
                           std::to_string(result.state) + "," + StateName(result.state) + ",";
  for (size_t k = 0; k < result.segments.size(); ++k) {
    out << lead << k + 1 << "," << Milliseconds(result.segments[k].start, result.rate) << ","
        << Milliseconds(result.segments[k].end, result.rate) << "\n";
  }
  if (result.segments.empty()) out << lead << "0,-1,-1\n";
  return out.str();
}

// Segments as region labels; online state changes as point labels at the
// time they were reported.
std::string Labels(const Detection& result) {
  std::ostringstream out;
  const char* segmentLabel = result.mode == Mode::Online ? StateName(result.state) : "speech";
  for (const Segment& segment : result.segments) {
    out << Seconds(segment.start, result.rate) << "\t" << Seconds(segment.end, result.rate)
        << "\t" << segmentLabel << "\n";
  }
  for (const StateEvent& event : result.events) {
    const std::string at = Seconds(event.position, result.rate);
    out << at << "\t" << at << "\treported " << StateName(event.state) << "\n";
  }
  return out.str();
}

}  // namespace

long long Milliseconds(int64_t samples, int32_t rate) {
  return rate > 0 ? static_cast<long long>(samples * 1000 / rate) : 0;
}

std::string FormatHeader(Format format) {
  return format == Format::Csv ? "file,mode,state,outcome,segment,start_ms,end_ms\n" : "";
}

std::string FormatDetection(Format format, const Detection& result) {
  switch (format) {
    case Format::Json: return Json(result);
    case Format::Csv: return Csv(result);
    case Format::Labels: return Labels(result);
    case Format::Text: break;
  }
  return Text(result);
}

std::string FormatFailure(Format format, const Detection& result) {
  if (format != Format::Json) return std::string();
  return "{\"file\":" + JsonString(result.file) + ",\"error\":" + JsonString(result.error) + "}\n";
}

}  // namespace kvdtool
