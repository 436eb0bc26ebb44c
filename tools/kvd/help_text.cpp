#include "tools/kvd/help_text.h"

namespace kvdtool {

const char* const kProgramHelp =
    "usage: kvd COMMAND [OPTION]... FILE...\n"
    "\n"
    "Finds speech in telephone recordings (16-bit mono PCM, 8000 Hz or more).\n"
    "\n"
    "commands:\n"
    "  detect   print where speech starts and ends in each recording\n"
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

}  // namespace kvdtool
