#include "console/key_decoder.h"

#include <gtest/gtest.h>

#include <deque>
#include <string>
#include <vector>

namespace {

// Bytes as a terminal sends them; '|' stands for a pause longer than a
// sequence may lag, so a NextWithin() there finds nothing.
class ScriptedBytes final : public ByteSource {
 public:
  explicit ScriptedBytes(const std::string& script) : bytes_(script.begin(), script.end()) {}
  std::optional<unsigned char> NextWithin(int /*timeout_ms*/) override {
    if (bytes_.empty()) return std::nullopt;
    const char c = bytes_.front();
    bytes_.pop_front();
    if (c == '|') return std::nullopt;
    return static_cast<unsigned char>(c);
  }
  void Unread(unsigned char byte) override { bytes_.push_front(static_cast<char>(byte)); }
  bool empty() const { return bytes_.empty(); }

 private:
  std::deque<char> bytes_;
};

// Decodes every key of a script, as successive key reads would.
std::vector<Key> DecodeAll(const std::string& script) {
  ScriptedBytes bytes(script);
  std::vector<Key> keys;
  while (std::optional<unsigned char> first = bytes.NextWithin(0))
    keys.push_back(DecodeKey(*first, bytes));
  return keys;
}

Key Plain(unsigned char c) { return {c, std::nullopt}; }
Key Grey(unsigned char code) { return {0xE0, code}; }
Key Fn(unsigned char code) { return {0x00, code}; }

TEST(KeyDecoder, DecodesTerminalSequencesIntoConsoleKeys) {
  const struct {
    const char* bytes;
    std::vector<Key> keys;
  } cases[] = {
      {"a", {Plain('a')}},
      {"\r", {Plain(13)}},
      {"\x7f", {Plain(8)}},
      {"\x1b", {Plain(27)}},
      {"\x1b|", {Plain(27)}},
      {"\x1b\x1b", {Plain(27), Plain(27)}},
      {"\x1b\x1b[A", {Plain(27), Grey(72)}},
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
      // Unknown, but consumed whole: nothing of it leaks out as keys.
      {"\x1b[99~x", {Grey(0xFF), Plain('x')}},
      {"\x1b[200;1;2Zx", {Grey(0xFF), Plain('x')}},
      {"\x1b[12|3", {Grey(0xFF), Plain('3')}},
      // Alt+key, including Alt with a command digit.
      {"\x1b"
       "a",
       {Fn(0x80 | 'a')}},
      {"\x1b"
       "1",
       {Fn(0x80 | '1')}},
      {"\x1b[|", {Fn(0x80 | '[')}},
      {"\x1bO|", {Fn(0x80 | 'O')}},
      // A sequence broken off by a new one.
      {"\x1b[1\x1b[B", {Grey(0xFF), Grey(80)}},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(DecodeAll(c.bytes), c.keys)
        << "bytes: " << testing::PrintToString(std::string(c.bytes));
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
      const std::vector<Key> keys = DecodeAll(bytes + "|");
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
  const std::string bytes = "\x1b[" + std::string(100, '1') + "A";
  const std::vector<Key> keys = DecodeAll(bytes);
  ASSERT_FALSE(keys.empty());
  EXPECT_EQ(keys.front(), Grey(0xFF));
  for (const Key& key : keys) EXPECT_NE(key, Plain(27));
}

}  // namespace
