// varno-diag against the simulated platform in a pseudo-terminal, as a
// newcomer runs it: every menu command with a visible effect, and the
// message of each start scenario; each against the model in the library's
// process and against varno-sim. Then what only varno-sim shows: the same
// journal in both modes, and the emulator's death during a live reading.
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "emulator_process.h"
#include "pty_session.h"

namespace varno::e2e {
namespace {

std::string WithoutBlanks(std::string text) {
  std::erase_if(text, [](char c) { return c == ' ' || c == '\n'; });
  return text;
}

// A folder for the simulator's own files, removed afterwards.
class SimulatorFiles {
 public:
  SimulatorFiles() {
    char folder[] = "/tmp/varno_sim_e2e_XXXXXX";
    if (mkdtemp(folder) != nullptr) path_ = folder;
  }
  ~SimulatorFiles() {
    std::error_code ignored;
    if (!path_.empty()) std::filesystem::remove_all(path_, ignored);
  }
  std::string operator/(const std::string& name) const { return path_ + "/" + name; }

  std::vector<std::string> Calls() const {  // journal lines without time stamps
    std::ifstream file(*this / "journal.txt");
    std::vector<std::string> calls;
    for (std::string line; std::getline(file, line);)
      calls.push_back(line.substr(line.find(' ') + 1));
    return calls;
  }

 private:
  std::string path_;
};

using sim::EmulatorProcess;

Launch Simulator(const SimulatorFiles& files) {
  Launch launch;
  launch.journal = false;
  return launch.Driver(VARNO_SIMULATOR_PATH).Env("VARNO_SIM_JOURNAL", files / "journal.txt");
}

Launch Remote(const SimulatorFiles& files, const EmulatorProcess& emulator) {
  EXPECT_TRUE(emulator.started()) << emulator.error();
  return Simulator(files).Env("VARNO_SIM_EMULATOR", emulator.platform());
}

enum class Backend { kInProcess, kEmulator };

class SimulatorSession : public ::testing::TestWithParam<Backend> {
 protected:
  // The tool with the simulated platform beside it: the model in its
  // process, or a client of a varno-sim of the test's own, started with
  // `emulator_arguments` at the first launch.
  Launch Simulator(const SimulatorFiles& files, std::vector<std::string> emulator_arguments = {}) {
    if (GetParam() == Backend::kInProcess) return e2e::Simulator(files);
    if (!emulator_) emulator_ = std::make_unique<EmulatorProcess>(std::move(emulator_arguments));
    return Remote(files, *emulator_);
  }

  std::unique_ptr<EmulatorProcess> emulator_;
};

INSTANTIATE_TEST_SUITE_P(BothBackEnds, SimulatorSession,
                         ::testing::Values(Backend::kInProcess, Backend::kEmulator),
                         [](const ::testing::TestParamInfo<Backend>& info) {
                           return info.param == Backend::kInProcess ? "InProcess" : "Emulator";
                         });

// An operator at the keyboard: each step waits for what the screen shows.
// A key typed once the screen asks for it is kept even if the tool is not
// reading yet, so no step needs to know more of the tool's state.
class Operator {
 public:
  explicit Operator(PtySession& session) : s_(session) {}

  void PassStart() {
    ASSERT_TRUE(s_.started()) << s_.error();
    ASSERT_TRUE(s_.WaitForScreen("Plataforma VARNO correctamente arrancada y detectada..."))
        << s_.ScreenText();
    ASSERT_TRUE(s_.Type(" "));
  }

  void Choose(char option) {
    ASSERT_TRUE(s_.WaitForScreen("Option>>>")) << s_.ScreenText();
    ASSERT_TRUE(s_.Type(std::string(1, option)));
  }

  void Answer(const std::string& prompt, const std::string& text) {
    ASSERT_TRUE(s_.WaitForScreen(prompt)) << s_.ScreenText();
    ASSERT_TRUE(s_.Type(text + "\r"));
  }

  // Waits for a row reading exactly `row`, then the key wait after it.
  void ExpectRow(const std::string& row) {
    ASSERT_TRUE(s_.WaitForScreen([&](const std::string& screen) {
      return ("\n" + screen + "\n").find("\n" + row + "\n") != std::string::npos;
    })) << "wanted '"
        << row << "', screen:\n"
        << s_.ScreenText();
  }
  void ExpectResult(const std::string& row) {
    ASSERT_NO_FATAL_FAILURE(ExpectRow(row));
    ASSERT_TRUE(s_.Type(" "));
  }

  // Live reading until `row` shows, then Escape.
  void Watch(char option, const std::string& name, const std::string& row) {
    ASSERT_NO_FATAL_FAILURE(Choose(option));
    ASSERT_NO_FATAL_FAILURE(Answer("SIGNAL NAME?", name));
    ASSERT_NO_FATAL_FAILURE(ExpectRow(row));
    ASSERT_TRUE(s_.Press(Key::kEscape));
  }

  void SetOutput(const std::string& name, const std::string& value, const std::string& result) {
    ASSERT_NO_FATAL_FAILURE(Choose('2'));
    ASSERT_NO_FATAL_FAILURE(Answer("SIGNAL NAME?", name));
    ASSERT_NO_FATAL_FAILURE(Answer("VALUE [0-1]]?", value));
    ASSERT_NO_FATAL_FAILURE(ExpectResult(result));
  }

  void Calibrate(const std::string& name, const std::string& a, const std::string& b,
                 const std::string& result) {
    ASSERT_NO_FATAL_FAILURE(Choose('4'));
    ASSERT_NO_FATAL_FAILURE(Answer("SIGNAL NAME?", name));
    ASSERT_NO_FATAL_FAILURE(Answer("VALUE A?", a));
    ASSERT_NO_FATAL_FAILURE(Answer("VALUE B?", b));
    ASSERT_NO_FATAL_FAILURE(ExpectResult("Resultado de calibracion=" + result));
  }

  void Status(const std::string& hex) {
    ASSERT_NO_FATAL_FAILURE(Choose('5'));
    ASSERT_NO_FATAL_FAILURE(ExpectResult("STATUS OF VARNO: " + hex));
  }

  void Leave() {
    ASSERT_NO_FATAL_FAILURE(Choose('\x1b'));
    EXPECT_EQ(s_.WaitForExit(), 1);
  }

 private:
  PtySession& s_;
};

TEST_P(SimulatorSession, SignalCommandsOnTheBuiltInPlatform) {
  SimulatorFiles files;
  PtySession session(Simulator(files));
  Operator op(session);
  ASSERT_NO_FATAL_FAILURE(op.PassStart());
  ASSERT_NO_FATAL_FAILURE(op.Watch('1', "DI_1", " DI_1 -> 0.000000"));
  ASSERT_NO_FATAL_FAILURE(op.SetOutput("DO_1", "1", "SUCCESS"));
  ASSERT_NO_FATAL_FAILURE(op.Watch('1', "DI_1", " DI_1 -> 1.000000"));  // wired to DO_1
  ASSERT_NO_FATAL_FAILURE(op.SetOutput("DO_1", "7.5", "ERROR updating signals"));
  ASSERT_NO_FATAL_FAILURE(op.SetOutput("AO_1", "0.5", "SUCCESS"));
  ASSERT_NO_FATAL_FAILURE(op.Watch('3', "AI_1", " AI_1 -> 5.000000"));  // raw, wired to AO_1
  ASSERT_NO_FATAL_FAILURE(op.Calibrate("AI_1", "0", "10", "0"));
  ASSERT_NO_FATAL_FAILURE(op.Watch('1', "AI_1", " AI_1 -> 0.500000"));  // calibrated
  ASSERT_NO_FATAL_FAILURE(op.Calibrate("DO_1", "0", "10", "-2"));
  ASSERT_NO_FATAL_FAILURE(op.Calibrate("AI_1", "3", "3", "-3"));
  ASSERT_NO_FATAL_FAILURE(op.Status("f"));
  ASSERT_NO_FATAL_FAILURE(op.Leave());

  std::vector<std::string> calls = files.Calls();
  ASSERT_FALSE(calls.empty());
  EXPECT_EQ(calls.front(), "start_ZUNVarno() -> 1");
  EXPECT_EQ(calls.back(), "close_ZUNVarno()");
  EXPECT_NE(std::find(calls.begin(), calls.end(), "setValue_ZUNVarno(\"DO_1\",7.5) -> 0"),
            calls.end());
}

TEST_P(SimulatorSession, MotionCommandsOnTheBuiltInPlatform) {
  SimulatorFiles files;
  PtySession session(Simulator(files));
  Operator op(session);
  ASSERT_NO_FATAL_FAILURE(op.PassStart());
  ASSERT_NO_FATAL_FAILURE(op.Choose('6'));
  ASSERT_NO_FATAL_FAILURE(op.ExpectResult("PARAMETER USER_WEIGHT: 75.000000"));
  ASSERT_NO_FATAL_FAILURE(op.Choose('7'));
  ASSERT_TRUE(session.WaitForScreen([](const std::string& screen) { return screen.empty(); }));
  ASSERT_TRUE(session.Type(" "));
  ASSERT_NO_FATAL_FAILURE(op.Status("10000f"));  // dynamic parameters loaded
  for (const char* command : {"1", "3", "4"}) {  // enable, home, start
    ASSERT_NO_FATAL_FAILURE(op.Choose('8'));
    ASSERT_NO_FATAL_FAILURE(op.Answer("Introduce comando:", command));
    ASSERT_TRUE(session.Type(" "));
  }
  ASSERT_NO_FATAL_FAILURE(op.Status("17000f"));  // enabled, homed, moving
  ASSERT_NO_FATAL_FAILURE(op.Choose('8'));
  ASSERT_NO_FATAL_FAILURE(op.Answer("Introduce comando:", "42"));
  ASSERT_TRUE(session.Type(" "));
  ASSERT_NO_FATAL_FAILURE(op.Status("97000f"));  // and the fault bit
  ASSERT_NO_FATAL_FAILURE(op.Leave());
  std::vector<std::string> calls = files.Calls();
  EXPECT_NE(std::find(calls.begin(), calls.end(),
                      "MP_updateDynamicParameters(0.200000003,0.400000006,0.600000024,"
                      "0.800000012,1)"),
            calls.end());
}

TEST_P(SimulatorSession, ExampleConfigurationFromTheCommandLine) {
  SimulatorFiles files;
  PtySession session(Simulator(files, {"--config", VARNO_EXAMPLE_CONFIG})
                         .Args({VARNO_EXAMPLE_CONFIG, "normal", "7"}));
  Operator op(session);
  ASSERT_NO_FATAL_FAILURE(op.PassStart());
  ASSERT_NO_FATAL_FAILURE(op.SetOutput("DO_LAMP", "1", "SUCCESS"));
  ASSERT_NO_FATAL_FAILURE(op.Watch('1', "DI_LAMP_FEEDBACK", " DI_LAMP_FEEDBACK -> 1.000000"));
  ASSERT_NO_FATAL_FAILURE(op.Choose('6'));
  ASSERT_NO_FATAL_FAILURE(op.ExpectResult("PARAMETER USER_WEIGHT: 82.500000"));
  ASSERT_NO_FATAL_FAILURE(op.Status("17"));  // modules 1, 2 and 4
  ASSERT_NO_FATAL_FAILURE(op.Leave());
  ASSERT_FALSE(files.Calls().empty());
  EXPECT_EQ(files.Calls().front(),
            "start_ZUNVarno2(\"" VARNO_EXAMPLE_CONFIG "\",\"normal\",\"7\") -> 1");
}

TEST_P(SimulatorSession, LinkDropFreezesTheReadingAndShowsInTheStatus) {
  SimulatorFiles files;
  PtySession session(Simulator(files).Args({"-", "link-drop", "-"}));
  Operator op(session);
  ASSERT_NO_FATAL_FAILURE(op.PassStart());
  ASSERT_NO_FATAL_FAILURE(op.Choose('1'));
  ASSERT_NO_FATAL_FAILURE(op.Answer("SIGNAL NAME?", "AI_3"));
  // Sampling goes past the 25 calls the link lasts.
  ASSERT_TRUE(session.WaitFor([&] {
    std::vector<std::string> calls = files.Calls();
    return calls.size() > 40;
  }));
  ASSERT_TRUE(session.Press(Key::kEscape));
  ASSERT_NO_FATAL_FAILURE(op.Status("1000000"));
  std::vector<std::string> calls = files.Calls();
  ASSERT_GT(calls.size(), 30u);
  EXPECT_EQ(calls[26], calls[30]) << "values freeze once the link is lost";
  ASSERT_NO_FATAL_FAILURE(op.Leave());
}

TEST_P(SimulatorSession, EachStartScenarioHasItsMessage) {
  const struct {
    std::string scenario;
    std::string message;
  } kCases[] = {
      {"config-error",
       "Error al arrancar VARNO. Codigo error: -1. Fichero de configuracion incorrecto."},
      {"socket-error",
       "Error al arrancar VARNO. Codigo error: -2. Error al inicializar SOCKETS del HOST."},
      {"unreachable", "Error al arrancar VARNO. Codigo error: -3. Imposible conectar con VARNO."},
      {"missing-modules",
       "Error al arrancar VARNO. Codigo error: c. No fue posible conectar con "
       "todos o alguno de los modulos de VARNO."},
      {"no-such-scenario",
       "Error al arrancar VARNO. Codigo error: -1. Fichero de configuracion incorrecto."},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.scenario);
    SimulatorFiles files;
    PtySession session(Simulator(files).Args({"-", c.scenario, "-"}));
    ASSERT_TRUE(session.started()) << session.error();
    ASSERT_TRUE(session.WaitForScreen([&](const std::string& screen) {
      return WithoutBlanks(screen).find(WithoutBlanks(c.message)) != std::string::npos;
    })) << session.ScreenText();
    // With no log file named, the reason also reaches the terminal.
    EXPECT_NE(session.ScreenText().find("varno simulator: "), std::string::npos);
    ASSERT_TRUE(session.Type(" "));
    EXPECT_EQ(session.WaitForExit(), 1);
  }
}

TEST_P(SimulatorSession, ConfigurationErrorIsLoggedWithItsLine) {
  SimulatorFiles files;
  std::ofstream(files / "platform.toml") << "seed = 1\n[[module]]\nnumber = 99\n";
  PtySession session(Simulator(files)
                         .Env("VARNO_SIM_CONFIG", files / "platform.toml")
                         .Env("VARNO_SIM_LOG", files / "log.txt"));
  ASSERT_TRUE(session.started()) << session.error();
  ASSERT_TRUE(session.WaitForScreen("Codigo error: -1.")) << session.ScreenText();
  EXPECT_EQ(session.ScreenText().find("varno simulator"), std::string::npos);
  ASSERT_TRUE(session.Type(" "));
  EXPECT_EQ(session.WaitForExit(), 1);
  std::ifstream log(files / "log.txt");
  std::string line;
  ASSERT_TRUE(std::getline(log, line));
  EXPECT_NE(line.find(files / "platform.toml:3: 'number' must be an integer from 1 to 15"),
            std::string::npos)
      << line;
}

// One key script; the journal without its time column, each run of equal
// lines (a live reading's samples) kept once.
std::vector<std::string> ScriptedJournal(const Launch& launch, const SimulatorFiles& files) {
  PtySession session(launch);
  Operator op(session);
  op.PassStart();
  op.SetOutput("DO_1", "1", "SUCCESS");
  op.Watch('1', "DI_1", " DI_1 -> 1.000000");
  op.SetOutput("AO_1", "0.25", "SUCCESS");
  op.Calibrate("AI_1", "0", "5", "0");
  op.Watch('1', "AI_1", " AI_1 -> 0.500000");
  op.Status("f");
  op.Choose('6');
  op.ExpectResult("PARAMETER USER_WEIGHT: 75.000000");
  op.Choose('8');
  op.Answer("Introduce comando:", "3");  // refused: not enabled
  EXPECT_TRUE(session.Type(" "));
  op.Status("80000f");
  op.Leave();
  std::vector<std::string> calls = files.Calls();
  calls.erase(std::unique(calls.begin(), calls.end()), calls.end());
  return calls;
}

TEST(SimulatorModes, OneKeyScriptJournalsTheSameInBothModes) {
  SimulatorFiles local_files;
  SimulatorFiles remote_files;
  const std::vector<std::string> local = ScriptedJournal(Simulator(local_files), local_files);
  EmulatorProcess emulator;
  const std::vector<std::string> remote =
      ScriptedJournal(Remote(remote_files, emulator), remote_files);
  EXPECT_GT(local.size(), 10u);
  EXPECT_EQ(local, remote);
}

TEST(SimulatorModes, EmulatorKilledDuringALiveReadingLosesTheLinkAndEscapeStillLeaves) {
  SimulatorFiles files;
  EmulatorProcess emulator;
  PtySession session(Remote(files, emulator));
  Operator op(session);
  ASSERT_NO_FATAL_FAILURE(op.PassStart());
  ASSERT_NO_FATAL_FAILURE(op.Choose('1'));
  ASSERT_NO_FATAL_FAILURE(op.Answer("SIGNAL NAME?", "AI_2"));
  ASSERT_TRUE(session.WaitFor([&] { return files.Calls().size() > 20; }));
  emulator.Kill();
  // The reading goes on, frozen: the last samples are all the same.
  const std::size_t killed_at = files.Calls().size();
  ASSERT_TRUE(session.WaitFor([&] {
    std::vector<std::string> calls = files.Calls();
    return calls.size() > killed_at + 5 && calls[calls.size() - 1] == calls[calls.size() - 5];
  }));
  const auto pressed = std::chrono::steady_clock::now();
  ASSERT_TRUE(session.Press(Key::kEscape));
  ASSERT_TRUE(session.WaitForScreen("Option>>>", std::chrono::milliseconds(1000)))
      << session.ScreenText();
  EXPECT_LT(std::chrono::steady_clock::now() - pressed, std::chrono::milliseconds(1000));
  ASSERT_NO_FATAL_FAILURE(op.Status("1000000"));
  ASSERT_NO_FATAL_FAILURE(op.Leave());
}

}  // namespace
}  // namespace varno::e2e
