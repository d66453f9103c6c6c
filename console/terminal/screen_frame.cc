#include "console/terminal/screen_frame.h"

#include <algorithm>
#include <cstddef>

namespace {

constexpr std::size_t kNoPosition = std::string_view::npos;

// ESC [ ? 2026 h ... ESC [ ? 2026 l: a synchronized update, painted whole by
// terminals that honour it and ignored by the others.
constexpr std::string_view kBeginUpdate = "\x1b[?2026h";
constexpr std::string_view kEndUpdate = "\x1b[?2026l";
// ESC [ H: cursor home.
constexpr std::string_view kHome = "\x1b[H";
// ESC [ 3 J: erase the scrollback. Some terminals (the Linux console) erase
// the screen with it, so only the clear that opens a screen sends it.
constexpr std::string_view kEraseScrollback = "\x1b[3J";
// ESC [ K: erase from the cursor to the end of its row.
constexpr std::string_view kEraseRight = "\x1b[K";
// ESC [ J: erase from the cursor to the end of the screen.
constexpr std::string_view kEraseBelow = "\x1b[J";

// ESC 7, ESC 8: save the cursor, restore it.
constexpr std::string_view kSaveCursor = "\0337";
constexpr std::string_view kRestoreCursor = "\0338";

// Erases the top `rows` rows and puts the cursor back: ESC [ rows ; 999 H
// goes to the end of the last of them (as far right as the row goes), and
// ESC [ 1 J erases from the top of the screen to there.
std::string EraseTopRows(std::size_t rows) {
  return std::string(kSaveCursor) + "\x1b[" + std::to_string(rows) + ";999H\x1b[1J" +
         std::string(kRestoreCursor);
}

// Rows a line takes on a screen `width` wide. A line that fills its last row
// exactly ends there: the cursor waits on its last character, and the line
// end moves on from that row.
std::size_t LineRows(std::size_t length, std::size_t width) {
  return length == 0 ? 1 : (length + width - 1) / width;
}

std::size_t TextRows(std::string_view text, std::size_t width) {
  std::size_t rows = 0;
  for (;;) {
    const std::size_t end = text.find('\n');
    rows += LineRows(std::min(end, text.size()), width);
    if (end == kNoPosition) return rows;
    text.remove_prefix(end + 1);
  }
}

// What stays of `text` on a screen `width` by `rows` (0 when unknown) once
// it is written from the top left: all of it when it fits, else the text
// from the start of the first row that does not scroll away.
std::string_view OnScreen(std::string_view text, std::size_t width, std::size_t rows) {
  if (width == 0 || rows == 0) return text;
  std::size_t excess = TextRows(text, width);
  if (excess <= rows) return text;
  excess -= rows;
  for (std::size_t start = 0;;) {
    const std::size_t end = text.find('\n', start);
    const std::size_t line_rows = LineRows(std::min(end, text.size()) - start, width);
    if (excess < line_rows) return text.substr(start + excess * width);
    excess -= line_rows;
    start = end + 1;
  }
}

std::size_t LineStart(std::string_view text, std::size_t at) {
  const std::size_t newline = at == 0 ? kNoPosition : text.rfind('\n', at - 1);
  return newline == kNoPosition ? 0 : newline + 1;
}

// How much of `text` the screen shows already, showing `shown`: their common
// start, less its last character when that fills a row (the cursor cannot be
// put just after it).
std::size_t AlreadyShown(std::string_view shown, std::string_view text, std::size_t width) {
  std::size_t common = static_cast<std::size_t>(
      std::mismatch(text.begin(), text.end(), shown.begin(), shown.end()).first - text.begin());
  const std::size_t in_line = common - LineStart(text, common);
  if (in_line > 0 && in_line % width == 0) --common;
  return common;
}

// ESC [ row ; column H: the cursor to where text[at] is drawn.
std::string MoveTo(std::string_view text, std::size_t at, std::size_t width) {
  std::size_t row = 0;
  std::size_t line_start = 0;
  for (std::size_t end = text.find('\n'); end < at; end = text.find('\n', line_start)) {
    row += LineRows(end - line_start, width);
    line_start = end + 1;
  }
  const std::size_t in_line = at - line_start;
  return "\x1b[" + std::to_string(row + in_line / width + 1) + ";" +
         std::to_string(in_line % width + 1) + "H";
}

// Draws `text` over the screen (`width` columns, 0 when unknown), which shows
// it up to `from` already. Each row is erased only once new text shows: the
// rest of a line after the line, the empty rows the text begins with after
// its first line, and at the end the rest of the screen, or of the last row
// when the rows below are blank already (erasing below is slow in some
// terminals, slow enough that a fast live reading keeps them from reading
// the keyboard).
std::string Frame(std::string_view text, std::size_t from, std::size_t width, bool wipe,
                  bool blank_below) {
  std::string out(kBeginUpdate);
  out += from == 0 ? std::string(kHome) : MoveTo(text, from, width);
  if (wipe) out += kEraseScrollback;
  const std::size_t empty_rows = std::min(text.find_first_not_of('\n'), text.size());
  const bool erase_top = from < empty_rows;
  if (erase_top) out.append(empty_rows - from, '\n');
  std::size_t at = std::max(from, empty_rows);
  std::size_t line_start = LineStart(text, at);
  for (bool first = true;; first = false) {
    const std::size_t end = text.find('\n', at);
    const std::size_t line_end = std::min(end, text.size());
    // A line that fills its last row exactly leaves the cursor on its last
    // character, which an erase would take with it: that erase goes first.
    const std::size_t length = line_end - line_start;
    const std::size_t split =
        width > 0 && length > 0 && length % width == 0 ? line_end - 1 : line_end;
    out += text.substr(at, split - at);
    if (first && erase_top) out += EraseTopRows(empty_rows);
    out += end == kNoPosition && !blank_below ? kEraseBelow : kEraseRight;
    out += text.substr(split, line_end - split);
    if (end == kNoPosition) break;
    out += '\n';
    at = line_start = end + 1;
  }
  out += kEndUpdate;
  return out;
}

}  // namespace

void ScreenFrame::Clear() {
  const Held clear = after_print_ ? Held::kRedraw : Held::kWipe;
  if (clear > held_) held_ = clear;
  after_print_ = false;
}

std::string ScreenFrame::Print(std::string_view text, ScreenSize size) {
  after_print_ = true;
  if (held_ == Held::kNone) {
    if (shown_) *shown_ += text;
    if (screen_) *screen_ += text;
    return std::string(text);
  }
  const bool wipe = held_ == Held::kWipe;
  held_ = Held::kNone;
  screen_ = std::string(text);
  const std::size_t width = size.columns > 1 ? static_cast<std::size_t>(size.columns) : 0;
  const std::size_t rows = size.rows > 0 ? static_cast<std::size_t>(size.rows) : 0;
  text = OnScreen(text, width, rows);
  // A live reading rewrites only what changed since the last sample: a
  // terminal may blank the cells it rewrites before drawing them again.
  std::size_t from = 0;
  bool blank_below = false;
  const bool in_place = !wipe && shown_ && size == shown_size_ && width > 0 && rows > 0 &&
                        TextRows(*shown_, width) <= rows;
  if (in_place) {
    const bool tidy = ++redraws_since_tidy_ % kTidyEvery == 0;
    if (*shown_ == text && !tidy) return {};  // on the screen already, the cursor after it
    from = AlreadyShown(*shown_, text, width);
    blank_below = !tidy && TextRows(*shown_, width) <= TextRows(text, width);
  } else {
    redraws_since_tidy_ = 0;
  }
  shown_ = std::string(text);
  shown_size_ = size;
  return Frame(text, from, width, wipe, blank_below);
}

std::string ScreenFrame::Flush(bool key_waiting) {
  after_print_ = false;
  shown_.reset();
  if (held_ == Held::kNone || key_waiting) return {};
  const bool wipe = held_ == Held::kWipe;
  held_ = Held::kNone;
  screen_ = std::string();
  return Frame("", 0, 0, wipe, false);
}

void ScreenFrame::RepaintWhole() { shown_.reset(); }

void ScreenFrame::Forget() {
  shown_.reset();
  screen_.reset();
}

std::string ScreenFrame::Redraw(ScreenSize size) const {
  if (!screen_) return {};
  const std::size_t width = size.columns > 1 ? static_cast<std::size_t>(size.columns) : 0;
  const std::size_t rows = size.rows > 0 ? static_cast<std::size_t>(size.rows) : 0;
  return Frame(OnScreen(*screen_, width, rows), 0, width, false, false);
}
