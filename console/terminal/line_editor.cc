#include "console/terminal/line_editor.h"

namespace {

// Far beyond any line a prompt takes; a longer paste is only counted.
constexpr std::size_t kLongestKept = std::size_t{64} * 1024;

// Back, blank out, back again: one column; a caret-notation key takes two.
constexpr char kEraseColumn[] = "\b \b";
constexpr char kEraseTwoColumns[] = "\b\b  \b\b";

bool IsControl(unsigned char c) { return c < 0x20 || c == 0x7F; }

// Bytes of the UTF-8 character that `lead` starts; 1 for any other byte.
std::size_t Utf8Length(unsigned char lead) {
  if (lead >= 0xF0 && lead <= 0xF4) return 4;
  if (lead >= 0xE0 && lead <= 0xEF) return 3;
  if (lead >= 0xC2 && lead <= 0xDF) return 2;
  return 1;
}

}  // namespace

std::size_t LineEditor::LastCharacterStart() const {
  const std::size_t last = line_.size() - 1;
  if (encoding_ != Encoding::kUtf8) return last;
  // Back over continuation bytes to a lead byte whose character they
  // complete; a byte that is not part of one is a character of its own.
  std::size_t start = last;
  while (start > 0 && last - start < 3 && (static_cast<unsigned char>(line_[start]) & 0xC0) == 0x80)
    --start;
  if (Utf8Length(static_cast<unsigned char>(line_[start])) == line_.size() - start) return start;
  return last;
}

bool LineEditor::Press(const Key& key, std::string* echo) {
  if (key.second) return false;  // special keys do nothing here
  const unsigned char c = key.first;
  if (c == '\r' || c == '\n') {
    *echo += '\n';
    return true;
  }
  if (c == kEscapeKey) return false;
  if (c == kBackspaceKey) {
    if (excess_ > 0) {
      --excess_;
      *echo += kEraseColumn;
    } else if (!line_.empty()) {
      const std::size_t start = LastCharacterStart();
      *echo +=
          IsControl(static_cast<unsigned char>(line_[start])) ? kEraseTwoColumns : kEraseColumn;
      line_.erase(start);
    }
    return false;
  }
  if (line_.size() < kLongestKept)
    line_ += static_cast<char>(c);
  else
    ++excess_;
  if (IsControl(c)) {
    *echo += '^';
    *echo += static_cast<char>(c ^ 0x40);  // Tab (9) is ^I, DEL (127) ^?
  } else {
    *echo += static_cast<char>(c);
  }
  return false;
}
