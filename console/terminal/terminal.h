// The console operations that the launch, the menu and the commands use.
// One implementation per platform (console_terminal.h holds what they share);
// unit tests drive the console through a fake. Once the tool must leave (input ended, output
// failed, or an interrupt arrived), every operation fails and Leaving() says so.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string_view>

enum class Echo { kNo, kYes };

enum class LineStatus {
  kOk,
  kTooLong,       // the whole line was consumed; the buffer holds nothing useful
  kNotPrintable,  // the same, for a line holding a byte other than printable ASCII
  kLeave,
};

enum class NumberStatus {
  kOk,
  kInvalid,  // no number at the front, not finite, or out of the type's range
  kLeave,
};

class Terminal {
 public:
  virtual ~Terminal() = default;

  // Wipes the screen and puts the cursor at its top left; may be held back
  // and sent with the next output. Does nothing when output is not a screen.
  virtual void Clear() = 0;

  // Writes one message of Windows-1252 text, visible before the next input
  // wait. False when the tool must leave.
  virtual bool Print(std::string_view text) = 0;

  // The same for text the operating system gave (a loader's reason), which
  // is UTF-8 and is shown as the system gave it.
  virtual bool PrintSystemText(std::string_view utf8) = 0;

  // Blocks for one key press. Ctrl-C reads as key 3 here. A special key
  // arrives as two keys: a lead-in (0x00 or 0xE0), then its code.
  // With Echo::kYes, printable ASCII is shown as typed.
  virtual std::optional<unsigned char> ReadKey(Echo echo) = 0;
  // The same, unechoed, in a live reading, which only Escape ends: an ESC
  // that no sequence follows is Escape there, and what follows it a key of
  // its own.
  virtual std::optional<unsigned char> ReadLiveReadingKey() = 0;

  // True when a key press is ready to be read; never blocks.
  virtual bool KeyWaiting() = 0;

  // Forgets what line and number reads took in and did not use. Keys still
  // queued at the console are kept.
  virtual void DiscardInput() = 0;

  // Reads a line up to its end into `buffer` as a NUL-terminated string
  // without the line end. Never writes past the buffer: a line that does not
  // fit is consumed whole and reported as kTooLong. A line that holds any
  // byte but printable ASCII (a NUL, which would end the string early, a
  // Tab, a character beyond ASCII) is consumed and reported as kNotPrintable.
  virtual LineStatus ReadLine(std::span<char> buffer) = 0;

  // Reads a number as scanf's "%f" or "%d" would: skips white space and line
  // ends, takes the longest number at the front, leaves the rest buffered.
  virtual NumberStatus ReadFloat(float* value) = 0;
  virtual NumberStatus ReadInt(std::int32_t* value) = 0;

  // True once the tool must leave as Escape does.
  virtual bool Leaving() const = 0;
};

// Saves the console's modes as found and holds it, before the driver library
// is loaded and may change them: from here on, a run the library ends gives
// the console back as it was found. OpenConsole() does it if nothing has.
void HoldConsole();

// The process's own console (standard input and output), under the process
// guard. Only one may exist: it takes over the terminal's modes until it is
// destroyed, which puts them back as they were found (as HoldConsole() saved
// them) and leaves the last screen as it stands, the cursor at the start of
// a fresh line.
std::unique_ptr<Terminal> OpenConsole();
