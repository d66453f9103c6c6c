#include "pty_session.h"

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <sys/ioctl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vterm.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "driver/library_word_size.h"

namespace varno::e2e {
namespace {

using Clock = std::chrono::steady_clock;
namespace fs = std::filesystem;

#if defined(__SANITIZE_ADDRESS__)
constexpr bool kSanitized = true;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
constexpr bool kSanitized = true;
#else
constexpr bool kSanitized = false;
#endif
#else
constexpr bool kSanitized = false;
#endif

// How often a wait looks again at conditions that send no output (the
// journal, the terminal settings, the child's exit).
constexpr std::chrono::milliseconds kPollSlice{5};
// A launch under Wine on a loaded machine has now and then shown nothing
// for many seconds; until the first output, a wait under Wine lasts at
// least this long from the launch.
constexpr std::chrono::seconds kWineStartAllowance{40};

std::chrono::milliseconds Remaining(Clock::time_point deadline) {
  auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
  return std::max(left, std::chrono::milliseconds(0));
}

ExitStatus FromWaitStatus(int status) {
  if (WIFSIGNALED(status)) return 128 + WTERMSIG(status);
  return WEXITSTATUS(status);
}

std::vector<char*> Pointers(std::vector<std::string>& strings) {
  std::vector<char*> pointers;
  pointers.reserve(strings.size() + 1);
  for (std::string& s : strings) pointers.push_back(s.data());
  pointers.push_back(nullptr);
  return pointers;
}

// A writer to a pipe whose reader has gone must see EPIPE, not die.
void IgnoreBrokenPipes() {
  static const bool done = [] {
    signal(SIGPIPE, SIG_IGN);
    return true;
  }();
  (void)done;
}

// In a freshly forked child: the signal state a shell would give a command.
void ResetSignals() {
  for (int signal_number : {SIGINT, SIGTERM, SIGHUP, SIGQUIT, SIGTSTP, SIGTTIN, SIGTTOU, SIGPIPE}) {
    signal(signal_number, SIG_DFL);
  }
  sigset_t none;
  sigemptyset(&none);
  sigprocmask(SIG_SETMASK, &none, nullptr);
}

std::string ReadWholeFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

void AppendUtf8(uint32_t code, std::string* out) {
  if (code < 0x80) {
    *out += static_cast<char>(code);
  } else if (code < 0x800) {
    *out += static_cast<char>(0xC0 | (code >> 6));
    *out += static_cast<char>(0x80 | (code & 0x3F));
  } else if (code < 0x10000) {
    *out += static_cast<char>(0xE0 | (code >> 12));
    *out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
    *out += static_cast<char>(0x80 | (code & 0x3F));
  } else {
    *out += static_cast<char>(0xF0 | (code >> 18));
    *out += static_cast<char>(0x80 | ((code >> 12) & 0x3F));
    *out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
    *out += static_cast<char>(0x80 | (code & 0x3F));
  }
}

// The Windows build folder named by VARNO_E2E_WINDOWS_BUILD, or empty.
const std::string& WindowsBuild() {
  static const std::string folder = [] {
    const char* value = std::getenv("VARNO_E2E_WINDOWS_BUILD");
    return std::string(value != nullptr ? value : "");
  }();
  return folder;
}

// Wine's own state for the runs: a throwaway prefix in the Windows build.
std::string WinePrefix() { return WindowsBuild() + "/wineprefix"; }

// The first of `names` that is an executable on PATH or in `folders`; empty
// when none is.
std::string FindProgram(const std::vector<std::string>& names,
                        const std::vector<std::string>& folders) {
  const char* path = std::getenv("PATH");
  std::vector<std::string> searched;
  std::istringstream listed(path != nullptr ? path : "");
  for (std::string folder; std::getline(listed, folder, ':');)
    searched.push_back(folder.empty() ? "." : folder);
  searched.insert(searched.end(), folders.begin(), folders.end());
  for (const std::string& name : names) {
    for (const std::string& folder : searched) {
      std::string candidate = folder + "/" + name;
      if (access(candidate.c_str(), X_OK) == 0) return candidate;
    }
  }
  return "";
}

// Wine's loader for the tool's word size; empty when there is none. A 64-bit
// build runs under wine64 itself: `wine` would start it through start.exe
// when Wine's 32-bit side is installed, so that the child the tests signal
// would not be the tool. Debian keeps wine64 off PATH.
const std::string& WineCommand() {
  static const std::string command = ToolWordSize() == 64
                                         ? FindProgram({"wine64", "wine"}, {"/usr/lib/wine"})
                                         : FindProgram({"wine"}, {});
  return command;
}

// Waits for `pid` for at most `timeout`; kills and reaps it after that.
std::optional<ExitStatus> WaitForChild(pid_t pid, std::chrono::milliseconds timeout) {
  auto deadline = Clock::now() + timeout;
  int status = 0;
  while (true) {
    pid_t got = waitpid(pid, &status, WNOHANG);
    if (got == pid) return FromWaitStatus(status);
    if (Clock::now() >= deadline) {
      kill(pid, SIGKILL);
      waitpid(pid, &status, 0);
      return std::nullopt;
    }
    poll(nullptr, 0, static_cast<int>(kPollSlice.count()));
  }
}

// In a forked child, just before exec: the working folder and the closed
// descriptors that `launch` asks for. Async-signal-safe.
void EnterAsLaunched(const Launch& launch) {
  if (!launch.working_folder.empty() && chdir(launch.working_folder.c_str()) != 0) _exit(127);
  for (int fd : launch.closed) close(fd);
}

// Runs `args` with standard input and output on /dev/null; its exit status,
// or nullopt when it does not end within `timeout` (it is then killed).
std::optional<ExitStatus> RunQuietly(std::vector<std::string> args, std::vector<std::string> env,
                                     std::chrono::milliseconds timeout) {
  std::vector<char*> argv = Pointers(args);
  std::vector<char*> envp = Pointers(env);
  pid_t pid = fork();
  if (pid < 0) return std::nullopt;
  if (pid == 0) {
    int null = open("/dev/null", O_RDWR);
    dup2(null, 0);
    dup2(null, 1);
    dup2(null, 2);
    execve(argv[0], argv.data(), envp.data());
    _exit(127);
  }
  return WaitForChild(pid, timeout);
}

// Starts Wine's server for the prefix, lingering 15 s after the last
// program so that it serves the next test too, unless one is running (the
// new one then ends at once). Without it a test's program would start a
// server of its own that ends with it (Debian's wrapper passes -p0), and
// each launch would boot Wine's background programs again.
void StartLingeringWineServer(const std::vector<std::string>& environment) {
  const std::string folder = fs::path(WineCommand()).parent_path();
  RunQuietly({folder + "/wineserver", "--persistent=15"}, environment, std::chrono::minutes(1));
}

// Gets Wine ready for a test's launch. Once per process of the suite: creates
// the prefix unless it exists (the first start takes many seconds), then
// starts Wine's server and its background programs away from any test's
// terminal, so that they neither hold a test's terminal open after the tool
// has left nor slow each start. Before every later launch the server is
// started again should it have ended, as after a long test. Empty on success.
std::string PrepareWine(const std::vector<std::string>& environment) {
  static const std::string error = [&]() -> std::string {
    if (WineCommand().empty()) return "no wine command on PATH";
    const std::string folder = fs::path(WineCommand()).parent_path();
    const std::chrono::minutes patience(3);
    if (!fs::exists(WinePrefix() + "/system.reg")) {
      if (RunQuietly({WineCommand(), "wineboot", "--init"}, environment, patience) != 0) {
        return "wineboot --init failed in " + WinePrefix();
      }
      // Until the server that made the prefix has gone, no other starts.
      RunQuietly({folder + "/wineserver", "--wait"}, environment, patience);
    }
    StartLingeringWineServer(environment);
    if (RunQuietly({WineCommand(), "cmd", "/c", "exit"}, environment, patience) != 0) {
      return "wine cannot run a program in " + WinePrefix();
    }
    return "";
  }();
  if (error.empty()) StartLingeringWineServer(environment);  // should it have ended since
  return error;
}

// A terminal's screen, 80x25, taking UTF-8.
struct ScreenModel {
  ScreenModel() : vt(vterm_new(kScreenRows, kScreenColumns)) {
    vterm_set_utf8(vt, 1);
    // Answers to terminal queries are dropped rather than buffered.
    vterm_output_set_callback(
        vt, [](const char*, size_t, void*) {}, nullptr);
    screen = vterm_obtain_screen(vt);
    vterm_screen_reset(screen, 1);
  }
  ~ScreenModel() { vterm_free(vt); }
  ScreenModel(const ScreenModel&) = delete;
  ScreenModel& operator=(const ScreenModel&) = delete;

  VTerm* vt;
  VTermScreen* screen;
};

// Text of one row of `screen`, without its trailing blanks.
std::string RowText(VTermScreen* screen, int row) {
  std::string text;
  for (int column = 0; column < kScreenColumns;) {
    VTermScreenCell cell{};
    vterm_screen_get_cell(screen, VTermPos{row, column}, &cell);
    if (cell.chars[0] == 0) {
      text += ' ';
    } else {
      for (int i = 0; i < VTERM_MAX_CHARS_PER_CELL && cell.chars[i] != 0; ++i) {
        AppendUtf8(cell.chars[i], &text);
      }
    }
    column += std::max<int>(cell.width, 1);
  }
  text.erase(text.find_last_not_of(' ') + 1);
  return text;
}

std::string ScreenTextOf(VTermScreen* screen) {
  std::string text;
  for (int row = 0; row < kScreenRows; ++row) {
    if (row > 0) text += '\n';
    text += RowText(screen, row);
  }
  text.erase(text.find_last_not_of('\n') + 1);
  return text;
}

}  // namespace

bool UnderWine() { return !WindowsBuild().empty(); }

int ToolWordSize() {
  static const int bits = [] {
    if (!UnderWine()) return static_cast<int>(sizeof(void*) * 8);
    std::ifstream tool(ToolPath(), std::ios::binary);
    std::string header(kPeHeaderBytes, '\0');
    tool.read(header.data(), static_cast<std::streamsize>(header.size()));
    header.resize(static_cast<std::size_t>(tool.gcount()));
    return PeWordSize(header);
  }();
  return bits;
}

const std::string& ToolPath() {
  static const std::string path =
      UnderWine() ? WindowsBuild() + "/varno-diag.exe" : VARNO_DIAG_PATH;
  return path;
}

const std::string& RecordingDriverPath() {
  static const std::string path =
      UnderWine() ? WindowsBuild() + "/tests/recording_driver/ZUNVARNO_HOSTDRIVER.dll"
                  : VARNO_RECORDING_DRIVER_PATH;
  return path;
}

const std::string& PartialDriverPath() {
  static const std::string path =
      UnderWine() ? WindowsBuild() + "/tests/partial_driver/ZUNVARNO_HOSTDRIVER.dll"
                  : VARNO_PARTIAL_DRIVER_PATH;
  return path;
}

std::string KeyBytes(Key key) {
  switch (key) {
    case Key::kEscape: return "\x1b";
    case Key::kEnter: return "\r";
    case Key::kBackspace: return "\x7f";
    case Key::kCtrlC: return "\x03";
    case Key::kUp: return "\x1b[A";
    case Key::kDown: return "\x1b[B";
    case Key::kRight: return "\x1b[C";
    case Key::kLeft: return "\x1b[D";
    case Key::kHome: return "\x1b[H";
    case Key::kEnd: return "\x1b[F";
    case Key::kF1: return "\x1bOP";
    case Key::kF5: return "\x1b[15~";
  }
  return "";
}

bool SameSettings(const termios& a, const termios& b) {
  return a.c_iflag == b.c_iflag && a.c_oflag == b.c_oflag && a.c_cflag == b.c_cflag &&
         a.c_lflag == b.c_lflag && std::memcmp(a.c_cc, b.c_cc, sizeof a.c_cc) == 0 &&
         cfgetispeed(&a) == cfgetispeed(&b) && cfgetospeed(&a) == cfgetospeed(&b);
}

// ---------------------------------------------------------------- RunFolder

RunFolder::RunFolder(const Launch& launch) {
  const char* tmp = std::getenv("TMPDIR");
  std::string pattern =
      std::string(tmp != nullptr && *tmp != '\0' ? tmp : "/tmp") + "/varno-e2e-XXXXXX";
  if (mkdtemp(pattern.data()) == nullptr) {
    error_ = "mkdtemp: " + std::string(std::strerror(errno));
    return;
  }
  path_ = pattern;

  std::error_code failure;
  fs::copy_file(launch.tool, tool_path(), failure);
  if (!failure && !launch.driver.empty()) {
    fs::copy_file(launch.driver,
                  path_ + (UnderWine() ? "/ZUNVARNO_HOSTDRIVER.dll" : "/ZUNVARNO_HOSTDRIVER.so"),
                  failure);
  }
  if (failure) {
    error_ = "copying the tool or its driver: " + failure.message();
    return;
  }

  std::vector<std::pair<std::string, std::string>> settings = {{"TERM", "xterm-256color"}};
  if (kSanitized) {
    // The sanitizer's dlopen interceptor becomes the caller, so the tool's
    // own RUNPATH is not searched: point the search at the folder instead.
    settings.emplace_back("LD_LIBRARY_PATH", path_);
  }
  if (UnderWine()) {
    settings.insert(settings.end(), {{"WINEPREFIX", WinePrefix()},
                                     {"WINEDEBUG", "-all"},
                                     // No offers to install Mono or Gecko.
                                     {"WINEDLLOVERRIDES", "mscoree,mshtml="},
                                     // Wine's console then writes UTF-8 to the terminal, as
                                     // the screen model reads it.
                                     {"LC_ALL", "C.UTF-8"}});
  }
  if (launch.journal) {
    journal_path_ = path_ + "/journal.txt";
    settings.emplace_back("VARNO_TEST_JOURNAL", journal_path_);
  }
  if (!launch.script.empty()) {
    std::string script_path = path_ + "/script.txt";
    std::ofstream(script_path, std::ios::binary) << launch.script;
    settings.emplace_back("VARNO_TEST_SCRIPT", script_path);
  }
  settings.insert(settings.end(), launch.env.begin(), launch.env.end());

  auto overridden = [&](std::string_view entry) {
    std::string_view name = entry.substr(0, entry.find('='));
    if (name == "LD_LIBRARY_PATH" || name == "VARNO_TEST_JOURNAL" || name == "VARNO_TEST_SCRIPT") {
      return true;
    }
    return std::any_of(settings.begin(), settings.end(),
                       [&](const auto& s) { return s.first == name; });
  };
  for (char** entry = environ; *entry != nullptr; ++entry) {
    if (!overridden(*entry)) environment_.emplace_back(*entry);
  }
  for (const auto& setting : settings) {
    // A later setting of the same name wins.
    std::string prefix = setting.first + "=";
    std::erase_if(environment_, [&](const std::string& e) { return e.starts_with(prefix); });
    environment_.push_back(prefix + setting.second);
  }
  if (UnderWine()) error_ = PrepareWine(environment_);
}

std::string RunFolder::tool_path() const {
  return path_ + (UnderWine() ? "/varno-diag.exe" : "/varno-diag");
}

std::vector<std::string> RunFolder::CommandLine(const std::vector<std::string>& args) const {
  std::vector<std::string> line;
  if (UnderWine()) line.push_back(WineCommand());
  line.push_back(tool_path());
  line.insert(line.end(), args.begin(), args.end());
  return line;
}

RunFolder::~RunFolder() {
  if (path_.empty()) return;
  std::error_code ignored;
  fs::remove_all(path_, ignored);
}

std::vector<std::string> RunFolder::JournalLines() const {
  std::vector<std::string> lines;
  if (journal_path_.empty()) return lines;
  std::string text = ReadWholeFile(journal_path_);
  size_t start = 0;
  // A line still being written (no line end yet) is not taken. The driver
  // writes its journal as a text file, whose line ends are CR LF on Windows.
  for (size_t end; (end = text.find('\n', start)) != std::string::npos; start = end + 1) {
    lines.push_back(text.substr(start, end - start));
    if (UnderWine() && !lines.back().empty() && lines.back().back() == '\r')
      lines.back().pop_back();
  }
  return lines;
}

bool RunFolder::WaitForJournal(const std::function<bool(const std::vector<std::string>&)>& done,
                               std::chrono::milliseconds timeout) const {
  auto deadline = Clock::now() + timeout;
  while (!done(JournalLines())) {
    if (Clock::now() >= deadline) return false;
    poll(nullptr, 0, static_cast<int>(kPollSlice.count()));
  }
  return true;
}

bool RunFolder::WaitForJournalLine(std::string_view line, std::chrono::milliseconds timeout) const {
  return WaitForJournal(
      [&](const std::vector<std::string>& lines) {
        return std::find(lines.begin(), lines.end(), line) != lines.end();
      },
      timeout);
}

// ---------------------------------------------------------------- PtySession

struct PtySession::Screen : ScreenModel {};

PtySession::PtySession(const Launch& launch)
    : folder_(launch), screen_(std::make_unique<Screen>()) {
  if (!folder_.error().empty()) {
    error_ = folder_.error();
    return;
  }
  winsize size{};
  size.ws_row = kScreenRows;
  size.ws_col = kScreenColumns;
  int slave = -1;
  if (openpty(&master_, &slave, nullptr, nullptr, &size) != 0) {
    error_ = "openpty: " + std::string(std::strerror(errno));
    return;
  }
  fcntl(master_, F_SETFD, FD_CLOEXEC);
  tcgetattr(slave, &initial_settings_);
  initial_status_flags_ = fcntl(slave, F_GETFL);

  std::vector<std::string> args = folder_.CommandLine(launch.args);
  std::vector<std::string> env = folder_.environment();
  std::vector<char*> argv = Pointers(args);
  std::vector<char*> envp = Pointers(env);

  start_time_ = Clock::now();
  const pid_t child = fork();
  if (child < 0) {
    error_ = "fork: " + std::string(std::strerror(errno));
    close(slave);
    return;
  }
  if (child == 0) {
    // Only async-signal-safe calls from here to exec.
    close(master_);
    setsid();
    ioctl(slave, TIOCSCTTY, 0);
    dup2(slave, 0);
    dup2(slave, 1);
    dup2(slave, 2);
    if (slave > 2) close(slave);
    ResetSignals();
    EnterAsLaunched(launch);
    execve(argv[0], argv.data(), envp.data());
    _exit(127);
  }
  // Under Wine the console host's end of output shows as the terminal's
  // end, which a descriptor kept here would hold off.
  if (UnderWine()) {
    close(slave);
  } else {
    slave_ = slave;
    fcntl(slave_, F_SETFD, FD_CLOEXEC);
  }
  pid_ = child;
  fcntl(master_, F_SETFL, fcntl(master_, F_GETFL) | O_NONBLOCK);
}

PtySession::~PtySession() {
  if (pid_ > 0 && !exit_) {
    kill(pid_, SIGKILL);
    int status = 0;
    waitpid(pid_, &status, 0);
  }
  if (master_ >= 0) close(master_);
  if (slave_ >= 0) close(slave_);
}

bool PtySession::Type(std::string_view bytes) {
  auto deadline = Clock::now() + kTimeout;
  while (!bytes.empty()) {
    if (master_ < 0) return false;
    ssize_t written = write(master_, bytes.data(), bytes.size());
    if (written > 0) {
      bytes.remove_prefix(static_cast<size_t>(written));
    } else if ((written < 0 && errno != EAGAIN && errno != EINTR) || Clock::now() >= deadline) {
      return false;
    } else {
      // The terminal's input queue is full: let the tool read on.
      Pump(kPollSlice);
    }
  }
  return true;
}

bool PtySession::Pump(std::chrono::milliseconds wait) {
  if (master_ < 0) {
    if (wait.count() > 0) poll(nullptr, 0, static_cast<int>(wait.count()));
    return false;
  }
  pollfd ready{master_, POLLIN, 0};
  if (poll(&ready, 1, static_cast<int>(wait.count())) <= 0) return true;
  char buffer[4096];
  while (true) {
    ssize_t got = read(master_, buffer, sizeof buffer);
    if (got > 0) {
      if (!any_output_ && UnderWine() && Clock::now() - start_time_ > kTimeout) {
        std::fprintf(stderr, "note: under Wine the first output came %.1f s after the launch\n",
                     std::chrono::duration<double>(Clock::now() - start_time_).count());
      }
      any_output_ = true;
      output_.append(buffer, static_cast<size_t>(got));
      if (screen_on_) {
        vterm_input_write(screen_->vt, buffer, static_cast<size_t>(got));
      }
      continue;
    }
    if (got < 0 && errno == EINTR) continue;
    if (got < 0 && errno == EAGAIN) return true;
    // EIO: every slave descriptor is closed; nothing more will come. Wait
    // out the rest of the slice so callers polling for exit do not spin.
    if (wait.count() > 0) poll(nullptr, 0, static_cast<int>(wait.count()));
    return false;
  }
}

const std::string& PtySession::Drain() {
  Pump(std::chrono::milliseconds(0));
  return output_;
}

std::string PtySession::TakeOutput() {
  Pump(std::chrono::milliseconds(0));
  std::string taken = std::move(output_);
  output_.clear();
  return taken;
}

bool PtySession::WaitFor(const std::function<bool()>& done, std::chrono::milliseconds timeout) {
  auto deadline = Clock::now() + timeout;
  while (true) {
    Pump(std::chrono::milliseconds(0));
    if (done()) return true;
    const bool wine_starting = !any_output_ && UnderWine();
    if (wine_starting) deadline = std::max(deadline, start_time_ + kWineStartAllowance);
    if (Clock::now() >= deadline) {
      if (wine_starting) ReportWineStall();
      return false;
    }
    Pump(std::min(Remaining(deadline), kPollSlice));
  }
}

void PtySession::ReportWineStall() const {
  // Whether the tool got as far as the driver's start, and what each of
  // Wine's processes is waiting in, tell a stalled Wine from a stalled tool.
  std::fprintf(stderr, "note: under Wine nothing was shown %.1f s after the launch; journal:\n",
               std::chrono::duration<double>(Clock::now() - start_time_).count());
  const std::vector<std::string> journal = JournalLines();
  if (journal.empty()) std::fprintf(stderr, "  (empty: no driver call has returned)\n");
  for (const std::string& line : journal) std::fprintf(stderr, "  %s\n", line.c_str());
  std::fflush(stderr);
  const pid_t lister = fork();
  if (lister == 0) {
    dup2(STDERR_FILENO, STDOUT_FILENO);
    execl("/bin/sh", "sh", "-c",
          "ps -eo pid,ppid,stat,etimes,wchan:24,args | grep -Ei 'wine|[.]exe' | grep -v grep",
          static_cast<char*>(nullptr));
    _exit(127);
  }
  if (lister > 0) WaitForChild(lister, std::chrono::seconds(10));
}

bool PtySession::WaitForScreen(std::string_view text, std::chrono::milliseconds timeout) {
  return WaitFor(
      [&] {
        std::string line;
        for (int row = 0; row < kScreenRows; ++row) {
          const std::string shown = ScreenRow(row);
          line += shown;
          if (line.find(text) != std::string::npos) return true;
          if (shown.size() < kScreenColumns) line.clear();
        }
        return false;
      },
      timeout);
}

bool PtySession::WaitForScreen(const std::function<bool(const std::string&)>& done,
                               std::chrono::milliseconds timeout) {
  return WaitFor([&] { return done(ScreenText()); }, timeout);
}

bool PtySession::WaitForOutput(std::string_view bytes, std::size_t from,
                               std::chrono::milliseconds timeout) {
  return WaitFor(
      [&] { return output_.size() >= from && output_.find(bytes, from) != std::string::npos; },
      timeout);
}

bool PtySession::WaitForSettings(const std::function<bool(const termios&)>& done,
                                 std::chrono::milliseconds timeout) {
  if (UnderWine()) {
    // Wine's console sets the terminal's modes once, when the tool first
    // reads the console; they say nothing more about the tool.
    return WaitFor(
        [&] {
          std::optional<termios> now = Settings();
          return now && (now->c_lflag & (ECHO | ICANON)) == 0;
        },
        timeout);
  }
  return WaitFor(
      [&] {
        std::optional<termios> now = Settings();
        return now && done(*now);
      },
      timeout);
}

bool PtySession::WaitForJournalLine(std::string_view line, std::chrono::milliseconds timeout) {
  return WaitFor(
      [&] {
        std::vector<std::string> lines = folder_.JournalLines();
        return std::find(lines.begin(), lines.end(), line) != lines.end();
      },
      timeout);
}

std::string PtySession::ScreenRow(int row) { return RowText(screen_->screen, row); }

std::string PtySession::ScreenText() { return ScreenTextOf(screen_->screen); }

std::string PtySession::Shown() { return UnderWine() ? ScreenText() : Output(); }

std::string ShownBy(std::string_view bytes) {
  if (!UnderWine()) return std::string(bytes);
  ScreenModel screen;
  vterm_input_write(screen.vt, bytes.data(), bytes.size());
  return ScreenTextOf(screen.screen);
}

std::size_t FirstBlankScreen(std::string_view bytes, std::size_t from) {
  ScreenModel screen;
  const auto blank = [&] {
    for (int row = 0; row < kScreenRows; ++row) {
      for (int column = 0; column < kScreenColumns; ++column) {
        VTermScreenCell cell{};
        vterm_screen_get_cell(screen.screen, VTermPos{row, column}, &cell);
        if (cell.chars[0] != 0 && cell.chars[0] != ' ') return false;
      }
    }
    return true;
  };
  for (std::size_t fed = 0; fed <= bytes.size(); ++fed) {
    if (fed >= from && blank()) return fed;
    if (fed < bytes.size()) vterm_input_write(screen.vt, &bytes[fed], 1);
  }
  return std::string_view::npos;
}

std::pair<int, int> PtySession::Cursor() {
  VTermPos position{};
  vterm_state_get_cursorpos(vterm_obtain_state(screen_->vt), &position);
  return {position.row, position.col};
}

bool PtySession::Reap() {
  if (exit_) return true;
  if (pid_ <= 0) return false;
  int status = 0;
  rusage usage{};
  pid_t got;
  do {
    got = wait4(pid_, &status, WNOHANG, &usage);
  } while (got < 0 && errno == EINTR);
  if (got != pid_) return false;
  exit_ = FromWaitStatus(status);
  peak_resident_kib_ = usage.ru_maxrss;
  return true;
}

bool PtySession::Running() { return pid_ > 0 && !Reap(); }

std::optional<ExitStatus> PtySession::WaitForExit(std::chrono::milliseconds timeout) {
  if (pid_ <= 0) return std::nullopt;
  auto deadline = Clock::now() + timeout;
  if (!WaitFor([&] { return Reap(); }, timeout)) return std::nullopt;
  if (UnderWine()) {
    // Wine's console host draws the last screen and gives the terminal its
    // settings back after the tool has left; it is done when it lets go of
    // the terminal, which then reads as ended.
    while (Pump(std::min(Remaining(deadline), kPollSlice)) && Clock::now() < deadline) {
    }
    return exit_;
  }
  // What the tool wrote last may still sit in the terminal.
  size_t before;
  do {
    before = output_.size();
    Pump(std::chrono::milliseconds(0));
  } while (output_.size() != before);
  return exit_;
}

std::optional<termios> PtySession::Settings() const {
  termios now{};
  if (master_ < 0 || tcgetattr(master_, &now) != 0) return std::nullopt;
  return now;
}

bool PtySession::SettingsRestored() const {
  std::optional<termios> now = Settings();
  if (slave_ >= 0 && fcntl(slave_, F_GETFL) != initial_status_flags_) return false;
  return now && SameSettings(*now, initial_settings_);
}

bool PtySession::SetSettings(const termios& settings) const {
  return master_ >= 0 && tcsetattr(master_, TCSANOW, &settings) == 0;
}

bool PtySession::WriteToScreen(std::string_view bytes) const {
  return slave_ >= 0 &&
         write(slave_, bytes.data(), bytes.size()) == static_cast<ssize_t>(bytes.size());
}

std::optional<std::size_t> PtySession::TypedNotRead() const {
  char name[64];
  if (master_ < 0 || ptsname_r(master_, name, sizeof name) != 0) {
    return std::nullopt;
  }
  // The count lives on the terminal's side, so look through a descriptor of
  // it that is opened for the purpose (never as a controlling terminal).
  const int terminal = open(name, O_RDONLY | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (terminal < 0) return std::nullopt;
  int queued = 0;
  const bool counted = ioctl(terminal, FIONREAD, &queued) == 0;
  close(terminal);
  if (!counted) return std::nullopt;
  return static_cast<std::size_t>(queued);
}

bool PtySession::Signal(int signal_number) {
  if (pid_ <= 0 || exit_) return false;
  return kill(pid_, signal_number) == 0;
}

void PtySession::HangUp() {
  if (master_ >= 0) close(master_);
  master_ = -1;
  if (slave_ >= 0) close(slave_);
  slave_ = -1;
}

// ---------------------------------------------------------------- pipes

PipeRun RunWithPipes(const Launch& launch, std::string_view input,
                     std::chrono::milliseconds timeout) {
  PipeRun run;
  RunFolder folder(launch);
  if (!folder.error().empty()) {
    run.error = folder.error();
    return run;
  }
  IgnoreBrokenPipes();
  int in[2];
  int out[2];
  int err[2];
  if (pipe2(in, O_CLOEXEC) != 0 || pipe2(out, O_CLOEXEC) != 0 || pipe2(err, O_CLOEXEC) != 0) {
    run.error = "pipe: " + std::string(std::strerror(errno));
    return run;
  }
  std::vector<std::string> args = folder.CommandLine(launch.args);
  std::vector<std::string> env = folder.environment();
  std::vector<char*> argv = Pointers(args);
  std::vector<char*> envp = Pointers(env);

  pid_t pid = fork();
  if (pid < 0) {
    run.error = "fork: " + std::string(std::strerror(errno));
    for (int fd : {in[0], in[1], out[0], out[1], err[0], err[1]}) close(fd);
    return run;
  }
  if (pid == 0) {
    setsid();  // no controlling terminal
    dup2(in[0], 0);
    dup2(out[1], 1);
    dup2(err[1], 2);
    ResetSignals();
    EnterAsLaunched(launch);
    execve(argv[0], argv.data(), envp.data());
    _exit(127);
  }
  close(in[0]);
  close(out[1]);
  close(err[1]);
  int to_child = in[1];
  fcntl(to_child, F_SETFL, O_NONBLOCK);
  if (input.empty()) {
    close(to_child);
    to_child = -1;
  }

  auto deadline = Clock::now() + timeout;
  int from_child[2] = {out[0], err[0]};
  std::string* sinks[2] = {&run.out, &run.err};
  while (from_child[0] >= 0 || from_child[1] >= 0) {
    std::vector<pollfd> fds;
    for (int fd : from_child) {
      if (fd >= 0) fds.push_back({fd, POLLIN, 0});
    }
    if (to_child >= 0) fds.push_back({to_child, POLLOUT, 0});
    if (Clock::now() >= deadline) break;
    if (poll(fds.data(), fds.size(), static_cast<int>(Remaining(deadline).count())) < 0 &&
        errno != EINTR) {
      break;
    }
    for (const pollfd& p : fds) {
      if (p.revents == 0) continue;
      if (p.fd == to_child) {
        ssize_t written = write(to_child, input.data(), input.size());
        if (written > 0) input.remove_prefix(static_cast<size_t>(written));
        if ((written < 0 && errno != EAGAIN) || input.empty()) {
          close(to_child);
          to_child = -1;
        }
        continue;
      }
      for (int i = 0; i < 2; ++i) {
        if (p.fd != from_child[i]) continue;
        char buffer[4096];
        ssize_t got = read(p.fd, buffer, sizeof buffer);
        if (got > 0) {
          sinks[i]->append(buffer, static_cast<size_t>(got));
        } else if (got == 0 || errno != EINTR) {
          close(p.fd);
          from_child[i] = -1;
        }
      }
    }
  }
  for (int fd : {to_child, from_child[0], from_child[1]}) {
    if (fd >= 0) close(fd);
  }

  // Output closes just before exit; give the exit itself the time left.
  int status = 0;
  while (true) {
    pid_t got = waitpid(pid, &status, WNOHANG);
    if (got == pid) {
      run.exit = FromWaitStatus(status);
      break;
    }
    if (Clock::now() >= deadline) {
      kill(pid, SIGKILL);
      waitpid(pid, &status, 0);
      break;
    }
    poll(nullptr, 0, static_cast<int>(kPollSlice.count()));
  }
  run.journal = folder.JournalLines();
  return run;
}

}  // namespace varno::e2e
