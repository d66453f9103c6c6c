// Seeded noise for the analogue inputs. A sample depends only on the seed,
// the signal's name and the millisecond asked for, never on the order of
// calls, so a run can be repeated exactly.
#pragma once

#include <cstdint>
#include <string_view>

namespace varno::sim {

// A sample in [-1, 1].
double NoiseSample(std::uint64_t seed, std::string_view signal, double seconds);

}  // namespace varno::sim
