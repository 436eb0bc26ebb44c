// The detection engine's internal programming interface: plain functions with
// int32 results, used by the library's entry point and batch workers.
//
// A caller runs KVD_Init once; per stream KVD_Open, KVD_Start, any number of
// detection calls, KVD_Stop and KVD_Close; KVD_Exit once. A line is one slot
// of a fixed engine-wide table of kMaxLines detectors.
//
// Threads: KVD_Init and KVD_Exit run while no other engine call is in
// progress. KVD_Open serialises its free-line search; every other operation
// of a line belongs to the thread that opened it, except KVD_GetParameter and
// KVD_Stop, which may come from any thread at any time (a detection call
// running meanwhile returns at its next frame), and KVD_Close, which may come
// from another thread only while no call of the line runs: it does not stop
// a running call.
#ifndef KVD_ENGINE_KVD_API_H
#define KVD_ENGINE_KVD_API_H

#include <cstdint>

class SpeechDetector;

// Largest number of lines the table holds.
constexpr int32_t kMaxLines = 1024;

// Size of a configuration line buffer and of every parameter value buffer:
// 255 characters and the terminator.
constexpr int32_t kConfigLineBytes = 256;

// Result codes. 0 is success; every failure is negative with one meaning.
constexpr int32_t KVD_OK = 0;
constexpr int32_t KVD_ERR_OFFLINE = -87;          // offline memory failure or too many segments
constexpr int32_t KVD_ERR_BAD_DATA = -90;         // bad data or a failed frame step
constexpr int32_t KVD_ERR_FFT_RELEASE = -91;      // FFT specification not released
constexpr int32_t KVD_ERR_CONFIG = -92;           // configuration file or key missing or malformed
constexpr int32_t KVD_ERR_REINIT = -93;           // re-initialisation of a detector failed
constexpr int32_t KVD_ERR_LINE_BUILD = -94;       // too many lines, or a line failed to build
constexpr int32_t KVD_ERR_NOT_STARTED = -95;      // line open but not started
constexpr int32_t KVD_ERR_NOT_OPEN = -96;         // line not open
constexpr int32_t KVD_ERR_NOT_INITIALISED = -97;  // engine not initialised: an empty slot was met
constexpr int32_t KVD_ERR_BAD_LINE = -98;         // bad line, missing pointer, empty slot at exit
constexpr int32_t KVD_ERR_LOW_SAMPLE_RATE = -99;  // sample rate below 8000 Hz
constexpr int32_t KVD_ERR_NO_FREE_LINE = -100;    // every line is open

// Line states (the DetectState of a line). -1 and 0 belong to the line life
// cycle, 1 .. 6 to detection.
constexpr int32_t KVD_STATE_UNINIT = -1;  // not open: free for KVD_Open
constexpr int32_t KVD_STATE_IDLE = 0;     // open, not started
constexpr int32_t before_speech = 1;      // started, no speech yet
constexpr int32_t in_speech = 2;          // speech start found, end not yet
constexpr int32_t speech_end = 3;         // speech ended within the length limits
constexpr int32_t no_speech = 4;          // no start within MaxWaitFrame; detection goes on
constexpr int32_t speech_too_long = 5;    // utterance cut at MaxSpeechDuration
constexpr int32_t speech_too_short = 6;   // speech ended, shorter than MinSpeechDuration

// Builds the line table from the configuration file at configPath (kvd.cfg)
// and, for offline work, its companion file (kvd_offline.cfg beside it).
//   configPath [in] path of the main configuration file; null gives -92
//   lineCount  [in] lines to build when OpenAllLines is off; above kMaxLines gives -94
// Returns 0, -92 (file or key missing or malformed), -94 (too many lines, a
// line failed to build) or -99 (SampleRate below 8000). Lines of an earlier
// KVD_Init that was not ended by KVD_Exit are released first.
int32_t KVD_Init(const char* configPath, int32_t lineCount);

// Releases every line. Returns 0, or -98 when an empty slot was met (a failed
// KVD_Init left it); all other lines are released all the same.
int32_t KVD_Exit();

// Takes the lowest free line and leaves it open and idle.
//   line [out] number of the line taken
// Returns 0, -98 (line null), -97 (engine not initialised) or -100 (no free line).
int32_t KVD_Open(int32_t* line);

// Frees an open line for the next KVD_Open. Returns 0 or -98 (bad line).
int32_t KVD_Close(int32_t line);

// Starts (or restarts) detection on an open line. Returns 0, -98 (bad line),
// -96 (line not open), or the failure of the detector's re-initialisation.
int32_t KVD_Start(int32_t line);

// Stops detection; a detection call running on another thread returns at its
// next frame. Returns 0, -98 (bad line) or -96 (line not open).
int32_t KVD_Stop(int32_t line);

// Writes the text of one parameter of a line into value.
//   name  [in]  parameter name, letter case ignored
//   value [out] at least kConfigLineBytes bytes; emptied when no value is written
// Returns -98 for a bad line number, else 0.
int32_t KVD_GetParameter(int32_t line, const char* name, char* value);

// The detector of a valid line (0 <= line < number of lines, slot not
// empty), or null.
SpeechDetector* GetLine(int32_t line);

// Feeds samples to a started line and reports its detection state (online),
// or analyses a whole recording at once (offline modes).
//   line        [in]  line number
//   samples     [in]  sampleCount 16-bit PCM samples at the line's SampleRate;
//                     may be null only when sampleCount is 0
//   sampleCount [in]  number of samples; negative breaks the line (-90)
//   state       [out] online: DetectState after the call; offline: 3 segment
//                     (or segments) found, 1 none
//   start       [out] online: speech start in samples, -1 none; offline: as
//                     the mode defines
//   end         [out] online: speech end in samples, -1 none
//   position    [out] online: stream position reached, in samples; offline:
//                     samples processed (or segments found)
//   block1, count1, block2, count2
//               [out] online: reduced spectra (128 floats a row) of the
//                     utterance's frames analysed in this call, as at most two
//                     blocks of ring rows; handed out only when all four are
//                     given (both counts are zeroed when both are given)
//   reserved    [in]  not read; callers pass 1
// Returns 0, -98 (bad line or empty slot; online also a missing pointer,
// without breaking the line), -96 (line not open), -95 (not started), or the
// line's sticky failure (-90 bad data). Online, -90 also ends a stream whose
// sample positions would pass 2^31 - 1 (74.6 h at 8000 Hz); KVD_Start then
// begins a new stream from position 0.
int32_t KVD_DetectSpeech(int32_t line, const int16_t* samples, int32_t sampleCount,
                         int32_t* state, int32_t* start, int32_t* end, int32_t* position,
                         float** block1, int32_t* count1, float** block2, int32_t* count2,
                         int32_t reserved);

// The same without spectra: block and count pointers null, reserved 1.
int32_t KVD_DetectSpeech(int32_t line, const int16_t* samples, int32_t sampleCount,
                         int32_t* state, int32_t* start, int32_t* end, int32_t* position);

#endif  // KVD_ENGINE_KVD_API_H
