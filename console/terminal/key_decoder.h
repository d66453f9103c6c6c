// Turning the bytes a terminal sends into the keys the target console gives
// (console/terminal/keys.h): by the terminal's own key strings where they
// are known (its terminfo entry), and otherwise by the shapes that
// terminals' keys take.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "console/terminal/keys.h"
#include "console/terminal/terminfo_keys.h"

// The code of a sequence the decoder does not know, after kGreyLeadIn.
inline constexpr unsigned char kUnknownKeyCode = 0xFF;

// Where the decoder takes the bytes that follow the first of a key.
class ByteSource {
 public:
  virtual ~ByteSource() = default;
  // The next byte if one arrives within timeout_ms; nothing otherwise or
  // when input has ended.
  virtual std::optional<unsigned char> NextWithin(int timeout_ms) = 0;
  // Hands a byte back, to be read before any other; bytes handed back one
  // after another are read last one first.
  virtual void Unread(unsigned char byte) = 0;
  // Milliseconds on a clock that never goes back.
  virtual std::int64_t NowMs() = 0;
};

// How long the byte after the first of a key may take: after an ESC, how
// long it waits to become the Escape key. Terminals send a key's string in
// one write, so its bytes arrive together; this is the Escape key's delay,
// and stays short.
inline constexpr int kEscapeTimeoutMs = 50;
// At the menu and in a live reading, how long each further byte of a
// sequence may lag behind the one before it (a slow link, a loaded
// machine): a lost TCP segment is sent again after at least 200 ms.
inline constexpr int kSequenceLagMs = 300;
// At a prompt, the same: no longer than the Escape key's wait, since typed
// text after Alt+[ or Alt+O must not be taken for the rest of a sequence. A
// sequence broken there leaves its rest in the line, shown, for Backspace.
inline constexpr int kPromptSequenceLagMs = kEscapeTimeoutMs;
// At the menu and in a live reading (which the menu follows), when a pause
// has still broken a sequence off, or left its ESC alone to be read as
// Escape, how long after the break the rest of it is recognised and
// swallowed, so that its digits never reach the menu as command keys: past
// a segment lost three times (sent again after 200, 400 and 800 ms). It
// costs only a digit typed that soon after Alt+[, Alt+O or such a break.
inline constexpr int kBrokenTailMs = 2000;

// Decodes the keys of one input, one after another. DEL (127) reads as
// Backspace unless the terminal names it a key of its own. Remembers a
// sequence broken off by a pause until its rest has come or kBrokenTailMs
// has passed, and a UTF-8 character until its last byte.
class KeyDecoder {
 public:
  // By the shapes of terminals' keys alone.
  KeyDecoder() = default;
  // By the terminal's own key strings too.
  explicit KeyDecoder(const std::vector<TerminalKey>& terminal_keys);

  // The key that starts with `first`, read where `context` says, reading
  // any further bytes of its sequence from `more`.
  Key Decode(unsigned char first, ByteSource& more, KeyContext context);

 private:
  // How far bytes read so far go towards a key.
  enum class Match : unsigned char {
    kNone,      // they are no key's start
    kPrefix,    // a key's start, not a key yet
    kKey,       // a whole key, which no byte can make longer
    kKeySoFar,  // a whole key, which more bytes may make a longer one
  };
  struct BrokenOff {
    std::string bytes;      // as far as the sequence had come
    std::int64_t until_ms;  // what comes later is no longer its rest
  };

  // By the shapes of terminals' keys: "ESC [" or "ESC O" and parameter
  // bytes up to a final byte (or their 8-bit forms), the Linux console's
  // "ESC [ [ A", "ESC F x", "ESC ? x", words after ESC, and any of these
  // after one more ESC (Alt held).
  static Match ClassifyShape(std::string_view bytes);
  static Match ClassifyOneShape(std::string_view bytes);  // without the ESC for Alt
  static Match ClassifySequenceBody(std::string_view body);
  static Key NameShape(std::string_view bytes);
  static Key NameOneShape(std::string_view bytes);
  // By the terminal's own key strings alone.
  Match ClassifyTerminal(std::string_view bytes) const;
  // By the terminal's strings, alone and after an ESC (Alt held); and by
  // those and the shapes.
  struct Matches {
    Match terminal;
    Match all;
  };
  Matches Classify(std::string_view bytes) const;
  // The key that complete `bytes` are.
  Key Name(std::string_view bytes) const;
  // Reads on from `bytes`, the start of a sequence, up to its end.
  // swallow_until_ms is the deadline of a broken sequence's rest, being
  // swallowed as one unknown key.
  Key ReadOn(std::string bytes, ByteSource& more, KeyContext context,
             std::optional<std::int64_t> swallow_until_ms);
  // What bytes that were going to be a key are when nothing more of it
  // comes: `next` (handed back) did not continue it, or nothing came.
  Key BrokenOffKey(const std::string& bytes, std::optional<unsigned char> next, ByteSource& more,
                   KeyContext context);
  Key Plain(unsigned char byte);
  // Counts a key's first byte against bytes_before_pause_.
  void CountRead();
  // The next byte from `more`, but never past a pause already waited out.
  std::optional<unsigned char> NextWithin(ByteSource& more, int timeout_ms);
  // Hands `bytes` back to be read again, noting the pause after them if
  // `next` did not come.
  void HandBack(std::string_view bytes, std::optional<unsigned char> next, ByteSource& more);

  using KeyStrings = std::map<std::string, Key, std::less<>>;
  // Shared by copies, which start from the same state.
  std::shared_ptr<const KeyStrings> terminal_keys_ = std::make_shared<const KeyStrings>();
  std::optional<BrokenOff> broken_off_;
  int utf8_continuations_ = 0;  // still to come of a character typed
  // Of bytes handed back that a pause followed, how many are still to be
  // read again before it.
  std::optional<std::size_t> bytes_before_pause_;
};
