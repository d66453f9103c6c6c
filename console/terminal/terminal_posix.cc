// The console on a POSIX terminal. Standard input is put in raw mode for the
// whole run so that keys arrive one at a time; special keys arrive as escape
// sequences and are decoded into the target console's two-byte keys. From a
// pipe or a file every byte is one key. The process guard gives the terminal
// back from its handlers (an interrupt's second press, Ctrl-Z, a run the
// driver library ends) through GiveBackFoundMode and TakeModeAgain.
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

#include "console/terminal/console_terminal.h"
#include "console/terminal/key_decoder.h"
#include "console/terminal/process_guard.h"
#include "console/terminal/screen_frame.h"
#include "console/terminal/terminal.h"
#include "console/terminal/terminfo_keys.h"
#include "console/terminal/windows_1252.h"

namespace {

// Terminal modes, set up before the guard's handlers may apply them and
// read-only afterwards.
struct termios g_found;            // as the tool found the terminal
struct termios g_raw;              // the run's mode
struct termios g_raw_key_read;     // the same, with Ctrl-C as a plain key
volatile sig_atomic_t g_mode = 0;  // which of the two is in force; 0: none
constexpr sig_atomic_t kModeRaw = 1;
constexpr sig_atomic_t kModeKeyRead = 2;

// Async-signal-safe, as are the two below.
void ApplyMode(sig_atomic_t mode) {
  g_mode = mode;
  if (mode == kModeRaw) tcsetattr(STDIN_FILENO, TCSANOW, &g_raw);
  if (mode == kModeKeyRead) tcsetattr(STDIN_FILENO, TCSANOW, &g_raw_key_read);
}

void GiveBackFoundMode() {
  if (g_mode != 0) tcsetattr(STDIN_FILENO, TCSANOW, &g_found);
}

void TakeModeAgain() {
  if (g_mode != 0) ApplyMode(g_mode);
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
  bool Write(std::string_view bytes) override;
  bool WriteSystemText(std::string_view utf8) override { return Write(utf8); }
  // A line of standard input, as typed or as it stands in a pipe.
  LineStatus ReadRawLine(std::string* line, std::size_t capacity) override;

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

  bool input_is_terminal_;
  bool output_is_terminal_;
  ScreenFrame frame_;   // a clear not sent yet
  std::string unread_;  // handed back by the decoder, the last one first
  KeyDecoder decoder_;  // knows the terminal's key strings; remembers a broken sequence
};

PosixTerminal::PosixTerminal()
    : input_is_terminal_(isatty(STDIN_FILENO) == 1),
      output_is_terminal_(isatty(STDOUT_FILENO) == 1),
      decoder_(input_is_terminal_ ? ReadTerminalKeys(std::getenv("TERM"))
                                  : std::vector<TerminalKey>{}) {
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
    SetTerminalHold({GiveBackFoundMode, TakeModeAgain});
    ApplyMode(kModeRaw);
  } else {
    input_is_terminal_ = false;
  }
}

PosixTerminal::~PosixTerminal() {
  if (!output_failed()) Flush();
  if (g_mode != 0) tcsetattr(STDIN_FILENO, TCSADRAIN, &g_found);
  g_mode = 0;
  SetTerminalHold({});
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
    OutputFailed();
    return false;
  }
  return true;
}

bool PosixTerminal::WaitUntilWritable() {
  const int wake = InterruptWakeFd();
  for (;;) {
    if (InterruptRequested()) return false;
    pollfd fds[2] = {{STDOUT_FILENO, POLLOUT, 0}, {wake, POLLIN, 0}};
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
  for (;;) {
    if (InterruptRequested()) return ByteRead::kInterrupted;
    int wait_ms = -1;
    if (timeout_ms >= 0) {
      const auto left =
          std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
      wait_ms = left.count() > 0 ? static_cast<int>(left.count()) : 0;
    }
    pollfd fds[2] = {{STDIN_FILENO, POLLIN, 0}, {wake, POLLIN, 0}};
    const int ready = poll(fds, wake >= 0 ? 2 : 1, wait_ms);
    if (ready < 0 && errno == EINTR) continue;
    if (ready == 0) return ByteRead::kTimeout;
    if (InterruptRequested()) return ByteRead::kInterrupted;
    if (ready > 0 && fds[0].revents == 0) continue;
    const ssize_t got = ready > 0 ? read(STDIN_FILENO, byte, 1) : -1;
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
  return key;
}

bool PosixTerminal::KeyPending() {
  if (!unread_.empty()) return true;
  pollfd fd = {STDIN_FILENO, POLLIN, 0};
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

std::unique_ptr<Terminal> OpenConsole() { return std::make_unique<PosixTerminal>(); }
