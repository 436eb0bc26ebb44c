// kvd-features --out DIR FILE.wav...: the enhanced mode's per-frame features
// and speech probability of each recording, for training its classifier
// (eval/train_model.py). DIR/NAME.f32 gets one row per 10 ms frame of
// kFeatureCount + 1 little-endian float32 values: the features, then the
// probability of the classifier built in. Exits 1 when a file cannot be
// read or written, 2 on a bad command line.
#include <cstdio>
#include <fstream>
#include <iostream>
#include <iterator>
#include <string>
#include <vector>

#include "engine/speech_detector.h"
#include "enhanced/enhanced_line.h"
#include "enhanced/enhanced_offline.h"
#include "entry/riff_wave_image.h"

namespace {

std::string BaseName(const std::string& path) {
  const size_t slash = path.find_last_of('/');
  std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
  const size_t dot = name.rfind('.');
  return dot == std::string::npos ? name : name.substr(0, dot);
}

// Features of one recording; an empty string or the reason it failed.
std::string WriteFeatures(const std::string& path, const std::string& outDir) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return "cannot open";
  const std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)),
                                   std::istreambuf_iterator<char>());
  PcmRecording recording;
  std::string problem = ParseRiffWaveImage(bytes, recording);
  if (problem.empty()) problem = CheckAnalysedRate(static_cast<uint32_t>(recording.rate));
  if (!problem.empty()) return problem;

  SpeechDetector detector(recording.rate);
  if (detector.errorStatus != 0 || !detector.SelectDecisionMode(true)) return "no detector";
  detector.UseCheckDTMF = true;
  detector.busyFlag = 1;
  const int32_t sampleCount = static_cast<int32_t>(recording.samples.size());
  const int32_t frameCount =
      sampleCount < detector.frameLength
          ? 0
          : (sampleCount - detector.frameLength) / detector.frameShift + 1;
  std::vector<float> probability;
  std::vector<float> features;
  ScoreRecording(detector, recording.samples.data(), frameCount, probability, &features);

  std::vector<float> rows;
  rows.reserve(static_cast<size_t>(frameCount) * (kFeatureCount + 1));
  for (int32_t f = 0; f < frameCount; ++f) {
    const auto first = features.begin() + static_cast<std::ptrdiff_t>(f) * kFeatureCount;
    rows.insert(rows.end(), first, first + kFeatureCount);
    rows.push_back(probability[static_cast<size_t>(f)]);
  }
  std::ofstream out(outDir + "/" + BaseName(path) + ".f32", std::ios::binary);
  out.write(reinterpret_cast<const char*>(rows.data()),
            static_cast<std::streamsize>(rows.size() * sizeof(float)));
  return out ? "" : "cannot write";
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 4 || std::string(argv[1]) != "--out") {
    std::cerr << "usage: kvd-features --out DIR FILE.wav...\n";
    return 2;
  }
  int status = 0;
  for (int i = 3; i < argc; ++i) {
    const std::string problem = WriteFeatures(argv[i], argv[2]);
    if (!problem.empty()) {
      std::cerr << argv[i] << ": " << problem << "\n";
      status = 1;
    }
  }
  return status;
}
