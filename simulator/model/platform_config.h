// What a simulated platform is made of, as the built-in default or a
// configuration file describes it. Plain data; validated when it is read.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "driver/driver_api.h"
#include "waveform.h"

namespace varno::sim {

// The tool's signal name buffer holds 49 characters and the NUL.
inline constexpr std::size_t kMaxSignalName = 49;
// Module numbers are status bits 1 to 15 (bit 0 is the link).
inline constexpr int kFirstModule = 1;
inline constexpr int kLastModule = 15;

enum class SignalKind { kDigitalInput, kDigitalOutput, kAnalogInput, kAnalogOutput };

inline bool IsInput(SignalKind k) {
  return k == SignalKind::kDigitalInput || k == SignalKind::kAnalogInput;
}
inline bool IsDigital(SignalKind k) {
  return k == SignalKind::kDigitalInput || k == SignalKind::kDigitalOutput;
}

struct Module {
  int number = kFirstModule;
  std::string name;
};

struct Signal {
  std::string name;
  SignalKind kind = SignalKind::kDigitalInput;
  int module = kFirstModule;
  // Analogue inputs: the raw readings' limits. Analogue outputs: the values
  // accepted. Digital signals are always 0 or 1.
  double low = 0.0;
  double high = 1.0;
  Waveform wave;         // inputs that are not wired
  std::string wired_to;  // inputs: the output whose value they read
};

// A way the platform behaves, chosen at start.
struct Scenario {
  std::string name;
  StartResult start = kStartOk;      // a forced failure, or kStartOk
  std::vector<int> missing_modules;  // modules that do not answer
  int latency_ms = 0;                // added to every call after the start
  int drop_link_after = 0;           // calls until the link drops; 0: never
};

struct PlatformConfig {
  std::string source = "built-in platform";  // shown in log lines
  // "ADDR:PORT": the file only points the stand-in library at varno-sim
  // there, and describes no platform of its own.
  std::string emulator;
  std::uint64_t seed = 1;
  std::string scenario = "normal";
  std::vector<Module> modules;
  std::vector<Signal> signals;
  std::map<std::int32_t, double> parameters;  // set or added over the defaults
  std::vector<Scenario> scenarios;            // added to or replacing built-ins
};

}  // namespace varno::sim
