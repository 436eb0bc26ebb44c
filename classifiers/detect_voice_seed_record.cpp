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

const CDetectVoice::SeedRecord* CDetectVoice::RecordOf(int32_t f) {
  for (SeedRecord& record : seedRecords) {
    if (std::memcmp(record.frames, frameSerial + f, sizeof(record.frames)) == 0) {
      record.lastUse = ++seedRecordClock;
      return &record;
    }
  }
  return nullptr;
}

CDetectVoice::SeedRecord* CDetectVoice::StartRecord() {
  SeedRecord* oldest = &seedRecords[0];
  for (SeedRecord& record : seedRecords) {
    if (record.lastUse < oldest->lastUse) oldest = &record;
  }
  std::memset(oldest->frames, 0, sizeof(oldest->frames));
  oldest->lastUse = ++seedRecordClock;
  oldest->count = 0;
  return oldest;
}

bool CDetectVoice::RecordSeed(SeedRecord& record, int16_t m, int32_t f) const {
  if (record.count >= kRecordedSeeds) return false;
  RecordedSeed& seed = record.seeds[record.count++];
  seed.m = m;
  std::memcpy(seed.peak, HarmoPeak[f], sizeof(seed.peak));
  std::memcpy(seed.area, HarmoArea[f], sizeof(seed.area));
  std::memcpy(seed.absArea, HarmoAbsArea[f], sizeof(seed.absArea));
  std::memcpy(seed.pitch, FramePitch + f, sizeof(seed.pitch));
  return true;
}

void CDetectVoice::PublishRecord(SeedRecord& record, int32_t f) {
  std::memcpy(record.frames, frameSerial + f, sizeof(record.frames));
}

void CDetectVoice::RestoreSeed(const RecordedSeed& seed, int32_t f) {
  std::memcpy(HarmoPeak[f], seed.peak, sizeof(seed.peak));
  std::memcpy(HarmoArea[f], seed.area, sizeof(seed.area));
  std::memcpy(HarmoAbsArea[f], seed.absArea, sizeof(seed.absArea));
  std::memcpy(FramePitch + f, seed.pitch, sizeof(seed.pitch));
}
