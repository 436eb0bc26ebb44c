// Reading key=value lines from the engine's configuration files.
//
// Format: plain text read in lines of at most kConfigLineBytes - 1
// characters (a longer line is read as several); the line terminator
// (with a carriage return before it) is removed and every space deleted;
// the line splits at its last "=" into key and value (no "=": empty value).
// Keys match whole and without regard to letter case; every lookup scans
// from the first line and the first match wins. There is no comment syntax:
// a line whose key is not wanted is never matched.
#ifndef KVD_ENGINE_CONFIG_READER_H
#define KVD_ENGINE_CONFIG_READER_H

#include <cstdint>
#include <cstdio>

// The configuration file being read; open only while KVD_Init runs, else
// null. One engine-wide handle: GetConfig is not re-entrant.
extern std::FILE* configFile;

// Opens path for reading in text mode, positioned at its start. Writes
// "Error in open %s!" and returns null when it cannot be opened.
std::FILE* OpenConfigFile(const char* path, const char* mode);

// Closes configFile if it is open and forgets it.
void CloseConfigFile();

// Looks key up in configFile.
//   key   [in]  wanted key
//   value [out] at least kConfigLineBytes bytes: the value text
// Returns 0, or -92 when the key is missing or no file is open (with its
// message).
int32_t GetConfig(const char* key, char* value);

// The same for an optional key: false, without a message, when the key is
// missing or no file is open.
bool FindConfig(const char* key, char* value);

#endif  // KVD_ENGINE_CONFIG_READER_H
