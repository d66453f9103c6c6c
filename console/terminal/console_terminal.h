// The Terminal over the process's own standard input and output, as every
// platform's console has it: the key protocol (a special key's two bytes, the
// echo, Ctrl-C as a key while the tool waits for one), when the tool must
// leave, the buffer of standard input that line and number reads share, and
// the two ways a line is read (edited at the console, or byte by byte from
// redirected input). Each platform's file gives only the primitives below.
#pragma once

#include <cstddef>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "console/terminal/input_buffer.h"
#include "console/terminal/keys.h"
#include "console/terminal/line_editor.h"
#include "console/terminal/terminal.h"

class ConsoleTerminal : public Terminal {
 public:
  bool PrintSystemText(std::string_view utf8) final;
  std::optional<unsigned char> ReadKey(Echo echo) final;
  std::optional<unsigned char> ReadLiveReadingKey() final;
  bool KeyWaiting() override;
  void DiscardInput() final { buffer_.Discard(); }
  LineStatus ReadLine(std::span<char> buffer) final;
  NumberStatus ReadFloat(float* value) final;
  NumberStatus ReadInt(std::int32_t* value) final;
  bool Leaving() const final { return Interrupted() || input_ended_ || output_failed_; }

 protected:
  // Whether Ctrl-C interrupts, or reads as key 3 (as on the target console
  // while the tool waits for a key).
  enum class CtrlC { kInterrupts, kIsKey };

  // The next key from standard input, read where `context` says, blocking;
  // empty when the tool must leave.
  virtual std::optional<Key> NextKey(CtrlC ctrl_c, KeyContext context) = 0;
  // True when a key can be read without blocking; never blocks.
  virtual bool KeyPending() = 0;
  // True once an interrupt has asked the tool to leave.
  virtual bool Interrupted() const = 0;
  // Sends a clear that is being held back; false when output failed.
  virtual bool Flush() = 0;
  // Writes text as it stands (the key protocol writes printable ASCII only);
  // false when output failed.
  virtual bool Write(std::string_view text) = 0;
  // Writes UTF-8 text that the operating system gave, as it gave it; false
  // when output failed.
  virtual bool WriteSystemText(std::string_view utf8) = 0;
  // Reads one more line of input without its line end, keeping at most
  // `capacity` characters: a longer line is consumed whole and is kTooLong.
  virtual LineStatus ReadRawLine(std::string* line, std::size_t capacity) = 0;

  // From here on the tool must leave.
  void InputEnded() { input_ended_ = true; }
  void OutputFailed() { output_failed_ = true; }
  bool output_failed() const { return output_failed_; }

 private:
  std::optional<unsigned char> ReadKeyIn(KeyContext context, Echo echo);

  InputBuffer buffer_;
  std::optional<unsigned char> second_;  // of a special key, not read yet
  bool input_ended_ = false;
  bool output_failed_ = false;
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
