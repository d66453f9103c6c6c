#include "default_platform.h"

namespace varno::sim {

PlatformConfig DefaultPlatform() {
  using K = SignalKind;
  const Waveform kOff{};
  // A digital input toggling every `seconds`, starting at 1.
  auto toggling = [](double seconds) {
    return Waveform{Shape::kSquare, 0.5, 0.5, 2 * seconds, 0, 0};
  };
  PlatformConfig config;
  config.modules = {{1, "digital I/O"}, {2, "analogue inputs"}, {3, "analogue outputs"}};
  config.signals = {
      {"DI_1", K::kDigitalInput, 1, 0, 1, kOff, "DO_1"},
      {"DI_2", K::kDigitalInput, 1, 0, 1, kOff, "DO_2"},
      {"DI_3", K::kDigitalInput, 1, 0, 1, toggling(1), ""},
      {"DI_4", K::kDigitalInput, 1, 0, 1, toggling(5), ""},
      {"DO_1", K::kDigitalOutput, 1, 0, 1, kOff, ""},
      {"DO_2", K::kDigitalOutput, 1, 0, 1, kOff, ""},
      {"DO_3", K::kDigitalOutput, 1, 0, 1, kOff, ""},
      {"DO_4", K::kDigitalOutput, 1, 0, 1, kOff, ""},
      {"AI_1", K::kAnalogInput, 2, 0, 10, kOff, "AO_1"},
      {"AI_2", K::kAnalogInput, 2, 0, 10, {Shape::kSine, 4, 5, 10, 0, 0.05}, ""},
      {"AI_3", K::kAnalogInput, 2, 0, 10, {Shape::kRamp, 5, 5, 20, 0, 0.02}, ""},
      {"AI_4", K::kAnalogInput, 2, 0, 10, {Shape::kSquare, 2, 5, 4, 0, 0}, ""},
      {"AO_1", K::kAnalogOutput, 3, 0, 1, kOff, ""},
      {"AO_2", K::kAnalogOutput, 3, 0, 1, kOff, ""},
  };
  return config;
}

}  // namespace varno::sim
