#include "console/signal_commands.h"

#include "console/prompts.h"
#include "console/string_printf.h"
#include "console/terminal/keys.h"

namespace {

// Prints sample after sample with no pause, clearing after each, until the
// operator presses Escape; other keys are swallowed. At least one sample is
// always taken.
Flow LiveReading(Session& session, GetValueEntry read) {
  Terminal& terminal = session.terminal;
  terminal.Clear();
  if (!ReadSignalName(session)) return Flow::kLeave;
  const char* name = session.signal_name.data();
  for (;;) {
    const float value = read(name);
    terminal.Print(StringPrintf("\n %s -> %s", name, FixedPoint(value).c_str()));
    terminal.Clear();
    if (terminal.KeyWaiting()) {
      const std::optional<unsigned char> key = terminal.ReadLiveReadingKey();
      terminal.DiscardInput();
      if (key == kEscapeKey) return Flow::kContinue;
    }
    if (terminal.Leaving()) return Flow::kLeave;
  }
}

}  // namespace

Flow ReadInput(Session& session) { return LiveReading(session, session.driver.getValue_ZUNVarno); }

Flow CalibrationAssistant(Session& session) {
  return LiveReading(session, session.driver.getAIValueForCalibration_ZUNVarno);
}

Flow SetOutput(Session& session) {
  Terminal& terminal = session.terminal;
  terminal.Clear();
  if (!ReadSignalName(session)) return Flow::kLeave;
  const std::optional<float> value = AskFloat(session, "\nVALUE [0-1]]? ");
  if (!value) return FlowAfter(terminal);
  const unsigned char updated =
      session.driver.setValue_ZUNVarno(session.signal_name.data(), *value);
  terminal.Print(updated != 0 ? "\nSUCCESS" : "\nERROR updating signals");
  terminal.ReadKey(Echo::kNo);
  terminal.DiscardInput();
  return FlowAfter(terminal);
}

Flow MakeCalibration(Session& session) {
  Terminal& terminal = session.terminal;
  terminal.Clear();
  if (!ReadSignalName(session)) return Flow::kLeave;
  const std::optional<float> a = AskFloat(session, "\nVALUE A? ");
  if (!a) return FlowAfter(terminal);
  const std::optional<float> b = AskFloat(session, "\nVALUE B? ");
  if (!b) return FlowAfter(terminal);
  const std::int32_t result =
      session.driver.setCalibration_ZUNVarno(session.signal_name.data(), *a, *b);
  terminal.Print(StringPrintf("\nResultado de calibracion=%d", static_cast<int>(result)));
  // The line end VALUE B left is dropped by the menu's discard.
  terminal.ReadKey(Echo::kNo);
  return FlowAfter(terminal);
}

Flow GetStatus(Session& session) {
  Terminal& terminal = session.terminal;
  terminal.Clear();
  const std::uint32_t status = session.driver.getStatus_ZUNVarno();
  terminal.Print(StringPrintf("STATUS OF VARNO: %x", static_cast<unsigned>(status)));
  terminal.ReadKey(Echo::kNo);
  return FlowAfter(terminal);
}
