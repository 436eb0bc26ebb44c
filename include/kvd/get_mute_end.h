/* The library's batch entry point: where the leading silence of one
 * recording ends. */
#ifndef KVD_GET_MUTE_END_H
#define KVD_GET_MUTE_END_H

#include <stdint.h>

#include "kvd/export.h"

/* Results of GetMuteEnd beyond 0 and the engine's own codes (-87 .. -100).
 * Each is printed on standard output and written to the log with its reason
 * before GetMuteEnd returns; the engine is then shut down again. */
/* No recording at the path: no path, longer than 255 characters, a folder, or
 * a file that cannot be opened ("Error in open <path>! Abort."). */
#define KVD_MUTE_END_NO_RECORDING (-80)
/* A ".wav" file that is not RIFF/WAVE 16-bit mono PCM at the configured
 * SampleRate, or has no data chunk. */
#define KVD_MUTE_END_BAD_FORMAT (-81)
/* A recording without a single sample. */
#define KVD_MUTE_END_NO_SAMPLES (-82)
/* More than 500,000,000 samples, or no memory to hold them. */
#define KVD_MUTE_END_TOO_LONG (-83)
/* Offline single-segment mode: the recording was analysed and holds no
 * speech; "No speech found in <path>." is printed and both out-arguments are
 * set to -1 (speech from the first sample gives 0 and result 0). */
#define KVD_MUTE_END_NO_SPEECH (-84)

#ifdef __cplusplus
extern "C" {
#endif

/* Brings the engine up from kvd.cfg beside libkvd.so (and kvd_offline.cfg for
 * the offline modes), loads one recording, runs it in the configured mode and
 * prints progress, results and a time report on standard output.
 *   waveFile       [in]  path of the recording, at most 255 characters; a name
 *                        ending in ".wav" (any case) is a RIFF/WAVE file of
 *                        16-bit mono PCM at the configured SampleRate (its
 *                        data chunk wherever it lies), anything else is raw
 *                        16-bit little-endian PCM, mono, at that rate
 *   muteEndSamples [out] offline single-segment mode only: first sample of
 *                        speech (-1 when none was found)
 *   muteEndMs      [out] the same point in milliseconds
 * Modes (IsOnline, IsOneSeg of kvd.cfg): (0, 1) single segment, writes the
 * out-arguments; (0, 0) multi-segment, prints the segments; (1, 1) online,
 * streams the recording through 100 lines in 100 threads (about 10 s);
 * (1, 0) runs nothing. The out-arguments keep their values outside (0, 1).
 * Returns 0; -94 when no line can be opened for offline work; a
 * KVD_MUTE_END_ code above for a recording that cannot be analysed or holds
 * no speech. A broken configuration or a failed engine step prints its
 * message and ends the process with a non-zero exit status.
 * Threads: not reentrant; one call at a time per process. */
KVD_EXPORT int32_t GetMuteEnd(const char* waveFile, int32_t* muteEndSamples, int32_t* muteEndMs);

#ifdef __cplusplus
}
#endif

#endif /* KVD_GET_MUTE_END_H */
