// The platform protocol's side of varno-sim: one UDP socket and one thread,
// so that no HTTP client can delay the host's replies. Replies that the
// link's latency holds back wait in a queue, never in a sleep.
#pragma once

#include <atomic>
#include <string>

#include "emulated_platform.h"
#include "endpoint.h"
#include "udp_socket.h"

namespace varno::sim {

class PlatformServer {
 public:
  explicit PlatformServer(EmulatedPlatform& platform) : platform_(platform) {}

  // Binds the socket; false with *error set when the system refuses.
  bool Open(const Endpoint& listen, std::string* error);
  Endpoint Local() const { return socket_.Local(); }

  // Serves datagrams until `stop` is set; notices it within 100 ms.
  void Run(const std::atomic<bool>& stop);

 private:
  EmulatedPlatform& platform_;
  UdpSocket socket_;
};

}  // namespace varno::sim
