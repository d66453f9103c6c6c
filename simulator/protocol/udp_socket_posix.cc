#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "udp_socket.h"

namespace varno::sim {
namespace {

using Clock = std::chrono::steady_clock;

sockaddr_in Address(const Endpoint& endpoint) {
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(endpoint.address);
  address.sin_port = htons(endpoint.port);
  return address;
}

std::string SystemError(const char* what) {
  return std::string(what) + ": " + std::strerror(errno);
}

}  // namespace

bool UdpSocket::Open(const Endpoint& local, std::string* error) {
  Close();
  int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  if (fd < 0) {
    *error = SystemError("socket");
    return false;
  }
  sockaddr_in address = Address(local);
  if (bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
    *error = SystemError(("bind " + EndpointText(local)).c_str());
    // cppcheck pairs socket() with Windows' closesocket() when it is told of both systems.
    // cppcheck-suppress mismatchAllocDealloc
    close(fd);
    return false;
  }
  handle_ = fd;
  return true;
}

void UdpSocket::Close() {
  if (handle_ >= 0) close(static_cast<int>(handle_));
  handle_ = -1;
}

bool UdpSocket::IsOpen() const { return handle_ >= 0; }

Endpoint UdpSocket::Local() const {
  sockaddr_in address{};
  socklen_t size = sizeof address;
  getsockname(static_cast<int>(handle_), reinterpret_cast<sockaddr*>(&address), &size);
  return {ntohl(address.sin_addr.s_addr), ntohs(address.sin_port)};
}

bool UdpSocket::SendTo(const Endpoint& to, std::span<const std::uint8_t> bytes) const {
  sockaddr_in address = Address(to);
  ssize_t sent;
  do {
    sent = sendto(static_cast<int>(handle_), bytes.data(), bytes.size(), MSG_NOSIGNAL,
                  reinterpret_cast<const sockaddr*>(&address), sizeof address);
  } while (sent < 0 && errno == EINTR);
  return sent == static_cast<ssize_t>(bytes.size());
}

UdpSocket::Wait UdpSocket::Receive(std::chrono::milliseconds timeout,
                                   std::vector<std::uint8_t>* bytes, Endpoint* from) const {
  const Clock::time_point deadline = Clock::now() + timeout;
  for (;;) {
    auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now());
    if (left.count() < 0) left = std::chrono::milliseconds(0);
    pollfd ready{static_cast<int>(handle_), POLLIN, 0};
    const int n = poll(&ready, 1, static_cast<int>(left.count()));
    if (n < 0 && errno == EINTR) continue;  // the tool's signals restart nothing here
    if (n < 0) return Wait::kError;
    if (n == 0) return Wait::kTimeout;
    bytes->resize(65536);
    sockaddr_in address{};
    socklen_t size = sizeof address;
    const ssize_t got = recvfrom(static_cast<int>(handle_), bytes->data(), bytes->size(),
                                 MSG_DONTWAIT, reinterpret_cast<sockaddr*>(&address), &size);
    if (got >= 0) {
      bytes->resize(static_cast<std::size_t>(got));
      *from = {ntohl(address.sin_addr.s_addr), ntohs(address.sin_port)};
      return Wait::kDatagram;
    }
    // A port that refused an earlier datagram, or a spurious wake: wait on.
    if (errno != EINTR && errno != EAGAIN && errno != EWOULDBLOCK && errno != ECONNREFUSED)
      return Wait::kError;
    if (Clock::now() >= deadline) return Wait::kTimeout;
  }
}

}  // namespace varno::sim
