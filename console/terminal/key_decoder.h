// Turning the bytes a terminal sends into the keys the target console gives
// (console/terminal/keys.h).
#pragma once

#include <cstdint>
#include <optional>

#include "console/terminal/keys.h"

// The code of a sequence the decoder does not know, after kGreyLeadIn.
inline constexpr unsigned char kUnknownKeyCode = 0xFF;

// Where the decoder takes the bytes that follow the first of a key.
class ByteSource {
 public:
  virtual ~ByteSource() = default;
  // The next byte if one arrives within timeout_ms; nothing otherwise or
  // when input has ended.
  virtual std::optional<unsigned char> NextWithin(int timeout_ms) = 0;
  // Hands a byte back, to be the next one read.
  virtual void Unread(unsigned char byte) = 0;
  // Milliseconds on a clock that never goes back.
  virtual std::int64_t NowMs() = 0;
};

// How long an ESC waits for the byte after it before it is the Escape key.
// Terminals send a sequence in one write, so its bytes arrive together;
// this is the Escape key's delay, and stays short.
inline constexpr int kEscapeTimeoutMs = 50;
// Once "ESC [" or "ESC O" has come, how long each further byte of the
// sequence may lag behind the one before it (a slow link, a loaded machine).
inline constexpr int kSequenceLagMs = 300;
// When a pause has still broken a sequence off, or left its ESC alone to be
// read as Escape, how long after the break the rest of it is recognised and
// swallowed, so that its digits never reach the menu as command keys.
inline constexpr int kBrokenTailMs = 2000;

// Decodes the keys of one input, one after another. DEL (127) reads as
// Backspace. Remembers a sequence broken off by a pause until its rest has
// come or kBrokenTailMs has passed.
class KeyDecoder {
 public:
  // The key that starts with `first`, reading any further bytes of its
  // sequence from `more`. The rest of a broken sequence reads as one
  // unknown key.
  Key Decode(unsigned char first, ByteSource& more);

 private:
  // How far a sequence had come: ESC; ESC [; ESC O; ESC [ or ESC O and
  // parameter bytes; ESC [ [.
  enum class Stage : unsigned char { kEscape, kCsi, kSs3, kParameters, kLinuxFunction };
  struct BrokenOff {
    Stage stage;
    std::int64_t until_ms;  // what comes later is no longer its rest
  };

  // Whether `byte` can come next in a sequence at `stage`.
  static bool Continues(Stage stage, unsigned char byte);
  Key DecodeEscape(ByteSource& more);
  // Reads a sequence on from `stage`, `next` being its next byte or nothing
  // (a pause), up to its final byte; until_ms is the deadline of a broken
  // sequence being read on, if it is one.
  Key ReadOn(Stage stage, std::optional<unsigned char> next, ByteSource& more,
             std::optional<std::int64_t> until_ms);

  std::optional<BrokenOff> broken_off_;
};
