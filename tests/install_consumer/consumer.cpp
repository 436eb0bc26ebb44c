// Calls the installed library's GetMuteEnd on the recording given and exits
// 0 only when it answers 0 with a start inside the recording.
#include <cstdio>

#include <kvd/get_mute_end.h>

int main(int argc, char** argv) {
  if (argc != 2) return 2;
  int32_t samples = -1;
  int32_t ms = -1;
  const int32_t result = GetMuteEnd(argv[1], &samples, &ms);
  std::printf("consumer: result=%d samples=%d ms=%d\n", result, samples, ms);
  return result == 0 && samples >= 0 && ms >= 0 ? 0 : 1;
}
