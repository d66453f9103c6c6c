// How a clear of the screen reaches a terminal that takes escape sequences.
// The clear is held back and drawn with the next text as one frame that
// writes the text over the old screen from its top left and erases only what
// the text leaves, so that no moment of the output shows an empty screen: a
// terminal may paint between any two bytes, and a live reading that erased
// first would show a blank screen most of the time.
//
// The screen each frame leaves, cursor included, is the one that erasing and
// then writing the text would leave; a text taller than the screen is drawn
// from its first row that stays on the screen, so that nothing scrolls into
// the scrollback. Which clears also erase the scrollback: a clear straight
// after a print redraws in place (a live reading's clear after each sample);
// any other clear, the first of a screen the operator asked for, erases the
// scrollback too.
//
// A redraw in place writes only what changed since the last frame, but the
// frame cannot see what else reached the screen (a driver library's lines on
// standard error, written after the text): every kTidyEvery-th redraw erases
// whatever stands after the text, and the next after RepaintWhole() (which
// the console calls every 100 ms) draws the whole text again.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

// A terminal's size in character cells; 0 when unknown.
struct ScreenSize {
  int columns = 0;
  int rows = 0;
  bool operator==(const ScreenSize&) const = default;
};

// How many redraws in place follow one that erases what stands after the
// text, at most. A library that writes a line for each sample scrolls the
// sample away only after as many lines as the screen has rows, less the
// sample's own; erasing below the sample first keeps it on the screen, and
// erasing rewrites none of its cells. Some 15 bytes, about 1 a sample. What
// was written over the sample itself, or scrolled it away, waits for a whole
// redraw, which is kept rare: a terminal may blank the cells it rewrites
// before it draws them again, and a sample rewritten whole then shows as an
// empty screen.
inline constexpr std::size_t kTidyEvery = 16;

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

  // The screen may show more than the frame drew (something else wrote to
  // it, or it was given back while the tool was stopped): the next redraw
  // in place draws its text whole.
  void RepaintWhole();

  // Something the frame did not draw was written (what a prompt echoes):
  // what the screen shows since the last clear is no longer known.
  void Forget();

  // The bytes that draw again, whole, what the screen has shown since the
  // last clear, over whatever it shows now; empty when that is not known.
  std::string Redraw(ScreenSize size) const;

 private:
  enum class Held { kNone, kRedraw, kWipe };
  Held held_ = Held::kNone;
  bool after_print_ = false;  // nothing but a print since the last clear or wait
  // What the screen shows since the last frame, as written from its top left
  // at `shown_size_`; unknown once anything else may have been written (a
  // wait for input echoes what is typed).
  std::optional<std::string> shown_;
  ScreenSize shown_size_;
  std::size_t redraws_since_tidy_ = 0;
  // Everything printed since the last clear, for Redraw(); unknown once
  // something else was written.
  std::optional<std::string> screen_;
};
