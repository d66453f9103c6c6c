#include "console/line_editor.h"

bool LineEditor::Press(const Key& key, std::string* echo) {
  if (key.second) return false;  // special keys do nothing here
  const unsigned char c = key.first;
  if (c == '\r' || c == '\n') {
    *echo += '\n';
    return true;
  }
  if (c == kBackspaceKey) {
    if (excess_ > 0) {
      --excess_;
    } else if (!line_.empty()) {
      line_.pop_back();
    } else {
      return false;
    }
    *echo += "\b \b";  // back, blank out, back again
    return false;
  }
  if (c < 0x20 || c > 0x7E) return false;
  if (line_.size() < capacity_)
    line_ += static_cast<char>(c);
  else
    ++excess_;
  *echo += static_cast<char>(c);
  return false;
}
