#include "motion_system.h"

#include <cmath>
#include <iterator>
#include <utility>

#include "driver/driver_api.h"
#include "status_bits.h"

namespace varno::sim {
namespace {

struct Command {
  std::int32_t number;
  const char* name;
  std::uint32_t needs;    // every one of these bits must be set
  std::uint32_t forbids;  // none of these may be set
  std::uint32_t sets;
  std::uint32_t clears;
};

constexpr Command kCommands[] = {
    {1, "ENABLE", 0, kMotionEmergencyStop | kMotionFault, kMotionEnabled, 0},
    {2, "DISABLE", 0, 0, 0, kMotionEnabled | kMotionMoving},
    {3, "HOME", kMotionEnabled, kMotionMoving | kMotionFault, kMotionHomed, 0},
    {4, "START", kMotionEnabled | kMotionHomed | kMotionParametersLoaded, kMotionFault,
     kMotionMoving, 0},
    {5, "STOP", 0, 0, 0, kMotionMoving},
    {6, "EMERGENCY STOP", 0, 0, kMotionEmergencyStop, kMotionEnabled | kMotionMoving},
    {7, "RESET", 0, 0, 0, kMotionEmergencyStop | kMotionFault},
};

constexpr std::pair<std::int32_t, double> kDefaultParameters[] = {
    {10, 0.5},                     // MAX_SPEED, m/s
    {11, 2.0},                     // MAX_ACCELERATION, m/s^2
    {12, 150.0},                   // MAX_PAYLOAD, kg
    {kUserWeightParameter, 75.0},  // USER_WEIGHT, kg
    {20, 0.0},
    {21, 0.0},
    {22, 0.0},
    {23, 0.0},
    {24, 0.0},  // DYNAMIC_1..5
};

}  // namespace

MotionSystem::MotionSystem(const std::map<std::int32_t, double>& overrides)
    : parameters_(std::begin(kDefaultParameters), std::end(kDefaultParameters)) {
  for (const auto& [number, value] : overrides) parameters_[number] = value;
}

const double* MotionSystem::Parameter(std::int32_t number) const {
  auto it = parameters_.find(number);
  return it == parameters_.end() ? nullptr : &it->second;
}

std::string MotionSystem::LoadDynamicParameters(const float (&values)[5]) {
  for (float v : values) {
    if (!std::isfinite(v)) {
      bits_ |= kMotionFault;
      return "a dynamic parameter is not a finite number";
    }
  }
  for (int i = 0; i < 5; ++i) parameters_[kFirstDynamicParameter + i] = values[i];
  bits_ |= kMotionParametersLoaded;
  return {};
}

std::string MotionSystem::Send(std::int32_t number) {
  for (const Command& c : kCommands) {
    if (c.number != number) continue;
    if ((bits_ & c.needs) != c.needs || (bits_ & c.forbids) != 0) {
      bits_ |= kMotionFault;
      return std::string("command ") + c.name + " refused in this state";
    }
    bits_ = (bits_ | c.sets) & ~c.clears;
    return {};
  }
  bits_ |= kMotionFault;
  return "unknown command " + std::to_string(number);
}

}  // namespace varno::sim
