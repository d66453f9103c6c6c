// The questions commands ask the operator.
#pragma once

#include <cstdint>
#include <optional>

#include "console/session.h"

// Asks for a signal name until one fits the SignalNameBuffer. False when the
// tool must leave.
bool ReadSignalName(Session& session);

// Prints the prompt and reads a number. A value nobody typed (no number, not
// finite, out of range) is told to the operator, who presses a key; then, as
// when the tool must leave, the result is empty and no driver call may follow.
std::optional<float> AskFloat(Session& session, const char* prompt);
std::optional<std::int32_t> AskInt(Session& session, const char* prompt);
