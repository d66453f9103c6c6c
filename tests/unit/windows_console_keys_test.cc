#include "console/terminal/windows_console_keys.h"

#include <gtest/gtest.h>

#include <string>

namespace {

using Keys = std::basic_string<unsigned char>;

TEST(ConsoleKeys, PressesBecomeTheConsoleRuntimesKeys) {
  const struct {
    ConsoleKeyPress press;
    Keys keys;
  } cases[] = {
      {{0x41, 30, 0, "a"}, Keys{'a'}},
      {{0x0D, 28, 0, "\r"}, Keys{13}},
      {{0x1B, 1, 0, "\x1b"}, Keys{27}},
      {{0x1B, 1, 0, ""}, Keys{27}},  // Escape without its character
      {{0x43, 46, kLeftCtrlPressed, "\x03"}, Keys{3}},
      {{0x31, 2, kLeftAltPressed, "1"}, Keys{0x00, 0x80 | '1'}},
      {{0x51, 16, kLeftCtrlPressed | kRightAltPressed, "@"}, Keys{'@'}},  // AltGr
      {{0xDE, 40, 0, "\xE9"}, Keys{0xE9}},
      {{0x26, 72, kEnhancedKey, ""}, Keys{0xE0, 72}},  // Up
      {{0x2E, 83, kEnhancedKey, ""}, Keys{0xE0, 83}},  // Del
      {{0x24, 71, 0, ""}, Keys{0x00, 71}},             // keypad Home
      {{0x70, 59, 0, ""}, Keys{0x00, 59}},             // F1
      {{0x79, 68, 0, ""}, Keys{0x00, 68}},             // F10
      {{0x7A, 87, 0, ""}, Keys{0xE0, 133}},            // F11
      {{0x7B, 88, 0, ""}, Keys{0xE0, 134}},            // F12
      {{0x10, 42, 0, ""}, Keys{}},                     // Shift alone
      {{0x5B, 91, kEnhancedKey, ""}, Keys{}},          // the Windows key
  };
  for (const auto& c : cases) EXPECT_EQ(KeysFromPress(c.press), c.keys) << c.press.virtual_key;
}

}  // namespace
