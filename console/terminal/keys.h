// The keys the console gives, as the target console's runtime gives them:
// one byte for an ordinary key; for a special key two bytes, a lead-in (0xE0
// for the grey keys and F11/F12, 0x00 for F1-F10 and Alt+key) and a code.
#pragma once

#include <optional>

inline constexpr unsigned char kEscapeKey = 27;
inline constexpr unsigned char kBackspaceKey = 8;
inline constexpr unsigned char kGreyLeadIn = 0xE0;
inline constexpr unsigned char kFunctionLeadIn = 0x00;

struct Key {
  unsigned char first;
  std::optional<unsigned char> second;  // set for special keys

  bool operator==(const Key&) const = default;
};

// Where a key is read, which decides what a key broken off by a pause, or an
// ESC with something other than a sequence after it, reads as.
enum class KeyContext {
  kMenu,         // the menu, and the waits for any key that lead back to it
  kPrompt,       // a line being typed: nothing typed may be lost
  kLiveReading,  // only Escape means anything, and the menu follows
};

// What the console shows of a key as typed, and a signal name may hold.
inline constexpr bool IsPrintableAscii(unsigned char c) { return c >= 0x20 && c <= 0x7E; }
