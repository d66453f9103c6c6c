// The key decoder over any bytes and pauses. Input: one byte choosing how
// long the pauses last, then TypedBytes's. Escape comes only from an ESC
// (or ESC ESC) that nothing follows in time; every other key that starts
// with ESC is a special key, never Escape nor a menu key; a complete
// sequence is taken whole up to its final byte; any other byte is its own
// key, unless it is the rest of a sequence that a pause broke off; and no
// menu key comes from a byte that follows "ESC [" or "ESC O" and parameter
// bytes within the broken tail's window.
#include <cstddef>
#include <cstdint>

#include "console/terminal/key_decoder.h"
#include "fuzz_check.h"
#include "typed_bytes.h"

namespace {

using varno::fuzz::TypedBytes;

// Pauses that split ESC from what follows but not a sequence; that break a
// sequence off; a few of which add up past the broken tail's window; and
// that outlast every wait.
constexpr int kPausesMs[] = {kEscapeTimeoutMs + 1, kSequenceLagMs + 1, kBrokenTailMs / 2 + 1,
                             TypedBytes::kLongestPauseMs};

constexpr Key kUnknown{kGreyLeadIn, kUnknownKeyCode};

bool IsMenuKey(unsigned char c) { return c >= '1' && c <= '8'; }
bool IsFinal(unsigned char c) { return (c >= 0x40 && c <= 0x7E) || c == '$'; }
bool IsParameter(unsigned char c) { return c >= 0x20 && c <= 0x3F && c != '$'; }

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
std::size_t CompleteSequence(const TypedBytes& bytes, std::size_t start, int pause_ms) {
  std::size_t i = start + 1;
  if (i < bytes.size() && bytes.at(i) == kEscapeKey && !Lone(bytes, i)) ++i;
  if (i >= bytes.size() || Lone(bytes, i) || (bytes.at(i) != '[' && bytes.at(i) != 'O')) return 0;
  const std::size_t introducer = i;
  for (++i; i < bytes.size(); ++i) {
    if (bytes.PauseBefore(i) && pause_ms > kSequenceLagMs) return 0;
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
  const int pause_ms = kPausesMs[data[0] % 4];
  TypedBytes bytes(data + 1, size - 1, pause_ms);
  KeyDecoder decoder;
  for (;;) {
    const std::size_t start = bytes.position();
    const std::optional<unsigned char> first = bytes.NextKeyStart();
    if (!first) break;
    const std::int64_t first_ms = bytes.NowMs();
    const Key key = decoder.Decode(*first, bytes, KeyContext::kMenu);
    const std::size_t taken = bytes.position() - start;
    FUZZ_CHECK(taken >= 1);
    if (key.second) {
      FUZZ_CHECK(key.first == kGreyLeadIn || key.first == kFunctionLeadIn);
      FUZZ_CHECK(*key.second != kEscapeKey && !IsMenuKey(*key.second));
    } else {
      FUZZ_CHECK(taken == 1 || (key.first == kEscapeKey && taken == 2));
      FUZZ_CHECK(!IsMenuKey(key.first) || !InsideSequence(bytes, start));
    }

    if (*first != kEscapeKey) {
      const unsigned char expected = *first == 127 ? kBackspaceKey : *first;
      if (key == Key{expected, std::nullopt}) continue;
      // Swallowed: the rest of a sequence that a wait gave up on lately.
      FUZZ_CHECK(key == kUnknown);
      FUZZ_CHECK(bytes.ran_out_ms() && first_ms - *bytes.ran_out_ms() <= kBrokenTailMs);
      continue;
    }
    // What followed the ESC: nothing in time, another ESC, or more.
    const bool lone = Lone(bytes, start + 1);
    const bool escape_pair = !lone && bytes.at(start + 1) == kEscapeKey;
    if (lone || (escape_pair && (Lone(bytes, start + 2) || bytes.at(start + 2) == kEscapeKey))) {
      FUZZ_CHECK((key == Key{kEscapeKey, std::nullopt}));
      FUZZ_CHECK(taken == (lone ? 1u : 2u));
      continue;
    }
    FUZZ_CHECK(key.second.has_value());
    if (const std::size_t length = CompleteSequence(bytes, start, pause_ms))
      FUZZ_CHECK(taken == length);
  }
  return 0;
}
