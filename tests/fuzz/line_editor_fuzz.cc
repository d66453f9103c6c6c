// The line editor fed the keys a terminal decodes from any bytes, line after
// line. What the screen shows is the reference: the stored line is always
// the first 49 characters of it, printable, and judged too long exactly
// when the screen shows more. The echo only ever writes printable
// characters, erases what it wrote, or ends the line.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "console/key_decoder.h"
#include "console/line_editor.h"
#include "fuzz_check.h"
#include "typed_bytes.h"

namespace {

// The signal name buffer's 50 bytes, less the NUL.
constexpr std::size_t kCapacity = 49;
constexpr std::string_view kErase = "\b \b";

bool IsPrintable(unsigned char c) { return c >= 0x20 && c <= 0x7E; }

// Applies `echo` to the line the screen shows; true when it ended the line.
bool Show(std::string_view echo, std::string* shown) {
  while (!echo.empty()) {
    if (echo.starts_with(kErase)) {
      FUZZ_CHECK(!shown->empty());  // else it would erase the prompt
      shown->pop_back();
      echo.remove_prefix(kErase.size());
    } else if (echo == "\n") {
      return true;
    } else {
      FUZZ_CHECK(IsPrintable(static_cast<unsigned char>(echo.front())));
      *shown += echo.front();
      echo.remove_prefix(1);
    }
  }
  return false;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  varno::fuzz::TypedBytes bytes(data, size);
  KeyDecoder decoder;
  LineEditor editor(kCapacity);
  std::string shown;
  while (const std::optional<unsigned char> first = bytes.NextKeyStart()) {
    std::string echo;
    const bool done = editor.Press(decoder.Decode(*first, bytes), &echo);
    FUZZ_CHECK(Show(echo, &shown) == done);

    const std::string& line = editor.line();
    FUZZ_CHECK(line.size() <= kCapacity);
    FUZZ_CHECK(line == shown.substr(0, kCapacity));
    FUZZ_CHECK(editor.too_long() == (shown.size() > kCapacity));
    for (char c : line) FUZZ_CHECK(IsPrintable(static_cast<unsigned char>(c)));
    if (done) {
      editor = LineEditor(kCapacity);
      shown.clear();
    }
  }
  return 0;
}
