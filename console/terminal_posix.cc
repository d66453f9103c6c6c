// The console on a POSIX terminal. Standard input is put in raw mode for the
// whole run so that keys arrive one at a time; special keys arrive as escape
// sequences and are decoded into the target console's two-byte keys. From a
// pipe or a file every byte is one key. Interrupts (Ctrl-C outside key
// reads, hang-up, terminate) make the tool leave in order; see OnInterrupt.
// A crash, an abort or an exit inside the driver library restores the
// terminal before the process ends; see OnFatalSignal and OnExit.
#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "console/buffered_terminal.h"
#include "console/key_decoder.h"
#include "console/launch.h"
#include "console/screen_frame.h"
#include "console/terminal.h"
#include "console/windows_1252.h"

namespace {

// Terminal modes, set up before any handler is installed and read-only
// afterwards, so that the handlers can apply them.
struct termios g_found;            // as the tool found the terminal
struct termios g_raw;              // the run's mode
struct termios g_raw_key_read;     // the same, with Ctrl-C as a plain key
volatile sig_atomic_t g_mode = 0;  // which of the two is in force; 0: none
constexpr sig_atomic_t kModeRaw = 1;
constexpr sig_atomic_t kModeKeyRead = 2;

volatile sig_atomic_t g_interrupted = 0;
int g_wake_fd = -1;                       // write end of a pipe that wakes a blocked wait
int g_wake_read_fd = -1;                  // and its read end
volatile sig_atomic_t g_orderly_end = 0;  // the tool itself is ending the run

void ApplyMode(sig_atomic_t mode) {
  g_mode = mode;
  if (mode == kModeRaw) tcsetattr(STDIN_FILENO, TCSANOW, &g_raw);
  if (mode == kModeKeyRead) tcsetattr(STDIN_FILENO, TCSANOW, &g_raw_key_read);
}

// Async-signal-safe.
void RestoreFoundMode() {
  if (g_mode != 0) tcsetattr(STDIN_FILENO, TCSANOW, &g_found);
}

// The first interrupt asks the tool to leave as Escape does, which it does
// once any driver call in progress has returned; a second one ends it at once.
void OnInterrupt(int /*signal_number*/) {
  const int saved_errno = errno;
  if (g_interrupted) {
    RestoreFoundMode();
    _exit(kExitStatus);
  }
  g_interrupted = 1;
  const char byte = 1;
  if (write(g_wake_fd, &byte, 1) < 0) {
    // The pipe is full: it is awake already.
  }
  errno = saved_errno;
}

// Ctrl-Z: give the terminal back while stopped, take it again on resuming.
void OnStop(int /*signal_number*/) {
  const int saved_errno = errno;
  const sig_atomic_t mode = g_mode;
  RestoreFoundMode();
  signal(SIGTSTP, SIG_DFL);
  sigset_t stop;
  sigemptyset(&stop);
  sigaddset(&stop, SIGTSTP);
  sigprocmask(SIG_UNBLOCK, &stop, nullptr);
  raise(SIGTSTP);
  // Resumed.
  signal(SIGTSTP, OnStop);
  if (mode != 0) ApplyMode(mode);
  errno = saved_errno;
}

// Async-signal-safe: the terminal as it was found, the line that says the
// driver library ended the run, and the tool's exit status.
[[noreturn]] void EndRunForTheDriver() {
  RestoreFoundMode();
  if (write(STDOUT_FILENO, kDriverEndedRunMessage, sizeof kDriverEndedRunMessage - 1) < 0) {
    // Nothing more can be told.
  }
  _exit(kExitStatus);
}

void OnFatalSignal(int /*signal_number*/) { EndRunForTheDriver(); }

// An exit() that is not the tool's own comes from the driver library.
void OnExit() {
  if (!g_orderly_end) EndRunForTheDriver();
}

constexpr int kInterruptSignals[] = {SIGINT, SIGTERM, SIGHUP, SIGQUIT};
constexpr int kFatalSignals[] = {SIGSEGV, SIGBUS, SIGILL, SIGFPE, SIGABRT, SIGSYS, SIGTRAP};

void InstallHandler(int signal_number, void (*handler)(int)) {
  struct sigaction action {};
  action.sa_handler = handler;
  sigemptyset(&action.sa_mask);
  for (int s : kInterruptSignals) sigaddset(&action.sa_mask, s);
  // Restart the driver's own system calls; the console's waits use poll(),
  // which the wake pipe ends.
  action.sa_flags = SA_RESTART;
  sigaction(signal_number, &action, nullptr);
}

// The fatal signals' handler runs on a stack of its own, so that a stack
// overflow inside the driver library is caught too.
void InstallFatalHandlers() {
  static char alternate_stack[64 * 1024];
  stack_t stack{};
  stack.ss_sp = alternate_stack;
  stack.ss_size = sizeof alternate_stack;
  sigaltstack(&stack, nullptr);
  struct sigaction action {};
  action.sa_handler = OnFatalSignal;
  sigemptyset(&action.sa_mask);
  // A fault inside the handler itself ends the process the default way.
  action.sa_flags = SA_ONSTACK | SA_RESETHAND;
  for (int s : kFatalSignals) sigaction(s, &action, nullptr);
}

// Standard input, output and error that are closed are taken by /dev/null
// opened the wrong way round: reads of input fail as ended input, writes of
// output fail as a closed output does, and no later descriptor takes them.
void HoldStandardDescriptors() {
  constexpr int kFlags[] = {O_WRONLY, O_RDONLY, O_RDONLY};
  for (int fd = STDIN_FILENO; fd <= STDERR_FILENO; ++fd) {
    if (fcntl(fd, F_GETFD) != -1 || errno != EBADF) continue;
    const int held = open("/dev/null", kFlags[fd]);
    if (held >= 0 && held != fd) {
      dup2(held, fd);
      close(held);
    }
  }
}

bool IsPrintable(unsigned char c) { return c >= 0x20 && c <= 0x7E; }

class PosixTerminal final : public BufferedTerminal, private ByteSource {
 public:
  PosixTerminal();
  ~PosixTerminal() override;

  void Clear() override;
  bool Print(std::string_view text) override;
  bool PrintSystemText(std::string_view utf8) override {
    return !Leaving() && Flush() && Write(utf8);
  }
  std::optional<unsigned char> ReadKey(Echo echo) override;
  bool KeyWaiting() override;
  bool Leaving() const override { return g_interrupted || input_ended_ || output_failed_; }

 private:
  enum class ByteRead { kByte, kTimeout, kEnded, kInterrupted };

  // One byte of standard input; timeout_ms < 0 waits for ever.
  ByteRead ReadByte(int timeout_ms, unsigned char* byte);
  // ByteSource, for the key decoder.
  std::optional<unsigned char> NextWithin(int timeout_ms) override;
  void Unread(unsigned char byte) override { unread_ = byte; }
  std::int64_t NowMs() override;

  // The next key from standard input, blocking; decoded on a terminal.
  std::optional<Key> NextKey();
  // A line of standard input, as typed or as it stands in a pipe.
  LineStatus ReadRawLine(std::string* line, std::size_t capacity) override;

  bool Write(std::string_view bytes);
  // Until standard output can take more; false on an interrupt or an error.
  static bool WaitUntilWritable();
  // Sends a clear that is being held back.
  bool Flush();

  bool input_is_terminal_;
  bool output_is_terminal_;
  bool input_ended_ = false;
  bool output_failed_ = false;
  ScreenFrame frame_;                    // a clear not sent yet
  std::optional<unsigned char> unread_;  // handed back by the decoder
  KeyDecoder decoder_;                   // remembers a sequence broken off by a pause
  std::optional<unsigned char> second_;  // of a special key, not read yet
};

PosixTerminal::PosixTerminal()
    : input_is_terminal_(isatty(STDIN_FILENO) == 1),
      output_is_terminal_(isatty(STDOUT_FILENO) == 1) {
  if (input_is_terminal_ && tcgetattr(STDIN_FILENO, &g_found) == 0) {
    g_raw = g_found;
    // Keys one at a time, unechoed, CR kept as CR (Enter reads as 13), no
    // flow control; output processing stays on. Ctrl-\ is a plain key.
    g_raw.c_iflag &= ~(ICRNL | INLCR | IGNCR | IXON | ISTRIP);
    g_raw.c_lflag &= ~(ICANON | ECHO | IEXTEN);
    g_raw.c_cc[VQUIT] = _POSIX_VDISABLE;
    g_raw.c_cc[VMIN] = 1;
    g_raw.c_cc[VTIME] = 0;
    g_raw_key_read = g_raw;
    g_raw_key_read.c_cc[VINTR] = _POSIX_VDISABLE;
    ApplyMode(kModeRaw);
  } else {
    input_is_terminal_ = false;
  }
}

// The handlers stay to the end of the process: the guard's.
PosixTerminal::~PosixTerminal() {
  if (!output_failed_) Flush();
  if (g_mode != 0) tcsetattr(STDIN_FILENO, TCSADRAIN, &g_found);
  g_mode = 0;
}

void PosixTerminal::Clear() {
  if (output_is_terminal_) frame_.Clear();
}

// Zeros when output is no terminal.
ScreenSize OutputSize() {
  winsize size{};
  if (ioctl(STDOUT_FILENO, TIOCGWINSZ, &size) != 0) return {};
  return {size.ws_col, size.ws_row};
}

bool PosixTerminal::Print(std::string_view text) {
  if (Leaving()) return false;
  const std::string bytes = Windows1252ToUtf8(frame_.Print(text, OutputSize()));
  return Write(bytes);
}

bool PosixTerminal::Flush() {
  const std::string bytes = frame_.Flush(KeyWaiting());
  return bytes.empty() || Write(bytes);
}

bool PosixTerminal::Write(std::string_view bytes) {
  while (!bytes.empty()) {
    // cppcheck-suppress invalidLifetime ; every caller's string outlives the call
    const ssize_t written = write(STDOUT_FILENO, bytes.data(), bytes.size());
    if (written > 0) {
      bytes.remove_prefix(static_cast<std::size_t>(written));
      continue;
    }
    if (written < 0 && errno == EINTR) continue;
    // An output left non-blocking (by an earlier program or the driver
    // library) that cannot take more yet: wait until it can.
    if (written < 0 && (errno == EAGAIN || errno == EWOULDBLOCK) && WaitUntilWritable()) continue;
    output_failed_ = true;
    return false;
  }
  return true;
}

bool PosixTerminal::WaitUntilWritable() {
  for (;;) {
    if (g_interrupted) return false;
    pollfd fds[2] = {{STDOUT_FILENO, POLLOUT, 0}, {g_wake_read_fd, POLLIN, 0}};
    const int ready = poll(fds, g_wake_read_fd >= 0 ? 2 : 1, -1);
    if (ready < 0 && errno == EINTR) continue;
    return ready > 0 && !g_interrupted && fds[0].revents != 0;
  }
}

PosixTerminal::ByteRead PosixTerminal::ReadByte(int timeout_ms, unsigned char* byte) {
  if (unread_) {
    *byte = *unread_;
    unread_.reset();
    return ByteRead::kByte;
  }
  using Clock = std::chrono::steady_clock;
  const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(timeout_ms);
  for (;;) {
    if (g_interrupted) return ByteRead::kInterrupted;
    int wait_ms = -1;
    if (timeout_ms >= 0) {
      const auto left =
          std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
      wait_ms = left.count() > 0 ? static_cast<int>(left.count()) : 0;
    }
    pollfd fds[2] = {{STDIN_FILENO, POLLIN, 0}, {g_wake_read_fd, POLLIN, 0}};
    const int ready = poll(fds, g_wake_read_fd >= 0 ? 2 : 1, wait_ms);
    if (ready < 0 && errno == EINTR) continue;
    if (ready == 0) return ByteRead::kTimeout;
    if (g_interrupted) return ByteRead::kInterrupted;
    if (ready > 0 && fds[0].revents == 0) continue;
    const ssize_t got = ready > 0 ? read(STDIN_FILENO, byte, 1) : -1;
    if (got == 1) return ByteRead::kByte;
    if (got < 0 && (errno == EINTR || errno == EAGAIN)) continue;
    input_ended_ = true;  // end of file, a hung-up terminal, a bad descriptor
    return ByteRead::kEnded;
  }
}

std::optional<unsigned char> PosixTerminal::NextWithin(int timeout_ms) {
  unsigned char byte = 0;
  if (ReadByte(timeout_ms, &byte) == ByteRead::kByte) return byte;
  return std::nullopt;
}

std::int64_t PosixTerminal::NowMs() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

std::optional<Key> PosixTerminal::NextKey() {
  unsigned char byte = 0;
  if (ReadByte(-1, &byte) != ByteRead::kByte) return std::nullopt;
  if (!input_is_terminal_) return Key{byte, std::nullopt};
  const Key key = decoder_.Decode(byte, *this);
  if (g_interrupted) return std::nullopt;
  return key;
}

std::optional<unsigned char> PosixTerminal::ReadKey(Echo echo) {
  if (Leaving()) return std::nullopt;
  if (second_) {
    const unsigned char code = *second_;
    second_.reset();
    return code;
  }
  if (!Flush()) return std::nullopt;
  // While the tool waits for a key, Ctrl-C is key 3, as on the target
  // console. A key already waiting (a live reading's) is read without that
  // switch, so a Ctrl-C pressed meanwhile still interrupts.
  const bool blocks = input_is_terminal_ && !KeyWaiting();
  if (blocks) ApplyMode(kModeKeyRead);
  const std::optional<Key> key = NextKey();
  if (blocks) ApplyMode(kModeRaw);
  if (!key) return std::nullopt;
  second_ = key->second;
  if (echo == Echo::kYes && !key->second && IsPrintable(key->first) &&
      !Write(std::string_view(reinterpret_cast<const char*>(&key->first), 1))) {
    return std::nullopt;
  }
  return key->first;
}

bool PosixTerminal::KeyWaiting() {
  if (Leaving()) return false;
  if (second_ || unread_) return true;
  pollfd fd = {STDIN_FILENO, POLLIN, 0};
  return poll(&fd, 1, 0) > 0 && fd.revents != 0;
}

LineStatus PosixTerminal::ReadRawLine(std::string* line, std::size_t capacity) {
  if (Leaving() || !Flush()) return LineStatus::kLeave;
  if (input_is_terminal_) {
    // The terminal's characters are UTF-8, as the tool's messages are.
    return EditTypedLine([this] { return NextKey(); },
                         [this](std::string_view shown) { return Write(shown); }, line, capacity,
                         LineEditor::Encoding::kUtf8);
  }
  return ReadLineOfBytes([this] { return NextWithin(-1); }, line, capacity);
}

}  // namespace

ProcessGuard::ProcessGuard() {
  HoldStandardDescriptors();
  int wake[2];
  if (pipe(wake) == 0) {
    for (int fd : wake) {
      fcntl(fd, F_SETFD, FD_CLOEXEC);
      fcntl(fd, F_SETFL, O_NONBLOCK);
    }
    g_wake_read_fd = wake[0];
    g_wake_fd = wake[1];
  }
  for (int s : kInterruptSignals) InstallHandler(s, OnInterrupt);
  InstallHandler(SIGTSTP, OnStop);
  InstallFatalHandlers();
  std::atexit(OnExit);
  // A closed output shows as a failed write, not as a fatal signal.
  signal(SIGPIPE, SIG_IGN);
}

ProcessGuard::~ProcessGuard() { g_orderly_end = 1; }

std::unique_ptr<Terminal> OpenConsole() { return std::make_unique<PosixTerminal>(); }
