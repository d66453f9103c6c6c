// A driver made of plain functions that record each call as text and answer
// from settings the test chooses.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "driver/driver_api.h"

struct FakeDriverState {
  StartResult start_result = kStartOk;
  std::vector<float> values{0.5f};  // getValue answers, the last repeating
  float raw_value = 2.25f;
  unsigned char set_value_flag = 1;
  std::int32_t calibration_result = 0;
  std::uint32_t status = 0;
  float parameter = 70.5f;
  std::vector<std::string> calls;
  // Runs during each call, as an operator or a signal would act meanwhile.
  std::function<void()> during_call;
};

// Reset by FakeDriver() for each test.
extern FakeDriverState g_fake_driver;

// A fresh state and the eleven entries bound to it.
DriverApi FakeDriver();

// The recorded calls, one per line.
std::string FakeDriverCalls();
