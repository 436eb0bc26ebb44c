#include "tools/kvd/detect_command.h"

#include <algorithm>
#include <exception>
#include <vector>

#include "engine/kvd_api.h"
#include "tools/kvd/detection.h"
#include "tools/kvd/engine_setup.h"
#include "tools/kvd/job_pool.h"
#include "tools/kvd/output_formats.h"

namespace kvdtool {
namespace {

// Clears the progress line so that a message starts at the left edge.
constexpr char kClearLine[] = "\r\033[K";

// One job's engine line. A line that failed stays broken, so the job trades
// it for the spare line when it can.
class JobLine {
 public:
  void Open() {
    if (KVD_Open(&line_) != KVD_OK) line_ = -1;
  }
  void Close() {
    if (line_ >= 0) KVD_Close(line_);
    line_ = -1;
  }
  Detection Detect(const EngineSettings& settings, const EngineOptions& options,
                   const std::string& path) {
    if (line_ < 0) {
      Detection result;
      result.file = path;
      result.error = path + ": no engine line left for this job (an earlier file broke its line)";
      return result;
    }
    Detection result = DetectFile(line_, settings, options, path);
    if (result.engineFailed) {
      Close();
      Open();
    }
    return result;
  }

 private:
  int32_t line_ = -1;
};

Detection DetectSafely(JobLine& line, const EngineSettings& settings, const EngineOptions& options,
                       const std::string& path) {
  try {
    return line.Detect(settings, options, path);
  } catch (const std::exception& failure) {
    Detection result;
    result.file = path;
    result.error = path + ": " + failure.what();
    return result;
  }
}

}  // namespace

int RunDetect(const DetectOptions& options, std::ostream& out, std::ostream& err, bool progress) {
  const auto jobs = static_cast<int32_t>(
      std::min<size_t>(static_cast<size_t>(options.jobs), options.files.size()));
  EngineSettings settings;
  // One spare line replaces the first line an engine failure breaks.
  const std::string problem = StartEngine(options.engine, jobs + 1, settings);
  if (!problem.empty()) {
    err << "kvd: " << problem << "\n";
    return kExitEngine;
  }
  std::vector<JobLine> lines(static_cast<size_t>(jobs));
  std::vector<Detection> results(options.files.size());
  size_t failures = 0;
  out << FormatHeader(options.format);

  JobPool pool;
  pool.begin = [&](int32_t job) { lines[static_cast<size_t>(job)].Open(); };
  pool.end = [&](int32_t job) { lines[static_cast<size_t>(job)].Close(); };
  pool.work = [&](int32_t job, size_t item) {
    results[item] =
        DetectSafely(lines[static_cast<size_t>(job)], settings, options.engine, options.files[item]);
  };
  pool.emit = [&](size_t item) {
    const Detection& result = results[item];
    if (progress) err << kClearLine;
    if (!result.warning.empty()) err << "kvd: warning: " << result.warning << "\n";
    if (result.error.empty()) {
      out << FormatDetection(options.format, result);
    } else {
      ++failures;
      err << "kvd: " << result.error << "\n";
      out << FormatFailure(options.format, result);
    }
    out.flush();
    if (progress)
      err << "kvd: " << item + 1 << "/" << results.size() << " files" << std::flush;
    results[item] = Detection();  // its output is written: free its events
  };
  pool.Run(options.files.size(), jobs);
  if (progress) err << kClearLine << std::flush;
  StopEngine();
  return failures == 0 ? kExitSuccess : kExitFileFailed;
}

}  // namespace kvdtool
