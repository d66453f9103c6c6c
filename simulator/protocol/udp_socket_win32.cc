#include <winsock2.h>
#include <ws2tcpip.h>

#include "udp_socket.h"

// MinGW-w64's headers leave it to <mstcpip.h>, where older ones lack it.
#ifndef SIO_UDP_CONNRESET
#define SIO_UDP_CONNRESET _WSAIOW(IOC_VENDOR, 12)
#endif

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

std::string WindowsError(const char* what, int code) {
  char text[256] = {};
  DWORD length = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                                static_cast<DWORD>(code), 0, text, sizeof text, nullptr);
  while (length > 0 && (text[length - 1] == '\n' || text[length - 1] == '\r')) text[--length] = 0;
  return std::string(what) + ": " + (length > 0 ? text : "error " + std::to_string(code));
}

// Winsock, started once for the process and left running to its end: a
// DLL may not stop it from DllMain, and the tool calls no other end.
bool StartWinsock(std::string* error) {
  static const int kStarted = [] {
    WSADATA data;
    return WSAStartup(MAKEWORD(2, 2), &data);
  }();
  if (kStarted != 0) *error = WindowsError("WSAStartup", kStarted);
  return kStarted == 0;
}

SOCKET Socket(std::intptr_t handle) { return static_cast<SOCKET>(handle); }

}  // namespace

bool UdpSocket::Open(const Endpoint& local, std::string* error) {
  Close();
  if (!StartWinsock(error)) return false;
  SOCKET s = socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP);
  if (s == INVALID_SOCKET) {
    *error = WindowsError("socket", WSAGetLastError());
    return false;
  }
  // Without this, a datagram refused by a closed port makes every later
  // receive on the socket fail with WSAECONNRESET.
  BOOL report = FALSE;
  DWORD returned = 0;
  WSAIoctl(s, SIO_UDP_CONNRESET, &report, sizeof report, nullptr, 0, &returned, nullptr, nullptr);
  sockaddr_in address = Address(local);
  if (bind(s, reinterpret_cast<const sockaddr*>(&address), sizeof address) == SOCKET_ERROR) {
    *error = WindowsError(("bind " + EndpointText(local)).c_str(), WSAGetLastError());
    closesocket(s);
    return false;
  }
  handle_ = static_cast<std::intptr_t>(s);
  return true;
}

void UdpSocket::Close() {
  if (handle_ != -1) closesocket(Socket(handle_));
  handle_ = -1;
}

bool UdpSocket::IsOpen() const { return handle_ != -1; }

Endpoint UdpSocket::Local() const {
  sockaddr_in address{};
  int size = sizeof address;
  getsockname(Socket(handle_), reinterpret_cast<sockaddr*>(&address), &size);
  return {ntohl(address.sin_addr.s_addr), ntohs(address.sin_port)};
}

bool UdpSocket::SendTo(const Endpoint& to, std::span<const std::uint8_t> bytes) const {
  sockaddr_in address = Address(to);
  const int sent = sendto(Socket(handle_), reinterpret_cast<const char*>(bytes.data()),
                          static_cast<int>(bytes.size()), 0,
                          reinterpret_cast<const sockaddr*>(&address), sizeof address);
  return sent == static_cast<int>(bytes.size());
}

UdpSocket::Wait UdpSocket::Receive(std::chrono::milliseconds timeout,
                                   std::vector<std::uint8_t>* bytes, Endpoint* from) const {
  const Clock::time_point deadline = Clock::now() + timeout;
  for (;;) {
    auto left = std::chrono::ceil<std::chrono::microseconds>(deadline - Clock::now());
    if (left.count() < 0) left = std::chrono::microseconds(0);
    fd_set readable;
    FD_ZERO(&readable);
    FD_SET(Socket(handle_), &readable);
    timeval wait{static_cast<long>(left.count() / 1000000),
                 static_cast<long>(left.count() % 1000000)};
    const int n = select(0, &readable, nullptr, nullptr, &wait);
    if (n == SOCKET_ERROR) return WSAGetLastError() == WSAEINTR ? Wait::kTimeout : Wait::kError;
    if (n == 0) return Wait::kTimeout;
    bytes->resize(65536);
    sockaddr_in address{};
    int size = sizeof address;
    const int got =
        recvfrom(Socket(handle_), reinterpret_cast<char*>(bytes->data()),
                 static_cast<int>(bytes->size()), 0, reinterpret_cast<sockaddr*>(&address), &size);
    if (got >= 0) {
      bytes->resize(static_cast<std::size_t>(got));
      *from = {ntohl(address.sin_addr.s_addr), ntohs(address.sin_port)};
      return Wait::kDatagram;
    }
    const int code = WSAGetLastError();
    if (code != WSAECONNRESET && code != WSAEWOULDBLOCK && code != WSAEMSGSIZE) return Wait::kError;
    if (Clock::now() >= deadline) return Wait::kTimeout;
  }
}

}  // namespace varno::sim
