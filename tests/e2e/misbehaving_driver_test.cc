// A driver that misbehaves: readings that are not numbers or are huge,
// results at the ends of their types, and calls that take seconds. The tool
// shows what it got, keeps its screen whole, and stays responsive to Escape
// and Ctrl-C between calls.
#include <csignal>
#include <string>
#include <vector>

#include "e2e_support.h"

namespace varno::e2e {
namespace {

using Journal = std::vector<std::string>;

// "%f" of FLT_MAX.
const std::string kLargestFloat = "340282346638528859811704183484516925440.000000";

TEST(MisbehavingDriver, ReadingsAreShownAsReceived) {
  struct Case {
    std::string script;  // the entry's result
    std::string input;   // after the start key
    std::string shown;   // between the option's echo and the menu again
  };
  const std::string live = "\n\nSIGNAL NAME? \n DI_1 -> ";
  const std::string negative_nan = "-nan";
  const Case cases[] = {
      {"getValue_ZUNVarno = nan", "1DI_1\n\x1b", live + "nan"},
      {"getValue_ZUNVarno = -nan", "1DI_1\n\x1b", live + negative_nan},
      {"getValue_ZUNVarno = inf", "1DI_1\n\x1b", live + "inf"},
      {"getValue_ZUNVarno = -inf", "1DI_1\n\x1b", live + "-inf"},
      {"getValue_ZUNVarno = 3.4028234663852886e38", "1DI_1\n\x1b", live + kLargestFloat},
      {"getAIValueForCalibration_ZUNVarno = -nan", "3DI_1\n\x1b", live + negative_nan},
      {"MP_getParameter = nan", "6k", "PARAMETER USER_WEIGHT: nan"},
      {"MP_getParameter = -inf", "6k", "PARAMETER USER_WEIGHT: -inf"},
      {"getStatus_ZUNVarno = -1", "5k", "STATUS OF VARNO: ffffffff"},
      {"setCalibration_ZUNVarno = -2147483648", "4AI_1\n1\n2\nk",
       "\n\nSIGNAL NAME? \nVALUE A? \nVALUE B? "
       "\nResultado de calibracion=-2147483648"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.script);
    PipeRun run = RunWithPipes(Launch().Script(c.script), "k" + c.input + "\x1b");
    ASSERT_EQ(run.error, "");
    EXPECT_EQ(run.exit, 1);
    EXPECT_EQ(run.out, OnAPipe(kStarted + kMenu + c.input[0] + c.shown + kMenu));
    EXPECT_EQ(run.journal.back(), kCloseCall);
  }
}

TEST(MisbehavingDriver, ScreenStaysWholeAroundOddReadings) {
  // The longest name and the widest reading make a sample wider than the
  // screen: it wraps, and the menu after it is drawn whole.
  const std::string name(49, 'N');
  const std::string sample = " " + name + " -> " + kLargestFloat;
  const std::string wrapped =
      '\n' + sample.substr(0, kScreenColumns) + '\n' + sample.substr(kScreenColumns);
  PtySession session(
      Launch().Script("getValue_ZUNVarno = nan, 3.4028234663852886e38\n"
                      "getValue_ZUNVarno.delay_ms = 1\n"));
  ASSERT_NO_FATAL_FAILURE(ReachMenu(session));
  ASSERT_NO_FATAL_FAILURE(ReachSignalNamePrompt(session, '1'));
  ASSERT_TRUE(session.Type(name + "\r"));
  ASSERT_TRUE(session.WaitForScreen([&](const std::string& screen) { return screen == wrapped; }))
      << session.ScreenText();
  ASSERT_TRUE(session.Press(Key::kEscape));
  ASSERT_NO_FATAL_FAILURE(ReachMenuPrompt(session));
  EXPECT_EQ(session.ScreenText(), kMenu.substr(0, kMenu.size() - 1));
  const Journal journal = session.JournalLines();
  ASSERT_GE(journal.size(), 3u);
  EXPECT_EQ(journal[1], "getValue_ZUNVarno(\"" + name + "\") -> nan");
  EXPECT_EQ(journal[2], "getValue_ZUNVarno(\"" + name + "\") -> 3.40282347e+38");
  ASSERT_TRUE(session.Press(Key::kEscape));
  ASSERT_NO_FATAL_FAILURE(ExpectClosedAndRestored(session));
}

// Each driver call below takes this long.
const std::string kSlow = ".delay_ms = 1500\n";

TEST(MisbehavingDriver, EscapeDuringASlowReadingEndsItAfterThatCall) {
  PtySession session(Launch().Script("getValue_ZUNVarno = inf\ngetValue_ZUNVarno" + kSlow));
  ASSERT_NO_FATAL_FAILURE(ReachMenu(session));
  ASSERT_NO_FATAL_FAILURE(ReachSignalNamePrompt(session, '1'));
  ASSERT_TRUE(session.Type("DI_1\r"));
  // The journal line is written as the call begins.
  ASSERT_TRUE(session.WaitForJournalLine("getValue_ZUNVarno(\"DI_1\") -> inf"));
  ASSERT_TRUE(session.Press(Key::kEscape));
  // The sample is shown, then the menu, with no second call.
  ASSERT_NO_FATAL_FAILURE(ReachMenuPrompt(session));
  if (BytesVisible()) {
    EXPECT_NE(session.Output().find(OnTerminal("\n DI_1 -> inf") + kMenuOnClear),
              std::string::npos);
  }
  EXPECT_EQ(session.ScreenText(), kMenu.substr(0, kMenu.size() - 1));
  EXPECT_EQ(session.JournalLines(), (Journal{kStartCall, "getValue_ZUNVarno(\"DI_1\") -> inf"}));
  ASSERT_TRUE(session.Press(Key::kEscape));
  ASSERT_NO_FATAL_FAILURE(ExpectClosedAndRestored(session));
}

TEST(MisbehavingDriver, CtrlCDuringASlowCallLeavesOnceItReturns) {
  struct Case {
    std::string entry;
    std::string typed;  // after the menu
    std::string call;   // as journaled
  };
  const Case cases[] = {
      {"getValue_ZUNVarno", "1DI_1\r", "getValue_ZUNVarno(\"DI_1\") -> 0"},
      {"setValue_ZUNVarno", "2DO_1\r0.5\r", "setValue_ZUNVarno(\"DO_1\",0.5) -> 1"},
      {"MP_sendCommand", "8-7\r", "MP_sendCommand(-7)"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.entry);
    PtySession session(Launch().Script(c.entry + kSlow));
    ASSERT_NO_FATAL_FAILURE(ReachMenu(session));
    ASSERT_TRUE(session.Type(c.typed));
    ASSERT_TRUE(session.WaitForJournalLine(c.call));
    ASSERT_TRUE(session.WaitForSettings(SignalsOn));
    ASSERT_TRUE(session.Press(Key::kCtrlC));
    ASSERT_NO_FATAL_FAILURE(ExpectClosedAndRestored(session));
    EXPECT_EQ(session.JournalLines(), (Journal{kStartCall, c.call, kCloseCall}));
  }
}

TEST(MisbehavingDriver, ARunTheLibraryEndsLeavesTheTerminalAsFound) {
  const struct {
    std::string script;
    std::string typed;   // at the menu; none: it ends before the menu
    bool posix = false;  // a fault of POSIX libraries only
  } cases[] = {
      {"load.fault = segv", ""},
      {"load.fault = exit", ""},
      {"getStatus_ZUNVarno.fault = segv", "5"},
      {"MP_sendCommand.fault = abort", "8-5\r"},
      {"getValue_ZUNVarno.fault = exit", "1DI_1\r"},
      // Modes the library set while it loaded are not the ones found.
      {"load.fault = raw, segv", "", true},
      // The tool's handlers and signal mask are put back after the start.
      {"start_ZUNVarno.fault = signals\ngetStatus_ZUNVarno.fault = segv", "5", true},
      // A terminating signal the library raised and does not handle.
      {"start_ZUNVarno.fault = alarm", "", true},
      {"getStatus_ZUNVarno.fault = pthread_exit", "5", true},
      {"getStatus_ZUNVarno.fault = quick_exit", "5", true},
      {"start_ZUNVarno.fault = thread_segv", "", true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.script);
    if (UnderWine() && c.posix) continue;
    PtySession session(Launch().Script(c.script));
    ASSERT_TRUE(session.started()) << session.error();
    if (UnderWine() && c.script == "load.fault = segv") {
      // Windows' loader catches a crash in a library it is loading: the load
      // fails, with the system's reason, and the tool waits for a key.
      ASSERT_TRUE(session.WaitForScreen(kLoadError.substr(1) + "No access to memory location."))
          << session.ScreenText();
      ASSERT_TRUE(session.WaitForSettings(InKeyRead));
      ASSERT_TRUE(session.Type("k"));
      EXPECT_EQ(session.WaitForExit(), 1);
      EXPECT_TRUE(session.SettingsRestored());
      continue;
    }
    if (!c.typed.empty()) {
      ASSERT_NO_FATAL_FAILURE(ReachMenu(session));
      ASSERT_TRUE(session.Type(c.typed));
    }
    EXPECT_EQ(session.WaitForExit(), 1);
    EXPECT_TRUE(session.WaitForScreen(kDriverEndedRun.substr(1))) << session.ScreenText();
    EXPECT_TRUE(session.SettingsRestored());
  }
}

TEST(MisbehavingDriver, OutputLeftNonBlockingIsWaitedFor) {
  if (UnderWine()) GTEST_SKIP() << "non-blocking output is a POSIX descriptor's flag";
  // Readings that change, so that every sample is drawn.
  std::string readings = "getValue_ZUNVarno = 0";
  for (int i = 1; i < 20000; ++i) readings += "," + std::to_string(i);
  // Left by Escape, or ended by a signal the library does not handle, whose
  // message must not be lost to the full terminal; the flag is put back.
  for (const bool escape : {true, false}) {
    SCOPED_TRACE(escape ? "Escape" : "SIGUSR1");
    PtySession session(Launch().Script("start_ZUNVarno.fault = nonblock\n" + readings));
    ASSERT_NO_FATAL_FAILURE(ReachMenu(session));
    ASSERT_NO_FATAL_FAILURE(ReachSignalNamePrompt(session, '1'));
    ASSERT_TRUE(session.Type("DI_1\r"));
    // Left unread, the terminal fills up and the samples stop: the tool must
    // be waiting for the terminal then, not gone.
    std::size_t samples = 0;
    ASSERT_TRUE(session.folder().WaitForJournal([&](const Journal& journal) {
      const std::size_t now = journal.size();
      const bool stopped = now == samples && now > 10;
      samples = now;
      return stopped;
    }));
    EXPECT_TRUE(session.Running());
    if (escape) {
      ASSERT_TRUE(session.Press(Key::kEscape));
      ASSERT_NO_FATAL_FAILURE(ReachMenuPrompt(session));
      ASSERT_TRUE(session.Press(Key::kEscape));
      ASSERT_NO_FATAL_FAILURE(ExpectClosedAndRestored(session));
      continue;
    }
    ASSERT_TRUE(session.Signal(SIGUSR1));
    EXPECT_EQ(session.WaitForExit(), 1);
    EXPECT_TRUE(session.WaitForScreen(kDriverEndedRun.substr(1))) << session.ScreenText();
    EXPECT_TRUE(session.SettingsRestored());
  }
}

TEST(MisbehavingDriver, WhatTheLibraryDoesToTheTerminalIsPutRight) {
  if (UnderWine()) GTEST_SKIP() << "these are faults of POSIX libraries";
  const struct {
    std::string script;
    bool live_reading;  // left from a live reading of DI_1, or from the menu
    Key leave;
  } cases[] = {
      // The modes found are those before the library loaded.
      {"load.fault = raw", false, Key::kEscape},
      // Keys are read and the screen drawn on the terminal the tool found.
      {"start_ZUNVarno.fault = close_stdio", true, Key::kEscape},
      // Ctrl-C interrupts although the library ignored and blocked it.
      {"start_ZUNVarno.fault = signals", true, Key::kCtrlC},
      // The run's mode is put back: Escape without a line end, Ctrl-C as a
      // signal.
      {"getValue_ZUNVarno.fault = cooked", true, Key::kEscape},
      {"getValue_ZUNVarno.fault = raw", true, Key::kCtrlC},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.script);
    PtySession session(Launch().Script(c.script + "\ngetValue_ZUNVarno.delay_ms = 1"));
    ASSERT_NO_FATAL_FAILURE(ReachMenu(session));
    if (c.live_reading) {
      ASSERT_NO_FATAL_FAILURE(ReachSignalNamePrompt(session, '1'));
      ASSERT_TRUE(session.Type("DI_1\r"));
      ASSERT_TRUE(session.WaitForScreen(" DI_1 -> 0.000000")) << session.ScreenText();
    }
    ASSERT_TRUE(session.Press(c.leave));
    if (c.live_reading && c.leave == Key::kEscape) {
      ASSERT_NO_FATAL_FAILURE(ReachMenuPrompt(session));
      ASSERT_TRUE(session.Press(Key::kEscape));
    }
    ASSERT_NO_FATAL_FAILURE(ExpectClosedAndRestored(session));
  }
}

TEST(MisbehavingDriver, LinesTheLibraryWritesNeverHideTheLiveReading) {
  if (UnderWine()) GTEST_SKIP() << "the driver's lines go to a POSIX standard error";
  PtySession session(Launch().Script("getValue_ZUNVarno.fault = log"));
  ASSERT_NO_FATAL_FAILURE(ReachMenu(session));
  ASSERT_NO_FATAL_FAILURE(ReachSignalNamePrompt(session, '1'));
  ASSERT_TRUE(session.Type("DI_1\r"));
  // Long after its lines have filled the screen many times, the reading is
  // on it again, and again.
  for (std::size_t samples : {500u, 1000u}) {
    ASSERT_TRUE(session.WaitFor([&] { return session.JournalLines().size() > samples; }));
    const std::size_t from = session.Output().size();
    ASSERT_TRUE(session.WaitFor([&] {
      return session.Output().find("recording driver", from) != std::string::npos &&
             session.ScreenRow(1).starts_with(" DI_1 -> 0.000000");
    })) << session.ScreenText();
  }
  ASSERT_TRUE(session.Press(Key::kEscape));
  ASSERT_NO_FATAL_FAILURE(ReachMenuPrompt(session));
  ASSERT_TRUE(session.Press(Key::kEscape));
  ASSERT_NO_FATAL_FAILURE(ExpectClosedAndRestored(session));
}

}  // namespace
}  // namespace varno::e2e
