// The key decoder over any bytes and pauses: an escape sequence never gives
// Escape or a menu key, Escape comes only from a lone ESC (or one followed by
// another ESC), every other byte is its own key, and no sequence swallows
// more than its own bytes.
#include <cstddef>
#include <cstdint>

#include "console/key_decoder.h"
#include "fuzz_check.h"
#include "typed_bytes.h"

namespace {

// "ESC [", sixteen parameter bytes, one more byte: the most a key may take.
constexpr std::size_t kLongestKey = 19;

bool IsMenuKey(unsigned char c) { return c >= '1' && c <= '8'; }

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  varno::fuzz::TypedBytes bytes(data, size);
  for (;;) {
    const std::size_t start = bytes.position();
    const std::optional<unsigned char> first = bytes.NextKeyStart();
    if (!first) break;
    const Key key = DecodeKey(*first, bytes);
    const std::size_t taken = bytes.position() - start;
    FUZZ_CHECK(taken >= 1 && taken <= kLongestKey);

    if (*first != kEscapeKey) {
      const unsigned char expected = *first == 127 ? kBackspaceKey : *first;
      FUZZ_CHECK((key == Key{expected, std::nullopt}));
      FUZZ_CHECK(taken == 1);
      continue;
    }
    // What followed the ESC: nothing in time, another ESC, or more.
    const std::size_t after = start + 1;
    const bool lone = after == bytes.size() || bytes.PauseBefore(after);
    const bool escape_next = !lone && bytes.at(after) == kEscapeKey;
    if (lone || escape_next) {
      FUZZ_CHECK((key == Key{kEscapeKey, std::nullopt}));
      FUZZ_CHECK(taken == 1);
      continue;
    }
    FUZZ_CHECK(key.second.has_value());
    FUZZ_CHECK(key.first == kGreyLeadIn || key.first == kFunctionLeadIn);
    FUZZ_CHECK(*key.second != kEscapeKey && !IsMenuKey(*key.second));
  }
  return 0;
}
