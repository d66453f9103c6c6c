#include <cmath>

#include <gtest/gtest.h>

#include "noise.h"
#include "waveform.h"

namespace varno::sim {
namespace {

TEST(Waveform, ValuesAtKnownTimes) {
  const struct {
    Waveform wave;
    double seconds;
    double expected;
  } kCases[] = {
      {{Shape::kConstant, 3, 7, 1, 0, 0}, 12.3, 7},
      {{Shape::kSine, 2, 1, 4, 0, 0}, 0, 1},
      {{Shape::kSine, 2, 1, 4, 0, 0}, 1, 3},
      {{Shape::kSine, 2, 1, 4, 0, 0}, 3, -1},
      {{Shape::kSine, 2, 1, 4, 0, 0}, 9, 3},     // a later period
      {{Shape::kSine, 1, 0, 1, 0.25, 0}, 0, 1},  // phase shifts the start
      {{Shape::kRamp, 1, 0, 2, 0, 0}, 0, -1},
      {{Shape::kRamp, 1, 0, 2, 0, 0}, 0.5, -0.5},
      {{Shape::kRamp, 1, 0, 2, 0, 0}, 1.5, 0.5},
      {{Shape::kRamp, 1, 0, 2, 0, 0}, -0.5, 0.5},  // before the origin
      {{Shape::kSquare, 3, 1, 2, 0, 0}, 0.5, 4},
      {{Shape::kSquare, 3, 1, 2, 0, 0}, 1.5, -2},
      {{Shape::kSquare, 3, 1, 2, 0, 0}, 2.25, 4},
  };
  for (const auto& c : kCases)
    EXPECT_NEAR(WaveformValue(c.wave, c.seconds), c.expected, 1e-12)
        << "shape " << static_cast<int>(c.wave.shape) << " at " << c.seconds;
}

TEST(Noise, DependsOnlyOnSeedNameAndMillisecond) {
  EXPECT_EQ(NoiseSample(7, "AI_2", 1.2341), NoiseSample(7, "AI_2", 1.2349));
  int seed_differs = 0;
  int name_differs = 0;
  int time_differs = 0;
  double sum = 0;
  for (int ms = 0; ms < 1000; ++ms) {
    double t = ms / 1000.0 + 0.0005;
    double x = NoiseSample(7, "AI_2", t);
    ASSERT_GE(x, -1.0);
    ASSERT_LE(x, 1.0);
    sum += x;
    seed_differs += x != NoiseSample(8, "AI_2", t);
    name_differs += x != NoiseSample(7, "AI_3", t);
    time_differs += x != NoiseSample(7, "AI_2", t + 0.001);
  }
  EXPECT_EQ(seed_differs, 1000);
  EXPECT_EQ(name_differs, 1000);
  EXPECT_EQ(time_differs, 1000);
  EXPECT_LT(std::fabs(sum / 1000), 0.1);  // centred, not biased to one side
}

}  // namespace
}  // namespace varno::sim
