// What the operator is told about the start of the platform.
#pragma once

#include <optional>
#include <string>

#include "driver/driver_api.h"

inline constexpr char kStartedMessage[] =
    "\nPlataforma VARNO correctamente arrancada y detectada...";

// Windows-1252: 0xF3 is the "o" with an acute accent.
inline constexpr char kArgumentsMessage[] =
    "\nError al lanzar la aplicaci\xF3n. Revise los argumentos de entrada";

// The message for a start that did not succeed; nothing for codes without a
// meaning (0, and -4 and below).
std::optional<std::string> StartFailureMessage(StartResult result);

// The words put after the system's reason when a library of `library_bits`
// could not be loaded into this build of `tool_bits`, naming the build to
// use; empty when the two match or either is unknown (0).
std::string WordSizeMismatchNote(int library_bits, int tool_bits);
