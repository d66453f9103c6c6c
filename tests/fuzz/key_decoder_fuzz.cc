// The key decoder over any bytes and pauses, in each context, with or
// without a terminal's own key strings. Input: one byte of options (bits 0-1
// how long the pauses last, 2-3 the context, bit 4: a compiled terminfo
// entry follows, two bytes of its length first, and its keys are the
// terminal's), then TypedBytes's. Whatever the bytes: a special key is
// never Escape nor a menu key; an ordinary key is one byte (but the
// terminal's Backspace and Enter); at a prompt no key takes bytes across a
// pause, and nothing typed is swallowed. By the shapes alone, moreover:
// Escape comes only from an ESC that nothing follows in time, from the
// first of two ESCs that no sequence follows, or (in a live reading and at a prompt) from an ESC
// that nothing can go on from; a complete sequence is taken whole up to its final byte; any other
// byte is its own key, unless at the menu or in a live reading it is the rest of a sequence that a
// pause broke off; and no menu key comes from a byte that follows "ESC [" or "ESC O" and parameter
// bytes within the broken tail's window.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

#include "console/terminal/key_decoder.h"
#include "console/terminal/terminfo_keys.h"
#include "fuzz_check.h"
#include "typed_bytes.h"

namespace {

using varno::fuzz::TypedBytes;

// Pauses that split ESC from what follows but not a sequence at the menu;
// that break a sequence off; a few of which add up past the broken tail's
// window; and that outlast every wait.
constexpr int kPausesMs[] = {kEscapeTimeoutMs + 1, kSequenceLagMs + 1, kBrokenTailMs / 2 + 1,
                             TypedBytes::kLongestPauseMs};
constexpr KeyContext kContexts[] = {KeyContext::kMenu, KeyContext::kPrompt,
                                    KeyContext::kLiveReading, KeyContext::kMenu};
constexpr unsigned kWithTerminalKeys = 0x10;
constexpr std::size_t kLongestTyping = 512;

constexpr Key kUnknown{kGreyLeadIn, kUnknownKeyCode};
constexpr Key kEscape{kEscapeKey, std::nullopt};

bool IsMenuKey(unsigned char c) { return c >= '1' && c <= '8'; }
bool IsFinal(unsigned char c) { return (c >= 0x40 && c <= 0x7E) || c == '$'; }
bool IsParameter(unsigned char c) { return c >= 0x20 && c <= 0x3F && c != '$'; }
bool StartsShape(unsigned char c) { return c == kEscapeKey || c == 0x9B || c == 0x8F; }
// What may come after an ESC in a shape the decoder knows: CSI, SS3,
// "ESC F", "ESC ?" and the first letters of emu's words.
bool GoesOnFromEscape(unsigned char c) {
  return c != 0 &&
         std::string_view("[OF?inpsf").find(static_cast<char>(c)) != std::string_view::npos;
}

// Where nothing comes within the Escape key's timeout: every pause is longer.
bool Lone(const TypedBytes& bytes, std::size_t index) {
  return index >= bytes.size() || bytes.PauseBefore(index);
}

// Whether the byte at `index` comes after "ESC [" or "ESC O" and parameter
// bytes only, within the broken tail's window of that ESC.
bool InsideSequence(const TypedBytes& bytes, std::size_t index) {
  std::size_t i = index;
  while (i > 0 && IsParameter(bytes.at(i - 1))) --i;
  if (i < 2 || (bytes.at(i - 1) != '[' && bytes.at(i - 1) != 'O')) return false;
  if (bytes.at(i - 2) != kEscapeKey) return false;
  return bytes.ArrivalMs(index) - bytes.ArrivalMs(i - 2) <= kBrokenTailMs;
}

// The length of a complete sequence from the ESC at `start` that no pause
// breaks: [ESC] ESC, '[' or 'O', parameter bytes, a final byte; 0 if none.
std::size_t CompleteSequence(const TypedBytes& bytes, std::size_t start, int lag_ms, int pause_ms) {
  std::size_t i = start + 1;
  if (i < bytes.size() && bytes.at(i) == kEscapeKey && !Lone(bytes, i)) ++i;
  if (i >= bytes.size() || Lone(bytes, i) || (bytes.at(i) != '[' && bytes.at(i) != 'O')) return 0;
  const std::size_t introducer = i;
  for (++i; i < bytes.size(); ++i) {
    if (bytes.PauseBefore(i) && pause_ms > lag_ms) return 0;
    // "ESC [ [": the Linux console's F1-F5 take one byte more.
    if (i == introducer + 1 && bytes.at(introducer) == '[' && bytes.at(i) == '[') return 0;
    if (IsFinal(bytes.at(i))) return i - start + 1;
    if (!IsParameter(bytes.at(i))) return 0;
  }
  return 0;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  const unsigned options = data[0];
  const int pause_ms = kPausesMs[options % 4];
  const KeyContext context = kContexts[(options >> 2) % 4];
  const bool prompt = context == KeyContext::kPrompt;
  const bool own_keys = (options & kWithTerminalKeys) != 0;
  std::size_t typed = 1;
  std::vector<TerminalKey> terminal_keys;
  if (own_keys && size >= 3) {
    const std::size_t length = std::min<std::size_t>(data[1] | (data[2] << 8), size - 3);
    terminal_keys =
        ParseTerminfoKeys(std::string_view(reinterpret_cast<const char*>(data) + 3, length));
    for (const TerminalKey& key : terminal_keys)
      FUZZ_CHECK(key.capability[0] == 'k' && !key.bytes.empty());
    typed = 3 + length;
  }
  // Longer typing finds nothing more, and slows the search down.
  TypedBytes bytes(data + typed, std::min<std::size_t>(size - typed, kLongestTyping), pause_ms);
  KeyDecoder decoder(terminal_keys);
  int utf8_continuations = 0;
  for (;;) {
    const std::size_t start = bytes.position();
    const std::optional<unsigned char> first = bytes.NextKeyStart();
    if (!first) break;
    const std::int64_t first_ms = bytes.NowMs();
    const Key key = decoder.Decode(*first, bytes, context);
    const std::size_t taken = bytes.position() - start;
    FUZZ_CHECK(taken >= 1);
    if (key.second) {
      FUZZ_CHECK(key.first == kGreyLeadIn || key.first == kFunctionLeadIn);
      FUZZ_CHECK(*key.second != kEscapeKey && !IsMenuKey(*key.second));
    } else {
      FUZZ_CHECK(taken == 1 || (own_keys && (key.first == kBackspaceKey || key.first == '\r')));
      if (!prompt && !own_keys) FUZZ_CHECK(!IsMenuKey(key.first) || !InsideSequence(bytes, start));
    }
    // At a prompt a key is bytes that came together.
    if (prompt) {
      for (std::size_t i = start + 1; i < start + taken; ++i) FUZZ_CHECK(!bytes.PauseBefore(i));
    }
    const bool continuation = utf8_continuations > 0 && (*first & 0xC0) == 0x80;
    utf8_continuations = continuation                       ? utf8_continuations - 1
                         : key.second                       ? 0
                         : *first >= 0xF0 && *first <= 0xF4 ? 3
                         : *first >= 0xE0 && *first <= 0xEF ? 2
                         : *first >= 0xC2 && *first <= 0xDF ? 1
                                                            : 0;
    if (own_keys) continue;

    if (continuation || !StartsShape(*first)) {
      const unsigned char expected = *first == 127 ? kBackspaceKey : *first;
      if (key == Key{expected, std::nullopt}) continue;
      // Swallowed: the rest of a sequence that a wait gave up on lately.
      FUZZ_CHECK(!prompt && key == kUnknown);
      FUZZ_CHECK(bytes.ran_out_ms() && first_ms - *bytes.ran_out_ms() <= kBrokenTailMs);
      continue;
    }
    if (*first != kEscapeKey) continue;
    // What followed the ESC: nothing in time, another ESC, or more.
    const bool lone = Lone(bytes, start + 1);
    const bool escape_pair = !lone && bytes.at(start + 1) == kEscapeKey;
    if (lone ||
        (escape_pair && (Lone(bytes, start + 2) || !GoesOnFromEscape(bytes.at(start + 2))))) {
      FUZZ_CHECK(key == kEscape && taken == 1);
      continue;
    }
    if (context == KeyContext::kMenu) FUZZ_CHECK(key.second.has_value());
    if (!key.second) {
      FUZZ_CHECK(key == kEscape && taken == 1);
      continue;
    }
    const int lag_ms = prompt ? kPromptSequenceLagMs : kSequenceLagMs;
    if (const std::size_t length = CompleteSequence(bytes, start, lag_ms, pause_ms))
      FUZZ_CHECK(taken == length);
  }
  return 0;
}
