// The main menu: how it is drawn, the option key, keys that choose nothing,
// and Escape.
#include <string>
#include <vector>

#include "e2e_support.h"

namespace varno::e2e {
namespace {

using Journal = std::vector<std::string>;

TEST(Menu, IsDrawnOnAClearedScreen) {
  PtySession session{Launch()};
  ASSERT_NO_FATAL_FAILURE(ReachMenu(session));
  const std::pair<int, int> after_prompt(14, 10);
  ASSERT_TRUE(session.WaitFor([&] { return session.Cursor() == after_prompt; }))
      << session.ScreenText();
  EXPECT_EQ(session.Shown(), ShownBy(OnTerminal(kStarted) + kMenuOnClear));
  EXPECT_EQ(session.ScreenText(),
            "\n"
            "\n"
            "VARNO DIAGNOSTIC TOOL\n"
            "*********************\n"
            "[1]. READ INPUT\n"
            "[2]. SET OUTPUT\n"
            "[3]. CALIBRATION ASSISTANT\n"
            "[4]. MAKE CALIBRATION\n"
            "[5]. GET STATUS OF VARNO\n"
            "[6]. GET PARAMETER OF MOTO MOTION SYSTEM\n"
            "[7]. SET MOTION PARAMETERS OF MOTO MOTION SYSTEM\n"
            "[8]. SEND COMMAND TO MOTION SYSTEM OF MOTO\n"
            "[ESC]. EXIT\n"
            "\n"
            "Option>>>");
  ASSERT_TRUE(session.Press(Key::kEscape));
  ASSERT_NO_FATAL_FAILURE(ExpectClosedAndRestored(session));
}

TEST(Menu, KeysThatChooseNothingRedrawIt) {
  struct Case {
    const char* what;
    std::string bytes;
    size_t draws;      // how many times the menu is drawn again
    std::string echo;  // what follows the prompt before the next clear
  };
  // Wine's console turns a sequence it does not know into a key event
  // without a key, which reads as nothing.
  const size_t unknown_sequence_draws = UnderWine() ? 0 : 2;
  // A letter outside ASCII is one key in the console's code page on Windows;
  // a Linux terminal sends it as two bytes of UTF-8.
  const size_t foreign_letter_draws = UnderWine() ? 1 : 2;
  const Case cases[] = {
      {"9", "9", 1, "9"},
      {"0", "0", 1, "0"},
      {"a letter", "a", 1, "a"},
      {"Enter", "\r", 1, ""},
      {"Up", KeyBytes(Key::kUp), 2, ""},
      {"Left", KeyBytes(Key::kLeft), 2, ""},
      {"Home", KeyBytes(Key::kHome), 2, ""},
      {"F1", KeyBytes(Key::kF1), 2, ""},
      {"F5", KeyBytes(Key::kF5), 2, ""},
      {"Ctrl-Up", "\x1b[1;5A", 2, ""},
      {"an unknown sequence", "\x1b[99~", unknown_sequence_draws, ""},
      {"Alt+1",
       "\x1b"
       "1",
       2, ""},
      {"a letter outside ASCII", "\xc3\xa9", foreign_letter_draws, ""},
  };
  // A draw that repeats the screen sends only what changed, so the draws
  // are counted by their frames, which Wine's console passes on too.
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    PtySession session{Launch()};
    ASSERT_NO_FATAL_FAILURE(ReachMenu(session));
    const size_t before = session.Output().size();
    ASSERT_TRUE(session.Type(c.bytes));
    ASSERT_TRUE(session.WaitFor([&] {
      return Count(session.Output().substr(before), kFrameBegin) == c.draws;
    })) << session.Output().substr(before);
    ASSERT_NO_FATAL_FAILURE(ReachMenuPrompt(session));
    ASSERT_TRUE(session.Press(Key::kEscape));
    ASSERT_NO_FATAL_FAILURE(ExpectClosedAndRestored(session));
    const std::string after = session.Output().substr(before);
    EXPECT_EQ(Count(after, kFrameBegin), c.draws) << "drawn once per key byte";
    if (BytesVisible() && c.draws > 0) {
      EXPECT_EQ(after.rfind(c.echo + kClear, 0), 0u) << after;
    }
    EXPECT_EQ(session.JournalLines(), (Journal{kStartCall, kCloseCall}));
  }
}

TEST(Menu, EscapeClosesOnceAndLeaves) {
  PtySession session{Launch()};
  ASSERT_NO_FATAL_FAILURE(ReachMenu(session));
  const std::string shown = session.Shown();
  ASSERT_TRUE(session.Press(Key::kEscape));
  ASSERT_NO_FATAL_FAILURE(ExpectClosedAndRestored(session));
  EXPECT_EQ(session.JournalLines(), (Journal{kStartCall, kCloseCall}));
  // Escape is not echoed and the menu is not drawn again; the shell's prompt
  // will stand on a line of its own.
  EXPECT_EQ(session.Shown(), BytesVisible() ? shown + OnTerminal("\n") : shown);
  EXPECT_EQ(session.Cursor(), std::make_pair(15, 0));
}

TEST(Menu, OptionKeyIsEchoedAfterThePrompt) {
  if (!BytesVisible())
    GTEST_SKIP() << "Wine's console draws the echo and the clear that follows "
                    "it in its own way: only the tool's bytes show the echo";
  PtySession session{Launch()};
  ASSERT_NO_FATAL_FAILURE(ReachMenu(session));
  ASSERT_TRUE(session.Type("5"));
  ASSERT_TRUE(session.WaitForOutput(OnTerminal("\n\nOption>>> 5") + kClear + "STATUS OF VARNO: 0"));
}

}  // namespace
}  // namespace varno::e2e
