// What the menu and its commands share for the whole run.
#pragma once

#include <array>

#include "console/terminal/terminal.h"
#include "driver/driver_api.h"

// A signal name of at most 49 characters and its terminating NUL.
using SignalNameBuffer = std::array<char, 50>;

struct Session {
  Terminal& terminal;
  const DriverApi& driver;
  SignalNameBuffer& signal_name;
};

// How a command ends: back to the menu, or the tool must leave (input ended,
// output failed, or an interrupt) as Escape does.
enum class Flow { kContinue, kLeave };

inline Flow FlowAfter(const Terminal& terminal) {
  return terminal.Leaving() ? Flow::kLeave : Flow::kContinue;
}
