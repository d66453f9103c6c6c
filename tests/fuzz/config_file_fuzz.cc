// The simulated platform's configuration parser over any text: it never
// crashes, every error names the source and a line of the text, and what it
// accepts is a platform the simulator can run.
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <set>
#include <string>

#include "config_file.h"
#include "endpoint.h"
#include "fuzz_check.h"
#include "scenario.h"

namespace {

using varno::sim::PlatformConfig;

// "SOURCE:LINE: problem", LINE within the text.
void CheckError(const std::string& error, const std::string& text) {
  const std::string prefix = "fuzz.toml:";
  FUZZ_CHECK(error.starts_with(prefix));
  char* end = nullptr;
  const long line = std::strtol(error.c_str() + prefix.size(), &end, 10);
  FUZZ_CHECK(end != error.c_str() + prefix.size());
  std::size_t lines = 1;
  for (char c : text) lines += c == '\n';
  FUZZ_CHECK(line >= 1 && static_cast<std::size_t>(line) <= lines);
  FUZZ_CHECK(std::string(end).starts_with(": ") && std::string(end).size() > 2);
}

void CheckPlatform(const PlatformConfig& config) {
  if (!config.emulator.empty()) {  // a pointer to varno-sim and nothing else
    FUZZ_CHECK(varno::sim::ParseEndpoint(config.emulator).has_value());
    FUZZ_CHECK(config.modules.empty() && config.signals.empty() && config.scenarios.empty());
    return;
  }
  std::set<int> modules;
  for (const auto& m : config.modules) {
    FUZZ_CHECK(m.number >= varno::sim::kFirstModule && m.number <= varno::sim::kLastModule);
    FUZZ_CHECK(modules.insert(m.number).second);
  }
  FUZZ_CHECK(!modules.empty());
  std::set<std::string> names;
  for (const auto& s : config.signals) {
    FUZZ_CHECK(!s.name.empty() && s.name.size() <= varno::sim::kMaxSignalName);
    for (unsigned char c : s.name) FUZZ_CHECK(c > 32 && c < 127);
    FUZZ_CHECK(names.insert(s.name).second);
    FUZZ_CHECK(modules.count(s.module) == 1);
    FUZZ_CHECK(s.low < s.high);
    const varno::sim::Waveform& w = s.wave;
    FUZZ_CHECK(std::isfinite(w.amplitude) && std::isfinite(w.offset) && std::isfinite(w.phase) &&
               std::isfinite(w.period));
    FUZZ_CHECK(w.period >= 0.001 && w.noise >= 0);
  }
  for (const auto& s : config.signals) {
    if (s.wired_to.empty()) continue;
    FUZZ_CHECK(names.count(s.wired_to) == 1);
  }
  for (const auto& s : config.scenarios) {
    FUZZ_CHECK(s.latency_ms >= 0 && s.latency_ms <= 10000 && s.drop_link_after >= 0);
    for (int m : s.missing_modules)
      FUZZ_CHECK(m >= varno::sim::kFirstModule && m <= varno::sim::kLastModule);
  }
  FUZZ_CHECK(varno::sim::FindScenario(config, config.scenario) != nullptr);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  PlatformConfig config;
  std::string error;
  if (varno::sim::ParseConfig(text, "fuzz.toml", &config, &error))
    CheckPlatform(config);
  else
    CheckError(error, text);
  return 0;
}
