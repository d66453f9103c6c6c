// The line a terminal operator is typing: printable ASCII is stored and
// echoed, Backspace erases the last character, Enter ends the line; special
// keys and other control keys are ignored. Characters past the capacity are
// counted and echoed but not stored, so the line can be judged too long at
// Enter without ever being cut short.
#pragma once

#include <cstddef>
#include <string>

#include "console/key_decoder.h"

class LineEditor {
 public:
  explicit LineEditor(std::size_t capacity) : capacity_(capacity) {}

  // Applies one key; appends what the screen must show to *echo. True once
  // Enter has ended the line.
  bool Press(const Key& key, std::string* echo);

  const std::string& line() const { return line_; }
  bool too_long() const { return excess_ > 0; }

 private:
  std::size_t capacity_;
  std::string line_;
  std::size_t excess_ = 0;  // typed past the capacity, not stored
};
