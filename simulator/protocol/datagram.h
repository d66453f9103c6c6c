// The platform protocol between the stand-in library and varno-sim: one UDP
// datagram a request, one a reply. Pure encoding and decoding, no sockets;
// docs/platform-protocol.md is the format's reference.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "call.h"

namespace varno::sim {

inline constexpr std::uint8_t kProtocolVersion = 1;
// Header (16 bytes) plus the largest arguments: three texts of 256 bytes.
inline constexpr std::size_t kMaxDatagram = 16 + 3 * (2 + kMaxCallText);

enum class ReplyStatus : std::uint8_t {
  kDone = 0,            // the call ran; its result follows
  kNotYourSession = 1,  // another host's start took the platform over
};

struct Request {
  std::uint32_t session = 0;
  std::uint32_t sequence = 0;
  Call call;
};

struct Reply {
  std::uint32_t session = 0;
  std::uint32_t sequence = 0;
  Entry entry = Entry::kGetStatus;
  ReplyStatus status = ReplyStatus::kDone;
  Result result;  // kDone only
};

using Bytes = std::vector<std::uint8_t>;

// Texts longer than kMaxCallText are cut there.
Bytes Encode(const Request& request);
Bytes Encode(const Reply& reply);

// Nothing when the bytes are not exactly one well-formed datagram of that
// kind and of this version.
std::optional<Request> DecodeRequest(std::span<const std::uint8_t> bytes);
std::optional<Reply> DecodeReply(std::span<const std::uint8_t> bytes);

}  // namespace varno::sim
