#include <memory>

#include "console/launch.h"
#include "console/terminal/process_guard.h"
#include "console/terminal/terminal.h"

int main(int argc, char** argv) {
  ProcessGuard guard(kExitStatus, kDriverEndedRunMessage);
  // The terminal as found is saved before the library loads, and taken over
  // after: a library that sets its modes or ends the process while it loads
  // leaves the terminal as it was.
  HoldConsole();
  const DriverBinding binding = LoadAndBindDriver(VARNO_DRIVER_LIBRARY_NAME);
  const std::unique_ptr<Terminal> terminal = OpenConsole();
  const int status = Launch({argv, static_cast<std::size_t>(argc)}, *terminal, binding);
  guard.EndOrderly();
  return status;
}
