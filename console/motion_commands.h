// Menu options 6 to 8: the motion system of the moto.
#pragma once

#include "console/session.h"

Flow GetParameter(Session& session);
Flow SetMotionParameters(Session& session);
Flow SendCommand(Session& session);
