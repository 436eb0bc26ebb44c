#include <stdio.h>
#include <kvd/kvd_stream.h>

/* Reads raw 16-bit mono PCM at 8000 Hz on standard input, prints events. */
int main(void) {
  kvd_stream* stream = NULL;
  int32_t result = kvd_stream_open(NULL, 8000, &stream);
  if (result != KVD_STREAM_OK) { fprintf(stderr, "%s\n", kvd_strerror(result)); return 3; }
  int16_t chunk[160];
  size_t got;
  while ((got = fread(chunk, sizeof chunk[0], 160, stdin)) > 0) {
    kvd_event events[4];
    int32_t count = 0;
    result = kvd_stream_feed(stream, chunk, (int32_t)got, events, 4, &count);
    if (result != KVD_STREAM_OK) { fprintf(stderr, "%s\n", kvd_strerror(result)); break; }
    for (int32_t i = 0; i < count; ++i) printf("event %d at sample %d\n", events[i].kind, events[i].sample);
    int32_t state = 0;
    kvd_stream_state(stream, &state);
    if (state == KVD_STREAM_SPEECH_END || state >= KVD_STREAM_TOO_LONG) kvd_stream_reset(stream);
  }
  kvd_stream_free(stream);
  return result == KVD_STREAM_OK ? 0 : 1;
}
