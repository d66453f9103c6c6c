// The contract with the platform's host driver library: the eleven entry
// points the tool calls, their types, and the codes the start entries return.
// The library belongs to the platform; whatever stands in its place (the
// simulated platform, the recording test driver) exports exactly these.
#pragma once

#include <cstdint>

// File name the tool loads, by bare name through the system's library search.
#if defined(_WIN32)
#define VARNO_DRIVER_LIBRARY_NAME "ZUNVARNO_HOSTDRIVER.dll"
#else
#define VARNO_DRIVER_LIBRARY_NAME "ZUNVARNO_HOSTDRIVER.so"
#endif

// What either start entry returns.
using StartResult = std::int32_t;

inline constexpr StartResult kStartOk = 1;
inline constexpr StartResult kStartConfigurationError = -1;
inline constexpr StartResult kStartSocketError = -2;
inline constexpr StartResult kStartUnreachable = -3;
// 2 and above: the bits of the modules that did not answer; reported in hex.

// The one motion-system parameter the tool reads.
inline constexpr std::int32_t kUserWeightParameter = 13;

// Plain C entry points with the platform's default calling convention.
extern "C" {
using StartEntry = StartResult (*)();
using Start2Entry = StartResult (*)(const char*, const char*, const char*);
using GetValueEntry = float (*)(const char* name);
using SetValueEntry = unsigned char (*)(const char* name, float value);
using GetAIValueForCalibrationEntry = float (*)(const char* name);
using CloseEntry = void (*)();
using SetCalibrationEntry = std::int32_t (*)(const char* name, float a, float b);
using GetStatusEntry = std::uint32_t (*)();
using GetParameterEntry = float (*)(std::int32_t number);
using UpdateDynamicParametersEntry = void (*)(float, float, float, float, float);
using SendCommandEntry = void (*)(std::int32_t command);
}

// The resolved entry points, in the order they are looked up. Each member is
// named exactly as the library exports it; filled once at launch.
struct DriverApi {
  StartEntry start_ZUNVarno = nullptr;
  Start2Entry start_ZUNVarno2 = nullptr;
  GetValueEntry getValue_ZUNVarno = nullptr;
  SetValueEntry setValue_ZUNVarno = nullptr;
  GetAIValueForCalibrationEntry getAIValueForCalibration_ZUNVarno = nullptr;
  CloseEntry close_ZUNVarno = nullptr;
  SetCalibrationEntry setCalibration_ZUNVarno = nullptr;
  GetStatusEntry getStatus_ZUNVarno = nullptr;
  GetParameterEntry MP_getParameter = nullptr;
  UpdateDynamicParametersEntry MP_updateDynamicParameters = nullptr;
  SendCommandEntry MP_sendCommand = nullptr;
};
