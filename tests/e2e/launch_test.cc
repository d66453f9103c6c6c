// Launch: binding the driver library, the command line, the start report.
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "e2e_support.h"

namespace varno::e2e {
namespace {

using Journal = std::vector<std::string>;

TEST(Launch, WrongArgumentCountIsRefusedAtOnce) {
  const std::vector<std::vector<std::string>> command_lines = {
      {"a"}, {"a", "b"}, {"a", "b", "c", "d"}, {"a", "b", "c", "d", "e"}};
  for (const auto& args : command_lines) {
    SCOPED_TRACE(testing::Message() << args.size() << " arguments");
    PtySession session(Launch().Args(args));
    ASSERT_TRUE(session.started()) << session.error();
    // No key is sent: the tool must leave on its own.
    EXPECT_EQ(session.WaitForExit(), 1);
    EXPECT_EQ(session.Shown(), ShownBy(OnTerminal(ThenLeft(kBadArguments))));
    EXPECT_EQ(session.ScreenRow(1),
              "Error al lanzar la aplicación. Revise los argumentos de entrada");
    EXPECT_EQ(session.JournalLines(), Journal{});
    EXPECT_TRUE(session.SettingsRestored());
  }
}

TEST(Launch, ArgumentMessageOnAPipe) {
  PipeRun run = RunWithPipes(Launch().Args({"only-one"}), "");
  ASSERT_EQ(run.error, "");
  EXPECT_EQ(run.exit, 1);
  EXPECT_EQ(run.out, kBadArgumentsOnAPipe);
  EXPECT_EQ(run.journal, Journal{});
}

TEST(Launch, LibraryIsBoundBeforeTheCommandLineIsLookedAt) {
  const std::string missing = kLoadError + "falta la funcion getStatus_ZUNVarno" + kLoadError +
                              "falta la funcion MP_sendCommand";
  for (const auto& args :
       std::vector<std::vector<std::string>>{{}, {"a"}, {"a", "b"}, {"a", "b", "c"}}) {
    SCOPED_TRACE(testing::Message() << args.size() << " arguments");
    PtySession session(Launch().Driver(PartialDriverPath()).Args(args));
    ASSERT_TRUE(session.started()) << session.error();
    ASSERT_TRUE(session.WaitForScreen("falta la funcion MP_sendCommand"));
    ASSERT_TRUE(session.WaitForSettings(InKeyRead));
    EXPECT_TRUE(session.Running()) << "must wait for a key";
    ASSERT_TRUE(session.Type("k"));
    EXPECT_EQ(session.WaitForExit(), 1);
    EXPECT_EQ(session.Shown(), ShownBy(OnTerminal(ThenLeft(missing))));
    EXPECT_EQ(session.JournalLines(), Journal{}) << "no entry may be called";
    EXPECT_TRUE(session.SettingsRestored());
  }
}

TEST(Launch, MissingLibraryIsReportedWithTheSystemReason) {
  // dlerror's words, or FormatMessage's for ERROR_MOD_NOT_FOUND (Wine's).
  const std::string reason = UnderWine()
                                 ? "Module not found."
                                 : "ZUNVARNO_HOSTDRIVER.so: cannot open shared object file: "
                                   "No such file or directory";
  PipeRun run = RunWithPipes(Launch().Driver(""), "k");
  ASSERT_EQ(run.error, "");
  EXPECT_EQ(run.exit, 1);
  EXPECT_EQ(run.out, OnAPipe(kLoadError + reason));

  PtySession session(Launch().Driver(""));
  ASSERT_TRUE(session.started()) << session.error();
  ASSERT_TRUE(session.WaitForScreen(reason));
  ASSERT_TRUE(session.WaitForSettings(InKeyRead));
  EXPECT_TRUE(session.Running()) << "must wait for a key";
  ASSERT_TRUE(session.Type("k"));
  EXPECT_EQ(session.WaitForExit(), 1);
  EXPECT_TRUE(session.SettingsRestored());
}

// The leading bytes of a library built for `bits` and nothing more: an ELF
// identification on Linux, the PE headers under Wine.
std::string LibraryHeader(int bits) {
  if (!UnderWine()) {
    std::string elf(64, '\0');
    elf.replace(0, 7,
                std::string("\x7f"
                            "ELF") +
                    static_cast<char>(bits / 32) + "\x01\x01");
    return elf;
  }
  std::string pe(512, '\0');
  pe.replace(0, 2, "MZ");
  pe[0x3C] = 0x40;  // where the PE signature stands
  pe.replace(0x40, 4, std::string("PE\0\0", 4));
  pe.replace(0x44, 2, bits == 32 ? "\x4c\x01" : "\x64\x86");  // machine: x86 or x64
  pe.replace(0x58, 2, bits == 32 ? "\x0b\x01" : "\x0b\x02");  // optional header: PE32 or PE32+
  return pe;
}

TEST(Launch, FileThatIsNoLibraryIsReportedWithTheSystemReason) {
  // One of the other word size is named so after the system's reason.
  const int other = 96 - ToolWordSize();
  const std::string mismatch = " La libreria es de " + std::to_string(other) +
                               " bits y este varno-diag es de " + std::to_string(ToolWordSize()) +
                               " bits: use el varno-diag de " + std::to_string(other) + " bits.";
  if (UnderWine()) {
    const struct {
      std::string contents;
      std::string reason;  // Windows' message names the file as an insert
    } cases[] = {
        {"not a library\n", "Bad EXE format for ZUNVARNO_HOSTDRIVER.dll."},
        {LibraryHeader(other), "Bad EXE format for ZUNVARNO_HOSTDRIVER.dll." + mismatch},
    };
    for (const auto& c : cases) {
      const std::string file = testing::TempDir() + "varno-e2e-not-a-library";
      std::ofstream(file, std::ios::binary) << c.contents;
      PipeRun run = RunWithPipes(Launch().Driver(file), "k");
      std::filesystem::remove(file);
      ASSERT_EQ(run.error, "");
      EXPECT_EQ(run.exit, 1);
      EXPECT_EQ(run.out, OnAPipe(kLoadError + c.reason));
    }
    return;
  }
  // Found first on LD_LIBRARY_PATH, in a folder whose name the system's
  // reason spells in UTF-8: shown as it is, not converted again.
  const std::string folder = testing::TempDir() +
                             "varno-e2e-Se\xc3\xb1"
                             "al";
  const struct {
    std::string contents;
    std::string reason;
  } cases[] = {
      {"not a library\n", folder + "/ZUNVARNO_HOSTDRIVER.so: file too short"},
      {LibraryHeader(other),
       "ZUNVARNO_HOSTDRIVER.so: wrong ELF class: ELFCLASS" + std::to_string(other) + mismatch},
  };
  for (const auto& c : cases) {
    std::filesystem::create_directory(folder);
    std::ofstream(folder + "/ZUNVARNO_HOSTDRIVER.so", std::ios::binary) << c.contents;
    PipeRun run = RunWithPipes(Launch().Driver("").Env("LD_LIBRARY_PATH", folder), "k");
    std::filesystem::remove_all(folder);
    ASSERT_EQ(run.error, "");
    EXPECT_EQ(run.exit, 1);
    EXPECT_EQ(run.out, kLoadError + c.reason);
  }
}

TEST(Launch, LibraryIsFoundInTheSystemsSearchOrder) {
  std::string full_driver_folder = std::filesystem::path(RecordingDriverPath()).parent_path();
  // Never from the folder the tool is started in: on Linux the run path is
  // the tool's own folder and nothing else; Windows' search has the current
  // folder taken out.
  PipeRun from_here = RunWithPipes(Launch().Driver("").StartIn(full_driver_folder), "k");
  ASSERT_EQ(from_here.error, "");
  EXPECT_EQ(from_here.out.rfind(OnAPipe(kLoadError), 0), 0u) << from_here.out;
  if (UnderWine()) {
    // Windows looks in the application's folder before PATH (which Wine
    // extends by WINEPATH); a library on PATH alone is found too.
    PipeRun beside =
        RunWithPipes(Launch().Driver(PartialDriverPath()).Env("WINEPATH", full_driver_folder), "k");
    ASSERT_EQ(beside.error, "");
    EXPECT_EQ(beside.out.rfind(OnAPipe(kLoadError + "falta la funcion"), 0), 0u) << beside.out;
    PipeRun on_path =
        RunWithPipes(Launch().Driver("").Env("WINEPATH", full_driver_folder), "k\x1b");
    ASSERT_EQ(on_path.error, "");
    EXPECT_EQ(on_path.out.rfind(OnAPipe(kStarted), 0), 0u) << on_path.out;
    return;
  }
  // LD_LIBRARY_PATH comes first: a run path set as RPATH rather than
  // RUNPATH would win over the variable.
  PipeRun run = RunWithPipes(
      Launch().Driver(PartialDriverPath()).Env("LD_LIBRARY_PATH", full_driver_folder), "k\x1b");
  ASSERT_EQ(run.error, "");
  EXPECT_EQ(run.exit, 1);
  EXPECT_EQ(run.out.rfind(kStarted, 0), 0u) << run.out;
}

TEST(Launch, ThreeArgumentsGoUnchangedToTheSecondStart) {
  PipeRun run = RunWithPipes(Launch().Args({"", "platform 2.cfg", "\xc3\xb1-\"q\""}), "k\x1b");
  ASSERT_EQ(run.error, "");
  EXPECT_EQ(run.exit, 1);
  // Windows hands the arguments over in its ANSI code page (Windows-1252).
  const std::string third = UnderWine() ? R"(\xf1-\"q\")" : R"(\xc3\xb1-\"q\")";
  EXPECT_EQ(run.journal, (Journal{R"(start_ZUNVarno2("","platform 2.cfg",")" + third + R"(") -> 1)",
                                  kCloseCall}));
}

TEST(Launch, FailedStartIsReportedThenWaitsForAKey) {
  struct Case {
    int code;
    bool second_start;
    std::string message;  // empty: nothing is printed
  };
  const Case cases[] = {
      {-1, false,
       "\nError al arrancar VARNO. Codigo error: -1. Fichero de configuracion "
       "incorrecto."},
      {-2, false,
       "\nError al arrancar VARNO. Codigo error: -2. Error al inicializar "
       "SOCKETS del HOST."},
      {-3, true,
       "\nError al arrancar VARNO. Codigo error: -3. Imposible conectar con "
       "VARNO."},
      {2, false,
       "\nError al arrancar VARNO. Codigo error: 2. No fue posible conectar "
       "con todos o alguno de los modulos de VARNO."},
      {255, true,
       "\nError al arrancar VARNO. Codigo error: ff. No fue posible conectar "
       "con todos o alguno de los modulos de VARNO."},
      {2147483647, false,
       "\nError al arrancar VARNO. Codigo error: 7fffffff. No fue posible "
       "conectar con todos o alguno de los modulos de VARNO."},
      {0, false, ""},
      {-4, false, ""},
      {-7, true, ""},
      {-2147483647 - 1, false, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "StartResult " << c.code);
    const std::string entry = c.second_start ? "start_ZUNVarno2" : "start_ZUNVarno";
    Launch launch = Launch().Script(entry + " = " + std::to_string(c.code));
    if (c.second_start) launch.Args({"a", "b", "c"});
    PtySession session(launch);
    ASSERT_TRUE(session.started()) << session.error();
    ASSERT_TRUE(session.WaitForSettings(InKeyRead));
    // The message as a row shows it, without its leading line break.
    ASSERT_TRUE(session.WaitForScreen(c.message.empty() ? "" : c.message.substr(1)));
    EXPECT_TRUE(session.Running()) << "must wait for a key";
    ASSERT_TRUE(session.Type("k"));
    EXPECT_EQ(session.WaitForExit(), 1);
    EXPECT_EQ(session.Shown(), ShownBy(OnTerminal(ThenLeft(c.message))));
    const std::string call =
        c.second_start ? R"(start_ZUNVarno2("a","b","c") -> )" : "start_ZUNVarno() -> ";
    // A platform that did not start is not closed.
    EXPECT_EQ(session.JournalLines(), Journal{call + std::to_string(c.code)});
    EXPECT_TRUE(session.SettingsRestored());
  }
}

TEST(Launch, SuccessShowsTheMenuOnlyAfterAKey) {
  PtySession session{Launch()};
  ASSERT_NO_FATAL_FAILURE(ReachStartKeyWait(session));
  EXPECT_EQ(session.Shown(), ShownBy(OnTerminal(kStarted)));
  EXPECT_EQ(session.JournalLines(), Journal{kStartCall});
  ASSERT_TRUE(session.Type("k"));
  ASSERT_NO_FATAL_FAILURE(ReachMenuPrompt(session));
  ASSERT_TRUE(session.Press(Key::kEscape));
  ASSERT_NO_FATAL_FAILURE(ExpectClosedAndRestored(session));
}

TEST(Launch, KeysTypedAheadOfTheStartKeyAreKept) {
  PtySession session(Launch().Script("getStatus_ZUNVarno = 31"));
  ASSERT_NO_FATAL_FAILURE(ReachStartKeyWait(session));
  ASSERT_TRUE(session.Type("k5"));
  EXPECT_TRUE(session.WaitForScreen("STATUS OF VARNO: 1f"));
  ASSERT_TRUE(session.WaitForSettings(InKeyRead));
  ASSERT_TRUE(session.Type("k"));
  ASSERT_NO_FATAL_FAILURE(ReachMenuPrompt(session));
  ASSERT_TRUE(session.Press(Key::kEscape));
  ASSERT_NO_FATAL_FAILURE(ExpectClosedAndRestored(session));
}

TEST(Launch, ScriptedRunOnAPipeGivesExactBytes) {
  PipeRun run = RunWithPipes(Launch().Script("getStatus_ZUNVarno = 31"), "k5k\x1b");
  ASSERT_EQ(run.error, "");
  EXPECT_EQ(run.exit, 1);
  // No clears on a pipe; the option key is echoed.
  EXPECT_EQ(run.out, OnAPipe(kStarted + kMenu + "5" + "STATUS OF VARNO: 1f" + kMenu));
  EXPECT_EQ(run.journal, (Journal{kStartCall, "getStatus_ZUNVarno() -> 31", kCloseCall}));
}

}  // namespace
}  // namespace varno::e2e
