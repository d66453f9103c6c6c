// Two-point calibration of an analogue input.
#pragma once

#include <optional>

namespace varno::sim {

// `zero` is the raw reading that means 0 and `full_scale` the raw reading
// that means 1; the identity until the operator stores a pair.
struct Calibration {
  double zero = 0.0;
  double full_scale = 1.0;
};

// The calibration through the two raw readings, or nothing when they cannot
// define one: either is not finite, or they are too close to tell apart.
std::optional<Calibration> MakeCalibration(double zero, double full_scale);

// The calibrated value of a raw reading: (raw - zero) / (full_scale - zero).
double Calibrated(const Calibration& calibration, double raw);

}  // namespace varno::sim
