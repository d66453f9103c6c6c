#include "console/terminal/key_decoder.h"

#include <string>
#include <utility>

namespace {

// Control Sequence Introducer, "ESC [", and Single Shift Three, "ESC O": the
// two ways terminals send special keys. After either come parameter bytes
// (0x20-0x3F: digits, ';') and one final byte (0x40-0x7E). rxvt also ends
// its Shift forms in '$', a parameter byte elsewhere: "ESC [ 3 $" is
// Shift+Delete, "ESC [ 3 ^" Ctrl+Delete.
constexpr unsigned char kCsi = '[';
constexpr unsigned char kSs3 = 'O';

bool IsFinalByte(unsigned char b) { return (b >= 0x40 && b <= 0x7E) || b == '$'; }
bool IsParameterByte(unsigned char b) { return b >= 0x20 && b <= 0x3F && !IsFinalByte(b); }

constexpr Key kUnknown{kGreyLeadIn, kUnknownKeyCode};

Key Grey(unsigned char code) { return {kGreyLeadIn, code}; }
Key Function(int code) { return {kFunctionLeadIn, static_cast<unsigned char>(code)}; }

// Alt+key: the console gives the key's scan code; this gives the byte with
// its top bit set, which is never a command digit nor Escape.
Key Alt(unsigned char byte) { return Function(0x80 | byte); }

// Console codes of F1-F10 are 59-68; F11 and F12 are grey keys 133, 134.
Key FunctionKey(int number) {
  if (number <= 10) return Function(58 + number);
  return Grey(static_cast<unsigned char>(122 + number));
}

// The key with Alt held, as the console gives it: after 0x00, the grey keys'
// codes plus 80, F1-F10's plus 45, F11's and F12's plus 6.
Key WithAlt(const Key& key) {
  if (!key.second || key == kUnknown) return key;
  const int code = *key.second;
  if (key.first == kFunctionLeadIn) return code >= 59 && code <= 68 ? Function(code + 45) : key;
  return Function(code + (code >= 133 ? 6 : 80));
}

// Of a sequence's parameters, how many are kept: more than a key's number.
constexpr std::size_t kKeptParameters = 8;

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

// Keys named by their final byte: "ESC [ A" or "ESC O A", and rxvt's Shift
// and Ctrl arrows "ESC [ a", "ESC O a"; those named by a number before it.
// Modifiers, as in "ESC [ 1 ; 5 A", read as the plain key.
std::optional<Key> KeyByFinal(unsigned char final_byte, int number) {
  switch (final_byte) {
    case '~':
    case '$':
    case '^':
    case '@': return KeyByNumber(number);
    case 'A':
    case 'a': return Grey(72);  // Up
    case 'B':
    case 'b': return Grey(80);  // Down
    case 'C':
    case 'c': return Grey(77);  // Right
    case 'D':
    case 'd': return Grey(75);  // Left
    case 'H': return Grey(71);  // Home
    case 'F': return Grey(79);  // End
    case 'P': return FunctionKey(1);
    case 'Q': return FunctionKey(2);
    case 'R': return FunctionKey(3);
    case 'S': return FunctionKey(4);
    default: return std::nullopt;
  }
}

// Alt with a character: ESC, then the character, which beyond ASCII is a
// UTF-8 lead byte and up to three continuation bytes, all one key.
Key AltCharacter(unsigned char lead, ByteSource& more) {
  int continuation = lead >= 0xF0 ? 3 : lead >= 0xE0 ? 2 : lead >= 0xC0 ? 1 : 0;
  for (; continuation > 0; --continuation) {
    const std::optional<unsigned char> b = more.NextWithin(kSequenceLagMs);
    if (!b) break;
    if ((*b & 0xC0) != 0x80) {
      more.Unread(*b);
      break;
    }
  }
  return Alt(lead);
}

}  // namespace

Key KeyDecoder::Decode(unsigned char first, ByteSource& more) {
  const std::optional<BrokenOff> broken = std::exchange(broken_off_, std::nullopt);
  if (broken && more.NowMs() <= broken->until_ms && Continues(broken->stage, first)) {
    ReadOn(broken->stage, first, more, broken->until_ms);
    return kUnknown;
  }
  if (first == 127) return {kBackspaceKey, std::nullopt};
  if (first != kEscapeKey) return {first, std::nullopt};
  return DecodeEscape(more);
}

bool KeyDecoder::Continues(Stage stage, unsigned char byte) {
  switch (stage) {
    case Stage::kEscape: return byte == kCsi || byte == kSs3;
    case Stage::kLinuxFunction: return IsFinalByte(byte);
    default: return IsParameterByte(byte) || IsFinalByte(byte);
  }
}

Key KeyDecoder::DecodeEscape(ByteSource& more) {
  std::optional<unsigned char> next = more.NextWithin(kEscapeTimeoutMs);
  bool alt = false;
  if (next == kEscapeKey) {
    // Some terminals send Alt with a key that starts with ESC as one more
    // ESC before it: "ESC ESC [ A" is Alt+Up. ESC ESC alone is Alt+Escape,
    // which is Escape; a third ESC starts a key of its own.
    next = more.NextWithin(kEscapeTimeoutMs);
    alt = true;
    if (next == kEscapeKey) {
      more.Unread(*next);
      return {kEscapeKey, std::nullopt};
    }
  }
  if (!next) {
    // A sequence whose ESC came alone may still follow.
    broken_off_ = BrokenOff{Stage::kEscape, more.NowMs() + kBrokenTailMs};
    return {kEscapeKey, std::nullopt};
  }
  // Alt+key; an ESC before it changes nothing the console could show.
  if (*next != kCsi && *next != kSs3) return AltCharacter(*next, more);
  const Key key = ReadOn(*next == kCsi ? Stage::kCsi : Stage::kSs3, more.NextWithin(kSequenceLagMs),
                         more, std::nullopt);
  return alt ? WithAlt(key) : key;
}

Key KeyDecoder::ReadOn(Stage stage, std::optional<unsigned char> next, ByteSource& more,
                       std::optional<std::int64_t> until_ms) {
  std::string parameters;  // the first few: enough to name a key
  for (;; next = more.NextWithin(kSequenceLagMs)) {
    // What the sequence reads as if it ends here: Alt+[ or Alt+O when
    // nothing came after the introducer.
    const Key so_far = stage == Stage::kCsi   ? Alt(kCsi)
                       : stage == Stage::kSs3 ? Alt(kSs3)
                                              : kUnknown;
    if (!next) {
      broken_off_ = BrokenOff{stage, until_ms.value_or(more.NowMs() + kBrokenTailMs)};
      return so_far;
    }
    const unsigned char b = *next;
    if (stage == Stage::kEscape && (b == kCsi || b == kSs3)) {
      stage = b == kCsi ? Stage::kCsi : Stage::kSs3;
      continue;
    }
    // The Linux console sends F1-F5 as "ESC [ [ A" to "ESC [ [ E".
    if (stage == Stage::kCsi && b == '[') {
      stage = Stage::kLinuxFunction;
      continue;
    }
    if (stage == Stage::kLinuxFunction && IsFinalByte(b))
      return b >= 'A' && b <= 'E' ? FunctionKey(b - 'A' + 1) : kUnknown;
    if (stage != Stage::kEscape && stage != Stage::kLinuxFunction) {
      if (IsFinalByte(b)) return KeyByFinal(b, LeadingNumber(parameters)).value_or(kUnknown);
      if (IsParameterByte(b)) {
        stage = Stage::kParameters;
        if (parameters.size() < kKeptParameters) parameters += static_cast<char>(b);
        continue;
      }
    }
    // A byte that cannot be part of the sequence ends it and is a key of its
    // own.
    more.Unread(b);
    return so_far;
  }
}
