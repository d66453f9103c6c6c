// A console driven by a script of keys and lines, recording what is shown.
// Line and number reads go through the real BufferedTerminal, so gets' and
// scanf's rules apply.
#pragma once

#include <deque>
#include <string>

#include "console/buffered_terminal.h"

class FakeTerminal final : public BufferedTerminal {
 public:
  // Keys for ReadKey, in order. Running out of keys, or of lines, is the end
  // of input.
  std::deque<unsigned char> keys;
  // Lines typed at line and number prompts, without their line ends.
  std::deque<std::string> lines;
  // KeyWaiting answers false this many times before it looks at `keys`.
  int polls_before_key = 0;
  // Everything printed, a clear shown as "<CLS>" and an echoed key as itself.
  std::string screen;
  // Set to make the tool leave as on an interrupt.
  bool interrupted = false;

  void Clear() override { screen += "<CLS>"; }
  bool Print(std::string_view text) override {
    if (Leaving()) return false;
    screen += text;
    return true;
  }
  bool PrintSystemText(std::string_view utf8) override { return Print(utf8); }
  std::optional<unsigned char> ReadKey(Echo echo) override {
    if (Leaving() || keys.empty()) {
      ended_ = true;
      return std::nullopt;
    }
    const unsigned char key = keys.front();
    keys.pop_front();
    if (echo == Echo::kYes && key >= 0x20 && key <= 0x7E) screen += static_cast<char>(key);
    return key;
  }
  bool KeyWaiting() override {
    if (polls_before_key > 0) {
      --polls_before_key;
      return false;
    }
    return !keys.empty();
  }
  bool Leaving() const override { return ended_ || interrupted; }

 private:
  LineStatus ReadRawLine(std::string* line, std::size_t capacity) override {
    if (Leaving() || lines.empty()) {
      ended_ = true;
      return LineStatus::kLeave;
    }
    *line = lines.front();
    lines.pop_front();
    screen += *line + "\n";  // typed, then Enter
    return line->size() > capacity ? LineStatus::kTooLong : LineStatus::kOk;
  }

  bool ended_ = false;
};
