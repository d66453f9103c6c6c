#include <memory>

#include "console/launch.h"
#include "console/terminal/process_guard.h"
#include "console/terminal/terminal.h"

int main(int argc, char** argv) {
  const ProcessGuard guard(kExitStatus, kDriverEndedRunMessage);
  // Loaded before the terminal is taken over, so that a library that ends
  // the process while it loads leaves the terminal as it was.
  const DriverBinding binding = LoadAndBindDriver(VARNO_DRIVER_LIBRARY_NAME);
  const std::unique_ptr<Terminal> terminal = OpenConsole();
  return Launch({argv, static_cast<std::size_t>(argc)}, *terminal, binding);
}
