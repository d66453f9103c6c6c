// Turning a Windows console key press into the keys the console runtime
// gives: one byte for an ordinary key, or a lead-in (0x00 or 0xE0) and a
// code for a special key. Kept free of <windows.h> so it is tested anywhere.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "console/terminal/keys.h"

// The fields of a key-down event that decide the key.
struct ConsoleKeyPress {
  std::uint16_t virtual_key = 0;
  std::uint16_t scan_code = 0;
  std::uint32_t control_state = 0;  // dwControlKeyState
  std::string text;                 // the character typed, in the input code page
};

// Bits of dwControlKeyState.
inline constexpr std::uint32_t kRightAltPressed = 0x0001;
inline constexpr std::uint32_t kLeftAltPressed = 0x0002;
inline constexpr std::uint32_t kRightCtrlPressed = 0x0004;
inline constexpr std::uint32_t kLeftCtrlPressed = 0x0008;
inline constexpr std::uint32_t kEnhancedKey = 0x0100;

// The keys one press gives (a character may take several bytes), or nothing
// for presses that give no key, such as Shift alone.
std::basic_string<unsigned char> KeysFromPress(const ConsoleKeyPress& press);
