// Three streams at once: a raw 16-bit mono recording at 8000 Hz is followed
// by two 8000 Hz handles fed in different chunk sizes and one 16000 Hz
// handle fed the same audio at twice the rate, each on its own thread.
//   three_streams RECORDING.pcm   prints "RATE CHUNK start_ms end_ms" per handle
#include <kvd/kvd_stream.h>

#include <cstdio>
#include <fstream>
#include <iterator>
#include <thread>
#include <vector>

namespace {

struct Result {
  int32_t startMs = -1;
  int32_t endMs = -1;
  int32_t code = KVD_STREAM_OK;
};

Result Follow(const std::vector<int16_t>& pcm, int32_t rate, size_t chunk) {
  Result result;
  kvd_stream* stream = nullptr;
  result.code = kvd_stream_open(nullptr, rate, &stream);
  for (size_t at = 0; result.code == KVD_STREAM_OK && at < pcm.size(); at += chunk) {
    kvd_event events[4];
    int32_t count = 0;
    const size_t n = pcm.size() - at < chunk ? pcm.size() - at : chunk;
    result.code = kvd_stream_feed(stream, pcm.data() + at, static_cast<int32_t>(n), events, 4, &count);
    for (int32_t i = 0; i < count; ++i) {
      const int32_t ms = static_cast<int32_t>(int64_t{events[i].sample} * 1000 / rate);
      if (events[i].kind == KVD_EVENT_SPEECH_START) result.startMs = ms;
      if (events[i].kind == KVD_EVENT_SPEECH_END) result.endMs = ms;
    }
  }
  kvd_stream_free(stream);
  return result;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: three_streams RECORDING.pcm (16-bit mono, 8000 Hz)\n");
    return 2;
  }
  std::ifstream in(argv[1], std::ios::binary);
  const std::vector<char> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  std::vector<int16_t> pcm8(bytes.size() / 2);
  for (size_t i = 0; i < pcm8.size(); ++i)
    pcm8[i] = static_cast<int16_t>(static_cast<unsigned char>(bytes[2 * i]) |
                                   (static_cast<unsigned char>(bytes[2 * i + 1]) << 8));
  std::vector<int16_t> pcm16;  // each sample twice: the same sound at 16000 Hz
  for (int16_t s : pcm8) pcm16.insert(pcm16.end(), {s, s});

  const struct { const std::vector<int16_t>* pcm; int32_t rate; size_t chunk; } jobs[] = {
      {&pcm8, 8000, 160}, {&pcm8, 8000, 1000}, {&pcm16, 16000, 320}};
  Result results[3];
  std::vector<std::thread> threads;
  for (int i = 0; i < 3; ++i)
    threads.emplace_back([&, i] { results[i] = Follow(*jobs[i].pcm, jobs[i].rate, jobs[i].chunk); });
  for (std::thread& t : threads) t.join();
  int status = 0;
  for (int i = 0; i < 3; ++i) {
    if (results[i].code != KVD_STREAM_OK) {
      std::fprintf(stderr, "handle %d: %s\n", i, kvd_strerror(results[i].code));
      status = 1;
    }
    std::printf("%d %zu %d %d\n", jobs[i].rate, jobs[i].chunk, results[i].startMs, results[i].endMs);
  }
  return status;
}
