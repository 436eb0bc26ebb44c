// Conversions of configuration value texts, shared by the configuration
// phase of KVD_Init and SpeechDetector::SetParameter.
#ifndef KVD_ENGINE_CONFIG_VALUES_H
#define KVD_ENGINE_CONFIG_VALUES_H

#include <cstdint>

// ASCII comparison of two whole texts without regard to letter case.
bool EqualsIgnoringCase(const char* left, const char* right);

// Optional sign and decimal digits at the start of the text (leading blanks
// skipped), up to the first other character; 0 when there are none. Values
// beyond the 32-bit range are held at its ends.
int32_t ParseInteger(const char* text);

// Whether the integer that ParseInteger reads from text fits 32 bits
// unchanged (no digits at all give 0, which fits).
bool IntegerFitsInt32(const char* text);

// Decimal floating-point text at the start (digits, optional fraction and
// exponent, leading blanks skipped) up to the first other character; 0 when
// there is none. Independent of the process locale.
double ParseReal(const char* text);

// Whether text holds a real that is finite as a 32-bit float: "nan" and
// "inf" (which ParseReal reads as 0) and values beyond the float range are
// not.
bool RealIsFinite(const char* text);

// Seconds to 10 ms frames, truncated toward zero: "0.3" gives 30, "1.999" 199.
int32_t SecondsToFrames(const char* text);

// Hertz to the FFT bin that holds it, truncated toward zero: "3400" at
// 15.625 Hz per bin gives 217.
int32_t HertzToBin(const char* text, float binWidthHz);

// Switch written "0"/"false" (0) or "1"/"true" (1), any case. Returns false
// for any other text, leaving value alone.
bool ParseStrictSwitch(const char* text, int32_t* value);

// Switch that is on only for "1" or "y" (any case); "true" is off.
bool ParseYesSwitch(const char* text);

// Switch that is off only for "0" or "false" (any case).
bool ParseUnlessOffSwitch(const char* text);

#endif  // KVD_ENGINE_CONFIG_VALUES_H
