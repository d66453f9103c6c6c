#include "console/key_decoder.h"

#include <string>

namespace {

// Control Sequence Introducer, "ESC [", and Single Shift Three, "ESC O": the
// two ways terminals send special keys. After either come parameter bytes
// (0x20-0x3F: digits, ';') and one final byte (0x40-0x7E).
constexpr unsigned char kCsi = '[';
constexpr unsigned char kSs3 = 'O';
constexpr std::size_t kLongestSequence = 16;

bool IsParameterByte(unsigned char b) { return b >= 0x20 && b <= 0x3F; }
bool IsFinalByte(unsigned char b) { return b >= 0x40 && b <= 0x7E; }

constexpr Key kUnknown{kGreyLeadIn, kUnknownKeyCode};

Key Grey(unsigned char code) { return {kGreyLeadIn, code}; }
Key Function(unsigned char code) { return {kFunctionLeadIn, code}; }

// Alt+key: the console gives the key's scan code; this gives the byte with
// its top bit set, which is never a command digit nor Escape.
Key Alt(unsigned char byte) { return {kFunctionLeadIn, static_cast<unsigned char>(0x80 | byte)}; }

// Console codes of F1-F10 are 59-68; F11 and F12 are grey keys 133, 134.
Key FunctionKey(int number) {
  if (number <= 10) return Function(static_cast<unsigned char>(58 + number));
  return Grey(static_cast<unsigned char>(122 + number));
}

// Keys named by their final byte: "ESC [ A" or "ESC O A" (modifiers such as
// "ESC [ 1 ; 5 A" read as the plain key).
std::optional<Key> KeyByFinal(unsigned char final_byte) {
  switch (final_byte) {
    case 'A': return Grey(72);  // Up
    case 'B': return Grey(80);  // Down
    case 'C': return Grey(77);  // Right
    case 'D': return Grey(75);  // Left
    case 'H': return Grey(71);  // Home
    case 'F': return Grey(79);  // End
    case 'P': return FunctionKey(1);
    case 'Q': return FunctionKey(2);
    case 'R': return FunctionKey(3);
    case 'S': return FunctionKey(4);
    default: return std::nullopt;
  }
}

// Keys named by a number: "ESC [ 3 ~" is Delete.
std::optional<Key> KeyByNumber(int number) {
  // clang-format off
  switch (number) {
    case 1: case 7: return Grey(71);   // Home
    case 2: return Grey(82);           // Insert
    case 3: return Grey(83);           // Delete
    case 4: case 8: return Grey(79);   // End
    case 5: return Grey(73);           // Page Up
    case 6: return Grey(81);           // Page Down
    case 11: case 12: case 13: case 14: case 15:
      return FunctionKey(number - 10);
    case 17: case 18: case 19: case 20: case 21:
      return FunctionKey(number - 11);
    case 23: case 24:
      return FunctionKey(number - 12);
    default: return std::nullopt;
  }
  // clang-format on
}

// The number before the first ';' of the parameters, or -1.
int LeadingNumber(const std::string& parameters) {
  int number = -1;
  for (char c : parameters) {
    if (c < '0' || c > '9') break;
    number = (number < 0 ? 0 : number * 10) + (c - '0');
    if (number > 1000) return -1;
  }
  return number;
}

// Reads the rest of a sequence after "ESC [" or "ESC O".
Key DecodeSequence(unsigned char introducer, ByteSource& more) {
  std::optional<unsigned char> b = more.NextWithin(kSequenceTimeoutMs);
  if (!b) return Alt(introducer);  // Alt+[ or Alt+O, typed alone
  // The Linux console sends F1-F5 as "ESC [ [ A" to "ESC [ [ E".
  if (introducer == kCsi && *b == '[') {
    b = more.NextWithin(kSequenceTimeoutMs);
    if (b && *b >= 'A' && *b <= 'E') return FunctionKey(*b - 'A' + 1);
    if (b && *b == kEscapeKey) more.Unread(*b);
    return kUnknown;
  }
  std::string parameters;
  while (b && IsParameterByte(*b) && parameters.size() < kLongestSequence) {
    parameters += static_cast<char>(*b);
    b = more.NextWithin(kSequenceTimeoutMs);
  }
  if (!b) return kUnknown;
  if (!IsFinalByte(*b)) {
    // Broken off: a new sequence may start here.
    if (*b == kEscapeKey) more.Unread(*b);
    return kUnknown;
  }
  std::optional<Key> key = *b == '~' ? KeyByNumber(LeadingNumber(parameters)) : KeyByFinal(*b);
  return key.value_or(kUnknown);
}

}  // namespace

Key DecodeKey(unsigned char first, ByteSource& more) {
  if (first == 127) return {kBackspaceKey, std::nullopt};
  if (first != kEscapeKey) return {first, std::nullopt};
  // A lone ESC is the Escape key; so is an ESC followed by another ESC,
  // which then starts a key of its own.
  const std::optional<unsigned char> next = more.NextWithin(kSequenceTimeoutMs);
  if (!next) return {kEscapeKey, std::nullopt};
  if (*next == kEscapeKey) {
    more.Unread(*next);
    return {kEscapeKey, std::nullopt};
  }
  if (*next == kCsi || *next == kSs3) return DecodeSequence(*next, more);
  return Alt(*next);
}
