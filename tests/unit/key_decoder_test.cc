#include "console/terminal/key_decoder.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <deque>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

#include "console/terminal/line_editor.h"
#include "console/terminal/terminfo_keys.h"

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

// Bytes that arrive together, '|' among them.
TimedBytes Together(std::string_view bytes) {
  TimedBytes timed("");
  timed.Add(bytes);
  return timed;
}

// Decodes every key, as successive key reads would: in `context`, and at
// the menu once Escape has ended a live reading.
std::vector<Key> DecodeAll(TimedBytes bytes, KeyContext context = KeyContext::kMenu,
                           KeyDecoder decoder = KeyDecoder()) {
  std::vector<Key> keys;
  while (std::optional<unsigned char> first = bytes.Next()) {
    keys.push_back(decoder.Decode(*first, bytes, context));
    if (context == KeyContext::kLiveReading && keys.back() == Key{27, std::nullopt})
      context = KeyContext::kMenu;
  }
  return keys;
}

// The terminfo entries of tests/unit/data/terminfo_keys.txt (written by
// scripts/terminfo-keys): each line the entries that send the same keys.
struct KeySet {
  std::vector<std::string> entries;
  std::vector<TerminalKey> keys;
};

const std::vector<KeySet>& TerminfoKeySets() {
  static const std::vector<KeySet> sets = [] {
    std::vector<KeySet> read;
    std::ifstream file(VARNO_TERMINFO_KEYS);
    for (std::string line; std::getline(file, line);) {
      if (line.empty() || line[0] == '#') continue;
      std::istringstream fields(line);
      std::string names;
      fields >> names;
      KeySet set;
      std::istringstream entries(names);
      for (std::string entry; std::getline(entries, entry, ',');) set.entries.push_back(entry);
      for (std::string key; fields >> key;) {
        const std::size_t equals = key.find('=');
        std::string bytes;
        for (std::size_t i = equals + 1; i + 1 < key.size(); i += 2)
          bytes += static_cast<char>(std::stoi(key.substr(i, 2), nullptr, 16));
        set.keys.push_back({key.substr(0, equals), bytes});
      }
      read.push_back(std::move(set));
    }
    return read;
  }();
  return sets;
}

// The keys of one entry of the data.
std::vector<TerminalKey> KeysOf(std::string_view entry) {
  for (const KeySet& set : TerminfoKeySets()) {
    if (std::find(set.entries.begin(), set.entries.end(), entry) != set.entries.end())
      return set.keys;
  }
  ADD_FAILURE() << "no entry " << entry << " in " << VARNO_TERMINFO_KEYS;
  return {};
}

Key Plain(unsigned char c) { return {c, std::nullopt}; }
Key Grey(unsigned char code) { return {0xE0, code}; }
Key Fn(unsigned char code) { return {0x00, code}; }

bool IsCommandOrEscape(unsigned char c) { return (c >= '1' && c <= '8') || c == 27; }

TEST(KeyDecoder, DecodesTerminalSequencesIntoConsoleKeys) {
  constexpr KeyContext kPrompt = KeyContext::kPrompt;
  constexpr KeyContext kLive = KeyContext::kLiveReading;
  const struct {
    const char* bytes;
    std::vector<Key> keys;
    int pause_ms = kPause;  // what '|' stands for
    KeyContext context = KeyContext::kMenu;
    const char* terminal = nullptr;  // whose terminfo keys are known, if any
  } cases[] = {
      {"a", {Plain('a')}},
      {"\r", {Plain(13)}},
      {"\x7f", {Plain(8)}},
      {"\x1b", {Plain(27)}},
      {"\x1b|", {Plain(27)}},
      // Escape twice, typed ahead: two Escapes, as on the target console.
      {"\x1b\x1b", {Plain(27), Plain(27)}},
      {"\x1b\x1b", {Plain(27), Plain(27)}, kPause, kLive},
      {"\x1b\x1b|x", {Plain(27), Plain(27), Plain('x')}},
      {"\x1b\x1bx", {Plain(27), Fn(0x80 | 'x')}},
      // Alt with a special key, sent as ESC before the key's sequence.
      {"\x1b\x1b[A\x1b\x1b[5~\x1b\x1bOP\x1b\x1b[24~", {Fn(152), Fn(153), Fn(104), Fn(140)}},
      {"\x1b\x1b\x1b[A", {Plain(27), Fn(152)}},
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
      // In a live reading an ESC that no sequence follows is Escape, and the
      // key after it is the menu's; an ESC broken off by a pause too, and
      // then the rest of its sequence is swallowed at the menu.
      {"\x1b"
       "5",
       {Plain(27), Plain('5')},
       kPause,
       kLive},
      {"\x1b\x1b[A", {Fn(152)}, kPause, kLive},
      {"\x1b|[15~", {Plain(27), Grey(0xFF)}, kEscapeTimeoutMs + 1, kLive},
      // At a prompt nothing typed after a lone Escape or a broken sequence
      // is lost: it lands in the line, where it shows.
      {"\x1b|OUT_1",
       {Plain(27), Plain('O'), Plain('U'), Plain('T'), Plain('_'), Plain('1')},
       kPause,
       kPrompt},
      {"\x1bO|DO_1",
       {Plain(27), Plain('O'), Plain('D'), Plain('O'), Plain('_'), Plain('1')},
       kPause,
       kPrompt},
      {"\x1b[|1e5", {Plain(27), Plain('['), Plain('1'), Plain('e'), Plain('5')}, kPause, kPrompt},
      {"\x1b[|1e5", {Plain(27), Plain('['), Plain('1'), Plain('e'), Plain('5')}, 60, kPrompt},
      {"\x1b[1|7~", {Plain(27), Plain('['), Plain('1'), Plain('7'), Plain('~')}, 60, kPrompt},
      {"\x1b[1|7~", {Fn(64)}, 40, kPrompt},
      {"\x1bx", {Plain(27), Plain('x')}, kPause, kPrompt},
      // Keys of other shapes, by their shape: interix's and emu's "ESC F",
      // emu's words, vt52's keypad, 8-bit CSI and SS3 (but not where they
      // go on with a UTF-8 character), each one key.
      {"\x1b"
       "F5\x1b"
       "F$\x1b"
       "F10\x1b"
       "FA",
       {Grey(0xFF), Grey(0xFF), Grey(0xFF), Grey(0xFF)}},
      {"\x1b"
       "F1|0",
       {Grey(0xFF), Grey(0xFF)}},  // perhaps emu's F10
      {"\x1bins\x1bprior\x1b"
       "find",
       {Grey(0xFF), Grey(0xFF), Grey(0xFF)}},
      {"\x1b?q\x1b?y", {Grey(0xFF), Grey(0xFF)}},
      {"\x9b"
       "15~\x9b"
       "A\x8fP",
       {Fn(63), Grey(72), Fn(59)}},
      {"\x9b"
       "1|5~",
       {Grey(0xFF), Grey(0xFF)}},
      {"\xc4\x9b"
       "1\xe2\x8f\xb0",
       {Plain(0xC4), Plain(0x9B), Plain('1'), Plain(0xE2), Plain(0x8F), Plain(0xB0)}},
      {"\x1b"
       "F5",
       {Grey(0xFF)},
       kPause,
       kLive},
      // By the terminal's own key strings: keys that no shape names, whole,
      // after an ESC (Alt held), and followed by typing that is kept.
      {"\x1b[9AI_2",
       {Grey(83), Plain('A'), Plain('I'), Plain('_'), Plain('2')},
       kPause,
       kPrompt,
       "mach"},
      {"\x1b[9|AI_2",
       {Grey(83), Plain('A'), Plain('I'), Plain('_'), Plain('2')},
       kPause,
       kPrompt,
       "mach"},
      {"\x1b[[AI_2",
       {Grey(0xFF), Plain('A'), Plain('I'), Plain('_'), Plain('2')},
       kPause,
       kPrompt,
       "scoansi"},
      {"\x01@\r\x1b\x01@\r\x1e", {Fn(59), Fn(104), Grey(71)}, kPause, kPrompt, "wy50"},
      {"\x01|@\r", {Plain(1), Grey(0xFF)}, kPause, KeyContext::kMenu, "wy50"},
      {"\x1b\x03\x1b"
       "1\x1b"
       "5",
       {Grey(0xFF), Fn(63)},
       kPause,
       kLive,
       "ms-vt-utf8"},
      {"\x1b?q\x1b"
       "A\x1bP",
       {Grey(0xFF), Grey(72), Fn(59)},
       kPause,
       kLive,
       "vt52"},
      {"\x80;", {Fn(59)}, kPause, kPrompt, "ansi.sys"},
      {"\x1b|"
       "5",
       {Plain(27), Grey(0xFF)},
       kEscapeTimeoutMs + 1,
       kLive,
       "ms-vt-utf8"},
      {"\x1b|"
       "5",
       {Plain(27), Plain('5')},
       kEscapeTimeoutMs + 1,
       kLive,
       "xterm"},
  };
  for (const auto& c : cases) {
    const KeyDecoder decoder =
        c.terminal != nullptr ? KeyDecoder(KeysOf(c.terminal)) : KeyDecoder();
    EXPECT_EQ(DecodeAll(TimedBytes(c.bytes, c.pause_ms), c.context, decoder), c.keys)
        << "bytes: " << testing::PrintToString(std::string(c.bytes)) << ", pause " << c.pause_ms
        << ", context " << static_cast<int>(c.context) << ", terminal "
        << (c.terminal != nullptr ? c.terminal : "none");
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

// Every key string of every terminfo entry of ncurses-base and ncurses-term
// (written by scripts/terminfo-keys), decoded with the entry's keys known:
// each sent whole, alone and with Alt (an ESC before it), in each context,
// then split at every byte by pauses up to the broken tail's window. Whole,
// a key string is one key: never a command or Escape, nothing a line keeps,
// and the key typed after it is not lost. Split, it runs no command at the
// menu and ends a live reading only where the split leaves its ESC alone;
// a pause shorter than every context's lag changes nothing.
TEST(KeyDecoder, TerminalKeyStringsGiveOnlySpecialKeysWholeOrSplit) {
  const std::vector<KeySet>& sets = TerminfoKeySets();
  ASSERT_GT(sets.size(), 400u) << VARNO_TERMINFO_KEYS;
  constexpr KeyContext kContexts[] = {KeyContext::kMenu, KeyContext::kPrompt,
                                      KeyContext::kLiveReading};
  constexpr int kShortPauseMs = kPromptSequenceLagMs - 10;
  const auto lands_in_line = [](const std::vector<Key>& keys) {
    LineEditor editor(49);
    std::string echo;
    for (const Key& key : keys) editor.Press(key, &echo);
    return !editor.line().empty();
  };
  int entries = 0;
  int strings = 0;
  int decodes = 0;
  // What the decoder asks of the terminal's strings about bytes sent: for
  // each part of them, the keys it is, and whether longer ones start with
  // it. Bytes that get the same answers decode alike, so each is replayed
  // once.
  std::set<std::string> replayed;
  using Own = std::map<std::string, std::string, std::less<>>;
  const auto answers = [](const std::string& bytes, const Own& own) {
    std::string said = bytes + '\0';
    const std::string sent = bytes + 'x';
    for (std::size_t from = 0; from < sent.size(); ++from) {
      for (std::size_t to = from + 1; to <= sent.size(); ++to) {
        const std::string_view part = std::string_view(sent).substr(from, to - from);
        auto it = own.lower_bound(part);
        if (it != own.end() && it->first == part) said += it++->second;
        said += it != own.end() && it->first.starts_with(part) ? '+' : '.';
      }
    }
    return said;
  };
  for (const KeySet& set : sets) {
    entries += static_cast<int>(set.entries.size());
    const KeyDecoder decoder(set.keys);
    Own own;  // bytes, and what the keys sending them are
    std::set<std::string> sent;
    for (const TerminalKey& key : set.keys) {
      // Backspace and Enter read as those keys, every other as some
      // special key.
      own[key.bytes] += key.capability == "kbs" ? 'b' : key.capability == "kent" ? 'e' : 'k';
      // Not a key press: the start of a mouse report, which the tool never
      // asks for.
      if (key.capability == "kmous") continue;
      sent.insert(key.bytes);
      if (!key.bytes.starts_with("\x1b\x1b")) sent.insert("\x1b" + key.bytes);
    }
    strings += static_cast<int>(set.keys.size());
    for (const std::string& bytes : sent) {
      if (!replayed.insert(answers(bytes, own)).second) continue;
      SCOPED_TRACE(set.entries.front() + ": " + testing::PrintToString(bytes));
      const std::size_t escapes = bytes.find_first_not_of('\x1b');
      for (KeyContext context : kContexts) {
        SCOPED_TRACE("context " + std::to_string(static_cast<int>(context)));
        const std::vector<Key> whole = DecodeAll(Together(bytes), context, decoder);
        ASSERT_EQ(whole.size(), 1u);
        EXPECT_FALSE(IsCommandOrEscape(whole[0].first));
        EXPECT_FALSE(lands_in_line(whole));
        EXPECT_EQ(DecodeAll(Together(bytes + "x"), context, decoder),
                  (std::vector<Key>{whole[0], Plain('x')}));
        decodes += 2;
        for (std::size_t split = 1; split < bytes.size(); ++split) {
          for (int pause :
               {kShortPauseMs, kEscapeTimeoutMs + 1, kSequenceLagMs + 1, kBrokenTailMs}) {
            // At a prompt what comes after a pause is typed: the line shows
            // what it kept.
            if (context == KeyContext::kPrompt && pause != kShortPauseMs) continue;
            TimedBytes timed = Together(bytes.substr(0, split));
            timed.Add(bytes.substr(split), pause);
            const std::vector<Key> keys = DecodeAll(timed, context, decoder);
            ++decodes;
            const auto where = [&] {
              return "split after " + std::to_string(split) + ", " + std::to_string(pause) + " ms";
            };
            if (pause == kShortPauseMs) {
              EXPECT_EQ(keys, whole) << where();
              continue;
            }
            // Escape only from the leading ESCs left alone, and then at most
            // one Escape an ESC: in a live reading the first one ends it.
            std::size_t leading = 0;
            while (leading < keys.size() && keys[leading] == Plain(27)) ++leading;
            EXPECT_LE(leading, split <= escapes ? split : 0) << where();
            for (std::size_t i = leading; i < keys.size(); ++i)
              EXPECT_FALSE(!keys[i].second && IsCommandOrEscape(keys[i].first)) << where();
          }
        }
      }
    }
  }
  RecordProperty("entries", entries);
  RecordProperty("key_sets", static_cast<int>(sets.size()));
  RecordProperty("key_strings", strings);
  RecordProperty("replayed", static_cast<int>(replayed.size()));
  RecordProperty("decodes", decodes);
}

// Without the terminal's entry (TERM names nothing readable), every key
// string of a shape the decoder knows is still one special key, whole.
TEST(KeyDecoder, KeyStringsOfKnownShapesAreOneKeyWithoutTheTerminalsEntry) {
  std::set<std::string> shaped;
  for (const KeySet& set : TerminfoKeySets()) {
    for (const TerminalKey& key : set.keys) {
      const auto first = static_cast<unsigned char>(key.bytes[0]);
      if (first == 0x1b || first == 0x9b || first == 0x8f) shaped.insert(key.bytes);
    }
  }
  int known = 0;
  for (const std::string& bytes : shaped) {
    const std::vector<Key> keys = DecodeAll(Together(bytes + "x"), KeyContext::kPrompt);
    if (keys.size() != 2 || !keys[0].second) continue;  // needs the terminal's own entry
    ++known;
    for (KeyContext context : {KeyContext::kMenu, KeyContext::kLiveReading})
      EXPECT_EQ(DecodeAll(Together(bytes), context), std::vector<Key>{keys[0]})
          << testing::PrintToString(bytes);
  }
  EXPECT_GT(known, static_cast<int>(shaped.size()) * 2 / 3);
  RecordProperty("distinct_escape_led", static_cast<int>(shaped.size()));
  RecordProperty("known_by_shape", known);
}

// The compiled entries as infocmp shows them: the reader gives the same key
// strings for every entry installed. Broken entries give nothing.
TEST(TerminfoKeys, ReadsEveryEntryAsInfocmpShowsIt) {
  int compared = 0;
  for (const KeySet& set : TerminfoKeySets()) {
    std::vector<std::pair<std::string, std::string>> expected;
    for (const TerminalKey& key : set.keys) expected.emplace_back(key.capability, key.bytes);
    std::sort(expected.begin(), expected.end());
    for (const std::string& entry : set.entries) {
      std::ifstream file;
      for (const char* directory : {"/usr/share/terminfo/", "/lib/terminfo/"}) {
        file.open(directory + entry.substr(0, 1) + "/" + entry, std::ios::binary);
        if (file) break;
        file.clear();
      }
      if (!file) continue;
      const std::string compiled{std::istreambuf_iterator<char>(file), {}};
      std::vector<std::pair<std::string, std::string>> read;
      for (const TerminalKey& key : ParseTerminfoKeys(compiled))
        read.emplace_back(key.capability, key.bytes);
      std::sort(read.begin(), read.end());
      EXPECT_EQ(read, expected) << entry;
      ++compared;
      // Cut short anywhere, an entry gives all its keys or none.
      if (compared % 500 == 1) {
        for (std::size_t size = 0; size < compiled.size(); ++size) {
          const std::vector<TerminalKey> cut = ParseTerminfoKeys(compiled.substr(0, size));
          EXPECT_TRUE(cut.empty() || cut.size() <= read.size()) << entry << " cut at " << size;
        }
      }
    }
  }
  if (compared == 0) GTEST_SKIP() << "no terminfo database (scripts/test installs ncurses-term)";
  RecordProperty("entries_compared", compared);
  for (const char* term : {"", ".", "..", "../x", "x/../../etc/passwd", "no-such-terminal"})
    EXPECT_TRUE(ReadTerminalKeys(term).empty()) << term;
  EXPECT_TRUE(ReadTerminalKeys(nullptr).empty());
  EXPECT_TRUE(ParseTerminfoKeys("").empty());
  EXPECT_TRUE(ParseTerminfoKeys(std::string("\x1a\x01\xff\xff", 4)).empty());
}

}  // namespace
