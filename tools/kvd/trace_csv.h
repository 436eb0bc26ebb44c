// `kvd trace --csv`: the traced values of every frame as numbers.
#ifndef KVD_TOOLS_KVD_TRACE_CSV_H
#define KVD_TOOLS_KVD_TRACE_CSV_H

#include <ostream>

#include "tools/kvd/trace_run.h"

namespace kvdtool {

// A header line, then one row per analysed frame: frame, time_ms (frame
// start), energy_0..3, threshold_0..3, background_0..3 (band power on the
// engine's 1/N FFT scale), active_bands, voiced_frames (of the 30-frame
// window ending at the frame), pitch_hz (empty while not settled, 0
// unvoiced), dual_tone (0/1), state (DetectState after the frame).
void WriteTraceCsv(const Trace& trace, std::ostream& out);

}  // namespace kvdtool

#endif  // KVD_TOOLS_KVD_TRACE_CSV_H
