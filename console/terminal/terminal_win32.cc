// The console on Windows. Keys come from the console input API, which gives
// special keys as key events that become the console runtime's two-byte
// keys; lines and numbers are edited and buffered here, so that discarding
// buffered input means the same on every C runtime. From redirected input
// every byte is one key. The process guard gives the console modes back
// from its handlers (an interrupt's second event, a run the driver library
// ends) through RestoreConsoleModes.
#include <windows.h>

#include <algorithm>
#include <string>
#include <string_view>

#include "console/terminal/console_terminal.h"
#include "console/terminal/process_guard.h"
#include "console/terminal/screen_frame.h"
#include "console/terminal/terminal.h"
#include "console/terminal/windows_1252.h"
#include "console/terminal/windows_console_keys.h"

#ifndef ENABLE_VIRTUAL_TERMINAL_PROCESSING
#define ENABLE_VIRTUAL_TERMINAL_PROCESSING 0x0004
#endif

namespace {

// How often a wait for piped input looks again: a pipe gives no wait that an
// interrupt can end.
constexpr DWORD kPipePollMs = 10;
// How often a live reading's sample is drawn whole at least, over whatever
// else (a driver library's own lines) reached the console.
constexpr ULONGLONG kRepaintWholeMs = 100;

// Set up by HoldConsole before the guard's handlers may use them (on a thread
// of their own) and read-only afterwards.
bool g_held = false;
HANDLE g_input = INVALID_HANDLE_VALUE;
HANDLE g_output = INVALID_HANDLE_VALUE;
DWORD g_found_input_mode = 0;
DWORD g_found_output_mode = 0;
bool g_input_is_console = false;
bool g_output_is_console = false;

void RestoreConsoleModes() {
  if (g_input_is_console) SetConsoleMode(g_input, g_found_input_mode);
  if (g_output_is_console) SetConsoleMode(g_output, g_found_output_mode);
}

bool WriteAll(HANDLE output, std::string_view bytes) {
  while (!bytes.empty()) {
    DWORD written = 0;
    if (!WriteFile(output, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) ||
        written == 0)
      return false;
    bytes.remove_prefix(written);
  }
  return true;
}

// Redirected output as the console runtime's text mode writes it: each "\n"
// as "\r\n".
bool WriteAsText(HANDLE output, std::string_view bytes) {
  char chunk[512];
  std::size_t used = 0;
  for (const char c : bytes) {
    if (used + 2 > sizeof chunk) {
      if (!WriteAll(output, std::string_view(chunk, used))) return false;
      used = 0;
    }
    if (c == '\n') chunk[used++] = '\r';
    chunk[used++] = c;
  }
  return WriteAll(output, std::string_view(chunk, used));
}

class WindowsTerminal final : public ConsoleTerminal {
 public:
  WindowsTerminal();
  ~WindowsTerminal() override;

  void Clear() override;
  bool Print(std::string_view text) override;

 private:
  // The console's primitives.
  // The console gives whole keys: the context changes nothing.
  std::optional<Key> NextKey(CtrlC ctrl_c, KeyContext context) override;
  bool KeyPending() override;
  bool Interrupted() const override { return InterruptRequested(); }
  bool Flush() override;
  bool Write(std::string_view windows_1252) override;
  bool WriteSystemText(std::string_view utf8) override { return WriteUtf8(utf8); }
  LineStatus ReadRawLine(std::string* line, std::size_t capacity) override;

  std::optional<Key> NextConsoleKey();
  std::optional<Key> NextRedirectedKey();
  // Until redirected input can be read without blocking; false when an
  // interrupt comes first.
  static bool WaitForRedirectedInput();
  // Whether the console holds a press that gives a key; drops other events.
  static bool ConsoleKeyPending();

  // Write() for UTF-8 text; redirected, in the system's ANSI code page.
  bool WriteUtf8(std::string_view utf8);
  // Redirected output, with the console runtime's line ends.
  bool WriteBytes(std::string_view bytes);
  // A held clear and `text` through the screen API, where the console takes
  // no escape sequences.
  bool ClearWithConsoleApi(std::string_view text);

  bool output_takes_sequences_ = false;
  bool wrote_ = false;                     // anything reached the output
  ULONGLONG next_whole_repaint_ms_ = 0;    // when a sample is drawn whole again
  ScreenFrame frame_;                      // a clear not sent yet, as sequences
  bool held_api_clear_ = false;            // or through the screen API
  std::basic_string<unsigned char> keys_;  // the rest of the last press
};

WindowsTerminal::WindowsTerminal() {
  HoldConsole();
  if (g_input_is_console) {
    // Key events one at a time, unechoed; Ctrl-C stays a signal outside key
    // reads (ENABLE_PROCESSED_INPUT).
    SetConsoleMode(g_input, ENABLE_PROCESSED_INPUT);
  }
  if (g_output_is_console) {
    output_takes_sequences_ =
        SetConsoleMode(g_output, g_found_output_mode | ENABLE_PROCESSED_OUTPUT |
                                     ENABLE_VIRTUAL_TERMINAL_PROCESSING) != 0;
  }
}

WindowsTerminal::~WindowsTerminal() {
  // The last screen stays as it stands (a clear still held is dropped), and
  // the prompt of the command processor comes on a line of its own.
  if (!output_failed() && wrote_ && g_output_is_console) WriteUtf8("\r\n");
  RestoreConsoleModes();
}

void WindowsTerminal::Clear() {
  if (!g_output_is_console) return;
  if (output_takes_sequences_)
    frame_.Clear();
  else
    held_api_clear_ = true;
}

// Text wraps at the buffer's width; sequences place the cursor in the window.
ScreenSize OutputSize() {
  CONSOLE_SCREEN_BUFFER_INFO info;
  if (!GetConsoleScreenBufferInfo(g_output, &info)) return {};
  return {info.dwSize.X, info.srWindow.Bottom - info.srWindow.Top + 1};
}

bool WindowsTerminal::ClearWithConsoleApi(std::string_view text) {
  // As the sequences do: the text is written over the old screen from the
  // top left, and each cell it leaves is blanked once new text shows, so
  // the screen is never empty between two samples of a live reading.
  CONSOLE_SCREEN_BUFFER_INFO info;
  if (!GetConsoleScreenBufferInfo(g_output, &info)) return Write(text);
  const auto width = static_cast<DWORD>(info.dwSize.X);
  const DWORD cells = width * static_cast<DWORD>(info.dwSize.Y);
  const auto blank = [&](COORD from, DWORD count) {
    DWORD written = 0;
    FillConsoleOutputCharacterW(g_output, L' ', count, from, &written);
    FillConsoleOutputAttribute(g_output, info.wAttributes, count, from, &written);
  };
  // The cells from the cursor to the end of its row, or of the screen.
  const auto blank_after_cursor = [&](bool to_end) {
    CONSOLE_SCREEN_BUFFER_INFO now;
    if (!GetConsoleScreenBufferInfo(g_output, &now)) return;
    const COORD at = now.dwCursorPosition;
    const DWORD before = static_cast<DWORD>(at.Y) * width + static_cast<DWORD>(at.X);
    blank(at, to_end ? cells - std::min(before, cells) : width - static_cast<DWORD>(at.X));
  };
  SetConsoleCursorPosition(g_output, COORD{0, 0});
  const std::size_t empty_rows = std::min(text.find_first_not_of('\n'), text.size());
  if (!Write(text.substr(0, empty_rows))) return false;
  text.remove_prefix(empty_rows);
  for (bool first = true;; first = false) {
    const std::size_t end = text.find('\n');
    if (!Write(text.substr(0, end))) return false;
    if (first && empty_rows > 0) blank(COORD{0, 0}, static_cast<DWORD>(empty_rows) * width);
    blank_after_cursor(end == std::string_view::npos);
    if (end == std::string_view::npos) return true;
    if (!Write("\n")) return false;
    text.remove_prefix(end + 1);
  }
}

bool WindowsTerminal::Print(std::string_view text) {
  if (Leaving()) return false;
  if (held_api_clear_) {
    held_api_clear_ = false;
    return ClearWithConsoleApi(text);
  }
  const ULONGLONG now_ms = GetTickCount64();
  if (now_ms >= next_whole_repaint_ms_) {
    next_whole_repaint_ms_ = now_ms + kRepaintWholeMs;
    frame_.RepaintWhole();
  }
  return Write(frame_.Print(text, OutputSize()));
}

bool WindowsTerminal::Flush() {
  // A held clear must show before the tool waits; with a key already
  // waiting it does not wait, and the clear is drawn with the next print.
  const bool key_waiting = KeyWaiting();
  if (held_api_clear_ && !key_waiting) {
    held_api_clear_ = false;
    return ClearWithConsoleApi("");
  }
  const std::string bytes = frame_.Flush(key_waiting);
  return bytes.empty() || Write(bytes);
}

bool WindowsTerminal::Write(std::string_view windows_1252) {
  if (windows_1252.empty()) return true;
  if (g_output_is_console) return WriteUtf8(Windows1252ToUtf8(windows_1252));
  return WriteBytes(windows_1252);  // redirected: the bytes as they are, but line ends
}

bool WindowsTerminal::WriteUtf8(std::string_view utf8) {
  if (utf8.empty()) return true;
  std::wstring wide(utf8.size(), L'\0');
  // The text is the caller's, alive for the whole call, temporary or not.
  // cppcheck-suppress [danglingTemporaryLifetime, invalidLifetime]
  const int length = MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()),
                                         wide.data(), static_cast<int>(wide.size()));
  if (length <= 0) {
    OutputFailed();
    return false;
  }
  wrote_ = true;
  if (g_output_is_console) {
    // As characters, so that every one shows whatever the code page.
    DWORD written = 0;
    if (!WriteConsoleW(g_output, wide.data(), static_cast<DWORD>(length), &written, nullptr)) {
      OutputFailed();
      return false;
    }
    return true;
  }
  const int size =
      WideCharToMultiByte(CP_ACP, 0, wide.data(), length, nullptr, 0, nullptr, nullptr);
  std::string bytes(size > 0 ? static_cast<std::size_t>(size) : 0, '\0');
  WideCharToMultiByte(CP_ACP, 0, wide.data(), length, bytes.data(), size, nullptr, nullptr);
  return WriteBytes(bytes);
}

bool WindowsTerminal::WriteBytes(std::string_view bytes) {
  if (!bytes.empty()) wrote_ = true;
  if (!WriteAsText(g_output, bytes)) {
    OutputFailed();
    return false;
  }
  return true;
}

bool WindowsTerminal::ConsoleKeyPending() {
  for (;;) {
    INPUT_RECORD record;
    DWORD count = 0;
    if (!PeekConsoleInputW(g_input, &record, 1, &count) || count == 0) return false;
    if (record.EventType == KEY_EVENT && record.Event.KeyEvent.bKeyDown) {
      ConsoleKeyPress press;
      press.virtual_key = record.Event.KeyEvent.wVirtualKeyCode;
      press.scan_code = record.Event.KeyEvent.wVirtualScanCode;
      press.control_state = record.Event.KeyEvent.dwControlKeyState;
      if (record.Event.KeyEvent.uChar.UnicodeChar != 0) press.text = "x";
      if (!KeysFromPress(press).empty()) return true;
    }
    ReadConsoleInputW(g_input, &record, 1, &count);  // gives no key: drop it
  }
}

std::optional<Key> WindowsTerminal::NextConsoleKey() {
  while (keys_.empty()) {
    if (InterruptRequested()) return std::nullopt;
    const HANDLE waits[2] = {g_input, InterruptWakeEvent()};
    if (WaitForMultipleObjects(2, waits, FALSE, INFINITE) != WAIT_OBJECT_0) {
      if (!InterruptRequested()) InputEnded();
      return std::nullopt;
    }
    INPUT_RECORD record;
    DWORD count = 0;
    if (!ReadConsoleInputW(g_input, &record, 1, &count)) {
      InputEnded();
      return std::nullopt;
    }
    if (count == 0 || record.EventType != KEY_EVENT || !record.Event.KeyEvent.bKeyDown) continue;
    const KEY_EVENT_RECORD& event = record.Event.KeyEvent;
    ConsoleKeyPress press;
    press.virtual_key = event.wVirtualKeyCode;
    press.scan_code = event.wVirtualScanCode;
    press.control_state = event.dwControlKeyState;
    if (event.uChar.UnicodeChar != 0) {
      // In the console's input code page, as the console runtime gives it.
      char bytes[8];
      const int length = WideCharToMultiByte(GetConsoleCP(), 0, &event.uChar.UnicodeChar, 1, bytes,
                                             sizeof bytes, nullptr, nullptr);
      // One assignment: GCC 12 at -O3 takes an assign then a second one for
      // overlapping copies (-Wrestrict).
      press.text = length > 0 ? std::string(bytes, static_cast<std::size_t>(length)) : "?";
    }
    const std::basic_string<unsigned char> keys = KeysFromPress(press);
    for (WORD repeat = 0; repeat < event.wRepeatCount; ++repeat) keys_ += keys;
  }
  // A special key's two bytes stay together: the first is delivered here,
  // the second by the next key read.
  if (keys_.front() == kGreyLeadIn || keys_.front() == kFunctionLeadIn) {
    if (keys_.size() >= 2) {
      const Key key{keys_[0], keys_[1]};
      keys_.erase(0, 2);
      return key;
    }
  }
  const Key key{keys_.front(), std::nullopt};
  keys_.erase(0, 1);
  return key;
}

bool WindowsTerminal::WaitForRedirectedInput() {
  // A file never blocks; a pipe is looked at until it holds a byte or has
  // been closed (the read then finds the end).
  while (!InterruptRequested() && GetFileType(g_input) == FILE_TYPE_PIPE) {
    DWORD available = 0;
    if (!PeekNamedPipe(g_input, nullptr, 0, nullptr, &available, nullptr) || available > 0) break;
    WaitForSingleObject(InterruptWakeEvent(), kPipePollMs);
  }
  return !InterruptRequested();
}

std::optional<Key> WindowsTerminal::NextRedirectedKey() {
  if (!WaitForRedirectedInput()) return std::nullopt;
  unsigned char byte = 0;
  DWORD read = 0;
  if (!ReadFile(g_input, &byte, 1, &read, nullptr) || read != 1) {
    InputEnded();  // end of input, a broken pipe
    return std::nullopt;
  }
  return Key{byte, std::nullopt};
}

std::optional<Key> WindowsTerminal::NextKey(CtrlC ctrl_c, KeyContext /*context*/) {
  if (!g_input_is_console) return NextRedirectedKey();
  const bool ctrl_c_is_key = ctrl_c == CtrlC::kIsKey;
  if (ctrl_c_is_key) SetConsoleMode(g_input, 0);
  std::optional<Key> key = NextConsoleKey();
  if (ctrl_c_is_key) SetConsoleMode(g_input, ENABLE_PROCESSED_INPUT);
  if (InterruptRequested()) return std::nullopt;
  return key;
}

bool WindowsTerminal::KeyPending() {
  if (!keys_.empty()) return true;
  if (g_input_is_console) return ConsoleKeyPending();
  if (GetFileType(g_input) == FILE_TYPE_PIPE) {
    DWORD available = 0;
    // A broken pipe counts as waiting: the read then finds the end.
    if (!PeekNamedPipe(g_input, nullptr, 0, nullptr, &available, nullptr)) return true;
    return available > 0;
  }
  return true;  // a file holds a byte or its end
}

LineStatus WindowsTerminal::ReadRawLine(std::string* line, std::size_t capacity) {
  if (Leaving() || !Flush()) return LineStatus::kLeave;
  if (g_input_is_console) {
    // The console runtime's keys are single bytes of the console's code page.
    return EditTypedLine([this] { return NextKey(CtrlC::kInterrupts, KeyContext::kPrompt); },
                         [this](std::string_view shown) { return Write(shown); }, line, capacity,
                         LineEditor::Encoding::kSingleByte);
  }
  return ReadLineOfBytes(
      [this]() -> std::optional<unsigned char> {
        const std::optional<Key> key = NextRedirectedKey();
        if (!key) return std::nullopt;
        return key->first;
      },
      line, capacity);
}

}  // namespace

void HoldConsole() {
  if (g_held) return;
  g_held = true;
  g_input = GetStdHandle(STD_INPUT_HANDLE);
  g_input_is_console = GetConsoleMode(g_input, &g_found_input_mode) != 0;
  g_output = GetStdHandle(STD_OUTPUT_HANDLE);
  g_output_is_console = GetConsoleMode(g_output, &g_found_output_mode) != 0;
  SetTerminalHold({RestoreConsoleModes, nullptr});
}

std::unique_ptr<Terminal> OpenConsole() { return std::make_unique<WindowsTerminal>(); }
