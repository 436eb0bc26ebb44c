// CDetectVoice: the records of seed searches that Find replays in its next
// call. A record is keyed by the serials of its three frames, so it can
// only be found while exactly those frames are in the slots searched: a
// moved window, ReInit (new serials) and frames fed in the other direction
// all miss it.
#include <cstring>

#include "classifiers/detect_voice_tuning.h"
#include "kvd/detect_voice.h"

using namespace kvd_voice;

void CDetectVoice::RenumberFrames() {
  for (int32_t slot = 0; slot < kWindowFrames; ++slot) {
    frameSerial[slot] = ++lastSerial;
  }
}

int32_t CDetectVoice::RecordOf(int32_t f) {
  // Serials are never given twice: only a record of slot f's frame can
  // match, so the other frames are compared only then.
  const uint64_t first = frameSerial[f];
  for (int32_t i = 0; i < kSeedRecords; ++i) {
    SeedRecord& record = seedRecords[i];
    if (record.frames[0] == first &&
        std::memcmp(record.frames, frameSerial + f, sizeof(record.frames)) == 0) {
      record.lastUse = ++seedRecordClock;
      return i;
    }
  }
  return -1;
}

int32_t CDetectVoice::StartRecord() {
  int32_t oldest = 0;
  for (int32_t i = 1; i < kSeedRecords; ++i) {
    if (seedRecords[i].lastUse < seedRecords[oldest].lastUse) oldest = i;
  }
  SeedRecord& record = seedRecords[oldest];
  std::memset(record.frames, 0, sizeof(record.frames));
  record.lastUse = ++seedRecordClock;
  record.count = 0;
  return oldest;
}

bool CDetectVoice::RecordSeed(int32_t record, int16_t m, int32_t f) {
  int32_t& count = seedRecords[record].count;
  if (count >= kRecordedSeeds) return false;
  RecordedSeed& seed = recordedSeeds[record][count++];
  seed.m = m;
  std::memcpy(seed.peak, HarmoPeak[f], sizeof(seed.peak));
  std::memcpy(seed.area, HarmoArea[f], sizeof(seed.area));
  std::memcpy(seed.absArea, HarmoAbsArea[f], sizeof(seed.absArea));
  std::memcpy(seed.pitch, FramePitch + f, sizeof(seed.pitch));
  return true;
}

void CDetectVoice::PublishRecord(int32_t record, int32_t f) {
  std::memcpy(seedRecords[record].frames, frameSerial + f, sizeof(seedRecords[record].frames));
}

void CDetectVoice::RestoreSeed(const RecordedSeed& seed, int32_t f) {
  std::memcpy(HarmoPeak[f], seed.peak, sizeof(seed.peak));
  std::memcpy(HarmoArea[f], seed.area, sizeof(seed.area));
  std::memcpy(HarmoAbsArea[f], seed.absArea, sizeof(seed.absArea));
  std::memcpy(FramePitch + f, seed.pitch, sizeof(seed.pitch));
}
