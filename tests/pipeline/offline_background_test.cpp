#include "pipeline/offline_background.h"

#include <gtest/gtest.h>

#include <vector>

#include "pipeline/offline_labels.h"

namespace {

std::vector<int16_t> Candidates(int32_t count) {
  return std::vector<int16_t>(static_cast<size_t>(count), kLabelCandidate);
}

// noiseBefore noise frames, runFrames candidates, noiseAfter noise frames.
std::vector<int16_t> RunBetweenNoise(int32_t noiseBefore, int32_t runFrames,
                                     int32_t noiseAfter) {
  std::vector<int16_t> labels(static_cast<size_t>(noiseBefore + runFrames + noiseAfter),
                              kLabelBelowFloor);
  for (int32_t i = 0; i < runFrames; ++i) labels[static_cast<size_t>(noiseBefore + i)] = 1;
  return labels;
}

TEST(DeleteShortSpeech, ShortRunBetweenLongNoiseIsDeleted) {
  std::vector<int16_t> labels = RunBetweenNoise(50, 10, 50);
  DeleteShortSpeech(labels.data(), 110, 20, 30);
  for (int32_t i = 50; i < 60; ++i) EXPECT_EQ(labels[static_cast<size_t>(i)], kLabelShortRun);
}

TEST(DeleteShortSpeech, RunsThatAreLongOrNotIsolatedStay) {
  // 20 frames are not shorter than 20.
  std::vector<int16_t> longRun = RunBetweenNoise(50, 20, 50);
  DeleteShortSpeech(longRun.data(), 120, 20, 30);
  EXPECT_EQ(longRun[50], kLabelCandidate);
  // With no candidate before it, a run at frame i counts i - 1 noise frames
  // before it: at frame 31 that is 30, not more than 30; at frame 32, 31.
  std::vector<int16_t> nearStart = RunBetweenNoise(31, 10, 50);
  DeleteShortSpeech(nearStart.data(), 91, 20, 30);
  EXPECT_EQ(nearStart[31], kLabelCandidate);
  std::vector<int16_t> farFromStart = RunBetweenNoise(32, 10, 50);
  DeleteShortSpeech(farFromStart.data(), 92, 20, 30);
  EXPECT_EQ(farFromStart[32], kLabelShortRun);
  // A run reaching the last frame has no noise after it.
  std::vector<int16_t> atEnd = RunBetweenNoise(50, 10, 0);
  DeleteShortSpeech(atEnd.data(), 60, 20, 30);
  EXPECT_EQ(atEnd[50], kLabelCandidate);
  // A run at frame 0 is never examined.
  std::vector<int16_t> atStart = RunBetweenNoise(0, 10, 50);
  DeleteShortSpeech(atStart.data(), 60, 20, 30);
  EXPECT_EQ(atStart[0], kLabelCandidate);
}

TEST(FindBackground, ConstantEnergyIsAllBackground) {
  const std::vector<float> energy(300, 50.0f);
  std::vector<int16_t> labels = Candidates(300);
  float floorValue = 1.0f;
  float maxEnergy = 0.0f;
  FindBackground(energy.data(), labels.data(), 300, floorValue, maxEnergy);
  EXPECT_FLOAT_EQ(floorValue, 50.0f);
  EXPECT_FLOAT_EQ(maxEnergy, 0.0f);
  for (int16_t label : labels) EXPECT_EQ(label, kLabelStationary100);
}

TEST(FindBackground, LoudVaryingStretchStaysCandidateBetweenQuietBackground) {
  // 100 quiet frames at 100, 100 loud ones alternating 5000 / 15000 (mean
  // 10000, deviation 50 %), 100 quiet frames.
  std::vector<float> energy(300, 100.0f);
  for (int32_t i = 100; i < 200; ++i) energy[static_cast<size_t>(i)] = i % 2 ? 15000.0f : 5000.0f;
  std::vector<int16_t> labels = Candidates(300);
  float floorValue = 1.0f;
  float maxEnergy = 0.0f;
  FindBackground(energy.data(), labels.data(), 300, floorValue, maxEnergy);
  EXPECT_FLOAT_EQ(floorValue, 100.0f);
  EXPECT_FLOAT_EQ(maxEnergy, 10000.0f);
  for (int32_t i = 0; i < 300; ++i) {
    const bool loud = i >= 100 && i < 200;
    EXPECT_EQ(labels[static_cast<size_t>(i)] > 0, loud) << "frame " << i;
  }
  // The quiet stretches: stationary 100-frame windows at both ends, the
  // steady dips next to the loud part.
  EXPECT_EQ(labels[0], kLabelStationary100);
  EXPECT_EQ(labels[299], kLabelStationary100);
}

TEST(FindBackground, ShortRecordingsTakeTheLoudestMeanOfWhatThereIs) {
  // 50 frames: the mean of all, (10 * 25 + 30 * 25) / 50 = 20; frames below
  // the floor of 15 become kLabelBelowFloor.
  std::vector<float> energy(50, 10.0f);
  for (int32_t i = 25; i < 50; ++i) energy[static_cast<size_t>(i)] = 30.0f;
  std::vector<int16_t> labels = Candidates(50);
  float floorValue = 15.0f;
  float maxEnergy = 0.0f;
  FindBackground(energy.data(), labels.data(), 50, floorValue, maxEnergy);
  EXPECT_FLOAT_EQ(maxEnergy, 20.0f);
  EXPECT_EQ(labels[24], kLabelBelowFloor);
  EXPECT_EQ(labels[25], kLabelCandidate);
  // 80 frames: the loudest 60-frame window (frames 20 .. 79) holds 20 quiet
  // and 40 loud frames: (20 * 10 + 40 * 40) / 60 = 30.
  std::vector<float> longer(80, 10.0f);
  for (int32_t i = 40; i < 80; ++i) longer[static_cast<size_t>(i)] = 40.0f;
  std::vector<int16_t> longerLabels = Candidates(80);
  floorValue = 1.0f;
  maxEnergy = 0.0f;
  FindBackground(longer.data(), longerLabels.data(), 80, floorValue, maxEnergy);
  EXPECT_FLOAT_EQ(maxEnergy, 30.0f);
}

}  // namespace
