#include "start_request.h"

#include <charconv>

#include "config_file.h"
#include "default_platform.h"
#include "scenario.h"

namespace varno::sim {
namespace {

std::string Argument(const char* text) {
  if (text == nullptr || std::string_view(text) == "-") return {};
  return text;
}

StartResult Refuse(Log& log, const std::string& reason) {
  log.Write(LogLevel::kStartFailure, reason);
  return kStartConfigurationError;
}

}  // namespace

StartRequest RequestFromArguments(const char* config, const char* scenario, const char* seed,
                                  const std::string& env_config) {
  StartRequest request{Argument(config), Argument(scenario), Argument(seed)};
  if (request.config_path.empty()) request.config_path = env_config;
  return request;
}

bool FindEmulator(const StartRequest& request, const std::string& env_emulator, Log& log,
                  std::optional<Endpoint>* emulator) {
  emulator->reset();
  PlatformConfig config;
  std::string error;
  if (!request.config_path.empty() && !LoadConfigFile(request.config_path, &config, &error)) {
    Refuse(log, error);
    return false;
  }
  const std::string& address = env_emulator.empty() ? config.emulator : env_emulator;
  if (address.empty()) return true;
  *emulator = ParseEndpoint(address);
  if (!*emulator)
    Refuse(log, "VARNO_SIM_EMULATOR '" + address +
                    "' is not ADDR:PORT, a numeric IPv4 address and a port");
  return emulator->has_value();
}

StartResult StartPlatform(Platform& platform, Log& log, const StartRequest& request) {
  PlatformConfig config = DefaultPlatform();
  std::string error;
  if (!request.config_path.empty() && !LoadConfigFile(request.config_path, &config, &error))
    return Refuse(log, error);
  if (!config.emulator.empty())
    return Refuse(log, config.source + " names an emulator (" + config.emulator +
                           ") and describes no platform");
  std::string name = request.scenario.empty() ? config.scenario : request.scenario;
  const Scenario* scenario = FindScenario(config, name);
  if (scenario == nullptr) return Refuse(log, config.source + ": unknown scenario '" + name + "'");
  std::uint64_t seed = config.seed;
  const std::string& text = request.seed;
  if (!text.empty()) {
    auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), seed);
    if (ec != std::errc() || end != text.data() + text.size())
      return Refuse(log,
                    "seed '" + text + "' is not a whole number from 0 to 18446744073709551615");
  }
  return platform.Start(config, *scenario, seed);
}

}  // namespace varno::sim
