// The --help texts of the kvd program.
#ifndef KVD_TOOLS_KVD_HELP_TEXT_H
#define KVD_TOOLS_KVD_HELP_TEXT_H

namespace kvdtool {

extern const char* const kProgramHelp;
extern const char* const kDetectHelp;
extern const char* const kTraceHelp;
extern const char* const kStreamHelp;

}  // namespace kvdtool

#endif  // KVD_TOOLS_KVD_HELP_TEXT_H
