// The launch, the menu and the commands, driven through a scripted console
// against a recording driver.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "console/launch.h"
#include "tests/unit/fake_driver.h"
#include "tests/unit/fake_terminal.h"

namespace {

constexpr unsigned char kEsc = 27;

const std::string kMenu =
    "<CLS>\n\nVARNO DIAGNOSTIC TOOL\n*********************"
    "\n[1]. READ INPUT\n[2]. SET OUTPUT\n[3]. CALIBRATION ASSISTANT"
    "\n[4]. MAKE CALIBRATION\n[5]. GET STATUS OF VARNO"
    "\n[6]. GET PARAMETER OF MOTO MOTION SYSTEM"
    "\n[7]. SET MOTION PARAMETERS OF MOTO MOTION SYSTEM"
    "\n[8]. SEND COMMAND TO MOTION SYSTEM OF MOTO\n[ESC]. EXIT\n\nOption>>> ";
const std::string kStarted = "\nPlataforma VARNO correctamente arrancada y detectada...";

// One run of the tool: bound to the fake driver unless told otherwise.
struct ToolRun {
  FakeTerminal terminal;
  DriverApi api = FakeDriver();
  std::vector<const char*> args{"varno-diag"};
  int status = -1;

  void Go(std::function<DriverBinding()> bind = {}) {
    if (!bind) {
      bind = [this] {
        DriverBinding binding;
        binding.loaded = true;
        binding.api = api;
        return binding;
      };
    }
    status = Launch(args, terminal, bind());
  }
  // Starts, presses a key past the start message, then types the rest.
  void Session(std::vector<unsigned char> keys, std::deque<std::string> lines = {}) {
    terminal.keys.assign(keys.begin(), keys.end());
    terminal.keys.push_front('k');
    terminal.lines = std::move(lines);
    Go();
  }
};

TEST(Launch, ArgumentCountChoosesTheStart) {
  const struct {
    std::vector<const char*> args;
    std::string calls, screen;
    std::size_t keys_left;
  } cases[] = {
      {{"varno-diag"}, "start_ZUNVarno()\nclose_ZUNVarno()\n", kStarted + kMenu, 0},
      {{"varno-diag", "a b", "", "c"},
       "start_ZUNVarno2(a b,,c)\nclose_ZUNVarno()\n",
       kStarted + kMenu,
       0},
      // Refused at once: no start, no key wait.
      {{"varno-diag", "a"},
       "",
       "\nError al lanzar la aplicaci\xF3n. Revise los argumentos de entrada",
       2},
      {{"varno-diag", "a", "b"},
       "",
       "\nError al lanzar la aplicaci\xF3n. Revise los argumentos de entrada",
       2},
      {{"varno-diag", "a", "b", "c", "d"},
       "",
       "\nError al lanzar la aplicaci\xF3n. Revise los argumentos de entrada",
       2},
  };
  for (const auto& c : cases) {
    ToolRun run;
    run.args = c.args;
    run.terminal.keys = {'k', kEsc};
    run.Go();
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(FakeDriverCalls(), c.calls) << c.args.size();
    EXPECT_EQ(run.terminal.screen, c.screen) << c.args.size();
    EXPECT_EQ(run.terminal.keys.size(), c.keys_left) << c.args.size();
  }
}

TEST(Launch, AFailedStartIsToldThenAwaitsAKeyAndNeverCloses) {
  const struct {
    StartResult result;
    std::string screen;
  } cases[] = {
      {-1, "\nError al arrancar VARNO. Codigo error: -1. Fichero de configuracion incorrecto."},
      {255,
       "\nError al arrancar VARNO. Codigo error: ff. No fue posible conectar con todos o alguno de "
       "los modulos de VARNO."},
      {0, ""},
      {-7, ""},
  };
  for (const auto& c : cases) {
    ToolRun run;
    g_fake_driver.start_result = c.result;
    run.terminal.keys = {'k', '5'};
    run.Go();
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.terminal.screen, c.screen);
    EXPECT_EQ(run.terminal.keys.size(), 1u) << "one key awaited";
    EXPECT_EQ(FakeDriverCalls(), "start_ZUNVarno()\n");
  }
}

TEST(Launch, ADriverThatCannotBeBoundIsToldAndNothingIsCalled) {
  ToolRun run;
  run.args = {"varno-diag", "only-one"};  // the binding is told first
  run.terminal.keys = {'k', 'k'};
  run.Go([] {
    DriverBinding binding;
    binding.loaded = true;
    binding.missing = {"getStatus_ZUNVarno", "MP_sendCommand"};
    return binding;
  });
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(
      run.terminal.screen,
      "\nError al cargar la libreria ZUNVARNO_HOSTDRIVER.so: falta la funcion getStatus_ZUNVarno"
      "\nError al cargar la libreria ZUNVARNO_HOSTDRIVER.so: falta la funcion MP_sendCommand");
  EXPECT_EQ(run.terminal.keys.size(), 1u);

  ToolRun unloadable;
  unloadable.terminal.keys = {'k'};
  unloadable.Go([] {
    DriverBinding binding;
    binding.load_failure.reason = "cannot open shared object file";
    return binding;
  });
  EXPECT_EQ(unloadable.terminal.screen,
            "\nError al cargar la libreria ZUNVARNO_HOSTDRIVER.so: cannot open shared object file");
  EXPECT_TRUE(unloadable.terminal.keys.empty());
}

TEST(Menu, OnlyTheCommandKeysAndEscapeDoAnything) {
  ToolRun run;
  // Other digits, a letter, Ctrl-C, a byte above 127, an arrow (two bytes).
  run.Session({'9', '0', 'x', 3, 0xF1, 0xE0, 'H', kEsc});
  EXPECT_EQ(FakeDriverCalls(), "start_ZUNVarno()\nclose_ZUNVarno()\n");
  std::string expected = kStarted;
  for (const char* echo : {"9", "0", "x", "", "", "", "H", ""}) expected += kMenu + echo;
  EXPECT_EQ(run.terminal.screen, expected);
}

TEST(Menu, EndOfInputClosesLikeEscape) {
  ToolRun run;
  run.Session({'5', 'k'});
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(FakeDriverCalls(), "start_ZUNVarno()\ngetStatus_ZUNVarno()\nclose_ZUNVarno()\n");
}

TEST(SignalCommands, ReadInputSamplesUntilEscapeSwallowingOtherKeys) {
  ToolRun run;
  g_fake_driver.values = {1.0f, 2.5f, -3.0f};
  run.terminal.polls_before_key = 2;
  run.Session({'1', 'x', 'y', kEsc, kEsc}, {"DI_1"});
  EXPECT_EQ(FakeDriverCalls(),
            "start_ZUNVarno()\n"
            "getValue_ZUNVarno(DI_1)\ngetValue_ZUNVarno(DI_1)\n"
            "getValue_ZUNVarno(DI_1)\ngetValue_ZUNVarno(DI_1)\n"
            "getValue_ZUNVarno(DI_1)\nclose_ZUNVarno()\n");
  EXPECT_EQ(run.terminal.screen, kStarted + kMenu +
                                     "1<CLS>\n\nSIGNAL NAME? DI_1\n"
                                     "\n DI_1 -> 1.000000<CLS>\n DI_1 -> 2.500000<CLS>"
                                     "\n DI_1 -> -3.000000<CLS>\n DI_1 -> -3.000000<CLS>"
                                     "\n DI_1 -> -3.000000<CLS>" +
                                     kMenu);
}

TEST(SignalCommands, CalibrationAssistantReadsOnlyTheRawValue) {
  ToolRun run;
  run.Session({'3', kEsc, kEsc}, {"AI_1"});
  EXPECT_EQ(FakeDriverCalls(),
            "start_ZUNVarno()\ngetAIValueForCalibration_ZUNVarno(AI_1)\nclose_ZUNVarno()\n");
  EXPECT_NE(run.terminal.screen.find("\n AI_1 -> 2.250000<CLS>"), std::string::npos);
}

TEST(SignalCommands, SetOutputPassesTheValueAsTypedAndTellsTheOutcome) {
  for (unsigned char flag : {1, 0, 255}) {
    ToolRun run;
    g_fake_driver.set_value_flag = flag;
    run.Session({'2', 'k', kEsc}, {"DO_1", " 7.5"});
    EXPECT_EQ(FakeDriverCalls(),
              "start_ZUNVarno()\nsetValue_ZUNVarno(DO_1,7.5)\nclose_ZUNVarno()\n");
    EXPECT_EQ(run.terminal.screen, kStarted + kMenu +
                                       "2<CLS>\n\nSIGNAL NAME? DO_1\n\nVALUE [0-1]]?  7.5\n" +
                                       (flag ? "\nSUCCESS" : "\nERROR updating signals") + kMenu);
  }
}

TEST(SignalCommands, MakeCalibrationAndStatusShowTheDriversAnswer) {
  ToolRun run;
  g_fake_driver.calibration_result = -2;
  g_fake_driver.status = 31;
  run.Session({'4', 'k', '5', 'k', kEsc}, {"AI_1", "1.5", "-2"});
  EXPECT_EQ(FakeDriverCalls(),
            "start_ZUNVarno()\nsetCalibration_ZUNVarno(AI_1,1.5,-2)\n"
            "getStatus_ZUNVarno()\nclose_ZUNVarno()\n");
  EXPECT_EQ(run.terminal.screen, kStarted + kMenu +
                                     "4<CLS>\n\nSIGNAL NAME? AI_1\n\nVALUE A? 1.5\n"
                                     "\nVALUE B? -2\n\nResultado de calibracion=-2" +
                                     kMenu + "5<CLS>STATUS OF VARNO: 1f" + kMenu);
}

TEST(SignalCommands, BothCalibrationValuesMayStandOnOneLine) {
  ToolRun run;
  run.Session({'4', 'k', '1', kEsc, kEsc}, {"AI_1", "1 2 junk", "DI_2"});
  // The menu's discard drops " junk", so READ INPUT asks for a fresh name.
  EXPECT_EQ(FakeDriverCalls(),
            "start_ZUNVarno()\nsetCalibration_ZUNVarno(AI_1,1,2)\n"
            "getValue_ZUNVarno(DI_2)\nclose_ZUNVarno()\n");
}

TEST(SignalCommands, SignalNamesFitTheBufferWholeOrAreAskedAgain) {
  const std::string longest(49, 'n');
  ToolRun run;
  run.Session({'1', kEsc, kEsc}, {longest + "x", longest});
  EXPECT_EQ(FakeDriverCalls(),
            "start_ZUNVarno()\ngetValue_ZUNVarno(" + longest + ")\nclose_ZUNVarno()\n");
  EXPECT_NE(run.terminal.screen.find("\n\nSIGNAL NAME? " + longest +
                                     "x\n"
                                     "\nSIGNAL NAME TOO LONG (49 CHARACTERS AT MOST)"
                                     "\n\nSIGNAL NAME? " +
                                     longest + "\n"),
            std::string::npos);
}

TEST(Commands, ValuesNobodyTypedReachNoDriverEntry) {
  const struct {
    unsigned char option;
    std::deque<std::string> lines;
    bool asks_value_b;
  } cases[] = {
      {'2', {"DO_1", "abc"}, false},
      {'2', {"DO_1", "nan"}, false},
      {'2', {"DO_1", "-inf"}, false},
      {'2', {"DO_1", "1e39"}, false},
      {'4', {"AI_1", "x", "2"}, false},  // stops at VALUE A
      {'4', {"AI_1", "1", "inf"}, true},
      {'4', {"AI_1", "1 nan"}, true},
      {'8', {"abc"}, false},
      {'8', {"2147483648"}, false},
      {'8', {"-2147483649"}, false},
  };
  for (const auto& c : cases) {
    ToolRun run;
    run.Session({c.option, 'k', kEsc}, c.lines);
    const std::string& screen = run.terminal.screen;
    SCOPED_TRACE(screen);
    EXPECT_EQ(FakeDriverCalls(), "start_ZUNVarno()\nclose_ZUNVarno()\n");
    EXPECT_TRUE(screen.ends_with("\nINVALID NUMBER" + kMenu));
    EXPECT_EQ(screen.find("VALUE B?") != std::string::npos, c.asks_value_b);
  }
}

TEST(MotionCommands, AskTheMotionSystemAsTold) {
  ToolRun run;
  run.Session({'6', 'k', '7', 'k', '7', 'k', '8', 'k', '8', 'k', kEsc}, {"-5", "42"});
  EXPECT_EQ(FakeDriverCalls(),
            "start_ZUNVarno()\nMP_getParameter(13)\n"
            "MP_updateDynamicParameters(0.200000003,0.400000006,0.600000024,0.800000012,1)\n"
            "MP_updateDynamicParameters(0.200000003,0.400000006,0.600000024,0.800000012,1)\n"
            "MP_sendCommand(-5)\nMP_sendCommand(42)\nclose_ZUNVarno()\n");
  EXPECT_EQ(run.terminal.screen, kStarted + kMenu + "6<CLS>PARAMETER USER_WEIGHT: 70.500000" +
                                     kMenu + "7<CLS>" + kMenu + "7<CLS>" + kMenu +
                                     "8<CLS>\nIntroduce comando: -5\n" + kMenu +
                                     "8<CLS>\nIntroduce comando: 42\n" + kMenu);
}

TEST(Leaving, AnInterruptDuringADriverCallClosesOnceItReturns) {
  for (unsigned char option : {'1', '5', '6', '7'}) {
    ToolRun run;
    g_fake_driver.during_call = [&terminal = run.terminal] {
      if (g_fake_driver.calls.size() > 1) terminal.interrupted = true;
    };
    run.Session({option, 'k', 'k', kEsc}, {"DI_1"});
    EXPECT_EQ(run.status, 1);
    ASSERT_EQ(g_fake_driver.calls.size(), 3u) << FakeDriverCalls();
    EXPECT_EQ(g_fake_driver.calls.back(), "close_ZUNVarno()");
  }
}

TEST(Leaving, EndOfInputAtAnyPromptClosesWithoutAFurtherCall) {
  const struct {
    unsigned char option;
    std::deque<std::string> lines;
  } cases[] = {
      {'1', {}},
      {'2', {"DO_1"}},
      {'4', {"AI_1", "1"}},
      {'8', {}},
  };
  for (const auto& c : cases) {
    ToolRun run;
    run.Session({c.option}, c.lines);
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(FakeDriverCalls(), "start_ZUNVarno()\nclose_ZUNVarno()\n");
  }
}

}  // namespace
