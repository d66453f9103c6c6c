// Bytes as a terminal delivers them to the key decoder, taken from a fuzzer's
// input: the first byte says where the typist pauses (bit i % 8 set: a pause
// of pause_ms before byte i), the rest are the bytes typed, which otherwise
// arrive together. The clock moves as the decoder waits. Bytes handed back
// must be those last read, last one first.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

#include "console/terminal/key_decoder.h"
#include "fuzz_check.h"

namespace varno::fuzz {

class TypedBytes final : public ByteSource {
 public:
  // Longer than every wait of the decoder, its broken tail's window included.
  static constexpr int kLongestPauseMs = kEscapeTimeoutMs + kSequenceLagMs + kBrokenTailMs + 1;

  TypedBytes(const std::uint8_t* data, std::size_t size, int pause_ms = kLongestPauseMs)
      : pauses_(size > 0 ? data[0] : 0),
        bytes_(size > 0 ? data + 1 : data),
        size_(size > 0 ? size - 1 : 0) {
    std::int64_t at_ms = 0;
    for (std::size_t i = 0; i < size_; ++i) {
      if (PauseBefore(i)) at_ms += pause_ms;
      arrival_ms_.push_back(at_ms);
    }
  }

  // The byte that starts the next key, read as the terminal's blocking read
  // does, however long it takes; nothing at the end.
  std::optional<unsigned char> NextKeyStart() {
    if (unread_ > 0) return bytes_[next_ - unread_--];
    if (next_ == size_) return std::nullopt;
    now_ms_ = std::max(now_ms_, arrival_ms_[next_]);
    return bytes_[next_++];
  }

  std::optional<unsigned char> NextWithin(int timeout_ms) override {
    if (unread_ > 0) return bytes_[next_ - unread_--];
    if (next_ == size_ || arrival_ms_[next_] > now_ms_ + timeout_ms) {
      now_ms_ += timeout_ms;
      ran_out_ms_ = now_ms_;
      return std::nullopt;
    }
    return NextKeyStart();
  }

  void Unread(unsigned char byte) override {
    FUZZ_CHECK(next_ > unread_ && bytes_[next_ - 1 - unread_] == byte);
    ++unread_;
  }

  std::int64_t NowMs() override { return now_ms_; }

  // Where the next byte comes from in the typed bytes (bytes handed back
  // count as not taken).
  std::size_t position() const { return next_ - unread_; }
  std::size_t size() const { return size_; }
  unsigned char at(std::size_t index) const { return bytes_[index]; }
  bool PauseBefore(std::size_t index) const { return (pauses_ >> (index % 8)) & 1; }
  std::int64_t ArrivalMs(std::size_t index) const { return arrival_ms_[index]; }
  // When a wait for a byte last ran out; nothing if none has.
  std::optional<std::int64_t> ran_out_ms() const { return ran_out_ms_; }

 private:
  std::uint8_t pauses_;
  const std::uint8_t* bytes_;
  std::size_t size_;
  std::vector<std::int64_t> arrival_ms_;
  std::size_t next_ = 0;
  std::int64_t now_ms_ = 0;
  std::optional<std::int64_t> ran_out_ms_;
  std::size_t unread_ = 0;  // how many of the bytes read were handed back
};

}  // namespace varno::fuzz
