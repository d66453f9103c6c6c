// Included by a stand-in driver library after its entry points: each of the
// eleven exports must have exactly the type the tool calls it through, or the
// library does not build. An entry a library leaves out on purpose is
// declared, not defined, before this header.
#pragma once

#include <type_traits>

#include "driver/driver_api.h"

#define VARNO_CHECK_EXPORT(name)                                              \
  static_assert(std::is_same_v<decltype(&::name), decltype(DriverApi::name)>, \
                #name " must have the type the tool calls it through")

VARNO_CHECK_EXPORT(start_ZUNVarno);
VARNO_CHECK_EXPORT(start_ZUNVarno2);
VARNO_CHECK_EXPORT(getValue_ZUNVarno);
VARNO_CHECK_EXPORT(setValue_ZUNVarno);
VARNO_CHECK_EXPORT(getAIValueForCalibration_ZUNVarno);
VARNO_CHECK_EXPORT(close_ZUNVarno);
VARNO_CHECK_EXPORT(setCalibration_ZUNVarno);
VARNO_CHECK_EXPORT(getStatus_ZUNVarno);
VARNO_CHECK_EXPORT(MP_getParameter);
VARNO_CHECK_EXPORT(MP_updateDynamicParameters);
VARNO_CHECK_EXPORT(MP_sendCommand);

#undef VARNO_CHECK_EXPORT
