// Menu options 1 to 5: the platform's signals and its status word.
#pragma once

#include "console/session.h"

// Samples a signal live until Escape.
Flow ReadInput(Session& session);
// Samples an analogue input's raw reading live until Escape.
Flow CalibrationAssistant(Session& session);
Flow SetOutput(Session& session);
Flow MakeCalibration(Session& session);
Flow GetStatus(Session& session);
