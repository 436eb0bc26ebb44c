// The logging facade's own diagnostics. Texts are written byte for byte
// (some are in the GBK code page), each followed by a line end: debug texts
// on standard output and only while debugging is switched on
// ("Kestrin.debug = true" in LogClt.cfg), errors always on standard error.
#ifndef KVD_LOGGING_DIAGNOSTIC_WRITER_H
#define KVD_LOGGING_DIAGNOSTIC_WRITER_H

#include <string>

namespace kvd::logging {

void SetDiagnosticDebug(bool on);
void DiagnosticDebug(const std::string& text);
void DiagnosticError(const std::string& text);

}  // namespace kvd::logging

#endif  // KVD_LOGGING_DIAGNOSTIC_WRITER_H
