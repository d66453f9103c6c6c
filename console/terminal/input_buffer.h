// What standard input has taken in for number prompts but not handed out:
// the rest of the last line read, line end included. A number read leaves
// at least the line end here; "discard buffered standard input" empties it.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "console/terminal/terminal.h"

class InputBuffer {
 public:
  // Reads one more line of input (without its line end) into *line.
  using LineSource = std::function<LineStatus(std::string* line)>;

  // As scanf: skip white space, taking in further lines as needed, then
  // take the longest number at the front. A line too long to take in is
  // kInvalid.
  NumberStatus ReadFloat(float* value, const LineSource& more);
  NumberStatus ReadInt(std::int32_t* value, const LineSource& more);

  // As gets: hands out the rest of the buffered line, if any, without its
  // line end. False when nothing is buffered.
  bool TakeLine(std::string* line);

  void Discard() { pending_.clear(); }
  bool empty() const { return pending_.empty(); }

 private:
  template <typename T, typename Parse>
  NumberStatus ReadNumber(T* value, Parse parse, const LineSource& more);

  std::string pending_;
};
