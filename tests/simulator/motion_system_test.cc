#include <limits>
#include <vector>

#include <gtest/gtest.h>

#include "motion_system.h"
#include "status_bits.h"

namespace varno::sim {
namespace {

TEST(MotionSystem, CommandsChangeStateBits) {
  // One letter a bit, so that each case reads as a line of the state table.
  constexpr std::uint32_t E = kMotionEnabled;
  constexpr std::uint32_t H = kMotionHomed;
  constexpr std::uint32_t M = kMotionMoving;
  constexpr std::uint32_t S = kMotionEmergencyStop;
  constexpr std::uint32_t L = kMotionParametersLoaded;
  constexpr std::uint32_t F = kMotionFault;
  const struct {
    bool load_parameters;
    std::vector<std::int32_t> commands;
    std::uint32_t bits;
  } kCases[] = {
      {false, {}, 0},
      {false, {1}, E},
      {false, {1, 2}, 0},
      {false, {3}, F},  // HOME needs the drive enabled
      {false, {1, 3}, E | H},
      {false, {1, 3, 4}, E | H | F},  // START needs the dynamic parameters
      {true, {1, 3, 4}, L | E | H | M},
      {true, {1, 3, 4, 3}, L | E | H | M | F},  // no homing while moving
      {true, {1, 3, 4, 5}, L | E | H},
      {true, {1, 3, 4, 6}, L | H | S},
      {false, {1, 6, 1}, S | F},  // no enabling in an emergency stop
      {false, {1, 6, 7, 1}, E},
      {false, {3, 1}, F},  // a fault blocks until RESET
      {false, {99}, F},
      {false, {0}, F},
      {false, {-5}, F},
      {false, {std::numeric_limits<std::int32_t>::min(), 7}, 0},
  };
  for (const auto& c : kCases) {
    MotionSystem motion;
    if (c.load_parameters) {
      const float kValues[5] = {0.2f, 0.4f, 0.6f, 0.8f, 1.0f};
      ASSERT_EQ(motion.LoadDynamicParameters(kValues), "");
    }
    std::string trace;
    for (std::int32_t command : c.commands) {
      trace += std::to_string(command) + " ";
      motion.Send(command);
    }
    EXPECT_EQ(motion.Bits(), c.bits) << "after " << trace;
  }
}

TEST(MotionSystem, RefusesDynamicParametersThatAreNotFinite) {
  MotionSystem motion;
  const float kBad[5] = {1, 2, std::numeric_limits<float>::infinity(), 4, 5};
  EXPECT_NE(motion.LoadDynamicParameters(kBad), "");
  EXPECT_EQ(*motion.Parameter(20), 0.0);  // nothing of it stored
  EXPECT_EQ(motion.Bits(), kMotionFault);
  EXPECT_EQ(*motion.Parameter(13), 75.0);
  EXPECT_EQ(motion.Parameter(14), nullptr);
}

}  // namespace
}  // namespace varno::sim
