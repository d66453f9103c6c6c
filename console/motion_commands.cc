#include "console/motion_commands.h"

#include "console/prompts.h"
#include "console/string_printf.h"

namespace {

// The fixed set SET MOTION PARAMETERS loads, in order.
constexpr float kDynamicParameters[5] = {0.2f, 0.4f, 0.6f, 0.8f, 1.0f};

}  // namespace

Flow GetParameter(Session& session) {
  Terminal& terminal = session.terminal;
  terminal.Clear();
  const float weight = session.driver.MP_getParameter(kUserWeightParameter);
  terminal.Print("PARAMETER USER_WEIGHT: " + FixedPoint(weight));
  terminal.ReadKey(Echo::kNo);
  return FlowAfter(terminal);
}

Flow SetMotionParameters(Session& session) {
  Terminal& terminal = session.terminal;
  terminal.Clear();
  const float* p = kDynamicParameters;
  session.driver.MP_updateDynamicParameters(p[0], p[1], p[2], p[3], p[4]);
  terminal.ReadKey(Echo::kNo);
  return FlowAfter(terminal);
}

Flow SendCommand(Session& session) {
  Terminal& terminal = session.terminal;
  terminal.Clear();
  const std::optional<std::int32_t> command = AskInt(session, "\nIntroduce comando: ");
  if (!command) return FlowAfter(terminal);
  // The line end left unread is dropped by the menu's discard.
  session.driver.MP_sendCommand(*command);
  terminal.ReadKey(Echo::kNo);
  return FlowAfter(terminal);
}
