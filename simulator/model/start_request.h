// Turns a start call into the platform to run: which configuration, which
// scenario, which seed.
#pragma once

#include <optional>
#include <string>

#include "endpoint.h"
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

// Where the start goes: to varno-sim at the address in `env_emulator`
// (VARNO_SIM_EMULATOR) when it is set, else at the `emulator` key of the
// configuration the request names; nothing there means the model in this
// process. The named configuration is read either way, so a wrong file
// refuses the start in both modes: false, with the reason in `log`, when it
// cannot be read or is wrong or `env_emulator` is no address.
bool FindEmulator(const StartRequest& request, const std::string& env_emulator, Log& log,
                  std::optional<Endpoint>* emulator);

// Loads the configuration and starts `platform`; a configuration that cannot
// be read, an unknown scenario or a bad seed returns kStartConfigurationError
// after writing the reason to `log`.
StartResult StartPlatform(Platform& platform, Log& log, const StartRequest& request);

}  // namespace varno::sim
