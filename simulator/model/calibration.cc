#include "calibration.h"

#include <algorithm>
#include <cmath>

namespace varno::sim {

std::optional<Calibration> MakeCalibration(double zero, double full_scale) {
  if (!std::isfinite(zero) || !std::isfinite(full_scale)) return std::nullopt;
  // A span below a millionth of the readings' size would turn noise into
  // full-scale swings.
  double size = std::max({1.0, std::fabs(zero), std::fabs(full_scale)});
  if (std::fabs(full_scale - zero) < 1e-6 * size) return std::nullopt;
  return Calibration{zero, full_scale};
}

double Calibrated(const Calibration& calibration, double raw) {
  return (raw - calibration.zero) / (calibration.full_scale - calibration.zero);
}

}  // namespace varno::sim
