#include "console/terminal/key_decoder.h"

#include <algorithm>
#include <initializer_list>
#include <iterator>
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
// Their 8-bit forms, the C1 controls CSI and SS3 (xterm-8bit, vt220-8bit).
constexpr unsigned char kCsi8 = 0x9B;
constexpr unsigned char kSs38 = 0x8F;
constexpr char kEscape = '\x1b';

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

// Keys spelled as words after ESC (emu's Insert, Page Down, Page Up, Select
// and Find).
constexpr std::string_view kWordKeys[] = {"ins", "next", "prior", "sel", "find"};

// How many bytes of a sequence are kept: more than any terminal's key
// string.
constexpr std::size_t kLongestKept = 32;

bool IsDigit(unsigned char b) { return b >= '0' && b <= '9'; }

// The key a complete "ESC [" or "ESC O" sequence names, from what follows
// its introducer.
Key NameSequenceBody(std::string_view body) {
  const auto final_byte = static_cast<unsigned char>(body.back());
  body.remove_suffix(1);
  return KeyByFinal(final_byte, LeadingNumber(std::string(body))).value_or(kUnknown);
}

// The console key of a terminfo key capability; nothing for those the
// console has no code of its own for.
std::optional<Key> KeyOfCapability(std::string_view capability) {
  struct Named {
    std::string_view capability;
    Key key;
  };
  // clang-format off
  static const Named kNamed[] = {
      {"kbs", {kBackspaceKey, std::nullopt}}, {"kent", {'\r', std::nullopt}},
      {"kcuu1", Grey(72)}, {"kcud1", Grey(80)}, {"kcub1", Grey(75)}, {"kcuf1", Grey(77)},
      {"khome", Grey(71)}, {"kend", Grey(79)}, {"kich1", Grey(82)}, {"kdch1", Grey(83)},
      {"kpp", Grey(73)}, {"knp", Grey(81)}, {"kcbt", Function(15)},
  };
  // clang-format on
  for (const Named& named : kNamed) {
    if (named.capability == capability) return named.key;
  }
  if (capability.size() > 2 && capability.substr(0, 2) == "kf") {
    int number = 0;
    for (char c : capability.substr(2)) {
      if (!IsDigit(static_cast<unsigned char>(c))) return std::nullopt;
      number = number * 10 + (c - '0');
    }
    if (number >= 1 && number <= 12) return FunctionKey(number);
  }
  return std::nullopt;
}

}  // namespace

KeyDecoder::KeyDecoder(const std::vector<TerminalKey>& terminal_keys) {
  KeyStrings strings;
  // Backspace and Enter first: where another key sends the same bytes
  // (Left as ^H), the terminal's Backspace is meant.
  for (bool editing : {true, false}) {
    for (const TerminalKey& key : terminal_keys) {
      const std::string& bytes = key.bytes;
      if ((key.capability == "kbs" || key.capability == "kent") != editing) continue;
      // A printable character alone, or ESC alone, would take a typed key
      // away; "kmous" starts a mouse report, which the tool never asks for.
      if (bytes.empty() || key.capability == "kmous") continue;
      if (bytes.size() == 1 &&
          (IsPrintableAscii(static_cast<unsigned char>(bytes[0])) || bytes[0] == kEscape)) {
        continue;
      }
      std::optional<Key> named = KeyOfCapability(key.capability);
      if (!named) named = ClassifyShape(bytes) == Match::kKey ? NameShape(bytes) : kUnknown;
      strings.emplace(bytes, *named);
    }
  }
  terminal_keys_ = std::make_shared<const KeyStrings>(std::move(strings));
}

KeyDecoder::Match KeyDecoder::ClassifySequenceBody(std::string_view body) {
  if (body.empty()) return Match::kPrefix;
  for (std::size_t i = 0; i + 1 < body.size(); ++i) {
    if (!IsParameterByte(static_cast<unsigned char>(body[i]))) return Match::kNone;
  }
  const auto last = static_cast<unsigned char>(body.back());
  if (IsParameterByte(last)) return Match::kPrefix;
  return IsFinalByte(last) ? Match::kKey : Match::kNone;
}

KeyDecoder::Match KeyDecoder::ClassifyShape(std::string_view bytes) {
  // Alt with a key that starts with ESC, sent as one more ESC before it.
  if (bytes.starts_with("\x1b\x1b")) {
    if (bytes.size() == 2) return Match::kPrefix;
    return bytes[2] == kEscape ? Match::kNone : ClassifyOneShape(bytes.substr(1));
  }
  return ClassifyOneShape(bytes);
}

KeyDecoder::Match KeyDecoder::ClassifyOneShape(std::string_view bytes) {
  const auto first = static_cast<unsigned char>(bytes[0]);
  if (first == kCsi8 || first == kSs38) return ClassifySequenceBody(bytes.substr(1));
  if (first != kEscapeKey) return Match::kNone;
  if (bytes.size() == 1) return Match::kPrefix;
  const std::string_view rest = bytes.substr(1);
  const auto at = [&](std::size_t i) { return static_cast<unsigned char>(rest[i]); };
  switch (at(0)) {
    case kCsi:
      // The Linux console sends F1-F5 as "ESC [ [ A" to "ESC [ [ E".
      if (rest.size() >= 2 && at(1) == '[') {
        if (rest.size() == 2) return Match::kPrefix;
        return rest.size() == 3 && IsFinalByte(at(2)) ? Match::kKey : Match::kNone;
      }
      return ClassifySequenceBody(rest.substr(1));
    case kSs3: return ClassifySequenceBody(rest.substr(1));
    case 'F':
      // interix: "ESC F" and one character; emu: "ESC F" and two digits.
      if (rest.size() == 1) return Match::kPrefix;
      if (rest.size() == 2) {
        if (!IsPrintableAscii(at(1))) return Match::kNone;
        return IsDigit(at(1)) ? Match::kKeySoFar : Match::kKey;
      }
      return rest.size() == 3 && IsDigit(at(1)) && IsDigit(at(2)) ? Match::kKey : Match::kNone;
    case '?':
      // vt52's application keypad: "ESC ? p".
      if (rest.size() == 1) return Match::kPrefix;
      return rest.size() == 2 && IsPrintableAscii(at(1)) ? Match::kKey : Match::kNone;
    default:
      for (std::string_view word : kWordKeys) {
        if (word.substr(0, rest.size()) == rest)
          return rest.size() == word.size() ? Match::kKey : Match::kPrefix;
      }
      return Match::kNone;
  }
}

Key KeyDecoder::NameShape(std::string_view bytes) {
  if (bytes.starts_with("\x1b\x1b")) return WithAlt(NameOneShape(bytes.substr(1)));
  return NameOneShape(bytes);
}

Key KeyDecoder::NameOneShape(std::string_view bytes) {
  const auto first = static_cast<unsigned char>(bytes[0]);
  if (first == kCsi8 || first == kSs38) return NameSequenceBody(bytes.substr(1));
  const std::string_view rest = bytes.substr(1);
  if (rest[0] == kCsi && rest.size() == 3 && rest[1] == '[') {
    return rest[2] >= 'A' && rest[2] <= 'E' ? FunctionKey(rest[2] - 'A' + 1) : kUnknown;
  }
  if (rest[0] == kCsi || rest[0] == kSs3) return NameSequenceBody(rest.substr(1));
  return kUnknown;
}

KeyDecoder::Match KeyDecoder::ClassifyTerminal(std::string_view bytes) const {
  const KeyStrings& strings = *terminal_keys_;
  const auto it = strings.lower_bound(bytes);
  if (it == strings.end() || it->first.compare(0, bytes.size(), bytes) != 0) return Match::kNone;
  if (it->first.size() != bytes.size()) return Match::kPrefix;
  const auto after = std::next(it);
  const bool longer = after != strings.end() && after->first.compare(0, bytes.size(), bytes) == 0;
  return longer ? Match::kKeySoFar : Match::kKey;
}

KeyDecoder::Matches KeyDecoder::Classify(std::string_view bytes) const {
  const Match own = ClassifyTerminal(bytes);
  const Match with_alt =
      bytes.size() >= 2 && bytes[0] == kEscape ? ClassifyTerminal(bytes.substr(1)) : Match::kNone;
  const auto combined = [](std::initializer_list<Match> matches) {
    bool more = false;
    bool key = false;
    for (Match m : matches) {
      more = more || m == Match::kPrefix || m == Match::kKeySoFar;
      key = key || m == Match::kKey || m == Match::kKeySoFar;
    }
    if (more) return key ? Match::kKeySoFar : Match::kPrefix;
    return key ? Match::kKey : Match::kNone;
  };
  return {combined({own, with_alt}), combined({own, with_alt, ClassifyShape(bytes)})};
}

Key KeyDecoder::Name(std::string_view bytes) const {
  const KeyStrings& strings = *terminal_keys_;
  if (const auto own = strings.find(bytes); own != strings.end()) return own->second;
  if (bytes.size() >= 2 && bytes[0] == kEscape) {
    if (const auto own = strings.find(bytes.substr(1)); own != strings.end())
      return WithAlt(own->second);
  }
  return NameShape(bytes);
}

void KeyDecoder::CountRead() {
  if (!bytes_before_pause_) return;
  // The first byte after the pause ends the count.
  if (*bytes_before_pause_ == 0)
    bytes_before_pause_.reset();
  else
    --*bytes_before_pause_;
}

std::optional<unsigned char> KeyDecoder::NextWithin(ByteSource& more, int timeout_ms) {
  if (bytes_before_pause_) {
    if (*bytes_before_pause_ == 0) {
      bytes_before_pause_.reset();
      return std::nullopt;  // the pause that came after them, waited already
    }
    --*bytes_before_pause_;
  }
  return more.NextWithin(timeout_ms);
}

void KeyDecoder::HandBack(std::string_view bytes, std::optional<unsigned char> next,
                          ByteSource& more) {
  for (std::size_t i = bytes.size(); i-- > 0;) more.Unread(static_cast<unsigned char>(bytes[i]));
  if (!next) bytes_before_pause_ = bytes.size();
}

Key KeyDecoder::Plain(unsigned char byte) {
  if (byte == 127) return {kBackspaceKey, std::nullopt};
  utf8_continuations_ = byte >= 0xF0 && byte <= 0xF4   ? 3
                        : byte >= 0xE0 && byte <= 0xEF ? 2
                        : byte >= 0xC2 && byte <= 0xDF ? 1
                                                       : 0;
  return {byte, std::nullopt};
}

Key KeyDecoder::Decode(unsigned char first, ByteSource& more, KeyContext context) {
  // A byte that goes on with a UTF-8 character typed is part of it: a 0x9B
  // there is no CSI.
  if (utf8_continuations_ > 0 && (first & 0xC0) == 0x80) {
    CountRead();
    --utf8_continuations_;
    return {first, std::nullopt};
  }
  utf8_continuations_ = 0;
  CountRead();
  const std::optional<BrokenOff> broken = std::exchange(broken_off_, std::nullopt);
  // An ESC after a lone ESC is a key of its own, never the rest of it:
  // Escape pressed twice ends a live reading, then the tool.
  if (broken && context != KeyContext::kPrompt && more.NowMs() <= broken->until_ms &&
      !(first == kEscapeKey && broken->bytes == "\x1b")) {
    std::string bytes = broken->bytes + static_cast<char>(first);
    const Match match = Classify(bytes).all;
    if (match == Match::kKey) return kUnknown;
    if (match != Match::kNone) {
      ReadOn(std::move(bytes), more, context, broken->until_ms);
      return kUnknown;
    }
  }
  const std::string bytes(1, static_cast<char>(first));
  const Match match = Classify(bytes).all;
  if (match == Match::kNone) return Plain(first);
  if (match == Match::kKey) return Name(bytes);
  return ReadOn(bytes, more, context, std::nullopt);
}

Key KeyDecoder::ReadOn(std::string bytes, ByteSource& more, KeyContext context,
                       std::optional<std::int64_t> swallow_until_ms) {
  Matches so_far = Classify(bytes);
  for (;;) {
    const bool second = bytes.size() == 1 || bytes == "\x1b\x1b";
    const int wait = second                           ? kEscapeTimeoutMs
                     : context == KeyContext::kPrompt ? kPromptSequenceLagMs
                                                      : kSequenceLagMs;
    const std::optional<unsigned char> next = NextWithin(more, wait);
    if (next) {
      std::string longer = bytes + static_cast<char>(*next);
      const Matches matches = Classify(longer);
      // The terminal's own key string is the key, whatever shape it might
      // start: only the terminal's longer strings go on from it.
      const bool own_key = so_far.terminal == Match::kKey || so_far.terminal == Match::kKeySoFar;
      const Match match = own_key ? matches.terminal : matches.all;
      if (match == Match::kKey) return swallow_until_ms ? kUnknown : Name(longer);
      // Longer than any key string: at a prompt it is typed text, kept;
      // elsewhere it is read whole, its further parameter bytes dropped.
      const bool too_long = match == Match::kPrefix && bytes.size() >= kLongestKept;
      if (match != Match::kNone && !(too_long && context == KeyContext::kPrompt)) {
        if (!too_long) {
          bytes = std::move(longer);
          so_far = matches;
        }
        continue;
      }
      more.Unread(*next);
      if (bytes_before_pause_) ++*bytes_before_pause_;
    }
    if (so_far.all == Match::kKeySoFar) {
      // A key that a pause may have cut short of a longer one: at the menu
      // and in a live reading, what may be the longer one's rest is
      // swallowed as after a broken sequence.
      if (!next && context != KeyContext::kPrompt)
        broken_off_ = BrokenOff{bytes, swallow_until_ms.value_or(more.NowMs() + kBrokenTailMs)};
      return swallow_until_ms ? kUnknown : Name(bytes);
    }
    if (swallow_until_ms) {
      if (!next) broken_off_ = BrokenOff{bytes, *swallow_until_ms};
      return kUnknown;
    }
    return BrokenOffKey(bytes, next, more, context);
  }
}

Key KeyDecoder::BrokenOffKey(const std::string& bytes, std::optional<unsigned char> next,
                             ByteSource& more, KeyContext context) {
  const Key escape{kEscapeKey, std::nullopt};
  // At the menu an ESC with a character after it is Alt with that
  // character: nothing happens. In a live reading, where Escape is the only
  // key that means anything, it is Escape and the character a key of its
  // own; at a prompt too, so that the character stays in the line.
  if (bytes == "\x1b" && next && context == KeyContext::kMenu) {
    NextWithin(more, 0);
    return AltCharacter(*next, more);
  }
  // Two ESCs with no sequence after them are two Escapes, as on the target
  // console: the second one is read again, as a key of its own.
  if (bytes == "\x1b\x1b") {
    HandBack("\x1b", next, more);
    return escape;
  }
  // At a prompt nothing typed is lost: what came after the first byte is
  // read again as typed, and shows in the line.
  if (context == KeyContext::kPrompt) {
    HandBack(std::string_view(bytes).substr(1), next, more);
    return bytes[0] == kEscape ? escape : Plain(static_cast<unsigned char>(bytes[0]));
  }
  if (!next) broken_off_ = BrokenOff{bytes, more.NowMs() + kBrokenTailMs};
  if (bytes == "\x1b") return escape;
  if (bytes.size() == 1) return Plain(static_cast<unsigned char>(bytes[0]));
  // What the sequence reads as where it ends: Alt+[ or Alt+O when nothing
  // came after the introducer.
  if (bytes[0] == kEscape && bytes.size() == 2) return Alt(static_cast<unsigned char>(bytes[1]));
  return kUnknown;
}
