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

  // Runs an engine call and checks its code and a message of its log.
  template <typename Call>
  void Expect(int32_t code, const std::string &message, Call call) {
    EXPECT_EQ(Run(call), code) << message;
    EXPECT_TRUE(Logged(message)) << log_;
  }

  int32_t OpenLine() {
    int32_t line = -1;
    EXPECT_EQ(Run([&] { return KVD_Open(&line); }), KVD_OK);
    return line;
  }

  // (DetectState, busyFlag) of a line.
  std::pair<int32_t, int32_t> StateOf(int32_t line) {
    const SpeechDetector *detector = GetLine(line);
    return {detector->DetectState, detector->busyFlag};
  }
};

using LineState = std::pair<int32_t, int32_t>;

TEST_F(LineLifecycle, TableSizeAndLineNumbersOutOfRange) {
  int32_t line = -1;
  Expect(KVD_ERR_NO_FREE_LINE, "KVD_Open Error! No free line!\n", [&] { return KVD_Open(&line); });
  Expect(KVD_ERR_BAD_LINE, "KVD_Open Error! NULL Pointer to open!\n",
         [] { return KVD_Open(nullptr); });

  // More than 1024 lines are refused before any file is opened.
  const std::string absent = dir_.Path() + "/absent.cfg";
  Expect(KVD_ERR_LINE_BUILD,
         "KVD_Init error! Too many lines! The system only can initialize 1024 lines!\n",
         [&] { return KVD_Init(absent.c_str(), kMaxLines + 1); });
  EXPECT_FALSE(Logged("Error in open"));

  // With OpenAllLines off only the asked lines exist.
  ASSERT_EQ(Init(3), KVD_OK);
  EXPECT_NE(GetLine(2), nullptr);
  char value[kConfigLineBytes];
  for (int32_t bad : {-1, 3, kMaxLines}) {
    const int32_t code = KVD_ERR_BAD_LINE;
    Expect(code, "KVD_Start Error! NULL pointer to kvd.\n\n", [=] { return KVD_Start(bad); });
    Expect(code, "KVD_Stop Error! NULL pointer to kvd.\n\n", [=] { return KVD_Stop(bad); });
    Expect(code, "KVD_Close Error! NULL pointer to kvd!\n", [=] { return KVD_Close(bad); });
    EXPECT_EQ(Run([&] { return KVD_GetParameter(bad, "SampleRate", value); }), KVD_ERR_BAD_LINE);
  }

  // A negative count gives an engine without lines.
  ASSERT_EQ(Init(-2), KVD_OK);
  EXPECT_TRUE(Logged("KVD Init -2 lines successful!\n"));
  Expect(KVD_ERR_NO_FREE_LINE, "", [&] { return KVD_Open(&line); });
  Expect(KVD_OK, "KVD_Exit warning! -2 lines have been used!\n", [] { return KVD_Exit(); });
  EXPECT_EQ(LineCount(), 0);
}

TEST_F(LineLifecycle, StartStopAndCloseFollowTheStateTable) {
  ASSERT_EQ(Init(2), KVD_OK);
  EXPECT_EQ(StateOf(1), LineState(KVD_STATE_UNINIT, 0));
  Expect(KVD_ERR_NOT_OPEN, "KVD_Start Error! The line is not open.\n\n",
         [] { return KVD_Start(1); });
  Expect(KVD_ERR_NOT_OPEN, "KVD_Stop Error! Line 1 has not been open!\n",
         [] { return KVD_Stop(1); });
  Expect(KVD_OK, "KVD_Close warning! Close Line 1 when it is not started!\n",
         [] { return KVD_Close(1); });
  EXPECT_EQ(StateOf(1), LineState(KVD_STATE_UNINIT, 0));

  const int32_t line = OpenLine();
  EXPECT_EQ(StateOf(line), LineState(KVD_STATE_IDLE, 0));
  EXPECT_EQ(Run([&] { return KVD_Start(line); }), KVD_OK);
  EXPECT_FALSE(Logged("warning") || Logged("Warning"));
  EXPECT_EQ(StateOf(line), LineState(before_speech, 1));

  // Starting again restarts detection, with both busy warnings.
  GetLine(line)->DetectState = no_speech;
  Expect(KVD_OK, "KVD_Start Warning! Try to start a busy line of number 0!\n",
         [&] { return KVD_Start(line); });
  EXPECT_TRUE(Logged("KVD_Start warning! Reinitializing a busy line!"));
  EXPECT_EQ(StateOf(line), LineState(before_speech, 1));

  EXPECT_EQ(Run([&] { return KVD_Stop(line); }), KVD_OK);
  EXPECT_EQ(log_, "");
  EXPECT_EQ(StateOf(line), LineState(KVD_STATE_IDLE, 0));
  Expect(KVD_OK, "KVD_Stop Warning! Line 0 is idle already. state=idle.\n",
         [&] { return KVD_Stop(line); });
  EXPECT_TRUE(Logged("KVD_Stop Warning! Line 0 is idle already. flag=idle.\n"));

  EXPECT_EQ(Run([&] { return KVD_Close(line); }), KVD_OK);
  EXPECT_EQ(StateOf(line), LineState(KVD_STATE_UNINIT, 0));

  // A line closed while busy is handed out idle again, with a warning.
  ASSERT_EQ(OpenLine(), line);
  ASSERT_EQ(Run([&] { return KVD_Start(line); }), KVD_OK);
  Expect(KVD_OK, "KVD_Close warning! Line 0 is not idle when it is closed!\n",
         [&] { return KVD_Close(line); });
  EXPECT_EQ(StateOf(line), LineState(KVD_STATE_UNINIT, 1));
  EXPECT_EQ(OpenLine(), line);
  EXPECT_TRUE(Logged("KVD_Open warning! Line 0 has not been closed correctly!"));
  EXPECT_EQ(StateOf(line), LineState(KVD_STATE_IDLE, 0));

  // A broken line cannot be started and keeps its flag.
  GetLine(line)->errorStatus = KVD_ERR_REINIT;
  Expect(KVD_ERR_REINIT, "Error to begin ReInitial!\n", [&] { return KVD_Start(line); });
  EXPECT_TRUE(Logged("KVD_Start Error! Fail in ReInitialization of detector.\n\n"));
  EXPECT_EQ(StateOf(line), LineState(KVD_STATE_IDLE, 0));
}

TEST_F(LineLifecycle, GetParameterLeavesATerminatedTextSetParameterOnlyWhenNotStarted) {
  ASSERT_EQ(Init(2), KVD_OK);
  GetLine(1)->errorStatus = KVD_ERR_BAD_DATA;
  const struct {
    int32_t line, code;
    const char *name, *message;
  } rows[] = {
      {-1, KVD_ERR_BAD_LINE, "MaxSilence", "KVD_GetParameter Error! NULL pointer to kvd.\n\n"},
      {0, KVD_OK, nullptr, "KVD_GetParameter warning! paraName is NULL!\n\n"},
      {0, KVD_OK, "FastMode", "KVD_GetParameter Warning!  Fail to get parameter!\n"},
      {1, KVD_OK, "MaxSilence", "Error to begin GetParameter!\n"}};
  for (const auto &row : rows) {
    char value[kConfigLineBytes] = "stale";
    Expect(row.code, row.message, [&] { return KVD_GetParameter(row.line, row.name, value); });
    EXPECT_STREQ(value, "") << row.message;
  }
  Expect(KVD_OK, "KVD_GetParameter warning!  Buffer for parameter is NULL!\n\n",
         [] { return KVD_GetParameter(0, "MaxSilence", nullptr); });

  EXPECT_EQ(Parameter(0, "samplerate"), "8000");
  EXPECT_EQ(Parameter(0, "AverageGain"), "0.000000");

  // Parameters change only while the line is not started.
  SpeechDetector &detector = *GetLine(0);
  const struct {
    const char *name, *value, *message;
  } warnings[] = {
      {"SampleRate", "16000", "KVD Warning! You can only set SampleRate in config file!\n"},
      {"NoSuchKey", "1", "KVD_SetParameter warning! Fail to set parameter!"},
      {nullptr, "1", "Warning in SetParameter!  paramName is NULL!\n"},
      {"MaxWaitFrame", nullptr, "Warning in SetParameter!  paramValue is NULL!\n"}};
  for (const auto &row : warnings) {
    Expect(KVD_OK, row.message, [&] { return detector.SetParameter(row.name, row.value); });
  }
  EXPECT_EQ(Parameter(0, "SampleRate"), "8000");
  // Integer conversion: "true" is not a number.
  EXPECT_EQ(Run([&] { return detector.SetParameter("isonline", "true"); }), KVD_OK);
  EXPECT_EQ(Parameter(0, "IsOnLine"), "0");

  const int32_t line = OpenLine();
  ASSERT_EQ(Run([&] { return KVD_Start(line); }), KVD_OK);
  Expect(KVD_OK, "SetParameter Warning! Only Can set parameters in KVD_STATE_IDLE or KVD_STATE_",
         [&] { return detector.SetParameter("MaxWaitFrame", "7"); });
  EXPECT_EQ(Parameter(0, "MaxWaitFrame"), "500");

  detector.errorStatus = KVD_ERR_BAD_DATA;
  Expect(KVD_ERR_BAD_DATA, "Error to begin SetParameter!\n",
         [&] { return detector.SetParameter("MaxWaitFrame", "7"); });
}

// Detection calls on lines in every wrong state and with bad arguments; a
// null pointer leaves the line working, a negative length breaks it until
// the next KVD_Init.
TEST_F(LineLifecycle, DetectionMisuseGivesItsCodeAndMessage) {
  const std::vector<int16_t> pcm(160, 0);
  int32_t state = 0, start = 0, end = 0, position = 0;
  const auto detect = [&](int32_t line, const int16_t *samples, int32_t count) {
    return [=, &state, &start, &end, &position] {
      return KVD_DetectSpeech(line, samples, count, &state, &start, &end, &position);
    };
  };
  for (const char *when : {"before KVD_Init", "after KVD_Exit"}) {
    SCOPED_TRACE(when);
    Expect(KVD_ERR_BAD_LINE, "KVD_DetectSpeech Error! NULL pointer to kvd.",
           detect(0, pcm.data(), 160));
    EXPECT_EQ(Run([] { return KVD_Start(0); }), KVD_ERR_BAD_LINE);
    Expect(KVD_OK, "Exit 0 lines successful!", [] { return KVD_Exit(); });
    ASSERT_EQ(Init(2), KVD_OK);
    Run([] { return KVD_Exit(); });
  }
  ASSERT_EQ(Init(2), KVD_OK);
  Expect(KVD_ERR_NOT_OPEN, "Error in KVD_DetectSpeech! This line has not been used.",
         detect(0, pcm.data(), 160));
  const int32_t line = OpenLine();
  Expect(KVD_ERR_NOT_STARTED, "Error in KVD_DetectSpeech! This line has not been started.",
         detect(line, pcm.data(), 160));
  ASSERT_EQ(Run([&] { return KVD_Start(line); }), KVD_OK);
  Expect(KVD_ERR_BAD_LINE, "KVD_DetectSpeech error! NULL pointer!", detect(line, nullptr, 160));
  Expect(KVD_ERR_BAD_LINE, "KVD_DetectSpeech error! NULL pointer!",
         [&] { return KVD_DetectSpeech(line, pcm.data(), 160, nullptr, &start, &end, &position); });
  EXPECT_EQ(Run(detect(line, pcm.data(), 160)), KVD_OK);
  Expect(KVD_ERR_BAD_DATA, "KVD_DetectSpeech error! Error data sent to KVD_DetectSpeech.",
         detect(line, pcm.data(), -1));
  Expect(KVD_ERR_BAD_DATA, "Error to begin Detect!", detect(line, pcm.data(), 160));
  Expect(KVD_ERR_BAD_DATA, "Error to begin ReInitial!", [&] { return KVD_Start(line); });
  EXPECT_EQ(Run([] { return KVD_Exit(); }), KVD_OK);
  Expect(KVD_OK, "Exit 0 lines successful!", [] { return KVD_Exit(); });
}

// Offline, a negative length breaks the line as online and reports no
// segment (it once gave 0 with a segment from 0 to -2); a list without room
// is refused by detection, not by KVD_Init.
TEST_F(LineLifecycle, OfflineDetectionMisuse) {
  const std::vector<int16_t> pcm(160, 0);
  int32_t state = 0, start = 0, end = 0, at = 0;
  main_.Set("IsOnline", "0");
  for (const char *segments : {"1", "0"}) {
    main_.Set("IsOneSeg", segments);
    offline_.Set("MaxSegNum", "0");
    ASSERT_EQ(Init(1), KVD_OK) << log_;
    const int32_t line = OpenLine();
    ASSERT_EQ(Run([&] { return KVD_Start(line); }), KVD_OK);
    const bool oneSegment = segments[0] == '1';
    const int32_t count = oneSegment ? -1 : 160;
    Expect(oneSegment ? KVD_ERR_BAD_DATA : KVD_ERR_OFFLINE,
           oneSegment ? "Error data sent to KVD_DetectSpeech."
                      : "multi-seg offline error! MaxSegNum should be 1..100000!",
           [&] { return KVD_DetectSpeech(line, pcm.data(), count, &state, &start, &end, &at); });
    if (oneSegment) {
      EXPECT_EQ(std::make_pair(start, end), std::make_pair(0, 0)) << "no segment is reported";
      EXPECT_EQ(Run([&] { return KVD_Start(line); }), KVD_ERR_BAD_DATA);
    }
  }
}

}  // namespace
