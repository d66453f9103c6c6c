// Turns a start call into the platform to run: which configuration, which
// scenario, which seed.
#pragma once

#include <string>

#include "log.h"
#include "platform.h"

namespace varno::sim {

// Empty fields mean "the default".
struct StartRequest {
  std::string config_path;  // empty: the built-in platform
  std::string scenario;     // empty: the configuration's own
  std::string seed;         // decimal; empty: the configuration's own
};

// start_ZUNVarno2's three arguments; null, "" and "-" each mean the default,
// and the default configuration is `env_config` (may be empty).
StartRequest RequestFromArguments(const char* config, const char* scenario, const char* seed,
                                  const std::string& env_config);

// Loads the configuration and starts `platform`; a configuration that cannot
// be read, an unknown scenario or a bad seed returns kStartConfigurationError
// after writing the reason to `log`.
StartResult StartPlatform(Platform& platform, Log& log, const StartRequest& request);

}  // namespace varno::sim
