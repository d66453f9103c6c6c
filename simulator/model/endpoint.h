// An IPv4 address and UDP or TCP port, as written on command lines, in
// VARNO_SIM_EMULATOR and in the port file: "127.0.0.1:5020".
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace varno::sim {

struct Endpoint {
  std::uint32_t address = 0;  // host byte order: 127.0.0.1 is 0x7f000001
  std::uint16_t port = 0;

  bool operator==(const Endpoint&) const = default;
  bool IsLoopback() const { return (address >> 24) == 127; }
};

// A numeric address and a port from 0 to 65535; nothing for anything else
// (host names included: nothing here asks a name server).
std::optional<Endpoint> ParseEndpoint(std::string_view text);

std::string EndpointText(const Endpoint& endpoint);
std::string AddressText(std::uint32_t address);

}  // namespace varno::sim
