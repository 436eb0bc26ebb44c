// CDetectVoice: pitch tracks over the window (Part 3.3).
#include "kvd/detect_voice.h"

int32_t CDetectVoice::Find() { return 0; }
