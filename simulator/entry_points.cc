// The eleven entry points the tool loads, with C linkage. Each one journals
// the call and hands it to the platform model; all state lives in the one
// Simulator below, built on the first call.
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>

#include "driver/driver_api.h"
#include "line_file.h"
#include "log.h"
#include "platform.h"
#include "start_request.h"
#include "text_format.h"

#if defined(_WIN32)
#define VARNO_SIM_EXPORT extern "C" __declspec(dllexport)
#else
#define VARNO_SIM_EXPORT extern "C" __attribute__((visibility("default")))
#endif

namespace varno::sim {
namespace {

std::string Env(const char* name) {
  const char* value = std::getenv(name);
  return value != nullptr ? value : "";
}

class Simulator final : public Log {
 public:
  Platform& platform() { return platform_; }

  // Follows VARNO_SIM_LOG and VARNO_SIM_JOURNAL as they are now, so that a
  // host that changes them between calls is followed at once.
  void OpenFiles() {
    if (std::string path = Env("VARNO_SIM_LOG"); !log_ || path != log_path_) {
      log_path_ = path;
      log_ = std::make_unique<LineFile>(path);
    }
    if (std::string path = Env("VARNO_SIM_JOURNAL"); !journal_ || path != journal_path_) {
      journal_path_ = path;
      journal_ = std::make_unique<LineFile>(path);
    }
  }

  void Write(LogLevel level, std::string_view message) override {
    if (log_->IsOpen())
      log_->Append(Seconds(), message);
    else if (level == LogLevel::kStartFailure)  // the operator's only clue
      std::fprintf(stderr, "varno simulator: %.*s\n", static_cast<int>(message.size()),
                   message.data());
  }

  void Record(const std::string& call) { journal_->Append(Seconds(), call); }

 private:
  double Seconds() { return clock_.Now() - origin_; }

  SteadyClock clock_;
  double origin_ = clock_.Now();
  std::string log_path_, journal_path_;
  std::unique_ptr<LineFile> log_, journal_;
  Platform platform_{clock_, *this};
};

// Never destroyed: the tool may still close the platform while the process
// runs its exit handlers.
Simulator& Sim() {
  static auto* simulator = new Simulator;
  simulator->OpenFiles();
  return *simulator;
}

// A caller's name, read no further than any name could usefully be.
std::string_view Name(const char* name) {
  if (name == nullptr) return {};
  std::size_t length = 0;
  while (length < 256 && name[length] != '\0') ++length;
  return {name, length};
}

std::string NameText(const char* name) { return name == nullptr ? "null" : Quoted(Name(name)); }

StartResult Start(const std::string& call, const StartRequest& request) {
  Simulator& sim = Sim();
  StartResult result = StartPlatform(sim.platform(), sim, request);
  sim.Record(call + " -> " + std::to_string(result));
  return result;
}

}  // namespace
}  // namespace varno::sim

using namespace varno::sim;

VARNO_SIM_EXPORT StartResult start_ZUNVarno() {
  return Start("start_ZUNVarno()",
               RequestFromArguments(nullptr, nullptr, nullptr, Env("VARNO_SIM_CONFIG")));
}

VARNO_SIM_EXPORT StartResult start_ZUNVarno2(const char* config, const char* scenario,
                                             const char* seed) {
  return Start(
      "start_ZUNVarno2(" + NameText(config) + "," + NameText(scenario) + "," + NameText(seed) + ")",
      RequestFromArguments(config, scenario, seed, Env("VARNO_SIM_CONFIG")));
}

VARNO_SIM_EXPORT float getValue_ZUNVarno(const char* name) {
  Simulator& sim = Sim();
  float value = sim.platform().GetValue(Name(name));
  sim.Record("getValue_ZUNVarno(" + NameText(name) + ") -> " + FloatText(value));
  return value;
}

VARNO_SIM_EXPORT unsigned char setValue_ZUNVarno(const char* name, float value) {
  Simulator& sim = Sim();
  unsigned char done = sim.platform().SetValue(Name(name), value) ? 1 : 0;
  sim.Record("setValue_ZUNVarno(" + NameText(name) + "," + FloatText(value) + ") -> " +
             std::to_string(done));
  return done;
}

VARNO_SIM_EXPORT float getAIValueForCalibration_ZUNVarno(const char* name) {
  Simulator& sim = Sim();
  float value = sim.platform().GetRawValue(Name(name));
  sim.Record("getAIValueForCalibration_ZUNVarno(" + NameText(name) + ") -> " + FloatText(value));
  return value;
}

VARNO_SIM_EXPORT void close_ZUNVarno() {
  Simulator& sim = Sim();
  sim.platform().Close();
  sim.Record("close_ZUNVarno()");
}

VARNO_SIM_EXPORT std::int32_t setCalibration_ZUNVarno(const char* name, float a, float b) {
  Simulator& sim = Sim();
  std::int32_t result = sim.platform().SetCalibration(Name(name), a, b);
  sim.Record("setCalibration_ZUNVarno(" + NameText(name) + "," + FloatText(a) + "," + FloatText(b) +
             ") -> " + std::to_string(result));
  return result;
}

VARNO_SIM_EXPORT std::uint32_t getStatus_ZUNVarno() {
  Simulator& sim = Sim();
  std::uint32_t status = sim.platform().Status();
  sim.Record("getStatus_ZUNVarno() -> " + std::to_string(status));
  return status;
}

VARNO_SIM_EXPORT float MP_getParameter(std::int32_t number) {
  Simulator& sim = Sim();
  float value = sim.platform().GetParameter(number);
  sim.Record("MP_getParameter(" + std::to_string(number) + ") -> " + FloatText(value));
  return value;
}

VARNO_SIM_EXPORT void MP_updateDynamicParameters(float p1, float p2, float p3, float p4, float p5) {
  const float values[5] = {p1, p2, p3, p4, p5};
  Simulator& sim = Sim();
  sim.platform().UpdateDynamicParameters(values);
  std::string call = "MP_updateDynamicParameters(";
  for (int i = 0; i < 5; ++i) call += FloatText(values[i]) + (i < 4 ? "," : ")");
  sim.Record(call);
}

VARNO_SIM_EXPORT void MP_sendCommand(std::int32_t command) {
  Simulator& sim = Sim();
  sim.platform().SendCommand(command);
  sim.Record("MP_sendCommand(" + std::to_string(command) + ")");
}

#include "driver/export_checks.h"
