// The public streaming interface on one stand-alone SpeechDetector per
// handle: the detector is built and configured like a line of the engine,
// but belongs to no line table, so handles are unlimited in number and each
// has its own rate and configuration.
#include "kvd/kvd_stream.h"

#include <new>
#include <vector>

#include "api/staged_config.h"
#include "engine/kvd_api.h"
#include "engine/speech_detector.h"
#include "pipeline/offline_detection.h"
#include "pipeline/online_detection.h"

struct kvd_stream {
  SpeechDetector* detector = nullptr;  // owned
  int32_t state = before_speech;       // DetectState after the last feed
  bool startReported = false;          // the utterance's start event is out
};

namespace {

constexpr int32_t kLowestRateHz = 8000;

void Release(SpeechDetector* detector) {
  if (detector == nullptr) return;
  detector->Free();
  delete detector;
}

// A detector at sampleRate configured by configure, open and started as
// KVD_Open and KVD_Start leave a line; null with *result set on failure.
template <typename Configure>
SpeechDetector* BuildDetector(int32_t sampleRate, Configure configure, int32_t* result) {
  if (sampleRate < kLowestRateHz) {
    *result = KVD_STREAM_ERR_LOW_RATE;
    return nullptr;
  }
  SpeechDetector* detector = new (std::nothrow) SpeechDetector(sampleRate);
  if (detector == nullptr || detector->errorStatus != 0) {
    Release(detector);
    *result = KVD_STREAM_ERR_MEMORY;
    return nullptr;
  }
  *result = configure(*detector);
  if (*result == KVD_STREAM_OK) {
    detector->DetectState = KVD_STATE_IDLE;
    if (detector->ReInitial() != 0) *result = KVD_STREAM_ERR_CONFIG;
  }
  if (*result != KVD_STREAM_OK) {
    Release(detector);
    return nullptr;
  }
  detector->busyFlag = 1;
  return detector;
}

template <typename Configure>
int32_t OpenStream(int32_t sampleRate, kvd_stream** stream, Configure configure) {
  if (stream == nullptr) return KVD_STREAM_ERR_NULL_HANDLE;
  *stream = nullptr;
  int32_t result = KVD_STREAM_OK;
  SpeechDetector* detector = BuildDetector(sampleRate, configure, &result);
  if (detector == nullptr) return result;
  kvd_stream* opened = new (std::nothrow) kvd_stream;
  if (opened == nullptr) {
    Release(detector);
    return KVD_STREAM_ERR_MEMORY;
  }
  opened->detector = detector;
  *stream = opened;
  return KVD_STREAM_OK;
}

bool Finished(int32_t state) {
  return state == speech_end || state == speech_too_long || state == speech_too_short;
}

int32_t EndEventOf(int32_t state) {
  if (state == speech_too_long) return KVD_EVENT_TOO_LONG;
  if (state == speech_too_short) return KVD_EVENT_TOO_SHORT;
  return KVD_EVENT_SPEECH_END;
}

// Appends an event when there is room; counts it in any case.
void Emit(kvd_event* events, int32_t capacity, int32_t* count, int32_t kind, int32_t sample) {
  if (*count < capacity) events[*count] = kvd_event{kind, sample};
  ++*count;
}

}  // namespace

extern "C" {

const char* kvd_version(void) { return KVD_STREAM_VERSION; }

const char* kvd_strerror(int32_t code) {
  switch (code) {
    case KVD_STREAM_OK: return "success";
    case KVD_STREAM_ERR_NULL_HANDLE: return "null stream handle";
    case KVD_STREAM_ERR_NULL_ARGUMENT: return "null samples or argument pointer";
    case KVD_STREAM_ERR_NEGATIVE_COUNT: return "negative sample count or capacity";
    case KVD_STREAM_ERR_LOW_RATE: return "sample rate below 8000 Hz";
    case KVD_STREAM_ERR_CONFIG_FILE: return "configuration file missing or unreadable";
    case KVD_STREAM_ERR_CONFIG:
      return "configuration refused: a key missing, malformed or out of range (details in the "
             "engine's log)";
    case KVD_STREAM_ERR_UNKNOWN_KEY: return "configuration text names an unknown key";
    case KVD_STREAM_ERR_CONFIG_SYNTAX: return "configuration text line is not \"key = value\"";
    case KVD_STREAM_ERR_MEMORY: return "out of memory building the detector";
    case KVD_STREAM_ERR_BROKEN:
      return "the stream failed earlier (bad data or too long a stream); reset it";
    case KVD_STREAM_ERR_TOO_MANY_SEGMENTS: return "more segments than MaxSegNum allows";
    case KVD_STREAM_ERR_BAD_MODE: return "unknown offline mode";
    default: return "unknown result";
  }
}

const char* kvd_event_name(int32_t kind) {
  switch (kind) {
    case KVD_EVENT_SPEECH_START: return "speech_start";
    case KVD_EVENT_SPEECH_END: return "speech_end";
    case KVD_EVENT_NO_INPUT: return "no_speech";
    case KVD_EVENT_TOO_LONG: return "speech_too_long";
    case KVD_EVENT_TOO_SHORT: return "speech_too_short";
    default: return "unknown";
  }
}

int32_t kvd_stream_open(const char* config_path, int32_t sample_rate, kvd_stream** stream) {
  return OpenStream(sample_rate, stream, [&](SpeechDetector& detector) {
    return ConfigureFromFile(detector, config_path, ModeKeys{});
  });
}

int32_t kvd_stream_open_text(const char* config_text, int32_t sample_rate,
                             kvd_stream** stream) {
  if (stream != nullptr && config_text == nullptr) {
    *stream = nullptr;
    return KVD_STREAM_ERR_NULL_ARGUMENT;
  }
  return OpenStream(sample_rate, stream, [&](SpeechDetector& detector) {
    return ConfigureFromText(detector, config_text, ModeKeys{});
  });
}

int32_t kvd_stream_feed(kvd_stream* stream, const int16_t* samples, int32_t count,
                        kvd_event* events, int32_t capacity, int32_t* event_count) {
  if (stream == nullptr) return KVD_STREAM_ERR_NULL_HANDLE;
  if (event_count == nullptr || (samples == nullptr && count > 0) ||
      (events == nullptr && capacity > 0))
    return KVD_STREAM_ERR_NULL_ARGUMENT;
  if (count < 0 || capacity < 0) return KVD_STREAM_ERR_NEGATIVE_COUNT;
  *event_count = 0;
  const int32_t before = stream->state;
  if (Finished(before)) return KVD_STREAM_OK;  // nothing more until a reset
  int32_t state = 0, start = -1, end = -1, position = 0;
  const int32_t result = Detect(*stream->detector, samples, count, &state, &start, &end,
                                &position, nullptr, nullptr, nullptr, nullptr, 1);
  if (result != 0) return KVD_STREAM_ERR_BROKEN;
  const SpeechDetector& detector = *stream->detector;
  if (state == no_speech && before == before_speech) {
    // The wait runs out at the first decision frame past MaxWaitFrame.
    Emit(events, capacity, event_count, KVD_EVENT_NO_INPUT,
         (detector.MaxWaitFrame + 1) * detector.frameShift);
  }
  if (!stream->startReported && start >= 0 && (state == in_speech || Finished(state))) {
    Emit(events, capacity, event_count, KVD_EVENT_SPEECH_START, start);
    stream->startReported = true;
  }
  if (Finished(state)) Emit(events, capacity, event_count, EndEventOf(state), end);
  stream->state = state;
  return KVD_STREAM_OK;
}

int32_t kvd_stream_state(const kvd_stream* stream, int32_t* state) {
  if (stream == nullptr) return KVD_STREAM_ERR_NULL_HANDLE;
  if (state == nullptr) return KVD_STREAM_ERR_NULL_ARGUMENT;
  *state = stream->state;
  return KVD_STREAM_OK;
}

int32_t kvd_stream_reset(kvd_stream* stream) {
  if (stream == nullptr) return KVD_STREAM_ERR_NULL_HANDLE;
  SpeechDetector& detector = *stream->detector;
  detector.busyFlag = 0;  // the stream is not running while it is reset
  if (detector.ReInitial() != 0) return KVD_STREAM_ERR_BROKEN;
  detector.busyFlag = 1;
  stream->state = before_speech;
  stream->startReported = false;
  return KVD_STREAM_OK;
}

void kvd_stream_free(kvd_stream* stream) {
  if (stream == nullptr) return;
  Release(stream->detector);
  delete stream;
}

int32_t kvd_segments(const char* config_path, int32_t sample_rate, int32_t mode,
                     const int16_t* samples, int32_t count, int32_t* starts, int32_t* ends,
                     int32_t capacity, int32_t* segment_count) {
  if (mode != KVD_SEGMENTS_SINGLE && mode != KVD_SEGMENTS_MULTI) return KVD_STREAM_ERR_BAD_MODE;
  if (segment_count == nullptr || (samples == nullptr && count > 0) ||
      ((starts == nullptr || ends == nullptr) && capacity > 0))
    return KVD_STREAM_ERR_NULL_ARGUMENT;
  if (count < 0 || capacity < 0) return KVD_STREAM_ERR_NEGATIVE_COUNT;
  *segment_count = 0;
  const ModeKeys modes{0, mode == KVD_SEGMENTS_SINGLE ? 1 : 0};
  int32_t result = KVD_STREAM_OK;
  SpeechDetector* detector = BuildDetector(
      sample_rate,
      [&](SpeechDetector& built) { return ConfigureFromFile(built, config_path, modes); },
      &result);
  if (detector == nullptr) return result;
  static const int16_t kNoSample = 0;
  const int16_t* data = samples != nullptr ? samples : &kNoSample;
  int32_t state = 0, processed = 0, found = 0;
  std::vector<int32_t> segmentStarts, segmentEnds;
  if (mode == KVD_SEGMENTS_SINGLE) {
    int32_t start = -1, end = -1;
    result = DetectOfflineOneSeg(*detector, data, count, &state, &start, &end, &processed);
    if (result == 0 && state == speech_end && end >= start && start >= 0) {
      segmentStarts.push_back(start);
      segmentEnds.push_back(end);
    }
  } else {
    const size_t slots = detector->MaxSegNum > 0 ? static_cast<size_t>(detector->MaxSegNum) : 1;
    std::vector<int32_t> allStarts(slots, 0), allEnds(slots, 0);
    result = DetectOfflineMultiSeg(*detector, data, count, &state, allStarts.data(),
                                   allEnds.data(), &processed);
    for (size_t i = 0; result == 0 && state == speech_end && i < slots && allEnds[i] > 0; ++i) {
      segmentStarts.push_back(allStarts[i]);
      segmentEnds.push_back(allEnds[i]);
    }
  }
  Release(detector);
  // The multi-segment search marks an overflowing list with state 2.
  if (result == KVD_ERR_OFFLINE && mode == KVD_SEGMENTS_MULTI && state == 2)
    return KVD_STREAM_ERR_TOO_MANY_SEGMENTS;
  if (result == KVD_ERR_OFFLINE) return KVD_STREAM_ERR_MEMORY;
  if (result != 0) return KVD_STREAM_ERR_BROKEN;
  found = static_cast<int32_t>(segmentStarts.size());
  for (int32_t i = 0; i < found && i < capacity; ++i) {
    starts[i] = segmentStarts[i];
    ends[i] = segmentEnds[i];
  }
  *segment_count = found;
  return KVD_STREAM_OK;
}

}  // extern "C"
