#include "frozen_readings.h"

#include "platform.h"
#include "status_bits.h"

namespace varno::sim {
namespace {

// The status word's motion bits, which a lost link leaves as they were.
constexpr std::uint32_t kMotionBits = kMotionEnabled | kMotionHomed | kMotionMoving |
                                      kMotionEmergencyStop | kMotionParametersLoaded | kMotionFault;

std::string_view Name(const Call& call) {
  return call.texts[0] ? std::string_view(*call.texts[0]) : std::string_view();
}

}  // namespace

void FrozenReadings::Clear() {
  values_.clear();
  raws_.clear();
  parameters_.clear();
  motion_bits_ = 0;
}

void FrozenReadings::Keep(Readings& readings, std::string_view name, float value) {
  auto it = readings.find(name);
  if (it != readings.end())
    it->second = value;
  else
    readings.emplace(std::string(name), value);
}

float FrozenReadings::Find(const Readings& readings, std::string_view name) {
  auto it = readings.find(name);
  return it == readings.end() ? 0.0f : it->second;
}

void FrozenReadings::Remember(const Call& call, const Result& result) {
  switch (call.entry) {
    case Entry::kGetValue: KeepValue(Name(call), result.value); break;
    case Entry::kGetAIValueForCalibration: KeepRaw(Name(call), result.value); break;
    case Entry::kGetParameter: parameters_[call.number] = result.value; break;
    case Entry::kGetStatus:
      motion_bits_ = static_cast<std::uint32_t>(result.code) & kMotionBits;
      break;
    default: break;
  }
}

Result FrozenReadings::WhileLost(const Call& call) const {
  Result result;
  switch (call.entry) {
    case Entry::kGetValue: result.value = Value(Name(call)); break;
    case Entry::kGetAIValueForCalibration: result.value = Raw(Name(call)); break;
    case Entry::kGetParameter: {
      auto it = parameters_.find(call.number);
      result.value = it == parameters_.end() ? 0.0f : it->second;
      break;
    }
    case Entry::kGetStatus:
      result.code = static_cast<std::int32_t>(kLinkLost | motion_bits_);
      break;
    case Entry::kSetCalibration: result.code = kCalibrationNoLink; break;
    default: break;  // a start is never answered from here; writes do nothing
  }
  return result;
}

}  // namespace varno::sim
