// The scenarios every platform offers, and the lookup that lets a
// configuration file add its own or replace these by name.
#pragma once

#include <string_view>
#include <vector>

#include "platform_config.h"

namespace varno::sim {

const std::vector<Scenario>& BuiltInScenarios();

// The configuration's scenario of that name, else the built-in one, else null.
const Scenario* FindScenario(const PlatformConfig& config, std::string_view name);

// What starting under `scenario` returns: its forced failure, else the bits
// of the modules that do not answer, else kStartOk.
StartResult StartCode(const Scenario& scenario);

}  // namespace varno::sim
