#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>

#include <gtest/gtest.h>

#include "fakes.h"
#include "start_request.h"

namespace varno::sim {
namespace {

TEST(StartRequest, ArgumentsAndDefaults) {
  StartRequest r = RequestFromArguments("a.toml", "slow", "7", "env.toml");
  EXPECT_EQ(r.config_path, "a.toml");
  EXPECT_EQ(r.scenario, "slow");
  EXPECT_EQ(r.seed, "7");
  for (const char* none : {static_cast<const char*>(nullptr), "", "-"}) {
    r = RequestFromArguments(none, none, none, "env.toml");
    EXPECT_EQ(r.config_path, "env.toml");
    EXPECT_EQ(r.scenario, "");
    EXPECT_EQ(r.seed, "");
  }
}

TEST(StartRequest, EachScenarioStartsWithItsCode) {
  const struct {
    std::string config, scenario, seed;
    StartResult expected;
    const char* logged;  // for failures
  } kCases[] = {
      {"", "", "", kStartOk, ""},
      {"", "normal", "", kStartOk, ""},
      {"", "config-error", "", kStartConfigurationError, "the configuration is refused"},
      {"", "socket-error", "", kStartSocketError, "sockets failed"},
      {"", "unreachable", "", kStartUnreachable, "does not answer"},
      {"", "missing-modules", "", 0xc, "modules do not answer"},
      {"", "slow", "", kStartOk, ""},
      {"", "link-drop", "", kStartOk, ""},
      {"", "flaky", "", kStartConfigurationError, "built-in platform: unknown scenario 'flaky'"},
      {"", "", "12x", kStartConfigurationError, "seed '12x' is not a whole number"},
      {"", "", "18446744073709551616", kStartConfigurationError, "is not a whole number"},
      {"", "", "18446744073709551615", kStartOk, ""},
      {VARNO_EXAMPLE_CONFIG, "", "", kStartOk, ""},
      {VARNO_EXAMPLE_CONFIG, "flaky", "", kStartOk, ""},
      {VARNO_EXAMPLE_CONFIG, "brake-module-down", "", 0x10, "modules do not answer"},
      {"/nonexistent.toml", "", "", kStartConfigurationError,
       "/nonexistent.toml: cannot open the file"},
  };
  for (const auto& c : kCases) {
    FakeClock clock;
    RecordingLog log;
    Platform platform(clock, log);
    EXPECT_EQ(StartPlatform(platform, log, {c.config, c.scenario, c.seed}), c.expected)
        << c.config << " " << c.scenario << " " << c.seed;
    if (c.expected == kStartOk)
      EXPECT_TRUE(log.lines.empty()) << log.Last();
    else
      EXPECT_TRUE(log.Has(c.logged)) << c.scenario << ": " << log.Last();
  }
}

TEST(StartRequest, AnEmulatorIsNamedByTheEnvironmentOrTheConfiguration) {
  char folder[] = "/tmp/varno_start_XXXXXX";
  ASSERT_NE(mkdtemp(folder), nullptr);
  const std::string pointer = std::string(folder) + "/pointer.toml";
  std::ofstream(pointer) << "emulator = \"127.0.0.1:5021\"\n";
  const struct {
    std::string config, env;
    bool ok;
    std::optional<Endpoint> emulator;
  } kCases[] = {
      {"", "", true, std::nullopt},
      {VARNO_EXAMPLE_CONFIG, "", true, std::nullopt},
      {"", "127.0.0.1:5020", true, Endpoint{0x7f000001, 5020}},
      {pointer, "", true, Endpoint{0x7f000001, 5021}},
      {pointer, "10.0.0.2:7", true, Endpoint{0x0a000002, 7}},  // the environment wins
      {VARNO_EXAMPLE_CONFIG, "127.0.0.1:5020", true, Endpoint{0x7f000001, 5020}},
      {"", "localhost:5020", false, std::nullopt},
      {"/nonexistent.toml", "127.0.0.1:5020", false, std::nullopt},  // still read
  };
  for (const auto& c : kCases) {
    RecordingLog log;
    std::optional<Endpoint> emulator;
    EXPECT_EQ(FindEmulator({c.config, "", ""}, c.env, log, &emulator), c.ok) << c.config << c.env;
    EXPECT_EQ(emulator, c.emulator) << c.config << " " << c.env;
    EXPECT_EQ(log.lines.empty(), c.ok) << log.Last();
  }
  FakeClock clock;
  RecordingLog log;
  Platform platform(clock, log);
  EXPECT_EQ(StartPlatform(platform, log, {pointer, "", ""}), kStartConfigurationError);
  EXPECT_TRUE(log.Has("names an emulator (127.0.0.1:5021) and describes no platform"));
  std::filesystem::remove_all(folder);
}

}  // namespace
}  // namespace varno::sim
