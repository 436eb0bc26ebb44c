#include "tools/kvd/help_text.h"

namespace kvdtool {

const char* const kProgramHelp =
    "usage: kvd COMMAND [OPTION]... FILE...\n"
    "\n"
    "Finds speech in telephone recordings (16-bit mono PCM, 8000 Hz or more).\n"
    "\n"
    "commands:\n"
    "  detect   print where speech starts and ends in each recording\n"
    "  trace    draw one recording's analysis (SVG) or write it per frame (CSV)\n"
    "  stream   follow a live call (raw PCM on standard input) and print each event\n"
    "\n"
    "`kvd COMMAND --help` describes a command's options.\n"
    "exit status: 0 every file processed, 1 some file failed, 2 bad command line,\n"
    "3 the engine could not be started (configuration).\n";

const char* const kDetectHelp =
    "usage: kvd detect [OPTION]... FILE...\n"
    "\n"
    "Runs each recording through the engine and prints, per file, the online\n"
    "events (state changes, final state, start and end) or the offline segment(s),\n"
    "all times in ms. Files are .wav (any chunk layout, PCM or extensible PCM,\n"
    "16-bit mono, 8000 Hz or more) or raw 16-bit little-endian PCM with --rate.\n"
    "\n"
    "options:\n"
    "  --mode online|offline|multi  detection mode (default: the configuration's\n"
    "                               IsOnline/IsOneSeg keys)\n"
    "  --detector specified|enhanced  decision mode (default: the configuration's\n"
    "                    DecisionMode key, else specified): specified is the energy and\n"
    "                    voice detector pair, enhanced the learned frame classifier\n"
    "  --config FILE     engine configuration (default: kvd.cfg installed beside the\n"
    "                    library); FILE_offline.cfg beside it for the offline modes\n"
    "  --chunk N         samples per call in online mode (default 160)\n"
    "  --jobs N          files processed in parallel, 1..1024 (default 1)\n"
    "  --format text|json|csv|labels  output (default text); labels is an Audacity\n"
    "                    label track (start<TAB>end<TAB>label in s) of one file\n"
    "  --rate HZ         sample rate of raw PCM files (files without a RIFF header)\n"
    "  -h, --help        this text\n"
    "\n"
    "A file that cannot be processed is reported on standard error (and as an\n"
    "{\"file\":...,\"error\":...} line in json) and skipped.\n"
    "exit status: 0 every file processed, 1 some file failed, 2 bad command line,\n"
    "3 the engine could not be started (configuration).\n";

const char* const kTraceHelp =
    "usage: kvd trace FILE [--svg OUT.svg] [--csv OUT.csv] [OPTION]...\n"
    "\n"
    "Shows why the engine decided what it did on one recording: the waveform, the\n"
    "four band energies against their thresholds and background, the pitch of\n"
    "voiced frames, the keypad-tone frames, the line's state and the decisions\n"
    "(start, end, segments) on one time axis. In the offline modes the per-frame\n"
    "values come from an online analysis of the same recording and the segments\n"
    "from a second, offline run. The decisions are also printed as kvd detect does.\n"
    "\n"
    "options:\n"
    "  --svg FILE        write the drawing\n"
    "  --csv FILE        write the per-frame values as numbers\n"
    "  --mode, --detector, --config, --chunk, --rate   as for kvd detect\n"
    "  -h, --help        this text\n"
    "exit status: 0 written, 1 the recording could not be processed or a file not\n"
    "written, 2 bad command line, 3 the engine could not be started.\n";

}  // namespace kvdtool

namespace kvdtool {

const char* const kStreamHelp =
    "usage: kvd stream [--rate HZ] [--format text|json] [--config FILE] [--chunk N] [FILE]\n"
    "\n"
    "Follows a call as it arrives: reads raw 16-bit little-endian mono PCM from\n"
    "standard input (or FILE, which may be a FIFO) and prints each event the\n"
    "moment it happens, one line per event (speech_start, speech_end, no_speech,\n"
    "speech_too_long, speech_too_short) with its time in ms and sample from the\n"
    "start of the input. After each utterance it re-arms for the next one, until\n"
    "the end of the input.\n"
    "\n"
    "options:\n"
    "  --rate HZ         sample rate of the input, 8000 or more (default 8000)\n"
    "  --format text|json  output (default text); json: one object per line\n"
    "  --config FILE     engine configuration (default: kvd.cfg installed beside the\n"
    "                    library, else the shipped defaults)\n"
    "  --chunk N         samples per detection call (default 160)\n"
    "  -h, --help        this text\n"
    "exit status: 0 end of input reached, 1 the input could not be read or detection\n"
    "failed, 2 bad command line, 3 the engine could not be started.\n";

}  // namespace kvdtool
