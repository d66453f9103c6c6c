// The line editor fed the keys a terminal decodes from any bytes, line after
// line, one byte a character. What the screen shows is the reference: the
// line holds exactly the characters shown (a control key as "^X"), and is
// judged too long exactly when more than 49 are shown. Each key's echo adds
// one character, erases the last one whole, or ends the line.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "console/terminal/key_decoder.h"
#include "console/terminal/line_editor.h"
#include "fuzz_check.h"
#include "typed_bytes.h"

namespace {

// The signal name buffer's 50 bytes, less the NUL.
constexpr std::size_t kCapacity = 49;
constexpr std::string_view kErase = "\b \b";
constexpr std::string_view kEraseTwoColumns = "\b\b  \b\b";

bool IsControl(char c) {
  const auto byte = static_cast<unsigned char>(c);
  return byte < 0x20 || byte == 0x7F;
}

// Applies one key's `echo` to the line the screen shows; true when it ended
// the line.
bool Show(std::string_view echo, std::string* shown) {
  if (echo.empty()) return false;
  if (echo == "\n") return true;
  if (echo == kErase || echo == kEraseTwoColumns) {
    FUZZ_CHECK(!shown->empty());  // else it would erase the prompt
    FUZZ_CHECK(IsControl(shown->back()) == (echo == kEraseTwoColumns));
    shown->pop_back();
  } else if (echo.size() == 2 && echo[0] == '^') {
    FUZZ_CHECK(IsControl(static_cast<char>(echo[1] ^ 0x40)));
    *shown += static_cast<char>(echo[1] ^ 0x40);
  } else {
    FUZZ_CHECK(echo.size() == 1 && !IsControl(echo[0]));
    *shown += echo[0];
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
    const bool done = editor.Press(decoder.Decode(*first, bytes, KeyContext::kPrompt), &echo);
    FUZZ_CHECK(Show(echo, &shown) == done);

    FUZZ_CHECK(editor.line() == shown);
    FUZZ_CHECK(editor.too_long() == (shown.size() > kCapacity));
    if (done) {
      editor = LineEditor(kCapacity);
      shown.clear();
    }
  }
  return 0;
}
