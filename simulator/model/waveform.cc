#include "waveform.h"

#include <cmath>
#include <numbers>

namespace varno::sim {

double WaveformValue(const Waveform& wave, double seconds) {
  double turns = seconds / wave.period + wave.phase;
  double p = turns - std::floor(turns);
  double unit = 0.0;
  switch (wave.shape) {
    case Shape::kConstant: unit = 0.0; break;
    case Shape::kSine: unit = std::sin(2.0 * std::numbers::pi * p); break;
    case Shape::kRamp: unit = 2.0 * p - 1.0; break;
    case Shape::kSquare: unit = p < 0.5 ? 1.0 : -1.0; break;
  }
  return wave.offset + wave.amplitude * unit;
}

std::optional<Shape> ShapeNamed(std::string_view name) {
  static constexpr struct {
    std::string_view name;
    Shape shape;
  } kShapes[] = {{"constant", Shape::kConstant},
                 {"sine", Shape::kSine},
                 {"ramp", Shape::kRamp},
                 {"square", Shape::kSquare}};
  for (const auto& s : kShapes)
    if (s.name == name) return s.shape;
  return std::nullopt;
}

}  // namespace varno::sim
