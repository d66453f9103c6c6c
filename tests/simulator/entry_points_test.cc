// The built library through its exported entry points, loaded as the tool
// loads it: the names, the C types, the journal, the log and every argument
// the model refuses.
#include <dlfcn.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <limits>
#include <regex>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "driver/driver_api.h"

namespace {

std::vector<std::string> Lines(const std::string& path) {
  std::ifstream file(path);
  std::vector<std::string> lines;
  for (std::string line; std::getline(file, line);) lines.push_back(line);
  return lines;
}

// The journal's lines without their time stamps, which must be there.
std::vector<std::string> Calls(const std::string& path) {
  std::vector<std::string> calls;
  for (const std::string& line : Lines(path)) {
    std::smatch m;
    EXPECT_TRUE(std::regex_match(line, m, std::regex(R"(\d+\.\d{3} (.*))"))) << line;
    calls.push_back(m[1]);
  }
  return calls;
}

class EntryPoints : public ::testing::Test {
 protected:
  void SetUp() override {
    char folder[] = "/tmp/varno_sim_test_XXXXXX";
    ASSERT_NE(mkdtemp(folder), nullptr);
    folder_ = folder;
    journal_ = folder_ + "/journal.txt";
    log_ = folder_ + "/log.txt";
    setenv("VARNO_SIM_JOURNAL", journal_.c_str(), 1);
    setenv("VARNO_SIM_LOG", log_.c_str(), 1);
    unsetenv("VARNO_SIM_CONFIG");
    library_ = dlopen(VARNO_SIMULATOR_PATH, RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(library_, nullptr) << dlerror();
    Bind(api_.start_ZUNVarno, "start_ZUNVarno");
    Bind(api_.start_ZUNVarno2, "start_ZUNVarno2");
    Bind(api_.getValue_ZUNVarno, "getValue_ZUNVarno");
    Bind(api_.setValue_ZUNVarno, "setValue_ZUNVarno");
    Bind(api_.getAIValueForCalibration_ZUNVarno, "getAIValueForCalibration_ZUNVarno");
    Bind(api_.close_ZUNVarno, "close_ZUNVarno");
    Bind(api_.setCalibration_ZUNVarno, "setCalibration_ZUNVarno");
    Bind(api_.getStatus_ZUNVarno, "getStatus_ZUNVarno");
    Bind(api_.MP_getParameter, "MP_getParameter");
    Bind(api_.MP_updateDynamicParameters, "MP_updateDynamicParameters");
    Bind(api_.MP_sendCommand, "MP_sendCommand");
  }

  void TearDown() override {
    if (api_.close_ZUNVarno) api_.close_ZUNVarno();
    unlink(journal_.c_str());
    unlink(log_.c_str());
    rmdir(folder_.c_str());
    // The library stays loaded, as the tool leaves it.
  }

  template <typename Entry>
  void Bind(Entry& slot, const char* name) {
    slot = reinterpret_cast<Entry>(dlsym(library_, name));
    ASSERT_NE(slot, nullptr) << name;
  }

  std::string folder_, journal_, log_;
  void* library_ = nullptr;
  DriverApi api_;
};

TEST_F(EntryPoints, NoArgumentUpsetsIt) {
  const float kNaN = std::numeric_limits<float>::quiet_NaN();
  const float kInf = std::numeric_limits<float>::infinity();
  const std::string kLong(300, 'D');
  const auto kMin = std::numeric_limits<std::int32_t>::min();
  // Before any start, during a run, and after close.
  for (int round = 0; round < 3; ++round) {
    SCOPED_TRACE(round);
    if (round == 1) {
      ASSERT_EQ(api_.start_ZUNVarno2(nullptr, nullptr, nullptr), kStartOk);
    } else if (round == 2) {
      api_.close_ZUNVarno();
    }
    EXPECT_EQ(api_.getValue_ZUNVarno(nullptr), 0.0f);
    EXPECT_EQ(api_.getValue_ZUNVarno(kLong.c_str()), 0.0f);
    EXPECT_EQ(api_.getAIValueForCalibration_ZUNVarno(nullptr), 0.0f);
    EXPECT_EQ(api_.setValue_ZUNVarno(nullptr, 1), 0);
    EXPECT_EQ(api_.setValue_ZUNVarno("DO_1", kNaN), 0);
    EXPECT_EQ(api_.setCalibration_ZUNVarno(nullptr, 0, 1), round == 1 ? -1 : -4);
    EXPECT_EQ(api_.setCalibration_ZUNVarno("AI_2", kNaN, kInf), round == 1 ? -3 : -4);
    EXPECT_EQ(api_.MP_getParameter(kMin), 0.0f);
    api_.MP_updateDynamicParameters(kNaN, kInf, -kInf, 0, 1);
    api_.MP_sendCommand(kMin);
    EXPECT_EQ(api_.getStatus_ZUNVarno(), round == 1 ? 0x80000fu : 0u);  // fault
    if (round != 1) api_.close_ZUNVarno();                              // closing what is not open
  }
  // Each refusal is explained: 12 outside the run (the status word too, and
  // the needless close), 10 in it.
  EXPECT_EQ(Lines(log_).size(), 12u + 10u + 12u);
}

TEST_F(EntryPoints, JournalRecordsEveryCall) {
  api_.getStatus_ZUNVarno();
  ASSERT_EQ(api_.start_ZUNVarno2("-", "normal", "9"), kStartOk);
  api_.setValue_ZUNVarno("DO_2", 1.0f);
  api_.getValue_ZUNVarno("DI_2");
  api_.getValue_ZUNVarno("A\"\\\x01\xf3");
  api_.getAIValueForCalibration_ZUNVarno("AI_1");
  api_.setCalibration_ZUNVarno("AI_1", 2.5f, 0.1f);
  api_.MP_getParameter(13);
  api_.MP_updateDynamicParameters(0.2f, 0.4f, 0.6f, 0.8f, 1.0f);
  api_.MP_sendCommand(-5);
  api_.getStatus_ZUNVarno();
  api_.close_ZUNVarno();
  api_.start_ZUNVarno2(nullptr, "unreachable", "");
  const std::vector<std::string> kExpected = {
      "getStatus_ZUNVarno() -> 0",
      "start_ZUNVarno2(\"-\",\"normal\",\"9\") -> 1",
      "setValue_ZUNVarno(\"DO_2\",1) -> 1",
      "getValue_ZUNVarno(\"DI_2\") -> 1",
      "getValue_ZUNVarno(\"A\\\"\\\\\\x01\\xf3\") -> 0",
      "getAIValueForCalibration_ZUNVarno(\"AI_1\") -> 0",
      "setCalibration_ZUNVarno(\"AI_1\",2.5,0.100000001) -> 0",
      "MP_getParameter(13) -> 75",
      "MP_updateDynamicParameters(0.200000003,0.400000006,0.600000024,0.800000012,1)",
      "MP_sendCommand(-5)",
      "getStatus_ZUNVarno() -> 9437199",  // 0x90000f: loaded, fault, link, modules
      "close_ZUNVarno()",
      "start_ZUNVarno2(null,\"unreachable\",\"\") -> -3",
  };
  EXPECT_EQ(Calls(journal_), kExpected);
}

}  // namespace
