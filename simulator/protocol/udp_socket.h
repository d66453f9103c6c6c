// A UDP socket with waits that always end: the only system primitives the
// protocol needs, one implementation per platform (udp_socket_posix.cc,
// udp_socket_win32.cc). Failures come back with the system's own words.
#pragma once

#include <chrono>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "endpoint.h"

namespace varno::sim {

class UdpSocket {
 public:
  UdpSocket() = default;
  ~UdpSocket() { Close(); }
  UdpSocket(const UdpSocket&) = delete;
  UdpSocket& operator=(const UdpSocket&) = delete;

  // Makes the socket and binds it to `local` (port 0: any free one). On
  // Windows the first socket of the process also starts Winsock. False with
  // *error set when the system refuses either.
  bool Open(const Endpoint& local, std::string* error);
  void Close();
  bool IsOpen() const;

  // The address and port the socket is bound to.
  Endpoint Local() const;

  // Sends one datagram; false when the system refuses it at once.
  bool SendTo(const Endpoint& to, std::span<const std::uint8_t> bytes) const;

  enum class Wait { kDatagram, kTimeout, kError };
  // Waits at most `timeout` for one datagram, through interrupting signals
  // (poll or select with a deadline; never a blocking receive). kError is a
  // fault of the socket itself; an ICMP refusal from a closed port is
  // swallowed as no datagram.
  Wait Receive(std::chrono::milliseconds timeout, std::vector<std::uint8_t>* bytes,
               Endpoint* from) const;

 private:
  std::intptr_t handle_ = -1;
};

}  // namespace varno::sim
