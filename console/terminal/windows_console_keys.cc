#include "console/terminal/windows_console_keys.h"

namespace {

// Virtual-key codes.
constexpr std::uint16_t kVkEscape = 0x1B;
constexpr std::uint16_t kVkF1 = 0x70;
constexpr std::uint16_t kVkF10 = 0x79;
constexpr std::uint16_t kVkF11 = 0x7A;
constexpr std::uint16_t kVkF12 = 0x7B;

// Scan codes of the grey keys, which are also their console codes:
// Home, Up, PgUp, Left, Right, End, Down, PgDn, Ins, Del.
bool IsGreyKeyScanCode(std::uint16_t scan) {
  // clang-format off
  switch (scan) {
    case 71: case 72: case 73: case 75: case 77:
    case 79: case 80: case 81: case 82: case 83:
      return true;
    default:
      return false;
  }
  // clang-format on
}

}  // namespace

std::basic_string<unsigned char> KeysFromPress(const ConsoleKeyPress& press) {
  using Keys = std::basic_string<unsigned char>;
  const bool alt = (press.control_state & (kLeftAltPressed | kRightAltPressed)) != 0;
  const bool ctrl = (press.control_state & (kLeftCtrlPressed | kRightCtrlPressed)) != 0;
  if (!press.text.empty()) {
    const auto first = static_cast<unsigned char>(press.text.front());
    // Alt+key, as on a POSIX terminal: never a command digit nor Escape.
    // Ctrl+Alt is AltGr, which types characters.
    if (alt && !ctrl) return Keys{kFunctionLeadIn, static_cast<unsigned char>(0x80 | first)};
    // Braces would read as a list of two keys.
    return Keys(press.text.begin(), press.text.end());  // NOLINT(modernize-return-braced-init-list)
  }
  const std::uint16_t vk = press.virtual_key;
  // Escape is character 27 even where a console leaves the character out
  // (Wine's, for an ESC that ends what the terminal sent).
  if (vk == kVkEscape) return Keys{27};
  if (vk >= kVkF1 && vk <= kVkF10)
    return Keys{kFunctionLeadIn, static_cast<unsigned char>(59 + vk - kVkF1)};
  if (vk == kVkF11 || vk == kVkF12)
    return Keys{kGreyLeadIn, static_cast<unsigned char>(133 + vk - kVkF11)};
  if (IsGreyKeyScanCode(press.scan_code)) {
    // The grey keys; the same keys on the keypad come with 0x00.
    const unsigned char lead =
        (press.control_state & kEnhancedKey) != 0 ? kGreyLeadIn : kFunctionLeadIn;
    return Keys{lead, static_cast<unsigned char>(press.scan_code)};
  }
  return Keys{};  // Shift, Ctrl, Alt, locks and other keys that type nothing
}
