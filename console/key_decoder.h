// Turning the bytes a terminal sends into the keys the target console gives:
// one byte for an ordinary key; for a special key two bytes, a lead-in (0xE0
// for the grey keys and F11/F12, 0x00 for F1-F10 and Alt+key) and a code.
#pragma once

#include <optional>

inline constexpr unsigned char kEscapeKey = 27;
inline constexpr unsigned char kBackspaceKey = 8;
inline constexpr unsigned char kGreyLeadIn = 0xE0;
inline constexpr unsigned char kFunctionLeadIn = 0x00;
// The code of a sequence the decoder does not know, after kGreyLeadIn.
inline constexpr unsigned char kUnknownKeyCode = 0xFF;

// Where the decoder takes the bytes that follow an ESC.
class ByteSource {
 public:
  virtual ~ByteSource() = default;
  // The next byte if one arrives within timeout_ms; nothing otherwise or
  // when input has ended.
  virtual std::optional<unsigned char> NextWithin(int timeout_ms) = 0;
  // Hands a byte back, to be the next one read.
  virtual void Unread(unsigned char byte) = 0;
};

struct Key {
  unsigned char first;
  std::optional<unsigned char> second;  // set for special keys

  bool operator==(const Key&) const = default;
};

// How long a byte may lag behind the previous one of the same sequence.
inline constexpr int kSequenceTimeoutMs = 50;

// Decodes the key that starts with `first`, reading any further bytes of its
// sequence from `more`. DEL (127) reads as Backspace.
Key DecodeKey(unsigned char first, ByteSource& more);
