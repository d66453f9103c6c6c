// The program's entry, above the platform layer: bind the driver, start the
// platform, report the start, run the menu.
#pragma once

#include <span>

#include "console/terminal/terminal.h"
#include "driver/driver_binding.h"

// The tool's only exit status, whatever the way out.
inline constexpr int kExitStatus = 1;

// Printed when the driver library ends the run itself.
inline constexpr char kDriverEndedRunMessage[] =
    "\nLa libreria " VARNO_DRIVER_LIBRARY_NAME " ha terminado la ejecucion.";

// Runs the whole tool and returns its exit status. `args` is the command
// line, program name first; `binding` is the driver library, loaded and
// bound before the command line is looked at.
int Launch(std::span<const char* const> args, Terminal& terminal, const DriverBinding& binding);
