#include "console/launch.h"

#include <string>

#include "console/menu.h"
#include "console/session.h"
#include "console/start_report.h"
#include "console/string_printf.h"

namespace {

constexpr int kToolBits = static_cast<int>(sizeof(void*) * 8);

// Tells the operator why the driver cannot be used.
void ReportBindingFailure(const DriverBinding& binding, Terminal& terminal) {
  if (!binding.loaded) {
    // The system's reason in its own encoding, after the tool's words; then
    // which build of the tool a library of the other word size needs.
    const std::string note = WordSizeMismatchNote(binding.load_failure.library_bits, kToolBits);
    if (terminal.Print(
            StringPrintf("\nError al cargar la libreria %s: ", VARNO_DRIVER_LIBRARY_NAME)) &&
        terminal.PrintSystemText(binding.load_failure.reason) && !note.empty())
      terminal.Print(" " + note);
    return;
  }
  for (const std::string& name : binding.missing) {
    terminal.Print(StringPrintf("\nError al cargar la libreria %s: falta la funcion %s",
                                VARNO_DRIVER_LIBRARY_NAME, name.c_str()));
  }
}

}  // namespace

int Launch(std::span<const char* const> args, Terminal& terminal, const DriverBinding& binding) {
  if (!binding.bound()) {
    ReportBindingFailure(binding, terminal);
    terminal.ReadKey(Echo::kNo);
    return kExitStatus;
  }
  const DriverApi& driver = binding.api;
  // An interrupt while the library loaded: no start.
  if (terminal.Leaving()) return kExitStatus;

  StartResult result;
  if (args.size() == 1) {
    result = driver.start_ZUNVarno();
  } else if (args.size() == 4) {
    result = driver.start_ZUNVarno2(args[1], args[2], args[3]);
  } else {
    terminal.Print(kArgumentsMessage);
    return kExitStatus;
  }

  if (result != kStartOk) {
    // The platform did not start, so it is not closed.
    if (const std::optional<std::string> message = StartFailureMessage(result))
      terminal.Print(*message);
    terminal.ReadKey(Echo::kNo);
    return kExitStatus;
  }

  // Started: from here every way out closes the platform, once.
  if (terminal.Print(kStartedMessage) && terminal.ReadKey(Echo::kNo)) {
    SignalNameBuffer signal_name{};
    Session session{terminal, driver, signal_name};
    RunMainMenu(session);
  }
  driver.close_ZUNVarno();
  return kExitStatus;
}
