// A console driven by a script of keys and lines, recording what is shown.
// Keys, lines and numbers go through the real ConsoleTerminal, so the key
// protocol and gets' and scanf's rules apply.
#pragma once

#include <deque>
#include <string>

#include "console/terminal/console_terminal.h"

class FakeTerminal final : public ConsoleTerminal {
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
  bool KeyWaiting() override {
    if (polls_before_key > 0) {
      --polls_before_key;
      return false;
    }
    return ConsoleTerminal::KeyWaiting();
  }

 private:
  std::optional<Key> NextKey(CtrlC /*ctrl_c*/, KeyContext /*context*/) override {
    if (keys.empty()) {
      InputEnded();
      return std::nullopt;
    }
    const unsigned char key = keys.front();
    keys.pop_front();
    return Key{key, std::nullopt};
  }
  bool KeyPending() override { return !keys.empty(); }
  bool Interrupted() const override { return interrupted; }
  bool Flush() override { return true; }
  bool Write(std::string_view text) override {
    screen += text;
    return true;
  }
  bool WriteSystemText(std::string_view utf8) override { return Write(utf8); }
  LineStatus ReadRawLine(std::string* line, std::size_t capacity) override {
    if (Leaving() || lines.empty()) {
      InputEnded();
      return LineStatus::kLeave;
    }
    *line = lines.front();
    lines.pop_front();
    screen += *line + "\n";  // typed, then Enter
    return line->size() > capacity ? LineStatus::kTooLong : LineStatus::kOk;
  }
};
