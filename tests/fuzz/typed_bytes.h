// Bytes as a terminal delivers them to the key decoder, taken from a fuzzer's
// input: the first byte says where the typist pauses (bit i % 8 set: a pause
// longer than the decoder's timeout before byte i), the rest are the bytes
// typed. Like the terminal, it holds at most one byte handed back.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>

#include "console/key_decoder.h"
#include "fuzz_check.h"

namespace varno::fuzz {

class TypedBytes final : public ByteSource {
 public:
  TypedBytes(const std::uint8_t* data, std::size_t size)
      : pauses_(size > 0 ? data[0] : 0),
        bytes_(size > 0 ? data + 1 : data),
        size_(size > 0 ? size - 1 : 0) {}

  // The byte that starts the next key, read as the terminal's blocking read
  // does (a pause before it changes nothing); nothing at the end.
  std::optional<unsigned char> NextKeyStart() {
    if (unread_) return Take(unread_);
    if (next_ == size_) return std::nullopt;
    return bytes_[next_++];
  }

  std::optional<unsigned char> NextWithin(int /*timeout_ms*/) override {
    if (unread_) return Take(unread_);
    if (next_ == size_) return std::nullopt;
    if (PauseBefore(next_) && paused_at_ != next_) {
      paused_at_ = next_;
      return std::nullopt;
    }
    return bytes_[next_++];
  }

  void Unread(unsigned char byte) override {
    FUZZ_CHECK(!unread_);  // the terminal keeps one byte, no more
    FUZZ_CHECK(next_ > 0 && bytes_[next_ - 1] == byte);
    unread_ = byte;
  }

  // Where the next byte comes from in the typed bytes (a byte handed back
  // counts as not taken).
  std::size_t position() const { return unread_ ? next_ - 1 : next_; }
  std::size_t size() const { return size_; }
  unsigned char at(std::size_t index) const { return bytes_[index]; }
  bool PauseBefore(std::size_t index) const { return (pauses_ >> (index % 8)) & 1; }

 private:
  static unsigned char Take(std::optional<unsigned char>& slot) {
    const unsigned char byte = *slot;
    slot.reset();
    return byte;
  }

  std::uint8_t pauses_;
  const std::uint8_t* bytes_;
  std::size_t size_;
  std::size_t next_ = 0;
  std::size_t paused_at_ = static_cast<std::size_t>(-1);
  std::optional<unsigned char> unread_;
};

}  // namespace varno::fuzz
