// The motion system of the moto: numbered parameters and a small state
// machine driven by numbered commands, reported through status bits.
#pragma once

#include <cstdint>
#include <map>
#include <string>

namespace varno::sim {

inline constexpr std::int32_t kFirstDynamicParameter = 20;  // 20 to 24

class MotionSystem {
 public:
  // Starts idle with the default parameters, then `overrides` over them.
  explicit MotionSystem(const std::map<std::int32_t, double>& overrides = {});

  // The parameter's value, or nothing for a number that has none.
  const double* Parameter(std::int32_t number) const;

  // Stores the five values as parameters 20 to 24. Refuses (and raises the
  // fault bit) when any is not finite; returns the reason, empty if stored.
  std::string LoadDynamicParameters(const float (&values)[5]);

  // Runs a command from the table; an unknown command or one the state does
  // not allow raises the fault bit. Returns the reason, empty if done.
  std::string Send(std::int32_t number);

  const std::map<std::int32_t, double>& parameters() const { return parameters_; }

  // The motion bits of the status word.
  std::uint32_t Bits() const { return bits_; }

 private:
  std::map<std::int32_t, double> parameters_;
  std::uint32_t bits_ = 0;
};

}  // namespace varno::sim
