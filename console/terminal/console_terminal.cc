#include "console/terminal/console_terminal.h"

#include <algorithm>
#include <cstring>

#include "console/terminal/line_editor.h"

namespace {

// The longest line a number prompt takes in; a longer one is no number.
constexpr std::size_t kLongestNumberLine = 4096;

}  // namespace

bool ConsoleTerminal::PrintSystemText(std::string_view utf8) {
  return !Leaving() && Flush() && WriteSystemText(utf8);
}

std::optional<unsigned char> ConsoleTerminal::ReadKey(Echo echo) {
  return ReadKeyIn(KeyContext::kMenu, echo);
}

std::optional<unsigned char> ConsoleTerminal::ReadLiveReadingKey() {
  return ReadKeyIn(KeyContext::kLiveReading, Echo::kNo);
}

std::optional<unsigned char> ConsoleTerminal::ReadKeyIn(KeyContext context, Echo echo) {
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
  const std::optional<Key> key =
      NextKey(KeyPending() ? CtrlC::kInterrupts : CtrlC::kIsKey, context);
  if (!key) return std::nullopt;
  second_ = key->second;
  if (echo == Echo::kYes && !key->second && IsPrintableAscii(key->first)) {
    const char shown = static_cast<char>(key->first);
    if (!Write(std::string_view(&shown, 1))) return std::nullopt;
  }
  return key->first;
}

bool ConsoleTerminal::KeyWaiting() {
  if (Leaving()) return false;
  return second_ || KeyPending();
}

LineStatus ConsoleTerminal::ReadLine(std::span<char> buffer) {
  if (buffer.empty()) return LineStatus::kTooLong;
  const std::size_t capacity = buffer.size() - 1;
  std::string line;
  LineStatus status = LineStatus::kOk;
  // As gets: what a number read left buffered comes first.
  if (!buffer_.TakeLine(&line))
    status = ReadRawLine(&line, capacity);
  else if (line.size() > capacity)
    status = LineStatus::kTooLong;
  if (status == LineStatus::kOk && !std::all_of(line.begin(), line.end(), [](char c) {
        return IsPrintableAscii(static_cast<unsigned char>(c));
      })) {
    status = LineStatus::kNotPrintable;
  }
  if (status == LineStatus::kOk) {
    std::memcpy(buffer.data(), line.data(), line.size());
    buffer[line.size()] = '\0';
  }
  return status;
}

NumberStatus ConsoleTerminal::ReadFloat(float* value) {
  if (Leaving()) return NumberStatus::kLeave;
  return buffer_.ReadFloat(
      value, [this](std::string* line) { return ReadRawLine(line, kLongestNumberLine); });
}

NumberStatus ConsoleTerminal::ReadInt(std::int32_t* value) {
  if (Leaving()) return NumberStatus::kLeave;
  return buffer_.ReadInt(
      value, [this](std::string* line) { return ReadRawLine(line, kLongestNumberLine); });
}

LineStatus EditTypedLine(const std::function<std::optional<Key>()>& next_key,
                         const std::function<bool(std::string_view)>& echo, std::string* line,
                         std::size_t capacity, LineEditor::Encoding encoding) {
  LineEditor editor(capacity, encoding);
  for (;;) {
    const std::optional<Key> key = next_key();
    if (!key) return LineStatus::kLeave;
    std::string shown;
    const bool done = editor.Press(*key, &shown);
    if (!shown.empty() && !echo(shown)) return LineStatus::kLeave;
    if (done) break;
  }
  *line = editor.line();
  return editor.too_long() ? LineStatus::kTooLong : LineStatus::kOk;
}

LineStatus ReadLineOfBytes(const std::function<std::optional<unsigned char>()>& next_byte,
                           std::string* line, std::size_t capacity) {
  line->clear();
  bool too_long = false;
  bool carriage_return = false;
  auto keep = [&](unsigned char c) {
    if (line->size() < capacity)
      *line += static_cast<char>(c);
    else
      too_long = true;
  };
  for (;;) {
    const std::optional<unsigned char> byte = next_byte();
    if (!byte) return LineStatus::kLeave;
    if (*byte == '\n') break;
    if (carriage_return) keep('\r');
    carriage_return = *byte == '\r';
    if (!carriage_return) keep(*byte);
  }
  return too_long ? LineStatus::kTooLong : LineStatus::kOk;
}
