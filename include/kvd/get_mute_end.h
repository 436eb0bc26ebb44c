/* The library's batch entry point: where the leading silence of one
 * recording ends. */
#ifndef KVD_GET_MUTE_END_H
#define KVD_GET_MUTE_END_H

#include <stdint.h>

#include "kvd/export.h"

#ifdef __cplusplus
extern "C" {
#endif

/* Brings the engine up from kvd.cfg beside libkvd.so (and kvd_offline.cfg for
 * the offline modes), loads one recording, runs it in the configured mode and
 * prints progress, results and a time report on standard output.
 *   waveFile       [in]  path of the recording, at most 255 characters; a name
 *                        ending in ".wav" (any case) has a 44-byte header to
 *                        skip, anything else is raw 16-bit little-endian PCM,
 *                        mono, at the configured SampleRate
 *   muteEndSamples [out] offline single-segment mode only: first sample of
 *                        speech (0 when none was found)
 *   muteEndMs      [out] the same point in milliseconds
 * Modes (IsOnline, IsOneSeg of kvd.cfg): (0, 1) single segment, writes the
 * out-arguments; (0, 0) multi-segment, prints the segments; (1, 1) online,
 * streams the recording through 100 lines in 100 threads (about 10 s);
 * (1, 0) runs nothing. The out-arguments keep their values outside (0, 1).
 * Returns 0, or -94 when no line can be opened for offline work. A broken
 * configuration, an unreadable recording or a failed engine step prints its
 * message and ends the process with a non-zero exit status.
 * Threads: not reentrant; one call at a time per process. */
KVD_EXPORT int32_t GetMuteEnd(const char* waveFile, int32_t* muteEndSamples, int32_t* muteEndMs);

#ifdef __cplusplus
}
#endif

#endif /* KVD_GET_MUTE_END_H */
