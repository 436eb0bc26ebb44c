#include "tools/kvd/trace_run.h"

#include "engine/kvd_api.h"
#include "engine/speech_detector.h"
#include "tools/kvd/engine_setup.h"

namespace kvdtool {
namespace {

void CollectFrame(void* user, const FrameTrace& frame) {
  static_cast<std::vector<FrameTrace>*>(user)->push_back(frame);
}

// One run of the recording on a fresh engine in the given mode; the frames
// of an online run are collected into frames when it is not null.
std::string RunOnce(const EngineOptions& options, const std::string& path, const AudioFile& audio,
                    std::vector<FrameTrace>* frames, Detection& result, int32_t& frameShift,
                    bool& engineStartFailed) {
  EngineSettings settings;
  std::string problem = StartEngine(options, 1, settings, audio.rate);
  if (!problem.empty()) {
    engineStartFailed = true;
    return problem;
  }
  frameShift = settings.sampleRate / 100;
  int32_t line = -1;
  const int32_t code = KVD_Open(&line);
  if (code != KVD_OK) {
    StopEngine();
    return "the engine cannot open a line: " + EngineErrorText(code);
  }
  if (frames != nullptr) {
    GetLine(line)->frameTraceUser = frames;
    GetLine(line)->frameTraceHook = CollectFrame;
  }
  result = DetectAudio(line, settings, options, path, audio);
  GetLine(line)->frameTraceHook = nullptr;
  KVD_Close(line);
  StopEngine();
  return result.error;
}

}  // namespace

std::string RunTrace(const TraceOptions& options, Trace& trace, bool& engineStartFailed) {
  engineStartFailed = false;
  std::string problem = ReadAudioFile(options.file, options.engine.rawRate, trace.audio);
  if (!problem.empty()) return options.file + " " + problem;
  // The requested mode's own run first: it also tells which mode the
  // configuration selects.
  problem = RunOnce(options.engine, options.file, trace.audio, nullptr, trace.decisions,
                    trace.frameShift, engineStartFailed);
  if (!problem.empty()) return problem;
  EngineOptions online = options.engine;
  online.mode = Mode::Online;
  problem = RunOnce(online, options.file, trace.audio, &trace.frames, trace.online,
                    trace.frameShift, engineStartFailed);
  if (!problem.empty()) return problem;
  trace.pitchHz.assign(trace.frames.size(), -1.0f);
  for (const FrameTrace& frame : trace.frames) {
    if (frame.settledFrame >= 0) trace.pitchHz[static_cast<size_t>(frame.settledFrame)] = frame.settledPitchHz;
  }
  return std::string();
}

}  // namespace kvdtool
