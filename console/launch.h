// The program's entry, above the platform layer: bind the driver, start the
// platform, report the start, run the menu.
#pragma once

#include <functional>
#include <span>

#include "console/terminal.h"
#include "driver/driver_binding.h"

// The tool's only exit status, whatever the way out.
inline constexpr int kExitStatus = 1;

// Runs the whole tool and returns its exit status. `args` is the command
// line, program name first. `bind` loads and binds the driver library; it is
// called before the command line is looked at.
int Launch(std::span<const char* const> args, Terminal& terminal,
           const std::function<DriverBinding()>& bind);
