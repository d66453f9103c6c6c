#include "tests/unit/fake_driver.h"

#include "console/string_printf.h"

FakeDriverState g_fake_driver;

namespace {

void Record(std::string call) {
  g_fake_driver.calls.push_back(std::move(call));
  if (g_fake_driver.during_call) g_fake_driver.during_call();
}

double Wide(float value) { return static_cast<double>(value); }

}  // namespace

DriverApi FakeDriver() {
  g_fake_driver = FakeDriverState{};
  DriverApi api;
  api.start_ZUNVarno = [] {
    Record("start_ZUNVarno()");
    return g_fake_driver.start_result;
  };
  api.start_ZUNVarno2 = [](const char* a, const char* b, const char* c) {
    Record(StringPrintf("start_ZUNVarno2(%s,%s,%s)", a, b, c));
    return g_fake_driver.start_result;
  };
  api.getValue_ZUNVarno = [](const char* name) {
    Record(StringPrintf("getValue_ZUNVarno(%s)", name));
    std::vector<float>& values = g_fake_driver.values;
    const float value = values.front();
    if (values.size() > 1) values.erase(values.begin());
    return value;
  };
  api.setValue_ZUNVarno = [](const char* name, float value) {
    Record(StringPrintf("setValue_ZUNVarno(%s,%g)", name, Wide(value)));
    return g_fake_driver.set_value_flag;
  };
  api.getAIValueForCalibration_ZUNVarno = [](const char* name) {
    Record(StringPrintf("getAIValueForCalibration_ZUNVarno(%s)", name));
    return g_fake_driver.raw_value;
  };
  api.close_ZUNVarno = [] { Record("close_ZUNVarno()"); };
  api.setCalibration_ZUNVarno = [](const char* name, float a, float b) {
    Record(StringPrintf("setCalibration_ZUNVarno(%s,%g,%g)", name, Wide(a), Wide(b)));
    return g_fake_driver.calibration_result;
  };
  api.getStatus_ZUNVarno = [] {
    Record("getStatus_ZUNVarno()");
    return g_fake_driver.status;
  };
  api.MP_getParameter = [](std::int32_t number) {
    Record(StringPrintf("MP_getParameter(%d)", static_cast<int>(number)));
    return g_fake_driver.parameter;
  };
  api.MP_updateDynamicParameters = [](float a, float b, float c, float d, float e) {
    Record(StringPrintf("MP_updateDynamicParameters(%.9g,%.9g,%.9g,%.9g,%.9g)", Wide(a), Wide(b),
                        Wide(c), Wide(d), Wide(e)));
  };
  api.MP_sendCommand = [](std::int32_t command) {
    Record(StringPrintf("MP_sendCommand(%d)", static_cast<int>(command)));
  };
  return api;
}

std::string FakeDriverCalls() {
  std::string text;
  for (const std::string& call : g_fake_driver.calls) text += call + "\n";
  return text;
}
