// The eleven entry points the tool loads, with C linkage. Each one turns its
// arguments into a Call, hands it to the back end the last start chose (the
// model in this process, or varno-sim over the wire) and journals it, the
// same in both modes. All state lives in the one Simulator below, built on
// the first call.
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>

#include "backend.h"
#include "call.h"
#include "driver/driver_api.h"
#include "line_file.h"
#include "log.h"
#include "remote_platform.h"
#include "start_request.h"

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

  // A start goes to varno-sim when VARNO_SIM_EMULATOR or the configuration
  // names one, else to the model here. The arguments whole; the call has
  // them cut to kMaxCallText for the journal and the wire.
  StartResult Start(const Call& call, const char* config = nullptr, const char* scenario = nullptr,
                    const char* seed = nullptr) {
    const StartRequest request =
        RequestFromArguments(config, scenario, seed, Env("VARNO_SIM_CONFIG"));
    std::optional<Endpoint> emulator;
    StartResult result = kStartConfigurationError;
    if (FindEmulator(request, Env("VARNO_SIM_EMULATOR"), *this, &emulator)) {
      Backend* next = emulator ? static_cast<Backend*>(&remote_) : &local_;
      if (next != active_) active_->Release();
      if (emulator) remote_.set_emulator(*emulator);
      active_ = next;
      result = active_->Start(call, request);
    }
    Result journaled;
    journaled.code = result;
    Record(call, journaled);
    return result;
  }

  Result Run(const Call& call) {
    Result result = active_->Run(call);
    Record(call, result);
    return result;
  }

 private:
  void Record(const Call& call, const Result& result) {
    if (journal_->IsOpen()) journal_->Append(Seconds(), JournalText(call, result));
  }
  double Seconds() { return clock_.Now() - origin_; }

  SteadyClock clock_;
  double origin_ = clock_.Now();
  std::string log_path_, journal_path_;
  std::unique_ptr<LineFile> log_, journal_;
  LocalPlatform local_{clock_, *this};
  RemotePlatform remote_{*this};
  Backend* active_ = &local_;
};

// Never destroyed: the tool may still close the platform while the process
// runs its exit handlers.
Simulator& Sim() {
  static auto* simulator = new Simulator;
  simulator->OpenFiles();
  return *simulator;
}

// A caller's string, read no further than any name could usefully be.
std::optional<std::string> Text(const char* text) {
  if (text == nullptr) return std::nullopt;
  std::size_t length = 0;
  while (length < kMaxCallText && text[length] != '\0') ++length;
  return std::string(text, length);
}

Call Named(Entry entry, const char* name) {
  Call call;
  call.entry = entry;
  call.texts[0] = Text(name);
  return call;
}

Call Numbered(Entry entry, std::int32_t number) {
  Call call;
  call.entry = entry;
  call.number = number;
  return call;
}

}  // namespace
}  // namespace varno::sim

using namespace varno::sim;

VARNO_SIM_EXPORT StartResult start_ZUNVarno() {
  Call call;
  call.entry = Entry::kStart;
  return Sim().Start(call);
}

VARNO_SIM_EXPORT StartResult start_ZUNVarno2(const char* config, const char* scenario,
                                             const char* seed) {
  Call call;
  call.entry = Entry::kStart2;
  call.texts = {Text(config), Text(scenario), Text(seed)};
  return Sim().Start(call, config, scenario, seed);
}

VARNO_SIM_EXPORT float getValue_ZUNVarno(const char* name) {
  return Sim().Run(Named(Entry::kGetValue, name)).value;
}

VARNO_SIM_EXPORT unsigned char setValue_ZUNVarno(const char* name, float value) {
  Call call = Named(Entry::kSetValue, name);
  call.values[0] = value;
  return Sim().Run(call).code != 0 ? 1 : 0;
}

VARNO_SIM_EXPORT float getAIValueForCalibration_ZUNVarno(const char* name) {
  return Sim().Run(Named(Entry::kGetAIValueForCalibration, name)).value;
}

VARNO_SIM_EXPORT void close_ZUNVarno() { Sim().Run(Numbered(Entry::kClose, 0)); }

VARNO_SIM_EXPORT std::int32_t setCalibration_ZUNVarno(const char* name, float a, float b) {
  Call call = Named(Entry::kSetCalibration, name);
  call.values[0] = a;
  call.values[1] = b;
  return Sim().Run(call).code;
}

VARNO_SIM_EXPORT std::uint32_t getStatus_ZUNVarno() {
  return static_cast<std::uint32_t>(Sim().Run(Numbered(Entry::kGetStatus, 0)).code);
}

VARNO_SIM_EXPORT float MP_getParameter(std::int32_t number) {
  return Sim().Run(Numbered(Entry::kGetParameter, number)).value;
}

VARNO_SIM_EXPORT void MP_updateDynamicParameters(float p1, float p2, float p3, float p4, float p5) {
  Call call = Numbered(Entry::kUpdateDynamicParameters, 0);
  call.values = {p1, p2, p3, p4, p5};
  Sim().Run(call);
}

VARNO_SIM_EXPORT void MP_sendCommand(std::int32_t command) {
  Sim().Run(Numbered(Entry::kSendCommand, command));
}

#include "driver/export_checks.h"
