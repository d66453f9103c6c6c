// The console on a POSIX terminal. Standard input is put in raw mode for the
// whole run so that keys arrive one at a time; special keys arrive as escape
// sequences and are decoded into the target console's two-byte keys. From a
// pipe or a file every byte is one key. The terminal is read, written and set
// through the descriptors the process guard holds, never through 0 and 1,
// which the driver library may close or reopen. The process guard gives the
// terminal back from its handlers (an interrupt's second press, Ctrl-Z, a run
// the driver library ends) through GiveBackFoundMode and TakeModeAgain.
#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdint>
#include <cstdlib>
#include <ctime>
#include <string>

#include "console/terminal/console_terminal.h"
#include "console/terminal/key_decoder.h"
#include "console/terminal/process_guard.h"
#include "console/terminal/screen_frame.h"
#include "console/terminal/terminal.h"
#include "console/terminal/terminfo_keys.h"
#include "console/terminal/windows_1252.h"

namespace {

// How often, at most, the tool looks again at what a driver library may have
// changed: the signal state, the terminal's mode, the screen.
constexpr std::int64_t kHoldCheckMs = 100;

// The terminal as held (HoldConsole), and its modes: set up before the
// guard's handlers may apply them and read-only afterwards.
int g_input = STDIN_FILENO;
int g_output = STDOUT_FILENO;
bool g_held = false;
bool g_found_saved = false;        // input is a terminal, its modes in g_found
struct termios g_found;            // as the tool found the terminal
struct termios g_raw;              // the run's mode
struct termios g_raw_key_read;     // the same, with Ctrl-C as a plain key
volatile sig_atomic_t g_mode = 0;  // which of the two is in force; 0: none
constexpr sig_atomic_t kModeRaw = 1;
constexpr sig_atomic_t kModeKeyRead = 2;
std::atomic<bool> g_switching{false};  // the main thread is setting a mode

const struct termios& ModeSettings(sig_atomic_t mode) {
  return mode == kModeKeyRead ? g_raw_key_read : g_raw;
}

// Async-signal-safe, as are the two below. A run that the guard ends on
// another thread (a library thread's crash) may give the terminal back while
// a switch is under way: the guard waits for a switch in progress, and a
// switch that lands after the give-back gives it back again.
void ApplyMode(sig_atomic_t mode) {
  g_mode = mode;
  g_switching = true;
  if (!RunEnding()) tcsetattr(g_input, TCSANOW, &ModeSettings(mode));
  g_switching = false;
  if (RunEnding()) tcsetattr(g_input, TCSANOW, &g_found);
}

void GiveBackFoundMode() {
  if (!g_found_saved) return;
  // Bounded: the handler may have interrupted the switch on its own thread.
  const timespec millisecond{0, 1000L * 1000};
  for (int waited = 0; RunEnding() && g_switching && waited < 50; ++waited)
    nanosleep(&millisecond, nullptr);
  tcsetattr(g_input, TCSANOW, &g_found);
}

void TakeModeAgain() {
  const sig_atomic_t mode = g_mode;
  if (mode != 0 && !RunEnding()) tcsetattr(g_input, TCSANOW, &ModeSettings(mode));
}

// Milliseconds on a clock that never goes back, read at a sample's cost: a
// coarse clock where there is one (a few milliseconds' resolution is plenty
// for KeepHold).
std::int64_t HoldClockMs() {
#if defined(CLOCK_MONOTONIC_COARSE)
  constexpr clockid_t kClock = CLOCK_MONOTONIC_COARSE;
#else
  constexpr clockid_t kClock = CLOCK_MONOTONIC;
#endif
  timespec now{};
  clock_gettime(kClock, &now);
  return static_cast<std::int64_t>(now.tv_sec) * 1000 + now.tv_nsec / (1000L * 1000);
}

// Whether two settings agree on every flag and control character.
bool SameMode(const struct termios& a, const struct termios& b) {
  return a.c_iflag == b.c_iflag && a.c_oflag == b.c_oflag && a.c_lflag == b.c_lflag &&
         std::equal(std::begin(a.c_cc), std::end(a.c_cc), std::begin(b.c_cc));
}

class PosixTerminal final : public ConsoleTerminal, private ByteSource {
 public:
  PosixTerminal();
  ~PosixTerminal() override;

  void Clear() override;
  bool Print(std::string_view text) override;

 private:
  enum class ByteRead { kByte, kTimeout, kEnded, kInterrupted };

  // The console's primitives.
  std::optional<Key> NextKey(CtrlC ctrl_c, KeyContext context) override;
  bool KeyPending() override;
  bool Interrupted() const override { return InterruptRequested(); }
  bool Flush() override;
  // What the key protocol writes (echo) and the system's text: nothing the
  // frame drew.
  bool Write(std::string_view bytes) override;
  bool WriteSystemText(std::string_view utf8) override { return Write(utf8); }
  // A line of standard input, as typed or as it stands in a pipe.
  LineStatus ReadRawLine(std::string* line, std::size_t capacity) override;

  // Writes bytes to the terminal as they stand; false when output failed.
  bool Send(std::string_view bytes);
  // One byte of standard input; timeout_ms < 0 waits for ever.
  ByteRead ReadByte(int timeout_ms, unsigned char* byte);
  // ByteSource, for the key decoder.
  std::optional<unsigned char> NextWithin(int timeout_ms) override;
  void Unread(unsigned char byte) override { unread_ += static_cast<char>(byte); }
  std::int64_t NowMs() override;

  // The next key from standard input, blocking; decoded on a terminal.
  std::optional<Key> NextDecodedKey(KeyContext context);
  // Until standard output can take more; false on an interrupt or an error.
  static bool WaitUntilWritable();

  // Puts back what a driver library may have changed since the last look:
  // the guard's signal state, the run's mode on the terminal, and (with the
  // next sample drawn whole) the screen. At most every kHoldCheckMs unless
  // `now`.
  void KeepHold(bool now);
  // After a stop: the screen drawn again as the tool last left it.
  void DrawAgainAfterStop();

  bool input_is_terminal_ = false;
  bool output_is_terminal_ = false;
  bool wrote_ = false;                   // anything reached the output
  std::int64_t next_hold_check_ms_ = 0;  // when KeepHold looks again
  ScreenFrame frame_;                    // a clear not sent yet
  std::string unread_;                   // handed back by the decoder, the last one first
  KeyDecoder decoder_;  // knows the terminal's key strings; remembers a broken sequence
};

PosixTerminal::PosixTerminal() {
  HoldConsole();
  output_is_terminal_ = isatty(g_output) == 1;
  if (g_found_saved) {
    input_is_terminal_ = true;
    decoder_ = KeyDecoder(ReadTerminalKeys(std::getenv("TERM")));
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
  }
}

PosixTerminal::~PosixTerminal() {
  if (g_mode != 0) tcsetattr(g_input, TCSADRAIN, &g_found);
  g_mode = 0;
  // The last screen stays as it stands (a clear still held is dropped), and
  // the shell's prompt comes on a line of its own.
  struct termios output {};
  if (!output_failed() && wrote_ && tcgetattr(g_output, &output) == 0)
    Send((output.c_oflag & (OPOST | ONLCR)) == (OPOST | ONLCR) ? "\n" : "\r\n");
}

void PosixTerminal::Clear() {
  if (output_is_terminal_) frame_.Clear();
}

// Zeros when output is no terminal.
ScreenSize OutputSize() {
  winsize size{};
  if (ioctl(g_output, TIOCGWINSZ, &size) != 0) return {};
  return {size.ws_col, size.ws_row};
}

void PosixTerminal::KeepHold(bool now) {
  const std::int64_t now_ms = HoldClockMs();
  if (!now && now_ms < next_hold_check_ms_) return;
  next_hold_check_ms_ = now_ms + kHoldCheckMs;
  ReassertSignalState();
  // A library that set the terminal's modes itself (canonical mode, where
  // Escape waits for a line end; no signals, where Ctrl-C does nothing).
  struct termios in_force {};
  const sig_atomic_t mode = g_mode;
  if (mode != 0 && tcgetattr(g_input, &in_force) == 0 && !SameMode(in_force, ModeSettings(mode)))
    ApplyMode(mode);
  // Whatever else wrote to the screen meanwhile is drawn over.
  frame_.RepaintWhole();
}

void PosixTerminal::DrawAgainAfterStop() {
  frame_.RepaintWhole();
  const std::string bytes = Windows1252ToUtf8(frame_.Redraw(OutputSize()));
  if (!bytes.empty()) Send(bytes);
}

bool PosixTerminal::Print(std::string_view text) {
  if (Leaving()) return false;
  KeepHold(false);
  if (TakeResumed()) frame_.RepaintWhole();
  const std::string bytes = Windows1252ToUtf8(frame_.Print(text, OutputSize()));
  return Send(bytes);
}

bool PosixTerminal::Flush() {
  const std::string bytes = frame_.Flush(KeyWaiting());
  return bytes.empty() || Send(bytes);
}

bool PosixTerminal::Write(std::string_view bytes) {
  frame_.Forget();
  return Send(bytes);
}

bool PosixTerminal::Send(std::string_view bytes) {
  if (!bytes.empty()) wrote_ = true;
  while (!bytes.empty()) {
    // cppcheck-suppress invalidLifetime ; every caller's string outlives the call
    const ssize_t written = write(g_output, bytes.data(), bytes.size());
    if (written > 0) {
      bytes.remove_prefix(static_cast<std::size_t>(written));
      continue;
    }
    if (written < 0 && errno == EINTR) continue;
    // An output left non-blocking (by an earlier program or the driver
    // library) that cannot take more yet: wait until it can.
    if (written < 0 && (errno == EAGAIN || errno == EWOULDBLOCK) && WaitUntilWritable()) continue;
    OutputFailed();
    return false;
  }
  return true;
}

bool PosixTerminal::WaitUntilWritable() {
  const int wake = InterruptWakeFd();
  for (;;) {
    if (InterruptRequested()) return false;
    pollfd fds[2] = {{g_output, POLLOUT, 0}, {wake, POLLIN, 0}};
    const int ready = poll(fds, wake >= 0 ? 2 : 1, -1);
    if (ready < 0 && errno == EINTR) continue;
    return ready > 0 && !InterruptRequested() && fds[0].revents != 0;
  }
}

PosixTerminal::ByteRead PosixTerminal::ReadByte(int timeout_ms, unsigned char* byte) {
  if (!unread_.empty()) {
    *byte = static_cast<unsigned char>(unread_.back());
    unread_.pop_back();
    return ByteRead::kByte;
  }
  using Clock = std::chrono::steady_clock;
  const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(timeout_ms);
  const int wake = InterruptWakeFd();
  // When a wait for a key begins (nothing is ready yet), whatever the driver
  // library did last is put right first, and again while the wait goes on.
  KeepHold(false);
  bool wait_begins = timeout_ms < 0;
  for (;;) {
    if (InterruptRequested()) return ByteRead::kInterrupted;
    if (TakeResumed()) DrawAgainAfterStop();
    int wait_ms = static_cast<int>(kHoldCheckMs);
    if (timeout_ms >= 0) {
      const auto left =
          std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
      wait_ms = std::clamp(static_cast<int>(left.count()), 0, wait_ms);
    }
    pollfd fds[2] = {{g_input, POLLIN, 0}, {wake, POLLIN, 0}};
    const int ready = poll(fds, wake >= 0 ? 2 : 1, wait_begins ? 0 : wait_ms);
    if (ready < 0 && errno == EINTR) continue;
    if (ready == 0 && wait_begins) {
      wait_begins = false;
      KeepHold(true);
      continue;
    }
    if (ready == 0) {
      if (timeout_ms >= 0 && Clock::now() >= deadline) return ByteRead::kTimeout;
      KeepHold(false);
      continue;
    }
    if (InterruptRequested()) return ByteRead::kInterrupted;
    if (ready > 0 && fds[0].revents == 0) continue;
    const ssize_t got = ready > 0 ? read(g_input, byte, 1) : -1;
    if (got == 1) return ByteRead::kByte;
    if (got < 0 && (errno == EINTR || errno == EAGAIN)) continue;
    InputEnded();  // end of file, a hung-up terminal, a bad descriptor
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

std::optional<Key> PosixTerminal::NextDecodedKey(KeyContext context) {
  unsigned char byte = 0;
  if (ReadByte(-1, &byte) != ByteRead::kByte) return std::nullopt;
  if (!input_is_terminal_) return Key{byte, std::nullopt};
  const Key key = decoder_.Decode(byte, *this, context);
  if (InterruptRequested()) return std::nullopt;
  return key;
}

std::optional<Key> PosixTerminal::NextKey(CtrlC ctrl_c, KeyContext context) {
  const bool switch_mode = ctrl_c == CtrlC::kIsKey && input_is_terminal_;
  if (switch_mode) ApplyMode(kModeKeyRead);
  std::optional<Key> key = NextDecodedKey(context);
  if (switch_mode) ApplyMode(kModeRaw);
  // In the run's mode Ctrl-C is a signal, never a byte: one read as a byte
  // came while a driver library's mode was in force, and interrupts as the
  // signal would have.
  constexpr Key kCtrlC{3, std::nullopt};
  if (ctrl_c == CtrlC::kInterrupts && input_is_terminal_ && key == kCtrlC) {
    pthread_kill(pthread_self(), SIGINT);  // handled before this returns
    if (InterruptRequested()) return std::nullopt;
  }
  return key;
}

bool PosixTerminal::KeyPending() {
  if (!unread_.empty()) return true;
  pollfd fd = {g_input, POLLIN, 0};
  return poll(&fd, 1, 0) > 0 && fd.revents != 0;
}

LineStatus PosixTerminal::ReadRawLine(std::string* line, std::size_t capacity) {
  if (Leaving() || !Flush()) return LineStatus::kLeave;
  if (input_is_terminal_) {
    // The terminal's characters are UTF-8, as the tool's messages are.
    return EditTypedLine([this] { return NextKey(CtrlC::kInterrupts, KeyContext::kPrompt); },
                         [this](std::string_view shown) { return Write(shown); }, line, capacity,
                         LineEditor::Encoding::kUtf8);
  }
  return ReadLineOfBytes([this] { return NextWithin(-1); }, line, capacity);
}

}  // namespace

void HoldConsole() {
  if (g_held) return;
  g_held = true;
  g_input = HeldInputFd();
  g_output = HeldOutputFd();
  if (isatty(g_input) == 1 && tcgetattr(g_input, &g_found) == 0) {
    g_found_saved = true;
    SetTerminalHold({GiveBackFoundMode, TakeModeAgain});
  }
}

std::unique_ptr<Terminal> OpenConsole() { return std::make_unique<PosixTerminal>(); }
