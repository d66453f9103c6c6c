// What every console does the same way above its platform: the buffer of
// standard input that line and number reads share, and the two ways a line
// is read (edited at the console, or byte by byte from redirected input).
#pragma once

#include <cstddef>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "console/input_buffer.h"
#include "console/key_decoder.h"
#include "console/line_editor.h"
#include "console/terminal.h"

class BufferedTerminal : public Terminal {
 public:
  void DiscardInput() final { buffer_.Discard(); }
  LineStatus ReadLine(std::span<char> buffer) final;
  NumberStatus ReadFloat(float* value) final;
  NumberStatus ReadInt(std::int32_t* value) final;

 protected:
  // Reads one more line of input without its line end, keeping at most
  // `capacity` characters: a longer line is consumed whole and is kTooLong.
  virtual LineStatus ReadRawLine(std::string* line, std::size_t capacity) = 0;

 private:
  InputBuffer buffer_;
};

// A line typed at the console: keys from `next_key` (empty when the tool
// must leave) are edited as LineEditor does for the console's encoding, and
// what the screen must show goes to `echo` (false when it cannot be shown).
LineStatus EditTypedLine(const std::function<std::optional<Key>()>& next_key,
                         const std::function<bool(std::string_view)>& echo, std::string* line,
                         std::size_t capacity, LineEditor::Encoding encoding);

// A line of redirected input, read byte by byte from `next_byte` (empty at
// the end of input) so that nothing past the line end is taken in. A "\r"
// just before the "\n" is part of the line end. A line that input ends before
// its end is not a line: nobody finished typing it.
LineStatus ReadLineOfBytes(const std::function<std::optional<unsigned char>()>& next_byte,
                           std::string* line, std::size_t capacity);
