// Menu options 1 to 5: live reading, SET OUTPUT, MAKE CALIBRATION, GET STATUS,
// and the signal name and number prompts they share.
#include <chrono>
#include <csignal>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "e2e_support.h"

namespace varno::e2e {
namespace {

using Journal = std::vector<std::string>;

TEST(LiveReading, SamplesUntilEscapeSwallowingOtherKeys) {
  struct Case {
    char option;
    std::string entry;  // the only entry the option may call
  };
  const Case cases[] = {{'1', "getValue_ZUNVarno"}, {'3', "getAIValueForCalibration_ZUNVarno"}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.entry);
    PtySession session(Launch().Script(c.entry + " = 1, 2.5, 3\n" + c.entry + ".delay_ms = 1\n"));
    ASSERT_NO_FATAL_FAILURE(ReachMenu(session));
    ASSERT_NO_FATAL_FAILURE(ReachSignalNamePrompt(session, c.option));
    ASSERT_TRUE(session.Type("DI_1\r"));
    if (BytesVisible()) {
      EXPECT_TRUE(session.WaitForOutput("SIGNAL NAME? " + EraseTopRows(2) + kFrameEnd + "DI_1"));
    }
    // Each sample stands alone on a cleared screen.
    ASSERT_TRUE(session.WaitForScreen([](const std::string& screen) {
      return screen == "\n DI_1 -> 3.000000";
    })) << session.ScreenText();

    size_t sampled = session.JournalLines().size();
    ASSERT_TRUE(session.Type("x"));
    ASSERT_TRUE(session.folder().WaitForJournal([&](const Journal& lines) {
      return lines.size() >= sampled + 20;
    })) << "sampling must go on after another key";
    EXPECT_TRUE(session.Running());

    ASSERT_TRUE(session.Press(Key::kEscape));
    ASSERT_NO_FATAL_FAILURE(ReachMenuPrompt(session));
    // The sample in progress is printed and cleared, then the menu clears
    // and draws itself; a sample that repeats the last sends nothing.
    if (BytesVisible()) {
      // Redraws that only erase what stands after it may follow.
      const std::string& output = session.Output();
      const size_t last_sample = output.rfind(" DI_1 -> 3.000000");
      ASSERT_NE(last_sample, std::string::npos);
      std::string tail = output.substr(last_sample);
      const std::string tidy = kFrameBegin + "\x1b[2;18H" + kFrameEnd;
      for (size_t at = tail.find(tidy); at != std::string::npos; at = tail.find(tidy))
        tail.erase(at, tidy.size());
      EXPECT_EQ(tail, " DI_1 -> 3.000000" + EraseTopRows(1) + kFrameEnd + kMenuOnClear);
      // Wherever the terminal paints, it never shows an empty screen from the
      // first sample on, the key pressed meanwhile included.
      EXPECT_EQ(FirstBlankScreen(output, output.find(" DI_1 -> ")), std::string::npos) << output;
    }

    Journal journal = session.JournalLines();
    ASSERT_GE(journal.size(), 4u);
    EXPECT_EQ(journal[1], c.entry + "(\"DI_1\") -> 1");
    EXPECT_EQ(journal[2], c.entry + "(\"DI_1\") -> 2.5");
    EXPECT_EQ(journal[3], c.entry + "(\"DI_1\") -> 3");
    EXPECT_EQ(CountPrefix(journal, c.entry + "(\"DI_1\") -> "), journal.size() - 1)
        << "only " << c.entry << ", only with the typed name";

    // No key wait after the loop: the next key chooses a command.
    ASSERT_TRUE(session.Type("5"));
    ASSERT_TRUE(session.WaitForScreen("STATUS OF VARNO: 0"));
    ASSERT_TRUE(session.WaitForSettings(InKeyRead));
    ASSERT_TRUE(session.Type("k"));
    ASSERT_NO_FATAL_FAILURE(ReachMenuPrompt(session));
    ASSERT_TRUE(session.Press(Key::kEscape));
    ASSERT_NO_FATAL_FAILURE(ExpectClosedAndRestored(session));
  }
}

// Escape and then a key typed while a slow call runs, both waiting when
// the reading looks: Escape ends the reading, and the key is the menu's
// (GET STATUS), as on the target console; two Escapes end the reading and
// then the tool.
TEST(LiveReading, EscapeTypedAheadDuringASlowCallEndsIt) {
  for (const std::string after_escape : {"5", "\x1b"}) {
    SCOPED_TRACE(testing::PrintToString(after_escape));
    PtySession session(Launch().Script("getValue_ZUNVarno.delay_ms = 1500"));
    ASSERT_NO_FATAL_FAILURE(ReachMenu(session));
    ASSERT_NO_FATAL_FAILURE(ReachSignalNamePrompt(session, '1'));
    ASSERT_TRUE(session.Type("AI_2\r"));
    ASSERT_TRUE(session.WaitForJournalLine(R"(getValue_ZUNVarno("AI_2") -> 0)"));
    ASSERT_TRUE(session.Press(Key::kEscape));
    std::this_thread::sleep_for(std::chrono::milliseconds(120));  // as an operator types
    ASSERT_TRUE(session.Type(after_escape));
    if (after_escape == "5") {
      ASSERT_TRUE(session.WaitForScreen("STATUS OF VARNO: 0"));
      ASSERT_TRUE(session.WaitForSettings(InKeyRead));
      ASSERT_TRUE(session.Type("k"));
      ASSERT_NO_FATAL_FAILURE(ReachMenuPrompt(session));
      ASSERT_TRUE(session.Press(Key::kEscape));
    }
    ASSERT_NO_FATAL_FAILURE(ExpectClosedAndRestored(session));
  }
}

TEST(LiveReading, AStopFromOutsideGivesTheTerminalBackToTheToolWhenItGoesOn) {
  if (UnderWine()) GTEST_SKIP() << "Windows has no stop and continue signals";
  PtySession session(Launch().Script("getValue_ZUNVarno.delay_ms = 1"));
  ASSERT_NO_FATAL_FAILURE(ReachMenu(session));
  ASSERT_NO_FATAL_FAILURE(ReachSignalNamePrompt(session, '1'));
  ASSERT_TRUE(session.Type("DI_1\r"));
  const std::string reading = "\n DI_1 -> 0.000000";
  ASSERT_TRUE(session.WaitForScreen([&](const std::string& screen) { return screen == reading; }));
  const termios raw = *session.Settings();
  // Stopped, the shell takes the terminal with its own modes and writes on it.
  ASSERT_TRUE(session.Signal(SIGSTOP));
  ASSERT_TRUE(session.WaitFor([&] {
    std::ifstream stat("/proc/" + std::to_string(session.pid()) + "/stat");
    std::string pid;
    std::string name;
    std::string state;
    stat >> pid >> name >> state;
    return state == "T";
  }));
  ASSERT_TRUE(session.SetSettings(session.InitialSettings()));
  ASSERT_TRUE(session.WriteToScreen("\r\n[1]+  Stopped\r\n$ fg\r\n"));
  ASSERT_TRUE(session.Signal(SIGCONT));
  EXPECT_TRUE(session.WaitForSettings([&](const termios& now) { return SameSettings(now, raw); }));
  EXPECT_TRUE(session.WaitForScreen([&](const std::string& screen) { return screen == reading; }))
      << session.ScreenText();
  ASSERT_TRUE(session.Press(Key::kEscape));
  ASSERT_NO_FATAL_FAILURE(ReachMenuPrompt(session));
  ASSERT_TRUE(session.Press(Key::kEscape));
  ASSERT_NO_FATAL_FAILURE(ExpectClosedAndRestored(session));
}

TEST(LiveReading, AfterANumberPromptWaitsForAFreshName) {
  // On a terminal.
  {
    PtySession session(Launch().Script("getValue_ZUNVarno.delay_ms = 1"));
    ASSERT_NO_FATAL_FAILURE(ReachMenu(session));
    ASSERT_NO_FATAL_FAILURE(ReachSignalNamePrompt(session, '4'));
    ASSERT_TRUE(session.Type("AI_1\r1\r2\r"));
    ASSERT_TRUE(session.WaitForScreen("Resultado de calibracion=0"));
    ASSERT_TRUE(session.WaitForSettings(InKeyRead));
    ASSERT_TRUE(session.Type("k"));
    ASSERT_NO_FATAL_FAILURE(ReachMenuPrompt(session));
    ASSERT_NO_FATAL_FAILURE(ReachSignalNamePrompt(session, '1'));
    ASSERT_TRUE(session.Type("AI_9\r"));
    ASSERT_TRUE(session.WaitForScreen(" AI_9 -> 0.000000"));
    ASSERT_TRUE(session.Press(Key::kEscape));
    ASSERT_NO_FATAL_FAILURE(ReachMenuPrompt(session));
    ASSERT_TRUE(session.Press(Key::kEscape));
    ASSERT_NO_FATAL_FAILURE(ExpectClosedAndRestored(session));
    Journal journal = session.JournalLines();
    ASSERT_GE(journal.size(), 3u);
    EXPECT_EQ(journal[1], R"(setCalibration_ZUNVarno("AI_1",1,2) -> 0)");
    EXPECT_EQ(journal[2], R"(getValue_ZUNVarno("AI_9") -> 0)");
  }
  // On a pipe, where the number reads leave their line ends unread.
  PipeRun run = RunWithPipes(Launch(), "k4AI_1\n1\n2\nk1AI_9\n\x1b\x1b");
  ASSERT_EQ(run.error, "");
  EXPECT_EQ(run.exit, 1);
  EXPECT_EQ(run.journal, (Journal{kStartCall, R"(setCalibration_ZUNVarno("AI_1",1,2) -> 0)",
                                  R"(getValue_ZUNVarno("AI_9") -> 0)", kCloseCall}));
}

TEST(SetOutput, PassesTheTypedValueAndReportsTheFlag) {
  struct Case {
    std::string script;
    std::string typed;
    std::string call;
    std::string message;
  };
  const Case cases[] = {
      {"", "7.5", R"(setValue_ZUNVarno("DO_1",7.5) -> 1)", "\nSUCCESS"},
      {"setValue_ZUNVarno = 0", "7.5", R"(setValue_ZUNVarno("DO_1",7.5) -> 0)",
       "\nERROR updating signals"},
      // Any flag but zero is a success.
      {"setValue_ZUNVarno = 255", "0", R"(setValue_ZUNVarno("DO_1",0) -> 255)", "\nSUCCESS"},
      // Leading blanks and lines are skipped, the rest of the line is left.
      {"", "\n  -0.25xyz", R"(setValue_ZUNVarno("DO_1",-0.25) -> 1)", "\nSUCCESS"},
      // The range in the prompt is not enforced.
      {"", "1e3", R"(setValue_ZUNVarno("DO_1",1000) -> 1)", "\nSUCCESS"},
      // Underflow reads as the nearest float.
      {"", "1e-50", R"(setValue_ZUNVarno("DO_1",0) -> 1)", "\nSUCCESS"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.typed + " / " + c.script);
    PipeRun run = RunWithPipes(Launch().Script(c.script), "k2DO_1\n" + c.typed + "\nk\x1b");
    ASSERT_EQ(run.error, "");
    EXPECT_EQ(run.exit, 1);
    EXPECT_NE(run.out.find(OnAPipe(kSignalNamePrompt)), std::string::npos);
    EXPECT_NE(run.out.find(OnAPipe("\nVALUE [0-1]]? ")), std::string::npos);
    EXPECT_NE(run.out.find(OnAPipe(c.message + kMenu)), std::string::npos) << run.out;
    EXPECT_EQ(run.journal, (Journal{kStartCall, c.call, kCloseCall}));
  }
}

TEST(SetOutput, WaitsForAKeyAfterTheResultOnATerminal) {
  PtySession session(Launch().Script("setValue_ZUNVarno = 0"));
  ASSERT_NO_FATAL_FAILURE(ReachMenu(session));
  ASSERT_NO_FATAL_FAILURE(ReachSignalNamePrompt(session, '2'));
  ASSERT_TRUE(session.Type("DO_1\r"));
  ASSERT_TRUE(session.WaitForScreen("VALUE [0-1]]?"));
  ASSERT_TRUE(session.Type("7.5\r"));
  ASSERT_TRUE(session.WaitForScreen("ERROR updating signals"));
  ASSERT_TRUE(session.WaitForSettings(InKeyRead));
  EXPECT_EQ(session.ScreenText(),
            "\n\nSIGNAL NAME? DO_1\n\nVALUE [0-1]]? 7.5\n\nERROR updating signals");
  EXPECT_EQ(session.JournalLines(), (Journal{kStartCall, R"(setValue_ZUNVarno("DO_1",7.5) -> 0)"}));
  ASSERT_TRUE(session.Type("k"));
  ASSERT_NO_FATAL_FAILURE(ReachMenuPrompt(session));
  ASSERT_TRUE(session.Press(Key::kEscape));
  ASSERT_NO_FATAL_FAILURE(ExpectClosedAndRestored(session));
}

TEST(MakeCalibration, PassesBothValuesAndShowsTheResult) {
  PtySession session(Launch().Script("setCalibration_ZUNVarno = -2"));
  ASSERT_NO_FATAL_FAILURE(ReachMenu(session));
  ASSERT_NO_FATAL_FAILURE(ReachSignalNamePrompt(session, '4'));
  ASSERT_TRUE(session.Type("AI_1\r"));
  ASSERT_TRUE(session.WaitForScreen("VALUE A?"));
  ASSERT_TRUE(session.Type("1.5\r"));
  ASSERT_TRUE(session.WaitForScreen("VALUE B?"));
  ASSERT_TRUE(session.Type("-3\r"));
  ASSERT_TRUE(session.WaitForScreen("Resultado de calibracion=-2"));
  ASSERT_TRUE(session.WaitForSettings(InKeyRead));
  EXPECT_EQ(session.ScreenText(),
            "\n\nSIGNAL NAME? AI_1\n\nVALUE A? 1.5\n\nVALUE B? -3\n\n"
            "Resultado de calibracion=-2");
  EXPECT_EQ(session.JournalLines(),
            (Journal{kStartCall, R"(setCalibration_ZUNVarno("AI_1",1.5,-3) -> -2)"}));
  ASSERT_TRUE(session.Type("k"));
  ASSERT_NO_FATAL_FAILURE(ReachMenuPrompt(session));
  ASSERT_TRUE(session.Press(Key::kEscape));
  ASSERT_NO_FATAL_FAILURE(ExpectClosedAndRestored(session));
}

TEST(GetStatus, ShowsTheWordInHexOnTheFirstLine) {
  struct Case {
    std::string word;
    std::string shown;
  };
  const Case cases[] = {
      {"31", "1f"}, {"0", "0"}, {"2147483648", "80000000"}, {"4294967295", "ffffffff"}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.word);
    PtySession session(Launch().Script("getStatus_ZUNVarno = " + c.word));
    ASSERT_NO_FATAL_FAILURE(ReachMenu(session));
    ASSERT_TRUE(session.Type("5"));
    ASSERT_TRUE(session.WaitForScreen("STATUS OF VARNO: " + c.shown));
    ASSERT_TRUE(session.WaitForSettings(InKeyRead));
    EXPECT_EQ(session.ScreenText(), "STATUS OF VARNO: " + c.shown);
    ASSERT_TRUE(session.Type("k"));
    ASSERT_NO_FATAL_FAILURE(ReachMenuPrompt(session));
    ASSERT_TRUE(session.Press(Key::kEscape));
    ASSERT_NO_FATAL_FAILURE(ExpectClosedAndRestored(session));
    EXPECT_EQ(session.JournalLines(),
              (Journal{kStartCall, "getStatus_ZUNVarno() -> " + c.word, kCloseCall}));
  }
}

TEST(SignalName, FortyNineCharactersPassWholeFiftyAreAskedAgain) {
  const std::string name49(49, 'N');
  const std::string name50 = std::string(49, 'L') + "X";
  PtySession session{Launch()};
  ASSERT_NO_FATAL_FAILURE(ReachMenu(session));
  ASSERT_NO_FATAL_FAILURE(ReachSignalNamePrompt(session, '2'));
  const size_t before = session.Output().size();
  ASSERT_TRUE(session.Type(name50 + "\r"));
  if (BytesVisible()) {
    ASSERT_TRUE(session.WaitForOutput(OnTerminal(kNameTooLong + kSignalNamePrompt), before));
  } else {
    ASSERT_TRUE(session.WaitForScreen([](const std::string& screen) {
      return screen.ends_with("\nSIGNAL NAME TOO LONG (49 CHARACTERS AT MOST)\n\nSIGNAL NAME?");
    })) << session.ScreenText();
  }
  ASSERT_TRUE(session.Type(name49 + "\r"));
  ASSERT_TRUE(session.WaitForScreen("VALUE [0-1]]?"));
  ASSERT_TRUE(session.Type("1\r"));
  ASSERT_TRUE(session.WaitForScreen("SUCCESS"));
  EXPECT_EQ(session.JournalLines(),
            (Journal{kStartCall, "setValue_ZUNVarno(\"" + name49 + "\",1) -> 1"}));
  ASSERT_TRUE(session.WaitForSettings(InKeyRead));
  ASSERT_TRUE(session.Type("k"));
  ASSERT_NO_FATAL_FAILURE(ReachMenuPrompt(session));
  ASSERT_TRUE(session.Press(Key::kEscape));
  ASSERT_NO_FATAL_FAILURE(ExpectClosedAndRestored(session));
}

TEST(SignalName, LinesThatAreNoNameNeverReachTheDriver) {
  const std::string not_printable = "\nSIGNAL NAME MAY HOLD PRINTABLE ASCII CHARACTERS ONLY";
  const struct {
    std::string line;
    std::string message;
  } cases[] = {
      {std::string(50, 'L'), kNameTooLong},
      {std::string(51, 'L'), kNameTooLong},
      {std::string(300, 'L'), kNameTooLong},
      {std::string(5000, 'L'), kNameTooLong},
      // A NUL would end the name early: another signal's name.
      {std::string("DO_1\0XYZ", 8), not_printable},
      {"DO_1\tX", not_printable},
      {"DO_1\xc3\xa9", not_printable},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::PrintToString(c.line.substr(0, 10)));
    PipeRun run = RunWithPipes(Launch(), "k1" + c.line + "\nDI_7\n\x1b\x1b");
    ASSERT_EQ(run.error, "");
    EXPECT_EQ(run.exit, 1);
    EXPECT_NE(run.out.find(OnAPipe(kSignalNamePrompt + c.message + kSignalNamePrompt)),
              std::string::npos)
        << run.out.substr(0, 2000);
    EXPECT_EQ(run.journal, (Journal{kStartCall, R"(getValue_ZUNVarno("DI_7") -> 0)", kCloseCall}));
  }
}

TEST(SignalName, IsEditedOnTheTerminal) {
  struct Case {
    const char* what;
    std::string typed;
  };
  const Case cases[] = {
      {"Backspace", "DX\x7fO_1"},
      {"Backspace as Ctrl-H", "DX\bO_1"},
      {"Backspace on an empty line",
       "\x7f\x7f"
       "DO_1"},
      {"arrows", "D\x1b[AO\x1b[D_1"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    PtySession session{Launch()};
    ASSERT_NO_FATAL_FAILURE(ReachMenu(session));
    ASSERT_NO_FATAL_FAILURE(ReachSignalNamePrompt(session, '2'));
    ASSERT_TRUE(session.Type(c.typed + "\r"));
    ASSERT_TRUE(session.WaitForScreen("VALUE [0-1]]?"));
    EXPECT_EQ(session.ScreenRow(2), "SIGNAL NAME? DO_1");
    ASSERT_TRUE(session.Type("1\r"));
    ASSERT_TRUE(session.WaitForScreen("SUCCESS"));
    EXPECT_EQ(session.JournalLines(), (Journal{kStartCall, R"(setValue_ZUNVarno("DO_1",1) -> 1)"}));
    ASSERT_TRUE(session.WaitForSettings(InKeyRead));
    ASSERT_TRUE(session.Type("k"));
    ASSERT_NO_FATAL_FAILURE(ReachMenuPrompt(session));
    ASSERT_TRUE(session.Press(Key::kEscape));
    ASSERT_NO_FATAL_FAILURE(ExpectClosedAndRestored(session));
  }
}

TEST(NumberPrompts, InvalidNumbersCallNothing) {
  struct Case {
    std::string before;  // input from the menu up to the bad number
    std::string typed;
    bool second_value_asked;
  };
  const std::vector<std::string> not_floats = {"abc",       "nan",  "NAN(12)", "inf",
                                               "-Infinity", "1e39", "-1e39",   "."};
  const std::vector<std::string> not_ints = {
      "abc", "nan", "inf", "2147483648", "-2147483649", "99999999999999999999", "-"};
  std::vector<Case> cases;
  for (const std::string& bad : not_floats) {
    cases.push_back({"2DO_1\n", bad, false});
    cases.push_back({"4AI_1\n", bad, false});
    cases.push_back({"4AI_1\n1\n", bad, true});
  }
  for (const std::string& bad : not_ints) cases.push_back({"8", bad, false});

  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message()
                 << "after " << testing::PrintToString(c.before) << ": " << c.typed);
    PipeRun run = RunWithPipes(Launch(), "k" + c.before + c.typed + "\nk\x1b");
    ASSERT_EQ(run.error, "");
    EXPECT_EQ(run.exit, 1);
    // The message, a key wait, and the menu again.
    EXPECT_NE(run.out.find(OnAPipe(kInvalidNumber + kMenu)), std::string::npos) << run.out;
    EXPECT_EQ(run.out.find(OnAPipe("\nVALUE B? ")) != std::string::npos, c.second_value_asked);
    EXPECT_EQ(run.journal, (Journal{kStartCall, kCloseCall}));
  }
}

TEST(NumberPrompts, InvalidNumberOnATerminalWaitsForAKey) {
  PtySession session{Launch()};
  ASSERT_NO_FATAL_FAILURE(ReachMenu(session));
  ASSERT_NO_FATAL_FAILURE(ReachSignalNamePrompt(session, '2'));
  ASSERT_TRUE(session.Type("DO_1\r"));
  ASSERT_TRUE(session.WaitForScreen("VALUE [0-1]]?"));
  ASSERT_TRUE(session.Type("nan\r"));
  ASSERT_TRUE(session.WaitForScreen("INVALID NUMBER"));
  ASSERT_TRUE(session.WaitForSettings(InKeyRead));
  EXPECT_TRUE(session.Running());
  ASSERT_TRUE(session.Type("k"));
  ASSERT_NO_FATAL_FAILURE(ReachMenuPrompt(session));
  ASSERT_TRUE(session.Press(Key::kEscape));
  ASSERT_NO_FATAL_FAILURE(ExpectClosedAndRestored(session));
  EXPECT_EQ(session.JournalLines(), (Journal{kStartCall, kCloseCall}));
}

}  // namespace
}  // namespace varno::e2e
