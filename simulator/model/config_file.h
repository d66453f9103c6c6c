// Reads a simulated platform from its TOML configuration file (the format is
// described in README.md).
#pragma once

#include <string>
#include <string_view>

#include "platform_config.h"

namespace varno::sim {

// Parses and checks `text`; `source` names it in messages. On failure
// returns false and sets *error to "SOURCE:LINE: problem".
bool ParseConfig(std::string_view text, const std::string& source, PlatformConfig* config,
                 std::string* error);

// The same for the file at `path`; an unreadable file is an error too.
bool LoadConfigFile(const std::string& path, PlatformConfig* config, std::string* error);

}  // namespace varno::sim
