// A configuration for one stand-alone detector, staged as the pair of files
// the engine reads (kvd.cfg and kvd_offline.cfg) in a private temporary
// folder, with the mode keys the caller needs placed first so that they win
// over the text's own (the reader takes the first match of a key).
#ifndef KVD_API_STAGED_CONFIG_H
#define KVD_API_STAGED_CONFIG_H

#include <cstdint>
#include <string>

class SpeechDetector;

// Mode keys a handle forces: online streaming, or one of the offline modes.
struct ModeKeys {
  int32_t isOnline = 1;
  int32_t isOneSeg = 1;
};

// Configures detector from the file at configPath (its companion beside it),
// or from the shipped defaults when configPath is null. Returns a
// KVD_STREAM_ result.
int32_t ConfigureFromFile(SpeechDetector& detector, const char* configPath, ModeKeys modes);

// Configures detector from "key = value" text that overrides the defaults
// key by key. Returns a KVD_STREAM_ result (unknown key, syntax, config).
int32_t ConfigureFromText(SpeechDetector& detector, const char* text, ModeKeys modes);

#endif  // KVD_API_STAGED_CONFIG_H
