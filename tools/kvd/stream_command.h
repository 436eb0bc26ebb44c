// `kvd stream`: follows a live call fed as raw PCM on a pipe, printing each
// event the moment it happens and re-arming after every utterance.
#ifndef KVD_TOOLS_KVD_STREAM_COMMAND_H
#define KVD_TOOLS_KVD_STREAM_COMMAND_H

#include <cstdint>
#include <cstdio>
#include <ostream>
#include <string>
#include <vector>

#include "tools/kvd/options.h"

namespace kvdtool {

struct StreamOptions {
  int32_t rate = 8000;
  std::string config;   // empty: kvd.cfg installed beside the library, else the shipped defaults
  std::string input = "-";  // file or FIFO; "-" standard input
  bool json = false;
  int32_t chunk = kDefaultChunkSamples;
};

Parsed<StreamOptions> ParseStreamOptions(const std::vector<std::string>& args);

// Reads 16-bit little-endian samples from in until its end, printing one
// flushed line per event to out. Returns an exit status of kvd.
int RunStream(const StreamOptions& options, std::FILE* in, std::ostream& out, std::ostream& err);

// Opens options.input (or takes standard input) and runs RunStream.
int RunStreamCommand(const StreamOptions& options, std::ostream& out, std::ostream& err);

}  // namespace kvdtool

#endif  // KVD_TOOLS_KVD_STREAM_COMMAND_H
