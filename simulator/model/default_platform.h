// The platform the simulator starts when no configuration file is named.
#pragma once

#include "platform_config.h"

namespace varno::sim {

// Three modules with a handful of signals of each kind (listed in README.md);
// DI_1 reads DO_1, DI_2 reads DO_2 and AI_1 reads AO_1.
PlatformConfig DefaultPlatform();

}  // namespace varno::sim
