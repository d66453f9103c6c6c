// The running simulated platform: what each entry point does once the
// configuration and scenario are chosen. Every refusal is written to the log
// with its reason and answered with a harmless value, so no argument or call
// order can make it fail.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "calibration.h"
#include "clock.h"
#include "frozen_readings.h"
#include "log.h"
#include "motion_system.h"
#include "platform_config.h"

namespace varno::sim {

// What setCalibration_ZUNVarno returns.
inline constexpr std::int32_t kCalibrationStored = 0;
inline constexpr std::int32_t kCalibrationUnknownSignal = -1;
inline constexpr std::int32_t kCalibrationNotAnalogInput = -2;
inline constexpr std::int32_t kCalibrationDegenerate = -3;
inline constexpr std::int32_t kCalibrationNoLink = -4;

class Platform {
 public:
  Platform(Clock& clock, Log& log) : clock_(clock), log_(log) {}

  // Starts `config` under `scenario` (a running platform is closed first).
  // Any result but kStartOk leaves the platform stopped.
  StartResult Start(const PlatformConfig& config, const Scenario& scenario, std::uint64_t seed);
  void Close();

  // Inputs: the (calibrated) reading; outputs: the value last set. While the
  // link is lost, the value last returned for that signal.
  float GetValue(std::string_view name);
  // Outputs only; digital 0 or 1, analogue within its range.
  bool SetValue(std::string_view name, float value);
  // Analogue inputs only: the reading before calibration.
  float GetRawValue(std::string_view name);
  // `zero` and `full_scale` are the raw readings meaning 0 and 1.
  std::int32_t SetCalibration(std::string_view name, float zero, float full_scale);
  std::uint32_t Status();
  float GetParameter(std::int32_t number);
  void UpdateDynamicParameters(const float (&values)[5]);
  void SendCommand(std::int32_t command);

  // ---- The hardware side, for varno-sim's control API. None of these is a
  // host's call: none is counted, delayed or refused for the link.

  bool running() const { return running_; }
  // What the last start ran (meaningful while running).
  const PlatformConfig& config() const { return config_; }
  const Scenario& scenario() const { return scenario_; }
  std::uint64_t seed() const { return seed_; }
  // Seconds since the last start, on the clock set_at is counted by.
  double SecondsSinceStart() { return clock_.Now() - start_time_; }
  // The status word as the host would read it now.
  std::uint32_t StatusWord() const;
  // Loses the link as the link-drop scenario does; false when not running.
  bool LoseLink();
  // Holds an input's raw reading at `raw` (over its waveform or wiring)
  // until released; kept across starts. The caller checks name and range.
  void Hold(std::string_view name, double raw);
  // False when the input was not held.
  bool Release(std::string_view name);
  // A module that does not answer: its status bit clears, and a start
  // reports it in its mask. Kept across starts.
  void SetModuleAnswering(int module, bool answering);
  bool ModuleAnswering(int module) const;
  // A motion command from the platform's side; false when not running.
  bool ControlCommand(std::int32_t command);
  const MotionSystem* motion() const { return motion_ ? &*motion_ : nullptr; }

  struct SignalView {
    const Signal* signal = nullptr;
    double raw = 0.0;    // the reading before calibration (outputs: their value)
    double value = 0.0;  // what getValue_ZUNVarno would return now
    std::optional<double> held;
    double set_at = -1.0;  // outputs: seconds after the start the host set it; -1 never
  };
  // Every signal as it stands now; empty when not running.
  std::vector<SignalView> View();

 private:
  enum class Link { kNotStarted, kUp, kLost };
  struct SignalState {
    int wire = -1;  // index of the output a wired input reads
    double output = 0.0;
    double set_at = -1.0;
    Calibration calibration;
  };

  Link Admit(std::string_view entry);
  int Find(std::string_view entry, std::string_view name);
  double RawReading(std::size_t index);
  void Refuse(std::string_view entry, std::string_view reason);

  Clock& clock_;
  Log& log_;
  bool running_ = false;
  PlatformConfig config_;
  Scenario scenario_;
  std::uint64_t seed_ = 0;
  double start_time_ = 0.0;
  long long calls_ = 0;
  bool link_lost_ = false;
  std::vector<SignalState> states_;
  FrozenReadings frozen_;
  std::optional<MotionSystem> motion_;
  std::map<std::string, double, std::less<>> held_;
  std::uint32_t pulled_modules_ = 0;
};

}  // namespace varno::sim
