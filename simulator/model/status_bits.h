// The bits of the status word that getStatus_ZUNVarno returns.
#pragma once

#include <cstdint>

namespace varno::sim {

inline constexpr std::uint32_t kLinkUp = 1u << 0;
// Bits 1 to 15: module n answers (bit n).
inline constexpr std::uint32_t ModuleBit(int module) { return 1u << module; }
inline constexpr std::uint32_t kMotionEnabled = 1u << 16;
inline constexpr std::uint32_t kMotionHomed = 1u << 17;
inline constexpr std::uint32_t kMotionMoving = 1u << 18;
inline constexpr std::uint32_t kMotionEmergencyStop = 1u << 19;
inline constexpr std::uint32_t kMotionParametersLoaded = 1u << 20;
inline constexpr std::uint32_t kMotionFault = 1u << 23;
inline constexpr std::uint32_t kLinkLost = 1u << 24;

}  // namespace varno::sim
