#include "console/menu.h"

#include <algorithm>
#include <iterator>

#include "console/motion_commands.h"
#include "console/signal_commands.h"
#include "console/string_printf.h"
#include "console/terminal/keys.h"

namespace {

struct MenuCommand {
  unsigned char key;
  const char* label;
  Flow (*run)(Session&);
};

// Draws the menu and dispatches its keys.
constexpr MenuCommand kMenuCommands[] = {
    {'1', "READ INPUT", ReadInput},
    {'2', "SET OUTPUT", SetOutput},
    {'3', "CALIBRATION ASSISTANT", CalibrationAssistant},
    {'4', "MAKE CALIBRATION", MakeCalibration},
    {'5', "GET STATUS OF VARNO", GetStatus},
    {'6', "GET PARAMETER OF MOTO MOTION SYSTEM", GetParameter},
    {'7', "SET MOTION PARAMETERS OF MOTO MOTION SYSTEM", SetMotionParameters},
    {'8', "SEND COMMAND TO MOTION SYSTEM OF MOTO", SendCommand},
};

void DrawMenu(Terminal& terminal) {
  terminal.Clear();
  terminal.Print("\n\nVARNO DIAGNOSTIC TOOL");
  terminal.Print("\n*********************");
  for (const MenuCommand& command : kMenuCommands)
    terminal.Print(StringPrintf("\n[%c]. %s", command.key, command.label));
  terminal.Print("\n[ESC]. EXIT");
  terminal.Print("\n\nOption>>> ");
}

}  // namespace

void RunMainMenu(Session& session) {
  Terminal& terminal = session.terminal;
  for (;;) {
    DrawMenu(terminal);
    const std::optional<unsigned char> key = terminal.ReadKey(Echo::kYes);
    if (!key) return;
    // Drops the line end a number prompt of the last command left unread.
    terminal.DiscardInput();
    if (*key == kEscapeKey) return;
    const MenuCommand* command = std::find_if(std::begin(kMenuCommands), std::end(kMenuCommands),
                                              [&](const MenuCommand& c) { return c.key == *key; });
    if (command != std::end(kMenuCommands) && command->run(session) == Flow::kLeave) return;
  }
}
