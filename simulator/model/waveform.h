// The periodic shapes that drive the simulated inputs.
#pragma once

#include <optional>
#include <string_view>

namespace varno::sim {

enum class Shape { kConstant, kSine, kRamp, kSquare };

// offset + amplitude * shape(phase), the phase running from 0 to 1 once per
// period. Ramp rises from -1 to 1; square is 1 in the first half, -1 after.
struct Waveform {
  Shape shape = Shape::kConstant;
  double amplitude = 0.0;
  double offset = 0.0;
  double period = 1.0;  // seconds, > 0
  double phase = 0.0;   // fraction of a period added to the time
  double noise = 0.0;   // largest deviation added by the seeded noise
};

// The noiseless value at `seconds`.
double WaveformValue(const Waveform& wave, double seconds);

// "constant", "sine", "ramp" or "square"; nothing for any other name.
std::optional<Shape> ShapeNamed(std::string_view name);

}  // namespace varno::sim
