#include "scenario.h"

#include "status_bits.h"

namespace varno::sim {

const std::vector<Scenario>& BuiltInScenarios() {
  static const std::vector<Scenario> kScenarios = {
      {"normal", kStartOk, {}, 0, 0},
      {"config-error", kStartConfigurationError, {}, 0, 0},
      {"socket-error", kStartSocketError, {}, 0, 0},
      {"unreachable", kStartUnreachable, {}, 0, 0},
      {"missing-modules", kStartOk, {2, 3}, 0, 0},
      {"slow", kStartOk, {}, 250, 0},
      {"link-drop", kStartOk, {}, 0, 25},
  };
  return kScenarios;
}

const Scenario* FindScenario(const PlatformConfig& config, std::string_view name) {
  for (const auto* list : {&config.scenarios, &BuiltInScenarios()})
    for (const Scenario& s : *list)
      if (s.name == name) return &s;
  return nullptr;
}

StartResult StartCode(const Scenario& scenario) {
  if (scenario.start != kStartOk) return scenario.start;
  std::uint32_t missing = 0;
  for (int m : scenario.missing_modules) missing |= ModuleBit(m);
  return missing != 0 ? static_cast<StartResult>(missing) : kStartOk;
}

}  // namespace varno::sim
