#include "endpoint.h"

#include <charconv>

namespace varno::sim {
namespace {

// A decimal number up to `most`, with no sign, no leading zeros and at most
// five digits.
std::optional<std::uint32_t> Number(std::string_view text, std::uint32_t most) {
  if (text.empty() || text.size() > 5 || (text.size() > 1 && text[0] == '0')) return std::nullopt;
  std::uint32_t value = 0;
  auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (ec != std::errc() || end != text.data() + text.size() || value > most) return std::nullopt;
  return value;
}

}  // namespace

std::optional<Endpoint> ParseEndpoint(std::string_view text) {
  const std::size_t colon = text.rfind(':');
  if (colon == std::string_view::npos) return std::nullopt;
  std::optional<std::uint32_t> port = Number(text.substr(colon + 1), 65535);
  if (!port) return std::nullopt;
  std::string_view address = text.substr(0, colon);
  Endpoint endpoint;
  endpoint.port = static_cast<std::uint16_t>(*port);
  for (int part = 0; part < 4; ++part) {
    const std::size_t dot = part < 3 ? address.find('.') : address.size();
    if (dot == std::string_view::npos) return std::nullopt;
    std::optional<std::uint32_t> byte = Number(address.substr(0, dot), 255);
    if (!byte) return std::nullopt;
    endpoint.address = (endpoint.address << 8) | *byte;
    address.remove_prefix(part < 3 ? dot + 1 : dot);
  }
  return endpoint;
}

std::string AddressText(std::uint32_t address) {
  return std::to_string(address >> 24) + "." + std::to_string((address >> 16) & 0xff) + "." +
         std::to_string((address >> 8) & 0xff) + "." + std::to_string(address & 0xff);
}

std::string EndpointText(const Endpoint& endpoint) {
  return AddressText(endpoint.address) + ":" + std::to_string(endpoint.port);
}

}  // namespace varno::sim
