/* Streaming speech detection, one handle per audio stream (C linkage).
 *
 *   kvd_stream* s = NULL;
 *   if (kvd_stream_open(NULL, 8000, &s) != KVD_STREAM_OK) ...   (shipped defaults)
 *   kvd_event ev[8]; int32_t n = 0;
 *   kvd_stream_feed(s, samples, count, ev, 8, &n);               (any count, any time)
 *   ... ev[i].kind, ev[i].sample ...
 *   kvd_stream_reset(s);                                          (next utterance)
 *   kvd_stream_free(s);
 *
 * Any number of handles may exist at once, each with its own rate and
 * configuration. A handle is used by one thread at a time; different handles
 * may be used from different threads at the same time. Nothing here ends the
 * process: every failure is a negative result with a text (kvd_strerror);
 * the engine's own detail goes to its log (logs/VOLA2.log by default).
 *
 * Samples are 16-bit signed PCM, mono, at the handle's rate. Sample positions
 * count from the handle's open or its last kvd_stream_reset. */
#ifndef KVD_KVD_STREAM_H
#define KVD_KVD_STREAM_H

#include <stdint.h>

#include "kvd/export.h"

#define KVD_STREAM_VERSION_MAJOR 1
#define KVD_STREAM_VERSION_MINOR 0
#define KVD_STREAM_VERSION_PATCH 0
#define KVD_STREAM_VERSION "1.0.0"

/* Results: 0 success, every failure negative. */
#define KVD_STREAM_OK 0
#define KVD_STREAM_ERR_NULL_HANDLE (-1)     /* the handle (or its out-pointer) is null */
#define KVD_STREAM_ERR_NULL_ARGUMENT (-2)   /* samples or another pointer is null */
#define KVD_STREAM_ERR_NEGATIVE_COUNT (-3)  /* a negative sample count or capacity */
#define KVD_STREAM_ERR_LOW_RATE (-4)        /* sample rate below 8000 Hz */
#define KVD_STREAM_ERR_CONFIG_FILE (-5)     /* configuration file missing or unreadable */
#define KVD_STREAM_ERR_CONFIG (-6)          /* a key missing, malformed or out of range */
#define KVD_STREAM_ERR_UNKNOWN_KEY (-7)     /* configuration text names an unknown key */
#define KVD_STREAM_ERR_CONFIG_SYNTAX (-8)   /* configuration text line without "key = value" */
#define KVD_STREAM_ERR_MEMORY (-9)          /* the detector could not be built */
#define KVD_STREAM_ERR_BROKEN (-10)         /* the stream failed earlier (bad data, too long a stream) */
#define KVD_STREAM_ERR_TOO_MANY_SEGMENTS (-11) /* more segments than the configuration's MaxSegNum allows */
#define KVD_STREAM_ERR_BAD_MODE (-12)       /* an offline mode other than the two below */

/* What happened in a stream. */
#define KVD_EVENT_SPEECH_START 1 /* speech began at sample */
#define KVD_EVENT_SPEECH_END 2   /* the utterance ended at sample (finished) */
#define KVD_EVENT_NO_INPUT 3     /* no speech began within MaxWaitFrame; detection goes on */
#define KVD_EVENT_TOO_LONG 4     /* the utterance was cut at MaxSpeechDuration (finished) */
#define KVD_EVENT_TOO_SHORT 5    /* speech ended shorter than MinSpeechDuration (finished) */

/* States, as kvd_stream_state reports them. */
#define KVD_STREAM_BEFORE_SPEECH 1
#define KVD_STREAM_IN_SPEECH 2
#define KVD_STREAM_SPEECH_END 3
#define KVD_STREAM_NO_SPEECH 4
#define KVD_STREAM_TOO_LONG 5
#define KVD_STREAM_TOO_SHORT 6

/* Offline modes of kvd_segments. */
#define KVD_SEGMENTS_SINGLE 1 /* one segment from the first to the last speech */
#define KVD_SEGMENTS_MULTI 2  /* every stretch of speech */

typedef struct kvd_stream kvd_stream;

typedef struct kvd_event {
  int32_t kind;   /* KVD_EVENT_... */
  int32_t sample; /* where it happened, in samples of the stream */
} kvd_event;

#ifdef __cplusplus
extern "C" {
#endif

/* "1.0.0": the version of this interface and library. */
KVD_EXPORT const char* kvd_version(void);

/* The text of a result code; "unknown result" for a code it does not know. */
KVD_EXPORT const char* kvd_strerror(int32_t code);

/* The name of an event kind: "speech_start", "speech_end", "no_speech",
 * "speech_too_long", "speech_too_short"; "unknown" for another number. */
KVD_EXPORT const char* kvd_event_name(int32_t kind);

/* Opens a stream at sample_rate Hz (8000 or more).
 *   config_path [in]  kvd.cfg-style file (its "_offline.cfg" companion is read
 *                     beside it when the modes need it), or NULL for the
 *                     shipped defaults; its SampleRate is not used
 *   stream      [out] the new handle, NULL on failure */
KVD_EXPORT int32_t kvd_stream_open(const char* config_path, int32_t sample_rate,
                                   kvd_stream** stream);

/* Opens a stream configured from text in memory: "key = value" lines (blank
 * lines allowed) that replace the shipped defaults key by key. */
KVD_EXPORT int32_t kvd_stream_open_text(const char* config_text, int32_t sample_rate,
                                        kvd_stream** stream);

/* Feeds count samples (samples may be NULL only when count is 0) and writes
 * the events that happened in them, in order, to events[0 .. capacity-1]
 * (events may be NULL when capacity is 0); *event_count gets how many
 * happened (at most 4 per call). Once an utterance has finished (END,
 * TOO_LONG, TOO_SHORT) further samples are ignored until kvd_stream_reset. */
KVD_EXPORT int32_t kvd_stream_feed(kvd_stream* stream, const int16_t* samples, int32_t count,
                                   kvd_event* events, int32_t capacity, int32_t* event_count);

/* The current state (KVD_STREAM_...) into *state. */
KVD_EXPORT int32_t kvd_stream_state(const kvd_stream* stream, int32_t* state);

/* Starts the next utterance: state before speech, positions from 0. */
KVD_EXPORT int32_t kvd_stream_reset(kvd_stream* stream);

/* Releases the handle; NULL is ignored. */
KVD_EXPORT void kvd_stream_free(kvd_stream* stream);

/* Offline analysis of a whole recording with the configuration of config_path
 * (NULL: defaults).
 *   mode          [in]  KVD_SEGMENTS_SINGLE or KVD_SEGMENTS_MULTI
 *   starts, ends  [out] capacity entries: first and last sample of each segment
 *   segment_count [out] segments found (0: no speech) */
KVD_EXPORT int32_t kvd_segments(const char* config_path, int32_t sample_rate, int32_t mode,
                                const int16_t* samples, int32_t count, int32_t* starts,
                                int32_t* ends, int32_t capacity, int32_t* segment_count);

#ifdef __cplusplus
}
#endif

#endif /* KVD_KVD_STREAM_H */
