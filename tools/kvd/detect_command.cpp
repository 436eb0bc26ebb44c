#include "tools/kvd/detect_command.h"

#include <algorithm>
#include <exception>
#include <vector>

#include "engine/kvd_api.h"
#include "engine/speech_detector.h"
#include "tools/kvd/audio_file.h"
#include "tools/kvd/detection.h"
#include "tools/kvd/engine_setup.h"
#include "tools/kvd/job_pool.h"
#include "tools/kvd/output_formats.h"

namespace kvdtool {
namespace {

// Clears the progress line so that a message starts at the left edge.
constexpr char kClearLine[] = "\r\033[K";

// One job's engine line. A failed call can leave a line broken for good
// (its errorStatus is kept); the job then takes the spare line and keeps
// the broken one open, so that no job is handed it again. KVD_Exit releases
// every line.
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
      result.error = path + ": no engine line left for this job (earlier files broke its lines)";
      return result;
    }
    Detection result = DetectFile(line_, settings, options, path);
    if (result.engineFailed && GetLine(line_)->errorStatus != KVD_OK) Open();
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

// The distinct rates (Hz) of the files in order of first appearance, and the
// files of each. A file that cannot be read goes with the first group: its
// run reports why.
struct RateGroup {
  int32_t rate = 0;
  std::vector<size_t> items;
};

std::vector<RateGroup> GroupByRate(const std::vector<std::string>& files, int32_t rawRate) {
  std::vector<RateGroup> groups;
  std::vector<size_t> unreadable;
  for (size_t item = 0; item < files.size(); ++item) {
    AudioFile audio;
    if (!ReadAudioFile(files[item], rawRate, audio).empty()) {
      unreadable.push_back(item);
      continue;
    }
    auto group = std::find_if(groups.begin(), groups.end(),
                              [&](const RateGroup& g) { return g.rate == audio.rate; });
    if (group == groups.end()) group = groups.insert(groups.end(), RateGroup{audio.rate, {}});
    group->items.push_back(item);
  }
  if (groups.empty()) groups.push_back(RateGroup{});  // 0: the configuration's rate
  groups.front().items.insert(groups.front().items.end(), unreadable.begin(), unreadable.end());
  return groups;
}

}  // namespace

int RunDetect(const DetectOptions& options, std::ostream& out, std::ostream& err, bool progress) {
  const auto jobs = static_cast<int32_t>(
      std::min<size_t>(static_cast<size_t>(options.jobs), options.files.size()));
  // Each rate is analysed by an engine started at that rate; output stays in
  // input order, written as soon as a result and all before it are there.
  const std::vector<RateGroup> groups = GroupByRate(options.files, options.engine.rawRate);
  std::vector<Detection> results(options.files.size());
  std::vector<bool> done(options.files.size(), false);
  size_t written = 0;
  size_t failures = 0;
  const auto writeReady = [&] {
    for (; written < results.size() && done[written]; ++written) {
      const Detection& result = results[written];
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
        err << "kvd: " << written + 1 << "/" << results.size() << " files" << std::flush;
      results[written] = Detection();  // its output is written: free its events
    }
  };
  for (size_t g = 0; g < groups.size(); ++g) {
    const std::vector<size_t>& items = groups[g].items;
    const auto groupJobs =
        static_cast<int32_t>(std::min<size_t>(static_cast<size_t>(jobs), items.size()));
    EngineSettings settings;
    // One spare line (when the table has room) replaces the first line an
    // engine failure breaks.
    const std::string problem =
        StartEngine(options.engine, std::min(groupJobs + 1, kMaxLines), settings, groups[g].rate);
    if (!problem.empty() && g == 0) {
      err << "kvd: " << problem << "\n";
      return kExitEngine;
    }
    if (g == 0) out << FormatHeader(options.format);
    if (!problem.empty()) {  // this rate only: the others are analysed
      for (size_t item : items) {
        results[item].file = options.files[item];
        results[item].error = options.files[item] + ": " + problem;
        done[item] = true;
      }
      writeReady();
      continue;
    }
    std::vector<JobLine> lines(static_cast<size_t>(groupJobs));
    JobPool pool;
    pool.begin = [&](int32_t job) { lines[static_cast<size_t>(job)].Open(); };
    pool.end = [&](int32_t job) { lines[static_cast<size_t>(job)].Close(); };
    pool.work = [&](int32_t job, size_t index) {
      const size_t item = items[index];
      results[item] = DetectSafely(lines[static_cast<size_t>(job)], settings, options.engine,
                                   options.files[item]);
    };
    pool.emit = [&](size_t index) {
      done[items[index]] = true;
      writeReady();
    };
    pool.Run(items.size(), groupJobs);
    StopEngine();
  }
  if (progress) err << kClearLine << std::flush;
  return failures == 0 ? kExitSuccess : kExitFileFailed;
}

}  // namespace kvdtool
