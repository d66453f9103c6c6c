#include <memory>

#include "console/launch.h"
#include "console/terminal.h"

int main(int argc, char** argv) {
  const std::unique_ptr<Terminal> terminal = OpenConsole();
  return Launch({argv, static_cast<std::size_t>(argc)}, *terminal,
                [] { return LoadAndBindDriver(VARNO_DRIVER_LIBRARY_NAME); });
}
