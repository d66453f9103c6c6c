#include <cmath>
#include <limits>

#include <gtest/gtest.h>

#include "calibration.h"

namespace varno::sim {
namespace {

TEST(Calibration, MapsZeroToZeroAndFullScaleToOne) {
  const struct {
    double zero, full_scale, raw, expected;
  } kCases[] = {
      {2, 6, 2, 0},    {2, 6, 6, 1},         {2, 6, 4, 0.5},
      {2, 6, 8, 1.5},  {2, 6, 0, -0.5},      {10, 0, 2.5, 0.75},  // a falling sensor
      {-5, 5, 0, 0.5}, {0, 1e-5, 5e-6, 0.5},
  };
  for (const auto& c : kCases) {
    std::optional<Calibration> calibration = MakeCalibration(c.zero, c.full_scale);
    ASSERT_TRUE(calibration) << c.zero << ", " << c.full_scale;
    EXPECT_NEAR(Calibrated(*calibration, c.raw), c.expected, 1e-9)
        << c.zero << ", " << c.full_scale << " at " << c.raw;
  }
  EXPECT_EQ(Calibrated(Calibration{}, 3.25), 3.25);  // the identity until set
}

TEST(Calibration, RefusesPairsThatDefineNone) {
  const double kNaN = std::numeric_limits<double>::quiet_NaN();
  const double kInf = std::numeric_limits<double>::infinity();
  const struct {
    double zero, full_scale;
  } kCases[] = {{1, 1},    {0, 0},    {1, 1 + 1e-9}, {1e6, 1e6 + 0.5},
                {kNaN, 1}, {0, kNaN}, {0, kInf},     {-kInf, 0}};
  for (const auto& c : kCases)
    EXPECT_FALSE(MakeCalibration(c.zero, c.full_scale)) << c.zero << ", " << c.full_scale;
}

}  // namespace
}  // namespace varno::sim
