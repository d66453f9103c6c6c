// How a clear of the screen reaches a terminal that takes escape sequences.
// The clear is held back and drawn with the next text as one frame that
// writes the text over the old screen from its top left and erases only what
// the text leaves, so that no moment of the output shows an empty screen: a
// terminal may paint between any two bytes, and a live reading that erased
// first would show a blank screen most of the time.
//
// The screen each frame leaves, cursor included, is the one that erasing and
// then writing the text would leave. Which clears also erase the scrollback:
// a clear straight after a print redraws in place (a live reading's clear
// after each sample); any other clear, the first of a screen the operator
// asked for, erases the scrollback too.
#pragma once

#include <optional>
#include <string>
#include <string_view>

// A terminal's size in character cells; 0 when unknown.
struct ScreenSize {
  int columns = 0;
  int rows = 0;
  bool operator==(const ScreenSize&) const = default;
};

class ScreenFrame {
 public:
  // Holds a clear back for the next Print() or Flush().
  void Clear();

  // The bytes that show `text`: the text itself, or with a clear held, the
  // frame. The text is Windows-1252, printable characters and line ends,
  // with fewer leading line ends than the screen has rows; the sequences
  // added are ASCII.
  std::string Print(std::string_view text, ScreenSize size);

  // Before a wait for input: the bytes of a held clear alone, which erase
  // the screen. With a key already waiting the tool will not wait, so the
  // clear stays held and is drawn with the next print.
  std::string Flush(bool key_waiting);

 private:
  enum class Held { kNone, kRedraw, kWipe };
  Held held_ = Held::kNone;
  bool after_print_ = false;  // nothing but a print since the last clear or wait
  // What the screen shows since the last frame, as written from its top left
  // at `shown_size_`; unknown once anything else may have been written (a
  // wait for input echoes what is typed).
  std::optional<std::string> shown_;
  ScreenSize shown_size_;
};
