// `kvd trace --svg`: one recording's analysis drawn on one time axis, as a
// hand-written SVG file: the waveform, the four band energies against their
// thresholds and background, the pitch of voiced frames, the keypad-tone
// frames, the line's state and the decisions (start, end, segments).
#ifndef KVD_TOOLS_KVD_TRACE_SVG_H
#define KVD_TOOLS_KVD_TRACE_SVG_H

#include <ostream>

#include "tools/kvd/trace_run.h"

namespace kvdtool {

void WriteTraceSvg(const Trace& trace, std::ostream& out);

}  // namespace kvdtool

#endif  // KVD_TOOLS_KVD_TRACE_SVG_H
