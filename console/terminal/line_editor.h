// The line a terminal operator is typing. Every byte typed is kept and
// shown, so that what the screen shows is what the line holds and nothing
// typed between two characters is ever dropped: printable ASCII and bytes
// at or above 128 (a character of the terminal's own encoding) show as
// typed, other control keys (Tab among them) in caret notation, "^I".
// Backspace erases the last character, Enter ends the line; special keys
// and Escape are no characters and do nothing here. A line longer than the
// capacity is judged too long at Enter, never cut short.
#pragma once

#include <cstddef>
#include <string>

#include "console/terminal/keys.h"

class LineEditor {
 public:
  // How the terminal encodes a character: one byte each, or UTF-8.
  enum class Encoding { kSingleByte, kUtf8 };

  explicit LineEditor(std::size_t capacity, Encoding encoding = Encoding::kSingleByte)
      : capacity_(capacity), encoding_(encoding) {}

  // Applies one key; appends what the screen must show to *echo. True once
  // Enter has ended the line.
  bool Press(const Key& key, std::string* echo);

  const std::string& line() const { return line_; }
  bool too_long() const { return line_.size() + excess_ > capacity_; }

 private:
  // The bytes of the last character of line_, where it starts.
  std::size_t LastCharacterStart() const;

  std::size_t capacity_;
  Encoding encoding_;
  std::string line_;        // what was typed, up to kLongestKept bytes
  std::size_t excess_ = 0;  // bytes typed past that, one column each
};
