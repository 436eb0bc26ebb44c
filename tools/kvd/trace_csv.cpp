#include "tools/kvd/trace_csv.h"

#include "tools/kvd/output_formats.h"

namespace kvdtool {

void WriteTraceCsv(const Trace& trace, std::ostream& out) {
  out << "frame,time_ms";
  for (const char* column : {"energy_", "threshold_", "background_"})
    for (int32_t band = 0; band < kEnergyBands; ++band) out << "," << column << band;
  // The enhanced decision mode adds its classifier's verdict per frame.
  const bool enhanced = !trace.frames.empty() && trace.frames.front().speechProbability >= 0.0f;
  out << ",active_bands,voiced_frames,pitch_hz,dual_tone,state"
      << (enhanced ? ",speech_probability\n" : "\n");
  for (size_t k = 0; k < trace.frames.size(); ++k) {
    const FrameTrace& frame = trace.frames[k];
    out << frame.frame << ","
        << Milliseconds(static_cast<int64_t>(frame.frame) * trace.frameShift, trace.audio.rate);
    for (const float* values : {frame.bandEnergy, frame.bandThreshold, frame.background})
      for (int32_t band = 0; band < kEnergyBands; ++band) out << "," << values[band];
    out << "," << frame.activeBands << "," << frame.voicedFrames << ",";
    if (trace.pitchHz[k] >= 0) out << trace.pitchHz[k];
    out << "," << (frame.dualTone ? 1 : 0) << "," << frame.state;
    if (enhanced) out << "," << frame.speechProbability;
    out << "\n";
  }
}

}  // namespace kvdtool
