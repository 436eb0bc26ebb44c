#include "tools/kvd/trace_svg.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

#include "engine/kvd_api.h"
#include "tools/kvd/output_formats.h"

namespace kvdtool {
namespace {

// Page geometry in SVG user units (pixels).
constexpr double kWidth = 1400;
constexpr double kLeft = 110;   // room for the panel labels
constexpr double kRight = 20;
constexpr double kPlotWidth = kWidth - kLeft - kRight;
constexpr double kHeaderHeight = 128;
constexpr double kWaveHeight = 130;
constexpr double kBandHeight = 90;
constexpr double kPitchHeight = 110;
constexpr double kStateHeight = 26;
constexpr double kGap = 14;
constexpr double kAxisHeight = 40;
// Pitch axis, Hz: the voice detector's search range lies inside it.
constexpr double kPitchTopHz = 500;
// Band energies are drawn in dB; levels below this are drawn at it.
constexpr double kFloorDb = -30;

const char* StateColour(int32_t state) {
  static const char* const kColours[] = {"#dddddd", "#cfd8dc", "#43a047", "#1e88e5",
                                         "#ffb300", "#e53935", "#8e24aa"};
  return state >= 0 && state <= speech_too_short ? kColours[state] : kColours[0];
}

std::string Number(double value) {
  char text[32];
  std::snprintf(text, sizeof text, "%.1f", value);
  return text;
}

std::string XmlText(const std::string& text) {
  std::string out;
  for (const char c : text) {
    if (c == '&') out += "&amp;";
    else if (c == '<') out += "&lt;";
    else if (c == '>') out += "&gt;";
    else if (c == '"') out += "&quot;";
    else out += c;
  }
  return out;
}

double Decibels(float power) {
  return power > 0 ? std::max(kFloorDb, 10.0 * std::log10(static_cast<double>(power))) : kFloorDb;
}

class TraceDrawing {
 public:
  TraceDrawing(const Trace& trace, std::ostream& out)
      : trace_(trace), out_(out),
        seconds_(std::max<double>(1, trace.audio.samples.size()) / std::max(1, trace.audio.rate)) {}

  void Draw() {
    double y = kHeaderHeight;
    const double bandsTop = y + kWaveHeight + kGap;
    const double pitchTop = bandsTop + kEnergyBands * (kBandHeight + kGap);
    const double stateTop = pitchTop + kPitchHeight + kGap;
    const double bottom = stateTop + kStateHeight;
    out_ << "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"" << kWidth << "\" height=\""
         << bottom + kAxisHeight << "\" font-family=\"sans-serif\" font-size=\"12\">\n"
         << "<rect width=\"100%\" height=\"100%\" fill=\"white\"/>\n";
    Header();
    Segments(y, bottom);
    Waveform(y);
    for (int32_t band = 0; band < kEnergyBands; ++band) Band(band, bandsTop + band * (kBandHeight + kGap));
    Pitch(pitchTop);
    States(stateTop);
    Decisions(y, bottom);
    Axis(bottom);
    out_ << "</svg>\n";
  }

 private:
  double X(double seconds) const { return kLeft + seconds / seconds_ * kPlotWidth; }
  double FrameX(int32_t frame) const {
    return X(static_cast<double>(frame) * trace_.frameShift / trace_.audio.rate);
  }
  double SampleX(int64_t sample) const { return X(static_cast<double>(sample) / trace_.audio.rate); }

  void Text(double x, double y, const std::string& text, const char* extra = "") {
    out_ << "<text x=\"" << Number(x) << "\" y=\"" << Number(y) << "\"" << extra << ">"
         << XmlText(text) << "</text>\n";
  }

  void PanelFrame(double top, double height, const std::string& label) {
    out_ << "<rect x=\"" << kLeft << "\" y=\"" << Number(top) << "\" width=\"" << kPlotWidth
         << "\" height=\"" << height << "\" fill=\"none\" stroke=\"#999\"/>\n";
    Text(8, top + 14, label);
  }

  void Header() {
    const Detection& decided = trace_.decisions;
    Text(8, 20, "kvd trace: " + decided.file + "  (" + std::to_string(trace_.audio.rate) + " Hz, " +
                    std::to_string(Milliseconds(static_cast<int64_t>(trace_.audio.samples.size()),
                                                trace_.audio.rate)) +
                    " ms, mode " + ModeName(decided.mode) + ")",
         " font-size=\"15\" font-weight=\"bold\"");
    std::string outcome = "online outcome: " + std::string(StateName(trace_.online.state));
    if (decided.mode != Mode::Online) {
      outcome += "; " + std::string(ModeName(decided.mode)) + " segments: " +
                 std::to_string(decided.segments.size());
    }
    Text(8, 40, outcome);
    Text(8, 60,
         "Bands: grey energy, red dashed threshold, green background (dB of band power). "
         "Pitch: blue dots, voiced frames as the 30-frame window settled them "
         "(enhanced mode: the classifier's speech probability, purple, 0 .. 1). "
         "Orange: keypad-tone frames.");
    Text(8, 78,
         "Green background: speech segment(s). Blue line: reported start, red line: reported "
         "end; triangles: the calls that reported a state change.");
    Text(8, 96,
         "State strip: before_speech grey, in_speech green, speech_end blue, no_speech amber, "
         "speech_too_long red, speech_too_short purple.");
    if (decided.mode != Mode::Online) {
      Text(8, 114,
           "Offline mode: the per-frame rows, the start/end lines and the triangles show an online "
           "analysis of the same recording (same configuration with IsOnline = 1); the green "
           "segments come from a second, offline run.",
           " fill=\"#b71c1c\"");
    } else if (trace_.online.end >= 0) {
      Text(8, 114, "The online line finished at its end decision and analysed no further frames.",
           " fill=\"#b71c1c\"");
    }
  }

  // Min/max of the samples under each pixel column.
  void Waveform(double top) {
    const std::vector<int16_t>& samples = trace_.audio.samples;
    int32_t peak = 1;
    for (const int16_t sample : samples) peak = std::max(peak, std::abs(static_cast<int32_t>(sample)));
    PanelFrame(top, kWaveHeight, "waveform");
    Text(8, top + 30, "peak " + std::to_string(peak), " font-size=\"10\" fill=\"#666\"");
    const double middle = top + kWaveHeight / 2;
    const double scale = kWaveHeight / 2 / peak;
    const auto columns = static_cast<size_t>(kPlotWidth);
    out_ << "<path stroke=\"#455a64\" stroke-width=\"1\" fill=\"none\" d=\"";
    for (size_t column = 0; column < columns; ++column) {
      const size_t from = samples.size() * column / columns;
      const size_t to = std::max(from + 1, samples.size() * (column + 1) / columns);
      if (from >= samples.size()) break;
      const auto range = std::minmax_element(samples.begin() + static_cast<std::ptrdiff_t>(from),
                                             samples.begin() + static_cast<std::ptrdiff_t>(std::min(to, samples.size())));
      const double x = kLeft + column + 0.5;
      out_ << "M" << Number(x) << " " << Number(middle - *range.second * scale) << "V"
           << Number(middle - *range.first * scale - 0.5);
    }
    out_ << "\"/>\n";
  }

  // A line through one value per frame, scaled into [low, high] of a panel.
  template <typename Value>
  void FrameLine(double top, double height, double low, double high, Value value,
                 const char* style) {
    if (trace_.frames.empty()) return;
    out_ << "<polyline fill=\"none\" " << style << " points=\"";
    for (const FrameTrace& frame : trace_.frames) {
      const double v = std::min(high, std::max(low, value(frame)));
      out_ << Number(FrameX(frame.frame)) << "," << Number(top + height - (v - low) / (high - low) * height) << " ";
    }
    out_ << "\"/>\n";
  }

  void Band(int32_t band, double top) {
    // Scaled to the energies; thresholds and background beyond them are
    // drawn at the panel's edge.
    double low = 1e9, high = -1e9;
    for (const FrameTrace& frame : trace_.frames) {
      low = std::min(low, Decibels(frame.bandEnergy[band]));
      high = std::max(high, Decibels(frame.bandEnergy[band]));
    }
    if (!(high > low)) {
      low = kFloorDb;
      high = low + 10;
    }
    const double margin = (high - low) * 0.1;
    low -= margin;
    high += margin;
    PanelFrame(top, kBandHeight, "band " + std::to_string(band) + " (dB)");
    Text(8, top + 30, Number(high) + " .. " + Number(low), " font-size=\"10\" fill=\"#666\"");
    FrameLine(top, kBandHeight, low, high, [band](const FrameTrace& f) { return Decibels(f.bandEnergy[band]); },
              "stroke=\"#616161\" stroke-width=\"1\"");
    FrameLine(top, kBandHeight, low, high, [band](const FrameTrace& f) { return Decibels(f.background[band]); },
              "stroke=\"#2e7d32\" stroke-width=\"1.5\"");
    FrameLine(top, kBandHeight, low, high, [band](const FrameTrace& f) { return Decibels(f.bandThreshold[band]); },
              "stroke=\"#d32f2f\" stroke-width=\"1.5\" stroke-dasharray=\"5,3\"");
  }

  bool Enhanced() const {
    return !trace_.frames.empty() && trace_.frames.front().speechProbability >= 0.0f;
  }

  void Pitch(double top) {
    PanelFrame(top, kPitchHeight, Enhanced() ? "speech probability, tones" : "pitch (Hz), tones");
    if (Enhanced()) {
      // The enhanced decision mode: its classifier's verdict per frame, 0 at
      // the bottom, 1 at the top.
      FrameLine(top, kPitchHeight, 0.0, 1.0,
                [](const FrameTrace& f) { return static_cast<double>(f.speechProbability); },
                "stroke=\"#6a1b9a\" stroke-width=\"1.2\"");
    }
    Text(8, top + 30, "0 .. " + Number(kPitchTopHz), " font-size=\"10\" fill=\"#666\"");
    const double frameWidth = std::max(1.0, FrameX(1) - FrameX(0));
    for (const FrameTrace& frame : trace_.frames) {
      if (!frame.dualTone) continue;
      out_ << "<rect x=\"" << Number(FrameX(frame.frame)) << "\" y=\"" << Number(top + kPitchHeight - 12)
           << "\" width=\"" << Number(frameWidth) << "\" height=\"12\" fill=\"#fb8c00\"/>\n";
    }
    for (size_t k = 0; k < trace_.pitchHz.size(); ++k) {
      const double hz = trace_.pitchHz[k];
      if (hz <= 0) continue;
      const double y = top + kPitchHeight - std::min(hz, kPitchTopHz) / kPitchTopHz * kPitchHeight;
      out_ << "<circle cx=\"" << Number(FrameX(static_cast<int32_t>(k))) << "\" cy=\"" << Number(y)
           << "\" r=\"1.6\" fill=\"#1565c0\"/>\n";
    }
  }

  // One rectangle per run of frames in the same state.
  void States(double top) {
    PanelFrame(top, kStateHeight, "state");
    size_t runStart = 0;
    for (size_t k = 1; k <= trace_.frames.size(); ++k) {
      if (k < trace_.frames.size() && trace_.frames[k].state == trace_.frames[runStart].state) continue;
      const int32_t state = trace_.frames[runStart].state;
      const double x = FrameX(trace_.frames[runStart].frame);
      const double width = FrameX(trace_.frames[k - 1].frame + 1) - x;
      out_ << "<rect x=\"" << Number(x) << "\" y=\"" << Number(top + 1) << "\" width=\"" << Number(width)
           << "\" height=\"" << kStateHeight - 2 << "\" fill=\""
           << StateColour(state) << "\"><title>"
           << StateName(state) << "</title></rect>\n";
      runStart = k;
    }
  }

  void Segments(double top, double bottom) {
    for (const Segment& segment : trace_.decisions.segments) {
      const double x = SampleX(segment.start);
      out_ << "<rect x=\"" << Number(x) << "\" y=\"" << Number(top) << "\" width=\""
           << Number(std::max(1.0, SampleX(segment.end) - x)) << "\" height=\"" << Number(bottom - top)
           << "\" fill=\"#e3f2e4\" stroke=\"none\"/>\n";
    }
  }

  void VerticalLine(double x, double top, double bottom, const char* colour, const std::string& label) {
    out_ << "<line x1=\"" << Number(x) << "\" y1=\"" << Number(top) << "\" x2=\"" << Number(x)
         << "\" y2=\"" << Number(bottom) << "\" stroke=\"" << colour << "\" stroke-width=\"1.5\"/>\n";
    Text(x + 3, top + 12, label, " font-size=\"11\"");
  }

  // Reported start and end of the online run, and the calls that reported
  // each state change.
  void Decisions(double top, double bottom) {
    const Detection& online = trace_.online;
    const int32_t rate = trace_.audio.rate;
    if (online.start >= 0)
      VerticalLine(SampleX(online.start), top, bottom, "#1565c0",
                   "start " + std::to_string(Milliseconds(online.start, rate)) + " ms");
    if (online.end >= 0)
      VerticalLine(SampleX(online.end), top, bottom, "#c62828",
                   "end " + std::to_string(Milliseconds(online.end, rate)) + " ms");
    for (const StateEvent& event : online.events) {
      const double x = SampleX(event.position);
      out_ << "<path d=\"M" << Number(x) << " " << Number(top + kWaveHeight) << "l-5 -9h10z\" fill=\""
           << StateColour(event.state) << "\"><title>" << StateName(event.state) << " reported at "
           << Milliseconds(event.position, rate) << " ms</title></path>\n";
      Text(x + 6, top + kWaveHeight - 3, StateName(event.state), " font-size=\"10\"");
    }
  }

  void Axis(double top) {
    const double steps[] = {0.1, 0.2, 0.5, 1, 2, 5, 10, 30, 60, 120, 300, 600};
    double step = steps[0];
    for (const double candidate : steps) {
      step = candidate;
      if (seconds_ / candidate <= 20) break;
    }
    out_ << "<g stroke=\"#999\">\n";
    for (int k = 0; k * step <= seconds_ + 1e-9; ++k) {
      const double x = X(k * step);
      out_ << "<line x1=\"" << Number(x) << "\" y1=\"" << Number(top) << "\" x2=\"" << Number(x)
           << "\" y2=\"" << Number(top + 6) << "\"/>\n";
    }
    out_ << "</g>\n";
    for (int k = 0; k * step <= seconds_ + 1e-9; ++k) {
      char label[32];
      std::snprintf(label, sizeof label, step < 1 ? "%.1f s" : "%.0f s", k * step);
      Text(X(k * step) - 10, top + 20, label, " font-size=\"11\"");
    }
  }

  const Trace& trace_;
  std::ostream& out_;
  double seconds_;
};

}  // namespace

void WriteTraceSvg(const Trace& trace, std::ostream& out) { TraceDrawing(trace, out).Draw(); }

}  // namespace kvdtool
