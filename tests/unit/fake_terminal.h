// A console driven by a script of keys and lines, recording what is shown.
// Number reads go through the real InputBuffer, so scanf's rules apply.
#pragma once

#include <deque>
#include <string>

#include "console/input_buffer.h"
#include "console/terminal.h"

class FakeTerminal final : public Terminal {
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
  std::optional<unsigned char> ReadKey(Echo echo) override {
    if (Leaving() || keys.empty()) {
      ended_ = true;
      return std::nullopt;
    }
    const unsigned char key = keys.front();
    keys.pop_front();
    if (echo == Echo::kYes && key >= 0x20 && key <= 0x7E) screen += key;
    return key;
  }
  bool KeyWaiting() override {
    if (polls_before_key > 0) {
      --polls_before_key;
      return false;
    }
    return !keys.empty();
  }
  void DiscardInput() override { buffer_.Discard(); }
  LineStatus ReadLine(std::span<char> buffer) override {
    std::string line;
    if (!buffer_.TakeLine(&line)) {
      const LineStatus status = NextLine(&line);
      if (status != LineStatus::kOk) return status;
    }
    if (line.size() >= buffer.size()) return LineStatus::kTooLong;
    line.copy(buffer.data(), line.size());
    buffer[line.size()] = '\0';
    return LineStatus::kOk;
  }
  NumberStatus ReadFloat(float* value) override {
    if (Leaving()) return NumberStatus::kLeave;
    return buffer_.ReadFloat(value, [this](std::string* l) { return NextLine(l); });
  }
  NumberStatus ReadInt(std::int32_t* value) override {
    if (Leaving()) return NumberStatus::kLeave;
    return buffer_.ReadInt(value, [this](std::string* l) { return NextLine(l); });
  }
  bool Leaving() const override { return ended_ || interrupted; }

 private:
  LineStatus NextLine(std::string* line) {
    if (Leaving() || lines.empty()) {
      ended_ = true;
      return LineStatus::kLeave;
    }
    *line = lines.front();
    lines.pop_front();
    screen += *line + "\n";  // typed, then Enter
    return LineStatus::kOk;
  }

  bool ended_ = false;
  InputBuffer buffer_;
};
