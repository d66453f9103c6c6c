// The main menu: drawn anew on each pass, one key chooses a command.
#pragma once

#include "console/session.h"

// Runs until the operator presses Escape at the menu or the tool must leave.
// Closing the platform is the caller's.
void RunMainMenu(Session& session);
