#include <cmath>
#include <limits>
#include <string>

#include <gtest/gtest.h>

#include "default_platform.h"
#include "fakes.h"
#include "platform.h"
#include "scenario.h"
#include "status_bits.h"

namespace varno::sim {
namespace {

constexpr float kNaN = std::numeric_limits<float>::quiet_NaN();
constexpr float kInf = std::numeric_limits<float>::infinity();
constexpr std::uint32_t kDefaultStatus = kLinkUp | ModuleBit(1) | ModuleBit(2) | ModuleBit(3);

Scenario Make(std::string name, StartResult start = kStartOk, int drop_link_after = 0) {
  Scenario s;
  s.name = std::move(name);
  s.start = start;
  s.drop_link_after = drop_link_after;
  return s;
}

class PlatformTest : public ::testing::Test {
 protected:
  StartResult Start(const Scenario& scenario = Make("normal"), std::uint64_t seed = 1) {
    return platform.Start(DefaultPlatform(), scenario, seed);
  }

  FakeClock clock;
  RecordingLog log;
  Platform platform{clock, log};
};

TEST_F(PlatformTest, SetValueAcceptsOnlyOutputsWithinRange) {
  ASSERT_EQ(Start(), kStartOk);
  const struct {
    const char* name;
    float value;
    bool accepted;
    const char* reason;  // in the log when refused
  } kCases[] = {
      {"DO_1", 1, true, ""},
      {"DO_1", 0, true, ""},
      {"DO_1", 0.5f, false, "outside the range"},
      {"AO_1", 1, true, ""},
      {"AO_1", 1.5f, false, "outside the range"},
      {"AO_1", -0.1f, false, "outside the range"},
      {"AO_1", kNaN, false, "nan is outside the range"},
      {"AO_1", kInf, false, "outside the range"},
      {"DI_1", 1, false, "is an input"},
      {"do_1", 1, false, "unknown signal \"do_1\""},
      {"", 1, false, "no signal name"},
      {"DO_1xxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxx", 1, false, "longer than 49"},
  };
  for (const auto& c : kCases) {
    log.lines.clear();
    EXPECT_EQ(platform.SetValue(c.name, c.value), c.accepted) << c.name << " " << c.value;
    if (c.accepted)
      EXPECT_TRUE(log.lines.empty()) << log.Last();
    else
      EXPECT_TRUE(log.Has(c.reason)) << c.name << ": " << log.Last();
  }
}

TEST_F(PlatformTest, WiredInputsReadTheirOutputs) {
  ASSERT_EQ(Start(), kStartOk);
  EXPECT_EQ(platform.GetValue("DI_1"), 0.0f);
  ASSERT_TRUE(platform.SetValue("DO_1", 1));
  EXPECT_EQ(platform.GetValue("DI_1"), 1.0f);
  EXPECT_EQ(platform.GetValue("DI_2"), 0.0f);  // wired to DO_2, untouched
  EXPECT_EQ(platform.GetValue("DO_1"), 1.0f);  // an output reads back
  ASSERT_TRUE(platform.SetValue("DO_1", 0));
  EXPECT_EQ(platform.GetValue("DI_1"), 0.0f);
  // AO_1's [0, 1] maps onto AI_1's raw range [0, 10].
  ASSERT_TRUE(platform.SetValue("AO_1", 0.25f));
  EXPECT_FLOAT_EQ(platform.GetRawValue("AI_1"), 2.5f);
  EXPECT_FLOAT_EQ(platform.GetValue("AI_1"), 2.5f);  // not calibrated yet
  ASSERT_EQ(platform.SetCalibration("AI_1", 0, 5), kCalibrationStored);
  EXPECT_FLOAT_EQ(platform.GetValue("AI_1"), 0.5f);
  EXPECT_FLOAT_EQ(platform.GetRawValue("AI_1"), 2.5f);  // raw stays raw
}

TEST_F(PlatformTest, InputsFollowTheirWaveformsFromTheStart) {
  ASSERT_EQ(Start(), kStartOk);
  // DI_3 toggles every second starting at 1; AI_4 is a square 5 +- 2 over 4 s.
  const struct {
    double after_start;
    float di_3, ai_4;
  } kCases[] = {{0, 1, 7}, {0.9, 1, 7}, {1.0, 0, 7}, {2.0, 1, 3}, {3.5, 0, 3}, {4.0, 1, 7}};
  double start = clock.now;
  for (const auto& c : kCases) {
    clock.now = start + c.after_start;
    EXPECT_EQ(platform.GetValue("DI_3"), c.di_3) << c.after_start;
    EXPECT_EQ(platform.GetValue("AI_4"), c.ai_4) << c.after_start;
  }
}

TEST_F(PlatformTest, NoisyInputsRepeatForTheSameSeedAndTime) {
  auto series = [&](std::uint64_t seed) {
    Start(Make("normal"), seed);
    std::vector<float> values;
    double start = clock.now;
    for (double t : {0.0, 0.4, 1.7, 6.25}) {
      clock.now = start + t;
      values.push_back(platform.GetValue("AI_2"));
      values.push_back(platform.GetRawValue("AI_3"));
    }
    return values;
  };
  std::vector<float> first = series(42);
  clock.now += 1000;  // a later run with the same seed replays the first
  EXPECT_EQ(series(42), first);
  EXPECT_NE(series(43), first);
  for (float v : first) {
    EXPECT_GE(v, 0.0f);
    EXPECT_LE(v, 10.0f);
  }
}

TEST_F(PlatformTest, CalibrationResults) {
  ASSERT_EQ(Start(), kStartOk);
  const struct {
    const char* name;
    float zero, full_scale;
    std::int32_t expected;
  } kCases[] = {
      {"AI_2", 0, 10, kCalibrationStored},         {"AI_2", 10, 0, kCalibrationStored},
      {"NOPE", 0, 10, kCalibrationUnknownSignal},  {"", 0, 10, kCalibrationUnknownSignal},
      {"DI_1", 0, 10, kCalibrationNotAnalogInput}, {"AO_1", 0, 10, kCalibrationNotAnalogInput},
      {"AI_2", 3, 3, kCalibrationDegenerate},      {"AI_2", kNaN, 1, kCalibrationDegenerate},
      {"AI_2", 0, kInf, kCalibrationDegenerate},
  };
  for (const auto& c : kCases)
    EXPECT_EQ(platform.SetCalibration(c.name, c.zero, c.full_scale), c.expected) << c.name;
  EXPECT_EQ(platform.GetRawValue("DI_1"), 0.0f);
  EXPECT_TRUE(log.Has("\"DI_1\" is not an analogue input"));
}

TEST_F(PlatformTest, StatusShowsModulesAndMotion) {
  EXPECT_EQ(platform.Status(), 0u);  // not started
  ASSERT_EQ(Start(), kStartOk);
  EXPECT_EQ(platform.Status(), kDefaultStatus);
  platform.SendCommand(1);
  EXPECT_EQ(platform.Status(), kDefaultStatus | kMotionEnabled);
  platform.SendCommand(99);
  EXPECT_EQ(platform.Status(), kDefaultStatus | kMotionEnabled | kMotionFault);
  EXPECT_TRUE(log.Has("MP_sendCommand: unknown command 99"));
}

TEST_F(PlatformTest, LinkDropFreezesValuesAndShowsInStatus) {
  ASSERT_EQ(Start(Make("drop", kStartOk, 3)), kStartOk);
  float before = platform.GetValue("AI_2");      // call 1
  EXPECT_EQ(platform.Status(), kDefaultStatus);  // call 2
  EXPECT_TRUE(platform.SetValue("DO_1", 1));     // call 3
  clock.now += 2.5;
  EXPECT_EQ(platform.GetValue("AI_2"), before);  // frozen
  EXPECT_EQ(platform.GetValue("DI_1"), 0.0f);    // never read before
  EXPECT_EQ(platform.Status(), kLinkLost);
  EXPECT_FALSE(platform.SetValue("DO_2", 1));
  EXPECT_EQ(platform.SetCalibration("AI_2", 0, 10), kCalibrationNoLink);
  EXPECT_EQ(platform.GetParameter(13), 75.0f);
  EXPECT_TRUE(log.Has("dropped after 3 calls"));
}

TEST_F(PlatformTest, LatencyIsSpentOnEveryCall) {
  ASSERT_EQ(Start(*FindScenario({}, "slow")), kStartOk);
  double start = clock.now;
  platform.GetValue("DI_1");
  platform.Status();
  platform.SendCommand(1);
  EXPECT_DOUBLE_EQ(clock.now - start, 0.75);
}

TEST_F(PlatformTest, CallsOutsideARunAreRefused) {
  auto expect_refused = [&](const char* when) {
    log.lines.clear();
    EXPECT_EQ(platform.GetValue("DI_1"), 0.0f) << when;
    EXPECT_FALSE(platform.SetValue("DO_1", 1)) << when;
    EXPECT_EQ(platform.GetRawValue("AI_1"), 0.0f) << when;
    EXPECT_EQ(platform.SetCalibration("AI_1", 0, 1), kCalibrationNoLink) << when;
    EXPECT_EQ(platform.Status(), 0u) << when;
    EXPECT_EQ(platform.GetParameter(13), 0.0f) << when;
    const float values[5] = {1, 2, 3, 4, 5};
    platform.UpdateDynamicParameters(values);
    platform.SendCommand(1);
    EXPECT_EQ(log.lines.size(), 8u) << when;
    EXPECT_TRUE(log.Has("not started")) << when;
  };
  expect_refused("before the start");
  ASSERT_EQ(Start(), kStartOk);
  platform.Close();
  expect_refused("after close");
  platform.Close();  // twice: logged, harmless
  EXPECT_EQ(Start(Make("broken", kStartUnreachable)), kStartUnreachable);
  expect_refused("after a failed start");
}

TEST_F(PlatformTest, RestartBeginsAfresh) {
  ASSERT_EQ(Start(), kStartOk);
  ASSERT_TRUE(platform.SetValue("DO_1", 1));
  platform.SendCommand(1);
  ASSERT_EQ(Start(), kStartOk);
  EXPECT_EQ(platform.GetValue("DI_1"), 0.0f);
  EXPECT_EQ(platform.Status(), kDefaultStatus);
}

}  // namespace
}  // namespace varno::sim
