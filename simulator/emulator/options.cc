#include "options.h"

#include <string_view>

namespace varno::sim {

bool ParseOptions(const std::vector<std::string>& arguments, Options* options, std::string* error) {
  struct Text {
    std::string_view name;
    std::string Options::*field;
  };
  static const Text kTexts[] = {
      {"--config", &Options::config}, {"--scenario", &Options::scenario},
      {"--seed", &Options::seed},     {"--port-file", &Options::port_file},
      {"--token", &Options::token},   {"--log", &Options::log},
  };
  struct Address {
    std::string_view name;
    Endpoint Options::*field;
  };
  static const Address kAddresses[] = {{"--listen", &Options::listen}, {"--http", &Options::http}};

  for (std::size_t i = 0; i < arguments.size(); ++i) {
    const std::string& name = arguments[i];
    if (name == "--help" || name == "-h") {
      options->help = true;
      continue;
    }
    bool known = false;
    for (const Text& t : kTexts) known = known || t.name == name;
    for (const Address& a : kAddresses) known = known || a.name == name;
    if (!known) {
      *error = "unknown option '" + name + "'";
      return false;
    }
    if (i + 1 >= arguments.size()) {
      *error = name + " needs a value";
      return false;
    }
    const std::string& value = arguments[++i];
    for (const Text& t : kTexts)
      if (t.name == name) options->*t.field = value;
    for (const Address& a : kAddresses) {
      if (a.name != name) continue;
      std::optional<Endpoint> endpoint = ParseEndpoint(value);
      if (!endpoint) {
        *error = name;
        *error += " '" + value + "' is not ADDR:PORT, a numeric IPv4 address and a port";
        return false;
      }
      options->*a.field = *endpoint;
    }
  }
  if (!options->token.empty() && options->token.find_first_of(" \t\r\n") != std::string::npos) {
    *error = "a --token holds no blanks";
    return false;
  }
  return true;
}

}  // namespace varno::sim
