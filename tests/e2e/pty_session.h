// Runs the real varno-diag as an operator would: in a fresh folder with a
// chosen driver library beside it, on a pseudo-terminal whose screen is
// modelled by libvterm (80x25, UTF-8), or with pipes for scripted use.
// Nothing here sleeps for a fixed time: every wait polls until a condition
// holds or its timeout passes. POSIX only.
//
// The same tests run the Windows build under Wine when the environment
// variable VARNO_E2E_WINDOWS_BUILD names its build folder (as
// scripts/windows-test does): each run is then `wine varno-diag.exe` with the
// Windows test drivers beside it, in a Wine prefix inside that folder.
#pragma once

#include <sys/types.h>
#include <termios.h>

#include <chrono>
#include <cstddef>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace varno::e2e {

// Generous, so that a run under sanitizers on a busy machine still passes.
inline constexpr std::chrono::milliseconds kTimeout{10000};

inline constexpr int kScreenRows = 25;
inline constexpr int kScreenColumns = 80;

// True when the runs are of the Windows build under Wine.
bool UnderWine();

// 32 or 64: the word size the tool was built for.
int ToolWordSize();

// Paths of the built tool and of the two recording test drivers (the Windows
// ones under Wine).
const std::string& ToolPath();
const std::string& RecordingDriverPath();
const std::string& PartialDriverPath();

// How to launch one run of the tool.
struct Launch {
  // Copied beside the tool as ZUNVARNO_HOSTDRIVER.so (.dll under Wine);
  // empty: no library.
  std::string driver = RecordingDriverPath();
  // Arguments after the program's name.
  std::vector<std::string> args;
  // Set in the child's environment, over the test's own. LD_LIBRARY_PATH is
  // removed, so only the library beside the tool can be found (in a build
  // with AddressSanitizer it names the run's folder instead: the
  // sanitizer's dlopen interceptor hides the tool's RUNPATH). Under Wine,
  // WINEPATH adds folders to the Windows program's PATH.
  std::vector<std::pair<std::string, std::string>> env;
  // For the recording driver: when non-empty, written to script.txt in the
  // run's folder and named by VARNO_TEST_SCRIPT.
  std::string script;
  // For the recording driver: name journal.txt in the run's folder by
  // VARNO_TEST_JOURNAL.
  bool journal = true;
  // The executable to copy; another tool of the same shape may stand in.
  std::string tool = ToolPath();
  // The folder the tool starts in; empty: the test's own.
  std::string working_folder;
  // Standard descriptors (0-2) the tool starts with closed.
  std::vector<int> closed;

  // Chainable setters: Launch().Args({"a", "b", "c"}).Script("...").
  Launch& Driver(std::string path) {
    driver = std::move(path);
    return *this;
  }
  Launch& Args(std::vector<std::string> list) {
    args = std::move(list);
    return *this;
  }
  Launch& Env(std::string name, std::string value) {
    env.emplace_back(std::move(name), std::move(value));
    return *this;
  }
  Launch& StartIn(std::string folder) {
    working_folder = std::move(folder);
    return *this;
  }
  Launch& Closed(std::vector<int> descriptors) {
    closed = std::move(descriptors);
    return *this;
  }
  Launch& Script(std::string text) {
    script = std::move(text);
    return *this;
  }
};

// A fresh temporary folder holding a copy of the tool and its library;
// removed with its contents on destruction.
class RunFolder {
 public:
  // Fills the folder per `launch`; error() is non-empty on failure.
  explicit RunFolder(const Launch& launch);
  ~RunFolder();
  RunFolder(const RunFolder&) = delete;
  RunFolder& operator=(const RunFolder&) = delete;

  const std::string& error() const { return error_; }
  const std::string& path() const { return path_; }
  std::string tool_path() const;
  // The command that starts the tool with `args`: the tool itself, or under
  // Wine `wine` and the tool.
  std::vector<std::string> CommandLine(const std::vector<std::string>& args) const;
  // Where the recording driver journals (empty when journal is off).
  const std::string& journal_path() const { return journal_path_; }
  // The child's environment per `launch`, as NAME=VALUE strings.
  const std::vector<std::string>& environment() const { return environment_; }

  // The journal's lines so far (none when it does not exist yet).
  std::vector<std::string> JournalLines() const;
  // Polls until `done(JournalLines())` holds; false on timeout.
  bool WaitForJournal(const std::function<bool(const std::vector<std::string>&)>& done,
                      std::chrono::milliseconds timeout = kTimeout) const;
  // Polls until the journal holds the line `line`; false on timeout.
  bool WaitForJournalLine(std::string_view line,
                          std::chrono::milliseconds timeout = kTimeout) const;

 private:
  std::string path_;
  std::string journal_path_;
  std::vector<std::string> environment_;
  std::string error_;
};

// Keys as the terminal sends them.
enum class Key {
  kEscape,
  kEnter,
  kBackspace,
  kCtrlC,
  kUp,
  kDown,
  kLeft,
  kRight,
  kHome,
  kEnd,
  kF1,
  kF5,
};

// The bytes a terminal sends for `key` (Enter is CR, Backspace DEL).
std::string KeyBytes(Key key);

// How a child ended: its exit status, or 128 + the number of the signal that
// killed it.
using ExitStatus = int;

// One run of the tool on a pseudo-terminal. The child is a session leader
// with the terminal as its controlling terminal, so Ctrl-C, hang-up and job
// control act on it as at a real console. Destruction kills a child that is
// still running (by its pid) and reaps it.
class PtySession {
 public:
  // Starts the tool; started() is false and error() says why on failure.
  explicit PtySession(const Launch& launch);
  ~PtySession();
  PtySession(const PtySession&) = delete;
  PtySession& operator=(const PtySession&) = delete;

  bool started() const { return pid_ > 0; }
  const std::string& error() const { return error_; }
  pid_t pid() const { return pid_; }
  const RunFolder& folder() const { return folder_; }
  std::vector<std::string> JournalLines() const { return folder_.JournalLines(); }

  // Writes bytes to the terminal as typed; false when they cannot be sent.
  bool Type(std::string_view bytes);
  bool Press(Key key) { return Type(KeyBytes(key)); }

  // Everything the tool wrote so far, as raw bytes.
  const std::string& Output() const { return output_; }
  // Reads what is ready without waiting; returns Output().
  const std::string& Drain();
  // Hands over the output kept so far; Output() starts empty again, so
  // offsets into it restart at zero. For long, fast runs.
  std::string TakeOutput();
  // Stops feeding the screen model, which then keeps its last state. For
  // long, fast runs where only the bytes matter.
  void StopScreen() { screen_on_ = false; }
  // When the child was forked.
  std::chrono::steady_clock::time_point start_time() const { return start_time_; }

  // Polls until `done()` holds, reading output meanwhile; false on timeout.
  bool WaitFor(const std::function<bool()>& done, std::chrono::milliseconds timeout = kTimeout);
  // Until the screen shows `text` on one line (a row filled to its last
  // column runs on into the next); false on timeout.
  bool WaitForScreen(std::string_view text, std::chrono::milliseconds timeout = kTimeout);
  // Until `done(ScreenText())` holds; false on timeout.
  bool WaitForScreen(const std::function<bool(const std::string&)>& done,
                     std::chrono::milliseconds timeout = kTimeout);
  // Until the raw output from byte `from` on contains `bytes`.
  bool WaitForOutput(std::string_view bytes, std::size_t from = 0,
                     std::chrono::milliseconds timeout = kTimeout);
  // Until the terminal settings satisfy `done`; e.g. ISIG off shows the tool
  // blocked in a key read, so a Ctrl-C sent then is a key. Under Wine the
  // settings show only that Wine's console has begun reading the terminal
  // for the tool (echo and canonical mode off), which it does at the tool's
  // first console read and keeps up to the end: that is waited for instead.
  bool WaitForSettings(const std::function<bool(const termios&)>& done,
                       std::chrono::milliseconds timeout = kTimeout);
  // Until the journal holds the line `line`.
  bool WaitForJournalLine(std::string_view line, std::chrono::milliseconds timeout = kTimeout);

  // The screen as UTF-8 text: 25 rows joined by "\n", trailing blanks of
  // each row and trailing empty rows removed.
  std::string ScreenText();
  // What the operator has been shown, to compare with ShownBy(): all the
  // bytes written to the terminal, or under Wine, whose console redraws the
  // screen in its own way, the screen as ScreenText() gives it.
  std::string Shown();
  // One row (0 is the top) without its trailing blanks.
  std::string ScreenRow(int row);
  // The cursor as {row, column}.
  std::pair<int, int> Cursor();

  // Polls until the child exits; its status, or nullopt on timeout. The
  // output that was still buffered is read first; under Wine, until the
  // console host has let go of the terminal too. Safe to call again.
  std::optional<ExitStatus> WaitForExit(std::chrono::milliseconds timeout = kTimeout);
  // True while the child has not exited (reaps it when it has).
  bool Running();
  // The child's peak resident set in KiB as wait4 reports it once the child
  // has exited; 0 before. On Linux this includes the forked copy of the
  // parent that ran until exec.
  long PeakResidentKiB() const { return peak_resident_kib_; }

  // The terminal's settings now (the slave's, read through the master);
  // nullopt once the terminal is closed.
  std::optional<termios> Settings() const;
  // The settings the terminal had before the tool started.
  const termios& InitialSettings() const { return initial_settings_; }
  // True when the settings now equal those before the tool started (flags,
  // control characters and speeds), and on Linux the file status flags
  // (O_NONBLOCK) that the tool's descriptors share with the test's own.
  bool SettingsRestored() const;
  // Sets the terminal's settings, as a shell does while the tool is stopped.
  bool SetSettings(const termios& settings) const;
  // Writes to the terminal's screen as another program would (Linux only).
  bool WriteToScreen(std::string_view bytes) const;

  // How many typed bytes the tool has not read yet; nullopt once the
  // terminal is closed. Bytes just typed may take a moment to be counted.
  std::optional<std::size_t> TypedNotRead() const;

  // Sends `signal` to the child by its pid; false when it cannot.
  bool Signal(int signal);
  // Closes the terminal's master side: the child sees a hang-up. Output,
  // typing and Settings() are no longer available afterwards.
  void HangUp();

 private:
  // Reads ready output into output_ and the screen model; waits at most
  // `wait` for the first byte. False at end of output.
  bool Pump(std::chrono::milliseconds wait);
  bool Reap();  // without waiting; true once the child has exited
  // Under Wine, when nothing has been shown in time: what can tell why.
  void ReportWineStall() const;

  RunFolder folder_;
  std::string error_;
  pid_t pid_ = -1;
  int master_ = -1;
  // The terminal's side as opened for the child, kept (Linux only) to see
  // the status flags the child's descriptors share after it has gone.
  int slave_ = -1;
  int initial_status_flags_ = -1;
  std::optional<ExitStatus> exit_;
  long peak_resident_kib_ = 0;
  std::chrono::steady_clock::time_point start_time_;
  std::string output_;
  bool any_output_ = false;  // under Wine, the end of its own start
  bool screen_on_ = true;
  termios initial_settings_{};
  struct Screen;
  std::unique_ptr<Screen> screen_;
};

// What the screen shows (as ScreenText() gives it) for `bytes` written to a
// fresh terminal, e.g. ShownBy(OnTerminal(kMenu)); or the bytes themselves
// where Shown() gives bytes.
std::string ShownBy(std::string_view bytes);

// Feeds `bytes` to a fresh screen one at a time: how many were fed when it
// first showed nothing, from `from` bytes on; npos when it never did.
std::size_t FirstBlankScreen(std::string_view bytes, std::size_t from);

// True when two terminal settings are the same for every flag, control
// character and speed.
bool SameSettings(const termios& a, const termios& b);

// The result of a run with pipes for standard input, output and error.
struct PipeRun {
  std::string error;               // non-empty when the run could not be made
  std::string out;                 // exact standard output bytes
  std::string err;                 // exact standard error bytes
  std::optional<ExitStatus> exit;  // nullopt: killed after the timeout
  std::vector<std::string> journal;
};

// Runs the tool with `input` on a pipe as standard input (closed after it)
// and no controlling terminal; kills it if it has not exited by `timeout`.
// Ignores SIGPIPE in the calling process, so that a tool that stops reading
// early shows as a short write rather than killing the test.
PipeRun RunWithPipes(const Launch& launch, std::string_view input,
                     std::chrono::milliseconds timeout = kTimeout);

}  // namespace varno::e2e
