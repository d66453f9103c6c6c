// The stand-in library as a client of varno-sim: each call one request
// datagram and one reply (docs/platform-protocol.md), on the calling thread,
// with no thread of its own and no wait beyond its deadline.
#pragma once

#include <chrono>
#include <cstdint>
#include <optional>

#include "backend.h"
#include "datagram.h"
#include "endpoint.h"
#include "frozen_readings.h"
#include "udp_socket.h"

namespace varno::sim {

// About 100 ms a try and 3 tries: a reply that takes longer is a lost
// datagram, and a call that gets none in 300 ms has lost the link. Short
// enough that the tool's live reading still notices Escape at once, long
// enough for a loaded loopback or a LAN (well under 1 ms a round trip).
inline constexpr std::chrono::milliseconds kTryTimeout{100};
inline constexpr int kTries = 3;

class RemotePlatform final : public Backend {
 public:
  explicit RemotePlatform(Log& log) : log_(log) {}

  void set_emulator(const Endpoint& emulator) { emulator_ = emulator; }

  // Opens a socket (-2 when the system refuses one), starts a new session
  // with varno-sim (-3 when it does not answer) and returns its result.
  StartResult Start(const Call& call, const StartRequest& request) override;
  // Once the link is lost (no reply past the retries, or another host's
  // start took the platform over), every call is answered here, frozen as
  // the model's link-drop is, until the next start.
  Result Run(const Call& call) override;
  void Release() override;

 private:
  // The reply to `call`, the same request sent up to kTries times; nothing
  // when none came.
  std::optional<Reply> Exchange(const Call& call);
  void LoseLink(const std::string& why);
  void Refuse(const Call& call, const char* reason);

  Log& log_;
  Endpoint emulator_;
  UdpSocket socket_;
  std::uint32_t session_ = 0;
  std::uint32_t sequence_ = 0;
  bool started_ = false;
  bool lost_ = false;
  FrozenReadings frozen_;
};

}  // namespace varno::sim
