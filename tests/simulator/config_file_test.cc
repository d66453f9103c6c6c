#include <string>

#include <gtest/gtest.h>

#include "config_file.h"
#include "fakes.h"
#include "platform.h"
#include "scenario.h"

namespace varno::sim {
namespace {

const std::string kModule = "[[module]]\nnumber = 1\n";  // lines 1 and 2

std::string Signal(const std::string& body) { return kModule + "[[signal]]\n" + body; }

TEST(ConfigFile, ErrorsNameTheLine) {
  const struct {
    std::string text;
    std::string error;
  } kCases[] = {
      {"seed = \n", "cfg:1: "},  // toml++'s own words follow
      {"emulator = \"127.0.0.1\"\n", "cfg:1: 'emulator' must be ADDR:PORT"},
      {"emulator = \"127.0.0.1:5020\"\n" + kModule,
       "cfg:2: unknown key 'module' in a file that names an emulator"},
      {kModule + "colour = 3\n", "cfg:3: unknown key 'colour' in a module"},
      {"seed = 3\n", "cfg:1: the platform needs at least one [[module]]"},
      {"module = 3\n", "cfg:1: 'module' must be written as [[module]] tables"},
      {"seed = -1\n" + kModule, "cfg:1: 'seed' must be an integer from 0 to 9223372036854775807"},
      {"scenario = \"nope\"\n" + kModule, "cfg:1: unknown scenario 'nope'"},
      {"[[module]]\nnumber = 16\n", "cfg:2: 'number' must be an integer from 1 to 15"},
      {"[[module]]\nname = \"x\"\n", "cfg:1: a module needs 'number'"},
      {kModule + kModule, "cfg:3: module 1 is declared twice"},
      {Signal("name = \"X\"\nkind = \"XI\"\nmodule = 1\n"),
       "cfg:5: signal 'X': kind must be DI, DO, AI or AO"},
      {Signal("name = \"X\"\nmodule = 1\n"), "cfg:3: signal 'X' needs 'kind'"},
      {Signal("name = \"X\"\nkind = \"DO\"\nmodule = 2\n"), "cfg:6: signal 'X': no such module"},
      {Signal("name = \"X\"\nkind = \"DO\"\nmodule = 1\nrange = [0, 1]\n"),
       "cfg:7: unknown key 'range' in signal 'X'"},
      {Signal("name = \"X\"\nkind = \"DI\"\nmodule = 1\nwired_to = \"NOPE\"\n"),
       "cfg:7: signal 'X' must be wired to an output of the same family"},
      {Signal("name = \"X\"\nkind = \"DI\"\nmodule = 1\nwired_to = \"Y\"\n"
              "[[signal]]\nname = \"Y\"\nkind = \"AO\"\nmodule = 1\n"),
       "cfg:7: signal 'X' must be wired to an output of the same family"},
      {Signal("name = \"X\"\nkind = \"DI\"\nmodule = 1\nwired_to = \"Y\"\ntoggle_period = 1\n"),
       "cfg:3: signal 'X' is wired, so it takes no 'wave', 'value' or 'toggle_period'"},
      {Signal("name = \"X\"\nkind = \"DI\"\nmodule = 1\nvalue = 2\n"),
       "cfg:7: 'value' must be an integer from 0 to 1"},
      {Signal("name = \"X\"\nkind = \"AI\"\nmodule = 1\nwave = { shape = \"saw\" }\n"),
       "cfg:7: unknown shape 'saw'"},
      {Signal("name = \"X\"\nkind = \"AI\"\nmodule = 1\nwave = { shape = \"sine\", period = 0 }\n"),
       "cfg:7: a wave's 'period' must be at least 0.001"},
      {Signal("name = \"X\"\nkind = \"AI\"\nmodule = 1\nrange = [5, 1]\n"),
       "cfg:7: 'range' must be [low, high] with low below high"},
      {Signal("name = \"" + std::string(50, 'A') + "\"\nkind = \"DO\"\nmodule = 1\n"),
       "cfg:3: a signal name needs 1 to 49 characters"},
      {Signal("name = \"A B\"\nkind = \"DO\"\nmodule = 1\n"),
       "cfg:3: signal 'A B': names are printable ASCII without spaces"},
      {Signal("name = \"X\"\nkind = \"DO\"\nmodule = 1\n[[signal]]\nname = \"X\"\n"),
       "cfg:7: signal 'X' is declared twice"},
      {kModule + "[parameters]\nabc = 1\n", "cfg:4: parameter 'abc' is not a 32-bit number"},
      {kModule + "[parameters]\n13 = nan\n", "cfg:4: '13' must be a finite number"},
      {kModule + "[scenarios.x]\nstart = \"boom\"\n",
       "cfg:4: scenario 'x': start must be ok, config-error, socket-error or unreachable"},
      {kModule + "[scenarios.x]\nmissing_modules = [1, 16]\n",
       "cfg:4: scenario 'x': missing modules are numbers from 1 to 15"},
      // Refused before the TOML parser sees it.
      {kModule + "# M\xC3\xB3"
                 "dulo\nname = 1\n",
       "cfg:3: only ASCII characters are accepted"},
      // Refused by the parser, though text like it breaks its assumptions.
      {kModule + "[[[\n", "cfg:3: "},
      {"m=[}\n", "cfg:1: "},
  };
  for (const auto& c : kCases) {
    PlatformConfig config;
    std::string error;
    EXPECT_FALSE(ParseConfig(c.text, "cfg", &config, &error)) << c.text;
    EXPECT_EQ(error.substr(0, c.error.size()), c.error) << c.text;
  }
}

TEST(ConfigFile, TakesAByteOrderMark) {
  PlatformConfig config;
  std::string error;
  EXPECT_TRUE(ParseConfig("\xEF\xBB\xBF" + kModule, "cfg", &config, &error)) << error;
}

TEST(ConfigFile, ExampleFileDescribesItsPlatform) {
  PlatformConfig config;
  std::string error;
  ASSERT_TRUE(LoadConfigFile(VARNO_EXAMPLE_CONFIG, &config, &error)) << error;
  EXPECT_EQ(config.seed, 2024u);
  EXPECT_EQ(config.modules.size(), 3u);
  EXPECT_EQ(config.signals.size(), 10u);
  EXPECT_EQ(StartCode(*FindScenario(config, "brake-module-down")), 0x10);
  EXPECT_EQ(FindScenario(config, "flaky")->drop_link_after, 40);

  FakeClock clock;
  RecordingLog log;
  Platform platform(clock, log);
  ASSERT_EQ(platform.Start(config, *FindScenario(config, config.scenario), config.seed), kStartOk);
  EXPECT_EQ(platform.Status(), 0x17u);  // link and modules 1, 2 and 4
  EXPECT_EQ(platform.GetValue("DI_SEAT_BELT"), 1.0f);
  EXPECT_EQ(platform.GetValue("DI_START_BUTTON"), 0.0f);
  clock.now += 3.0;
  EXPECT_EQ(platform.GetValue("DI_START_BUTTON"), 1.0f);
  ASSERT_TRUE(platform.SetValue("DO_LAMP", 1));
  EXPECT_EQ(platform.GetValue("DI_LAMP_FEEDBACK"), 1.0f);
  ASSERT_TRUE(platform.SetValue("AO_BRAKE", 0.3f));
  EXPECT_FLOAT_EQ(platform.GetRawValue("AI_BRAKE_PRESSURE"), 3.0f);
  float throttle = platform.GetRawValue("AI_THROTTLE");
  EXPECT_GE(throttle, 0.49f);
  EXPECT_LE(throttle, 4.51f);
  EXPECT_EQ(platform.GetParameter(13), 82.5f);
  EXPECT_EQ(platform.GetParameter(12), 180.0f);
  EXPECT_EQ(platform.GetParameter(11), 2.0f);
  EXPECT_TRUE(log.lines.empty()) << log.Last();
}

}  // namespace
}  // namespace varno::sim
