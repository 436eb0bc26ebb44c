// Configuration of one detector that belongs to no line of the table: the
// detector of a public stream handle. It reads the same files with the same
// checks and messages as KVD_Init, and leaves the line table alone.
#ifndef KVD_ENGINE_STANDALONE_CONFIG_H
#define KVD_ENGINE_STANDALONE_CONFIG_H

#include <cstdint>

class SpeechDetector;

// Reads the mode switches and the main keys from configPath (kvd.cfg) and,
// when the modes need them, the offline keys from its companion file
// (".cfg" replaced by "_offline.cfg"), and sets them on detector, which must
// be freshly built (state KVD_STATE_UNINIT). The detector's own SampleRate
// wins over the file's. Serialised with KVD_Init and with other calls of
// this function. Returns 0, or -92 (file or key missing or malformed, with
// its message on the log).
int32_t ConfigureStandaloneDetector(SpeechDetector& detector, const char* configPath);

// Whether key (any letter case) is one the configuration files hold.
bool IsConfigurationKey(const char* key);

#endif  // KVD_ENGINE_STANDALONE_CONFIG_H
