// kvd-mute-end <recording>: asks libkvd.so where the leading silence of a
// recording ends, with the configuration that lies beside the library, and
// prints the answer after the library's own report. Exit status: 0 with an
// answer, 3 when the recording holds no speech, 1 when GetMuteEnd failed
// (its message is printed above), 2 for a wrong command line.
#include <cstdio>

#include <kvd/get_mute_end.h>

namespace {
constexpr int kExitNoSpeech = 3;
}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: kvd-mute-end <recording.wav|recording.pcm>\n");
    return 2;
  }
  int32_t muteEndSamples = -1;
  int32_t muteEndMs = -1;
  const int32_t result = GetMuteEnd(argv[1], &muteEndSamples, &muteEndMs);
  if (result == KVD_MUTE_END_NO_SPEECH) {
    std::printf("No speech found\n");
    return kExitNoSpeech;
  }
  if (result != 0) {
    std::printf("GetMuteEnd failed: %d\n", result);
    return 1;
  }
  std::printf("Leading silence ends at sample %d (%d ms)\n", muteEndSamples, muteEndMs);
  return 0;
}
