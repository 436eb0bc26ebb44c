// The logging facade: printf-style calls that hand a text, at a fixed
// severity, to the logger "tprintf_logger", and switches that change its
// output at run time.
//
// The facade configures itself on its first formatted message or switch
// from LogClt.cfg in the current directory (written with default content
// when missing) and watches that file for changes. With the default file,
// messages from DEBUG up go to standard output and to logs/VOLA2.log, each
// preceded by "[MM/DD/YY HH:MM:SS.mmm]:".
//
// Levels and their facade numbers (the numbers KES_LOG, KES_VLOG,
// KES_SetLogLevel and LevelEnabled take; any other number means DEBUG):
//   DEBUG -1, INFO 0, DETAIL 1, FLOW 2, STATUS 3, USER_ERROR 4, WARN 5,
//   ERROR 6, FATAL 7.
//
// Formatted texts are cut at 2047 characters; no line end is added, so a
// format normally ends in "\n". Logging calls return 0 when the text was
// handed to the logger and -1 when the logger is not enabled for the level
// (nothing is formatted then). Every function may be called from any thread.
#ifndef KVD_TPRINTF_H
#define KVD_TPRINTF_H

#include <kvd/export.h>

#define KVD_PRINTF_FORMAT(formatIndex, firstArg) \
  __attribute__((format(printf, formatIndex, firstArg)))

// Level DETAIL (1), FLOW (2), STATUS (3), USER_ERROR (4), WARN (5),
// ERROR (6), FATAL (7) in this order. The engine writes progress and
// warnings with tprintf2 and errors with tprintf7.
//   format [in] printf format; NULL logs the empty text
// Returns 0 logged, -1 level not enabled.
KVD_EXPORT int tprintf1(const char* format, ...) KVD_PRINTF_FORMAT(1, 2);
KVD_EXPORT int tprintf2(const char* format, ...) KVD_PRINTF_FORMAT(1, 2);
KVD_EXPORT int tprintf3(const char* format, ...) KVD_PRINTF_FORMAT(1, 2);
KVD_EXPORT int tprintf4(const char* format, ...) KVD_PRINTF_FORMAT(1, 2);
KVD_EXPORT int tprintf5(const char* format, ...) KVD_PRINTF_FORMAT(1, 2);
KVD_EXPORT int tprintf6(const char* format, ...) KVD_PRINTF_FORMAT(1, 2);
KVD_EXPORT int tprintf7(const char* format, ...) KVD_PRINTF_FORMAT(1, 2);

// Level INFO. Returns 0 logged, -1 level not enabled.
KVD_EXPORT int KES_Log(const char* format, ...) KVD_PRINTF_FORMAT(1, 2);

// Levelled calls with a source position: the text logged is
// "<file> <line> :<message>", or "<line> :<message>" when file is NULL.
//   file   [in] source file name, may be NULL
//   line   [in] source line
//   format [in] printf format; NULL logs the empty message
// Returns 0 logged, -1 level not enabled.
KVD_EXPORT int KES_FATAL(const char* file, int line, const char* format, ...)
    KVD_PRINTF_FORMAT(3, 4);
KVD_EXPORT int KES_ERROR(const char* file, int line, const char* format, ...)
    KVD_PRINTF_FORMAT(3, 4);
KVD_EXPORT int KES_WARN(const char* file, int line, const char* format, ...)
    KVD_PRINTF_FORMAT(3, 4);
KVD_EXPORT int KES_USER_ERROR(const char* file, int line, const char* format, ...)
    KVD_PRINTF_FORMAT(3, 4);
KVD_EXPORT int KES_STATUS(const char* file, int line, const char* format, ...)
    KVD_PRINTF_FORMAT(3, 4);
KVD_EXPORT int KES_FLOW(const char* file, int line, const char* format, ...)
    KVD_PRINTF_FORMAT(3, 4);
KVD_EXPORT int KES_DETAIL(const char* file, int line, const char* format, ...)
    KVD_PRINTF_FORMAT(3, 4);
KVD_EXPORT int KES_INFO(const char* file, int line, const char* format, ...)
    KVD_PRINTF_FORMAT(3, 4);

// As the calls above at the level of a facade number.
//   level [in] facade number; any number not listed above means DEBUG
// Returns 0 logged, -1 level not enabled.
KVD_EXPORT int KES_LOG(const char* file, int line, int level, const char* format, ...)
    KVD_PRINTF_FORMAT(4, 5);

// Logs text unformatted as "<name> :<text>", or text alone when name is NULL.
//   name  [in] prefix, may be NULL
//   level [in] facade number
//   text  [in] the text, not a format
// Returns 0 logged, -1 level not enabled or text NULL.
KVD_EXPORT int KES_LOG(const char* name, int level, const char* text);

// The formatted text at the level of a facade number.
// Returns 0 logged, -1 level not enabled.
KVD_EXPORT int KES_VLOG(int level, const char* format, ...) KVD_PRINTF_FORMAT(2, 3);

// The formatted text at level ALL, without the logger's level test: only
// outputs whose threshold is ALL write it. Returns 0.
KVD_EXPORT int KES_RESULT(const char* format, ...) KVD_PRINTF_FORMAT(1, 2);

// The switches below act on the appenders of "tprintf_logger": its first
// rolling file appender or its console appender.

// Reopens the rolling file under fileName. Returns 1 when a rolling file
// appender was found, else 0.
KVD_EXPORT int KES_SetLog(const char* fileName);

// Turns the rolling file's buffered output on; with 20 <= length <= 1048576
// also sets its buffer size in bytes (the file reopens with sizes outside
// 2 .. 32768 corrected to 32767). Returns 0.
KVD_EXPORT int KES_SetLogBufLength(int length);

// Sets the rolling file's maximum size to limit * 60 bytes; a product of 0
// or less is refused and the current maximum kept. Returns 1 when a rolling
// file appender was found, else 0.
KVD_EXPORT int KES_SetLogLimit(int limit);

// Sets the level of "tprintf_logger" to the level of a facade number.
// Returns 0.
KVD_EXPORT int KES_SetLogLevel(int level);

// on false removes the console appender; on true attaches one writing to
// standard output (without time stamps) unless one is attached already.
// Returns 1, or 0 when a console appender could not be created.
KVD_EXPORT int KES_EnableLogInConsole(bool on);

// on true reopens the rolling file as <base>-MM-DD-YY-HH-MM-SS.<extension>
// with the current local time, on false under its configured name.
// Returns true when a rolling file appender was found.
KVD_EXPORT bool KES_EnableLogNameWithTime(bool on);

// Turns the "[MM/DD/YY HH:MM:SS.mmm]:" prefix of every simple layout of
// "tprintf_logger" on or off. Returns true when at least one was switched.
KVD_EXPORT bool KES_EnableTimeStamp(bool on);

// Whether "tprintf_logger" is enabled for the level of a facade number.
// Does not configure the facade.
KVD_EXPORT bool LevelEnabled(int level);

// Writes the local time as "MM/DD/YY HH:MM:SS.mmm" and a terminator.
//   buffer [out] at least 22 characters
// Returns the number of characters written before the terminator (21), or 0
// when buffer is NULL.
KVD_EXPORT int GetLocalTimeStamp(char* buffer);

// Ends the process with code through exit(), so the log files are flushed
// and closed first.
[[noreturn]] KVD_EXPORT void TEXIT(int code);

#undef KVD_PRINTF_FORMAT

#endif  // KVD_TPRINTF_H
