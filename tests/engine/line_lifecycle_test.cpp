// The line table: opening, starting, stopping and closing lines, reading
// parameters back, and the engine's own life cycle.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "engine/kvd_api.h"
#include "engine/line_table.h"
#include "engine/speech_detector.h"
#include "engine_session.h"

namespace {

using kvdtest::CaptureLog;

class LineLifecycle : public kvdtest::EngineSession {
 protected:
  // Runs an engine call, keeping its log in log_.
  template <typename Call>
  int32_t Run(Call call) {
    int32_t result = 0;
    log_ = CaptureLog([&] { result = call(); });
    return result;
  }

  int32_t OpenLine() {
    int32_t line = -1;
    EXPECT_EQ(Run([&] { return KVD_Open(&line); }), KVD_OK);
    return line;
  }

  // (DetectState, busyFlag) of a line.
  std::pair<int32_t, int32_t> StateOf(int32_t line) {
    const SpeechDetector* detector = GetLine(line);
    return {detector->DetectState, detector->busyFlag};
  }
};

using LineState = std::pair<int32_t, int32_t>;

TEST_F(LineLifecycle, OpenBeforeInitFindsNoFreeLine) {
  int32_t line = -1;
  EXPECT_EQ(Run([&] { return KVD_Open(&line); }), KVD_ERR_NO_FREE_LINE);
  EXPECT_TRUE(Logged("KVD_Open Error! No free line!\n"));
  EXPECT_EQ(Run([] { return KVD_Open(nullptr); }), KVD_ERR_BAD_LINE);
  EXPECT_TRUE(Logged("KVD_Open Error! NULL Pointer to open!\n"));
}

TEST_F(LineLifecycle, MoreThan1024LinesAreRefusedBeforeAnyFileIsOpened) {
  const std::string absent = dir_.Path() + "/absent.cfg";
  EXPECT_EQ(Run([&] { return KVD_Init(absent.c_str(), kMaxLines + 1); }), KVD_ERR_LINE_BUILD);
  EXPECT_TRUE(
      Logged("KVD_Init error! Too many lines! The system only can initialize 1024 lines!\n"));
  EXPECT_FALSE(Logged("Error in open"));
  EXPECT_EQ(Init(kMaxLines), KVD_OK);
  EXPECT_EQ(LineCount(), kMaxLines);
}

TEST_F(LineLifecycle, FullTableThenTheLowestClosedLineIsReused) {
  ASSERT_EQ(Init(8), KVD_OK);
  for (int32_t expected = 0; expected < 8; ++expected) {
    EXPECT_EQ(OpenLine(), expected);
    EXPECT_TRUE(Logged("KVD_Open successful on line " + std::to_string(expected) + "!\n"));
  }
  int32_t line = -1;
  EXPECT_EQ(Run([&] { return KVD_Open(&line); }), KVD_ERR_NO_FREE_LINE);
  EXPECT_EQ(Run([] { return KVD_Close(5); }), KVD_OK);
  EXPECT_EQ(log_, "");  // an idle line closes without a warning
  EXPECT_EQ(OpenLine(), 5);
}

TEST_F(LineLifecycle, OnlyTheAskedLinesExistWhenOpenAllLinesIsOff) {
  ASSERT_EQ(Init(3), KVD_OK);
  EXPECT_NE(GetLine(2), nullptr);
  EXPECT_EQ(Run([] { return KVD_Start(3); }), KVD_ERR_BAD_LINE);
  EXPECT_TRUE(Logged("KVD_Start Error! NULL pointer to kvd.\n\n"));
  EXPECT_EQ(Run([] { return KVD_Stop(-1); }), KVD_ERR_BAD_LINE);
  EXPECT_TRUE(Logged("KVD_Stop Error! NULL pointer to kvd.\n\n"));
  EXPECT_EQ(Run([] { return KVD_Close(3); }), KVD_ERR_BAD_LINE);
  EXPECT_TRUE(Logged("KVD_Close Error! NULL pointer to kvd!\n"));
}

TEST_F(LineLifecycle, NegativeLineCountGivesAnEngineWithoutLines) {
  ASSERT_EQ(Init(-2), KVD_OK);
  EXPECT_TRUE(Logged("KVD Init -2 lines successful!\n"));
  int32_t line = -1;
  EXPECT_EQ(Run([&] { return KVD_Open(&line); }), KVD_ERR_NO_FREE_LINE);
  EXPECT_EQ(Run([] { return KVD_Exit(); }), KVD_OK);
  EXPECT_TRUE(Logged("KVD_Exit warning! -2 lines have been used!\n"));
  EXPECT_EQ(LineCount(), 0);
}

TEST_F(LineLifecycle, StartStopAndCloseFollowTheStateTable) {
  ASSERT_EQ(Init(2), KVD_OK);
  EXPECT_EQ(StateOf(1), LineState(KVD_STATE_UNINIT, 0));
  EXPECT_EQ(Run([] { return KVD_Start(1); }), KVD_ERR_NOT_OPEN);
  EXPECT_TRUE(Logged("KVD_Start Error! The line is not open.\n\n"));
  EXPECT_EQ(Run([] { return KVD_Stop(1); }), KVD_ERR_NOT_OPEN);
  EXPECT_TRUE(Logged("KVD_Stop Error! Line 1 has not been open!\n"));
  EXPECT_EQ(Run([] { return KVD_Close(1); }), KVD_OK);
  EXPECT_TRUE(Logged("KVD_Close warning! Close Line 1 when it is not started!\n"));
  EXPECT_EQ(StateOf(1), LineState(KVD_STATE_UNINIT, 0));

  const int32_t line = OpenLine();
  EXPECT_EQ(StateOf(line), LineState(KVD_STATE_IDLE, 0));
  EXPECT_EQ(Run([&] { return KVD_Start(line); }), KVD_OK);
  EXPECT_FALSE(Logged("warning"));
  EXPECT_FALSE(Logged("Warning"));
  EXPECT_EQ(StateOf(line), LineState(before_speech, 1));

  // Starting again restarts detection, with both busy warnings.
  GetLine(line)->DetectState = no_speech;
  EXPECT_EQ(Run([&] { return KVD_Start(line); }), KVD_OK);
  EXPECT_TRUE(Logged("KVD_Start Warning! Try to start a busy line of number 0!\n"));
  EXPECT_TRUE(Logged("KVD_Start warning! Reinitializing a busy line!"));
  EXPECT_EQ(StateOf(line), LineState(before_speech, 1));

  EXPECT_EQ(Run([&] { return KVD_Stop(line); }), KVD_OK);
  EXPECT_EQ(log_, "");
  EXPECT_EQ(StateOf(line), LineState(KVD_STATE_IDLE, 0));
  EXPECT_EQ(Run([&] { return KVD_Stop(line); }), KVD_OK);
  EXPECT_TRUE(Logged("KVD_Stop Warning! Line 0 is idle already. state=idle.\n"));
  EXPECT_TRUE(Logged("KVD_Stop Warning! Line 0 is idle already. flag=idle.\n"));

  EXPECT_EQ(Run([&] { return KVD_Close(line); }), KVD_OK);
  EXPECT_EQ(StateOf(line), LineState(KVD_STATE_UNINIT, 0));
}

TEST_F(LineLifecycle, LineClosedWhileBusyIsHandedOutIdleWithAWarning) {
  ASSERT_EQ(Init(2), KVD_OK);
  const int32_t line = OpenLine();
  ASSERT_EQ(Run([&] { return KVD_Start(line); }), KVD_OK);
  EXPECT_EQ(Run([&] { return KVD_Close(line); }), KVD_OK);
  EXPECT_TRUE(Logged("KVD_Close warning! Line 0 is not idle when it is closed!\n"));
  EXPECT_EQ(StateOf(line), LineState(KVD_STATE_UNINIT, 1));

  EXPECT_EQ(OpenLine(), line);
  EXPECT_TRUE(Logged("KVD_Open warning! Line 0 has not been closed correctly!"));
  EXPECT_EQ(StateOf(line), LineState(KVD_STATE_IDLE, 0));
}

TEST_F(LineLifecycle, BrokenLineCannotBeStartedAndKeepsItsFlag) {
  ASSERT_EQ(Init(2), KVD_OK);
  const int32_t line = OpenLine();
  GetLine(line)->errorStatus = KVD_ERR_REINIT;
  EXPECT_EQ(Run([&] { return KVD_Start(line); }), KVD_ERR_REINIT);
  EXPECT_TRUE(Logged("Error to begin ReInitial!\n"));
  EXPECT_TRUE(Logged("KVD_Start Error! Fail in ReInitialization of detector.\n\n"));
  EXPECT_EQ(StateOf(line), LineState(KVD_STATE_IDLE, 0));
}

TEST_F(LineLifecycle, ExitClosesAStartedLineAndLeavesNothingBehind) {
  ASSERT_EQ(Init(2), KVD_OK);
  const int32_t line = OpenLine();
  ASSERT_EQ(Run([&] { return KVD_Start(line); }), KVD_OK);
  EXPECT_EQ(Run([] { return KVD_Exit(); }), KVD_OK);
  EXPECT_TRUE(Logged("KVD_Exit Warning! Line 0 is still active when KVD_Exit\n"));
  EXPECT_TRUE(Logged("KVD_Close warning! Line 0 is not idle when it is closed!\n"));
  EXPECT_TRUE(Logged("Exit 2 lines successful!\n"));
  EXPECT_EQ(LineCount(), 0);
  EXPECT_EQ(GetLine(0), nullptr);

  ASSERT_EQ(Init(2), KVD_OK);
  EXPECT_FALSE(Logged("lines have been used"));
}

TEST_F(LineLifecycle, SecondInitReleasesTheEarlierLines) {
  // Run under AddressSanitizer, the earlier lines would show as leaks.
  ASSERT_EQ(Init(4), KVD_OK);
  EXPECT_EQ(OpenLine(), 0);
  ASSERT_EQ(Init(2), KVD_OK);
  EXPECT_TRUE(Logged("KVD_Init warning!\n4 lines have been used!\n"));
  EXPECT_EQ(LineCount(), 2);
  EXPECT_EQ(GetLine(2), nullptr);
  EXPECT_EQ(OpenLine(), 0);  // a fresh line table: line 0 is free again
}

TEST_F(LineLifecycle, FailedInitLeavesEmptySlotsThatExitReports) {
  main_.Remove("MaxWaitFrame");
  ASSERT_EQ(Init(2), KVD_ERR_CONFIG);
  EXPECT_EQ(Run([] { return KVD_Exit(); }), KVD_ERR_BAD_LINE);
  EXPECT_TRUE(Logged("Error in KVD_Exit! Line 0 is NULL\n"));
  EXPECT_TRUE(Logged("Error in KVD_Exit! Line 1 is NULL\n"));
  EXPECT_EQ(LineCount(), 0);
}

TEST_F(LineLifecycle, InitAfterAFailedCompanionFileReleasesItsLines) {
  main_.Set("IsOnline", "0");
  writeOffline_ = false;
  ASSERT_EQ(Init(3), KVD_ERR_CONFIG);
  ASSERT_NE(GetLine(2), nullptr);
  writeOffline_ = true;
  ASSERT_EQ(Init(3), KVD_OK);
  EXPECT_TRUE(Logged("3 lines have been used!"));
}

TEST_F(LineLifecycle, GetParameterAlwaysLeavesATerminatedText) {
  ASSERT_EQ(Init(2), KVD_OK);
  char value[kConfigLineBytes] = "stale";
  EXPECT_EQ(Run([&] { return KVD_GetParameter(-1, "MaxSilence", value); }), KVD_ERR_BAD_LINE);
  EXPECT_TRUE(Logged("KVD_GetParameter Error! NULL pointer to kvd.\n\n"));
  EXPECT_STREQ(value, "");

  std::strcpy(value, "stale");
  EXPECT_EQ(Run([&] { return KVD_GetParameter(0, nullptr, value); }), KVD_OK);
  EXPECT_TRUE(Logged("KVD_GetParameter warning! paraName is NULL!\n\n"));
  EXPECT_STREQ(value, "");
  EXPECT_EQ(Run([&] { return KVD_GetParameter(0, "MaxSilence", nullptr); }), KVD_OK);
  EXPECT_TRUE(Logged("KVD_GetParameter warning!  Buffer for parameter is NULL!\n\n"));

  std::strcpy(value, "stale");
  EXPECT_EQ(Run([&] { return KVD_GetParameter(0, "FastMode", value); }), KVD_OK);
  EXPECT_TRUE(Logged("KVD_GetParameter Warning!  Fail to get parameter!\n"));
  EXPECT_STREQ(value, "");

  GetLine(1)->errorStatus = KVD_ERR_BAD_DATA;
  std::strcpy(value, "stale");
  EXPECT_EQ(Run([&] { return KVD_GetParameter(1, "MaxSilence", value); }), KVD_OK);
  EXPECT_TRUE(Logged("Error to begin GetParameter!\n"));
  EXPECT_STREQ(value, "");

  EXPECT_EQ(Parameter(0, "samplerate"), "8000");
  EXPECT_EQ(Parameter(0, "MaxSilence"), "60");
  EXPECT_EQ(Parameter(0, "AverageGain"), "0.000000");
}

TEST_F(LineLifecycle, ParametersChangeOnlyWhileTheLineIsNotStarted) {
  ASSERT_EQ(Init(2), KVD_OK);
  SpeechDetector& detector = *GetLine(0);
  EXPECT_EQ(Run([&] { return detector.SetParameter("SampleRate", "16000"); }), KVD_OK);
  EXPECT_TRUE(Logged("KVD Warning! You can only set SampleRate in config file!\n"));
  EXPECT_EQ(Parameter(0, "SampleRate"), "8000");
  EXPECT_EQ(Run([&] { return detector.SetParameter("NoSuchKey", "1"); }), KVD_OK);
  EXPECT_TRUE(Logged("KVD_SetParameter warning! Fail to set parameter!"));
  EXPECT_EQ(Run([&] { return detector.SetParameter(nullptr, "1"); }), KVD_OK);
  EXPECT_TRUE(Logged("Warning in SetParameter!  paramName is NULL!\n"));
  EXPECT_EQ(Run([&] { return detector.SetParameter("MaxWaitFrame", nullptr); }), KVD_OK);
  EXPECT_TRUE(Logged("Warning in SetParameter!  paramValue is NULL!\n"));
  // Integer conversion: "true" is not a number.
  EXPECT_EQ(Run([&] { return detector.SetParameter("isonline", "true"); }), KVD_OK);
  EXPECT_EQ(Parameter(0, "IsOnLine"), "0");

  const int32_t line = OpenLine();
  ASSERT_EQ(Run([&] { return KVD_Start(line); }), KVD_OK);
  EXPECT_EQ(Run([&] { return detector.SetParameter("MaxWaitFrame", "7"); }), KVD_OK);
  EXPECT_TRUE(
      Logged("SetParameter Warning! Only Can set parameters in KVD_STATE_IDLE or KVD_STATE_UNINIT "
             "state!\n"));
  EXPECT_EQ(Parameter(0, "MaxWaitFrame"), "500");

  detector.errorStatus = KVD_ERR_BAD_DATA;
  EXPECT_EQ(Run([&] { return detector.SetParameter("MaxWaitFrame", "7"); }), KVD_ERR_BAD_DATA);
  EXPECT_TRUE(Logged("Error to begin SetParameter!\n"));
}

// Detection calls on lines in every wrong state and with bad arguments; a
// null pointer leaves the line working, a negative length breaks it until
// the next KVD_Init.
TEST_F(LineLifecycle, DetectionMisuseGivesItsCodeAndMessage) {
  const std::vector<int16_t> pcm(160, 0);
  int32_t state = 0, start = 0, end = 0, position = 0;
  const auto detect = [&](int32_t line, const int16_t* samples, int32_t count) {
    return Run([&] { return KVD_DetectSpeech(line, samples, count, &state, &start, &end, &position); });
  };
  for (const char* when : {"before KVD_Init", "after KVD_Exit"}) {
    EXPECT_EQ(detect(0, pcm.data(), 160), KVD_ERR_BAD_LINE) << when;
    EXPECT_TRUE(Logged("KVD_DetectSpeech Error! NULL pointer to kvd.")) << when;
    EXPECT_EQ(Run([] { return KVD_Start(0); }), KVD_ERR_BAD_LINE) << when;
    EXPECT_EQ(Run([] { return KVD_Exit(); }), KVD_OK) << when;
    EXPECT_TRUE(Logged("Exit 0 lines successful!")) << when;
    ASSERT_EQ(Init(2), KVD_OK);
    Run([] { return KVD_Exit(); });
  }
  ASSERT_EQ(Init(2), KVD_OK);
  char value[kConfigLineBytes];
  for (int32_t bad : {-1, 2, kMaxLines}) {
    EXPECT_EQ(Run([&] { return KVD_Start(bad); }), KVD_ERR_BAD_LINE) << bad;
    EXPECT_EQ(Run([&] { return KVD_Stop(bad); }), KVD_ERR_BAD_LINE) << bad;
    EXPECT_EQ(Run([&] { return KVD_Close(bad); }), KVD_ERR_BAD_LINE) << bad;
    EXPECT_EQ(Run([&] { return KVD_GetParameter(bad, "SampleRate", value); }), KVD_ERR_BAD_LINE);
  }
  EXPECT_EQ(detect(0, pcm.data(), 160), KVD_ERR_NOT_OPEN);
  EXPECT_TRUE(Logged("Error in KVD_DetectSpeech! This line has not been used."));
  const int32_t line = OpenLine();
  EXPECT_EQ(detect(line, pcm.data(), 160), KVD_ERR_NOT_STARTED);
  EXPECT_TRUE(Logged("Error in KVD_DetectSpeech! This line has not been started."));
  ASSERT_EQ(Run([&] { return KVD_Start(line); }), KVD_OK);
  EXPECT_EQ(detect(line, nullptr, 160), KVD_ERR_BAD_LINE);
  EXPECT_TRUE(Logged("KVD_DetectSpeech error! NULL pointer!"));
  EXPECT_EQ(Run([&] { return KVD_DetectSpeech(line, pcm.data(), 160, nullptr, &start, &end, &position); }),
            KVD_ERR_BAD_LINE);
  EXPECT_TRUE(Logged("KVD_DetectSpeech error! NULL pointer!"));
  EXPECT_EQ(detect(line, pcm.data(), 160), KVD_OK);
  EXPECT_EQ(detect(line, pcm.data(), -1), KVD_ERR_BAD_DATA);
  EXPECT_TRUE(Logged("KVD_DetectSpeech error! Error data sent to KVD_DetectSpeech."));
  EXPECT_EQ(detect(line, pcm.data(), 160), KVD_ERR_BAD_DATA);
  EXPECT_TRUE(Logged("Error to begin Detect!"));
  EXPECT_EQ(Run([&] { return KVD_Start(line); }), KVD_ERR_BAD_DATA);
  EXPECT_TRUE(Logged("Error to begin ReInitial!"));
  EXPECT_EQ(Run([] { return KVD_Exit(); }), KVD_OK);
  EXPECT_EQ(Run([] { return KVD_Exit(); }), KVD_OK);
  EXPECT_TRUE(Logged("Exit 0 lines successful!"));
}

// Offline, a negative length breaks the line as online and reports no
// segment (it once gave 0 with a segment from 0 to -2); a list without room
// is refused by detection, not by KVD_Init.
TEST_F(LineLifecycle, OfflineDetectionMisuse) {
  const std::vector<int16_t> pcm(160, 0);
  int32_t state = 0, start = 0, end = 0, position = 0;
  main_.Set("IsOnline", "0");
  for (const char* segments : {"1", "0"}) {
    main_.Set("IsOneSeg", segments);
    offline_.Set("MaxSegNum", "0");
    ASSERT_EQ(Init(1), KVD_OK) << log_;
    const int32_t line = OpenLine();
    ASSERT_EQ(Run([&] { return KVD_Start(line); }), KVD_OK);
    const int32_t count = segments[0] == '1' ? -1 : 160;
    EXPECT_EQ(Run([&] { return KVD_DetectSpeech(line, pcm.data(), count, &state, &start, &end, &position); }),
              segments[0] == '1' ? KVD_ERR_BAD_DATA : KVD_ERR_OFFLINE);
    if (segments[0] == '1') {
      EXPECT_TRUE(Logged("Error data sent to KVD_DetectSpeech."));
      EXPECT_EQ(start, 0) << "no segment may be reported";
      EXPECT_EQ(end, 0) << "no segment may be reported";
      EXPECT_EQ(Run([&] { return KVD_Start(line); }), KVD_ERR_BAD_DATA);
    } else {
      EXPECT_TRUE(Logged("KVD_DetectSpeech multi-seg offline error! MaxSegNum should be 1..100000!"))
          << log_;
    }
  }
}

}  // namespace
