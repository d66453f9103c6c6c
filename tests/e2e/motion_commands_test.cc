// Menu options 6 to 8: the motion system commands.
#include <string>
#include <vector>

#include "e2e_support.h"

namespace varno::e2e {
namespace {

using Journal = std::vector<std::string>;

const std::string kDynamicParameters =
    "MP_updateDynamicParameters(0.200000003,0.400000006,0.600000024,"
    "0.800000012,1)";

// Chooses `option`, types `typed`, waits for `shown` and the key wait after
// it, then presses a key and waits for the menu again.
void RunCommand(PtySession& session, const std::string& option, const std::string& typed,
                const std::string& shown, std::string* screen) {
  ASSERT_TRUE(session.Type(option));
  if (!typed.empty()) {
    ASSERT_TRUE(session.WaitForScreen("Introduce comando:"));
    ASSERT_TRUE(session.WaitForSettings(SignalsOn));
    ASSERT_TRUE(session.Type(typed));
  }
  ASSERT_TRUE(session.WaitForScreen([&](const std::string& text) { return text == shown; }))
      << session.ScreenText();
  ASSERT_TRUE(session.WaitForSettings(InKeyRead));
  *screen = session.ScreenText();
  ASSERT_TRUE(session.Type("k"));
  ASSERT_NO_FATAL_FAILURE(ReachMenuPrompt(session));
}

TEST(MotionCommands, EachCallsItsEntryAndWaitsForAKey) {
  PtySession session(Launch().Script("MP_getParameter = 70.5"));
  ASSERT_NO_FATAL_FAILURE(ReachMenu(session));
  std::string screen;
  // The screen shows only the prompt and what was typed.
  ASSERT_NO_FATAL_FAILURE(RunCommand(session, "8", "42\r", "\nIntroduce comando: 42", &screen));
  ASSERT_NO_FATAL_FAILURE(RunCommand(session, "8", "-5\r", "\nIntroduce comando: -5", &screen));
  // Parameter 13 whatever was typed before.
  ASSERT_NO_FATAL_FAILURE(
      RunCommand(session, "6", "", "PARAMETER USER_WEIGHT: 70.500000", &screen));
  // Nothing asked, nothing shown, the same set each time.
  ASSERT_NO_FATAL_FAILURE(RunCommand(session, "7", "", "", &screen));
  ASSERT_NO_FATAL_FAILURE(RunCommand(session, "7", "", "", &screen));
  ASSERT_TRUE(session.Press(Key::kEscape));
  ASSERT_NO_FATAL_FAILURE(ExpectClosedAndRestored(session));
  EXPECT_EQ(session.JournalLines(), (Journal{kStartCall, "MP_sendCommand(42)", "MP_sendCommand(-5)",
                                             "MP_getParameter(13) -> 70.5", kDynamicParameters,
                                             kDynamicParameters, kCloseCall}));
}

TEST(MotionCommands, SendCommandReadsIntegersAsScanfDoes) {
  struct Case {
    std::string typed;
    std::string call;
  };
  const Case cases[] = {
      {"-5", "MP_sendCommand(-5)"},
      {"42", "MP_sendCommand(42)"},
      {"  +7", "MP_sendCommand(7)"},
      {"\n\n 9", "MP_sendCommand(9)"},
      {"2147483647", "MP_sendCommand(2147483647)"},
      {"-2147483648", "MP_sendCommand(-2147483648)"},
      {"12.9", "MP_sendCommand(12)"},
      {"1e39", "MP_sendCommand(1)"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.typed);
    // The rest of the line ("junk") is dropped by the menu: READ INPUT then
    // asks for its own name.
    PipeRun run = RunWithPipes(Launch(), "k8" + c.typed + " junk\nk1DI_1\n\x1b\x1b");
    ASSERT_EQ(run.error, "");
    EXPECT_EQ(run.exit, 1);
    EXPECT_EQ(run.journal,
              (Journal{kStartCall, c.call, R"(getValue_ZUNVarno("DI_1") -> 0)", kCloseCall}));
  }
}

TEST(MotionCommands, ResultsAreShownWithSixDecimals) {
  struct Case {
    std::string value;
    std::string shown;
  };
  const Case cases[] = {
      {"70.5", "70.500000"}, {"-0.0000004", "-0.000000"}, {"123456.789", "123456.789062"}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.value);
    PipeRun run = RunWithPipes(Launch().Script("MP_getParameter = " + c.value), "k6k\x1b");
    ASSERT_EQ(run.error, "");
    EXPECT_EQ(run.exit, 1);
    EXPECT_EQ(run.out,
              OnAPipe(kStarted + kMenu + "6" + "PARAMETER USER_WEIGHT: " + c.shown + kMenu));
  }
}

}  // namespace
}  // namespace varno::e2e
