#include "console/terminal/key_decoder.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <deque>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

namespace {

// Longer than a sequence's bytes may lag, within its broken tail's window.
constexpr int kPause = kSequenceLagMs + 1;

// Bytes as a terminal sends them, each arriving at its own time; the clock
// moves as the decoder waits. In a script, '|' stands for a pause.
class TimedBytes final : public ByteSource {
 public:
  explicit TimedBytes(std::string_view script, int pause_ms = kPause) {
    std::size_t bar = script.find('|');
    for (; bar != std::string_view::npos; bar = script.find('|')) {
      Add(script.substr(0, bar));
      last_ms_ += pause_ms;
      script.remove_prefix(bar + 1);
    }
    Add(script);
  }
  // Bytes that arrive at once, after_ms after the ones added before.
  void Add(std::string_view bytes, int after_ms = 0) {
    last_ms_ += after_ms;
    for (char c : bytes) bytes_.push_back({last_ms_, static_cast<unsigned char>(c)});
  }
  // The next byte, however long it takes: the first of a key.
  std::optional<unsigned char> Next() {
    if (bytes_.empty()) return std::nullopt;
    const Arrival arrival = bytes_.front();
    bytes_.pop_front();
    now_ms_ = std::max(now_ms_, arrival.at_ms);
    return arrival.byte;
  }
  std::optional<unsigned char> NextWithin(int timeout_ms) override {
    if (bytes_.empty() || bytes_.front().at_ms > now_ms_ + timeout_ms) {
      now_ms_ += timeout_ms;
      return std::nullopt;
    }
    return Next();
  }
  void Unread(unsigned char byte) override { bytes_.push_front({now_ms_, byte}); }
  std::int64_t NowMs() override { return now_ms_; }

 private:
  struct Arrival {
    std::int64_t at_ms;
    unsigned char byte;
  };

  std::deque<Arrival> bytes_;
  std::int64_t last_ms_ = 0;
  std::int64_t now_ms_ = 0;
};

// Decodes every key, as successive key reads would.
std::vector<Key> DecodeAll(TimedBytes bytes) {
  KeyDecoder decoder;
  std::vector<Key> keys;
  while (std::optional<unsigned char> first = bytes.Next())
    keys.push_back(decoder.Decode(*first, bytes));
  return keys;
}

Key Plain(unsigned char c) { return {c, std::nullopt}; }
Key Grey(unsigned char code) { return {0xE0, code}; }
Key Fn(unsigned char code) { return {0x00, code}; }

bool IsCommandOrEscape(unsigned char c) { return (c >= '1' && c <= '8') || c == 27; }

TEST(KeyDecoder, DecodesTerminalSequencesIntoConsoleKeys) {
  const struct {
    const char* bytes;
    std::vector<Key> keys;
    int pause_ms = kPause;  // what '|' stands for
  } cases[] = {
      {"a", {Plain('a')}},
      {"\r", {Plain(13)}},
      {"\x7f", {Plain(8)}},
      {"\x1b", {Plain(27)}},
      {"\x1b|", {Plain(27)}},
      // Alt+Escape, or Escape twice faster than anyone types: one Escape.
      {"\x1b\x1b", {Plain(27)}},
      {"\x1b\x1b|x", {Plain(27), Plain('x')}},
      {"\x1b\x1bx", {Fn(0x80 | 'x')}},
      // Alt with a special key, sent as ESC before the key's sequence.
      {"\x1b\x1b[A\x1b\x1b[5~\x1b\x1bOP\x1b\x1b[24~", {Fn(152), Fn(153), Fn(104), Fn(140)}},
      {"\x1b\x1b\x1b[A", {Plain(27), Grey(72)}},
      {"\x1b|\x1b[A", {Plain(27), Grey(72)}},
      {"\x1b[A\x1b[B\x1b[C\x1b[D", {Grey(72), Grey(80), Grey(77), Grey(75)}},
      {"\x1bOA\x1bOH\x1bOF", {Grey(72), Grey(71), Grey(79)}},
      {"\x1b[H\x1b[F\x1b[1~\x1b[4~\x1b[7~\x1b[8~",
       {Grey(71), Grey(79), Grey(71), Grey(79), Grey(71), Grey(79)}},
      {"\x1b[2~\x1b[3~\x1b[5~\x1b[6~", {Grey(82), Grey(83), Grey(73), Grey(81)}},
      {"\x1bOP\x1bOQ\x1bOR\x1bOS", {Fn(59), Fn(60), Fn(61), Fn(62)}},
      {"\x1b[11~\x1b[15~\x1b[17~\x1b[21~", {Fn(59), Fn(63), Fn(64), Fn(68)}},
      {"\x1b[23~\x1b[24~", {Grey(133), Grey(134)}},
      {"\x1b[[A\x1b[[E", {Fn(59), Fn(63)}},
      {"\x1b[1;5A\x1b[3;2~", {Grey(72), Grey(83)}},
      {"\x1b[1;1;1;1;1;1;1;1;1;5~", {Grey(71)}},
      // rxvt's Shift and Ctrl forms end the sequence at once.
      {"\x1b[3$x\x1b[5^\x1b[6@", {Grey(83), Plain('x'), Grey(73), Grey(81)}},
      {"\x1b[a\x1bOd", {Grey(72), Grey(75)}},
      // Unknown, but consumed whole: nothing of it leaks out as keys.
      {"\x1b[99~x", {Grey(0xFF), Plain('x')}},
      {"\x1b[200;1;2Zx", {Grey(0xFF), Plain('x')}},
      // Broken off by a pause: a short one is waited out; after a longer one
      // the rest is swallowed, up to the window's end.
      {"\x1b[1|7~", {Fn(64)}, 150},
      {"\x1b[1|7~5", {Grey(0xFF), Grey(0xFF), Plain('5')}},
      {"\x1b[12|3", {Grey(0xFF), Grey(0xFF)}},
      {"\x1b[|[A", {Fn(0x80 | '['), Grey(0xFF)}},
      {"\x1b|[15~", {Plain(27), Grey(0xFF)}, kEscapeTimeoutMs + 1},
      {"\x1b[12|3", {Grey(0xFF), Plain('3')}, kSequenceLagMs + kBrokenTailMs + 1},
      // Alt+key, including Alt with a command digit and beyond ASCII.
      {"\x1b"
       "a",
       {Fn(0x80 | 'a')}},
      {"\x1b"
       "1",
       {Fn(0x80 | '1')}},
      {"\x1b\xc3\xa9\x1b\xe2\x82\xac", {Fn(0xC3), Fn(0xE2)}},
      {"\x1b[|", {Fn(0x80 | '[')}},
      {"\x1bO|", {Fn(0x80 | 'O')}},
      // A sequence broken off by a new one.
      {"\x1b[1\x1b[B", {Grey(0xFF), Grey(80)}},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(DecodeAll(TimedBytes(c.bytes, c.pause_ms)), c.keys)
        << "bytes: " << testing::PrintToString(std::string(c.bytes)) << ", pause " << c.pause_ms;
  }
}

TEST(KeyDecoder, SpecialKeysNeverLookLikeCommandsOrEscape) {
  // Every byte after ESC [ and after ESC O, and every Alt+byte.
  for (int introducer : {0, int{'['}, int{'O'}}) {
    for (int b = 0; b < 256; ++b) {
      std::string bytes = "\x1b";
      if (introducer) bytes += static_cast<char>(introducer);
      bytes += static_cast<char>(b);
      if (b == 0x1b || b == '|') continue;  // a second Escape; the pause mark
      const std::vector<Key> keys = DecodeAll(TimedBytes(bytes + "|"));
      ASSERT_FALSE(keys.empty());
      const Key& key = keys.front();
      ASSERT_TRUE(key.second.has_value()) << introducer << " " << b;
      EXPECT_TRUE(key.first == 0x00 || key.first == 0xE0);
      EXPECT_FALSE(*key.second >= '1' && *key.second <= '8') << introducer << " " << b;
      EXPECT_NE(*key.second, 27);
    }
  }
}

TEST(KeyDecoder, EndlessParametersEndAsOneUnknownKey) {
  const std::string bytes = "\x1b[" + std::string(100, '1') + "~";
  EXPECT_EQ(DecodeAll(TimedBytes(bytes)), std::vector<Key>{Grey(0xFF)});
}

// The key strings of common terminals' terminfo entries (written by
// scripts/terminfo-keys), with Alt sent as an ESC before them and with
// rxvt's Shift, Ctrl and Ctrl+Shift endings, each sent whole, then split at
// every byte by pauses up to the broken tail's window: a string that starts
// with ESC gives nothing but special keys, and the Escape key only when the
// split leaves its ESC alone.
TEST(KeyDecoder, TerminalKeyStringsGiveOnlySpecialKeysWholeOrSplit) {
  std::ifstream file(VARNO_TERMINFO_KEYS);
  ASSERT_TRUE(file) << VARNO_TERMINFO_KEYS;
  std::map<std::string, std::string> sent_by;  // bytes, and one entry that sends them
  int lines = 0;
  for (std::string line; std::getline(file, line);) {
    if (line.empty() || line[0] == '#') continue;
    std::istringstream fields(line);
    std::string entry;
    std::string capability;
    std::string hex;
    ASSERT_TRUE(fields >> entry >> capability >> hex) << line;
    std::string bytes;
    for (std::size_t i = 0; i + 1 < hex.size(); i += 2)
      bytes += static_cast<char>(std::stoi(hex.substr(i, 2), nullptr, 16));
    sent_by.emplace(bytes, entry + " " + capability);
    ++lines;
  }
  ASSERT_GT(lines, 1000);
  for (const auto& [bytes, who] : std::map(sent_by)) {
    if (bytes.ends_with('~')) {
      for (char end : {'$', '^', '@'})
        sent_by.emplace(bytes.substr(0, bytes.size() - 1) + end, who + " rxvt " + end);
    }
  }
  for (const auto& [bytes, who] : std::map(sent_by)) {
    // (Some already are: iTerm2 sends Alt+Page Up as "ESC ESC [ 5 ~".)
    if (bytes.starts_with('\x1b') && !bytes.starts_with("\x1b\x1b"))
      sent_by.emplace("\x1b" + bytes, who + " after ESC");
  }

  int splits = 0;
  for (const auto& [bytes, who] : sent_by) {
    SCOPED_TRACE(who + ": " + testing::PrintToString(bytes));
    // Whole, and followed at once by a key that must not be lost.
    const std::vector<Key> whole = DecodeAll(TimedBytes(bytes));
    ASSERT_EQ(whole.size(), 1u);
    EXPECT_FALSE(IsCommandOrEscape(whole[0].first));
    if (bytes[0] != '\x1b') continue;
    EXPECT_TRUE(whole[0].second.has_value());
    if (bytes.size() > 1 && bytes.back() != '<') {  // xterm's mouse report goes on
      EXPECT_EQ(DecodeAll(TimedBytes(bytes + "x")), (std::vector<Key>{whole[0], Plain('x')}));
    }
    const std::size_t escapes = bytes.find_first_not_of('\x1b');
    for (std::size_t split = 1; split < bytes.size(); ++split) {
      for (int pause : {kEscapeTimeoutMs + 1, kSequenceLagMs + 1, kBrokenTailMs}) {
        TimedBytes timed(bytes.substr(0, split));
        timed.Add(bytes.substr(split), pause);
        std::vector<Key> keys = DecodeAll(timed);
        ++splits;
        SCOPED_TRACE("split after " + std::to_string(split) + ", " + std::to_string(pause) + " ms");
        ASSERT_FALSE(keys.empty());
        if (split <= escapes) {
          EXPECT_EQ(keys.front(), Plain(27));
          keys.erase(keys.begin());
        }
        for (const Key& key : keys) {
          // ESC and a control byte, Alt+key, leaves that byte when split.
          if (split > escapes || bytes[escapes] == '[' || bytes[escapes] == 'O') {
            EXPECT_TRUE(key.second.has_value());
          }
          EXPECT_FALSE(!key.second && IsCommandOrEscape(key.first));
        }
        if (pause < kSequenceLagMs && split > escapes) {
          EXPECT_EQ(keys, whole);
        }
      }
    }
  }
  RecordProperty("key_strings", lines);
  RecordProperty("distinct_with_alt_and_rxvt_forms", static_cast<int>(sent_by.size()));
  RecordProperty("splits", splits);
}

}  // namespace
