#include "platform.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <string>

#include "noise.h"
#include "scenario.h"
#include "status_bits.h"
#include "text_format.h"

namespace varno::sim {
namespace {

std::string StartFailureReason(StartResult code) {
  switch (code) {
    case kStartConfigurationError: return "the configuration is refused";
    case kStartSocketError: return "initialising the host's sockets failed";
    case kStartUnreachable: return "the platform does not answer";
    default: {
      char mask[16];
      std::snprintf(mask, sizeof mask, "%x", static_cast<unsigned>(code));
      return std::string("modules do not answer (mask ") + mask + ")";
    }
  }
}

}  // namespace

StartResult Platform::Start(const PlatformConfig& config, const Scenario& scenario,
                            std::uint64_t seed) {
  if (running_) {
    log_.Write(LogLevel::kRefusal, "start: the platform was running; closed first");
    Close();
  }
  StartResult code = StartCode(scenario);
  std::uint32_t pulled = 0;
  for (const Module& m : config.modules) pulled |= pulled_modules_ & ModuleBit(m.number);
  if (pulled != 0 && code == kStartOk)
    code = static_cast<StartResult>(pulled);
  else if (pulled != 0 && code > kStartOk)
    code = static_cast<StartResult>(static_cast<std::uint32_t>(code) | pulled);
  if (code != kStartOk) {
    log_.Write(LogLevel::kStartFailure,
               config.source + ": scenario " + scenario.name + ": " + StartFailureReason(code));
    return code;
  }
  config_ = config;
  scenario_ = scenario;
  seed_ = seed;
  start_time_ = clock_.Now();
  calls_ = 0;
  link_lost_ = false;
  frozen_.Clear();
  states_.assign(config_.signals.size(), SignalState{});
  for (std::size_t i = 0; i < states_.size(); ++i) {
    const Signal& s = config_.signals[i];
    states_[i].output = s.low;
    for (std::size_t j = 0; j < states_.size(); ++j)
      if (!s.wired_to.empty() && config_.signals[j].name == s.wired_to)
        states_[i].wire = static_cast<int>(j);
  }
  motion_.emplace(config_.parameters);
  running_ = true;
  return kStartOk;
}

void Platform::Close() {
  if (!running_) Refuse("close_ZUNVarno", "the platform is not started");
  running_ = false;
  motion_.reset();
}

void Platform::Refuse(std::string_view entry, std::string_view reason) {
  std::string line(entry);
  line += ": ";
  line += reason;
  log_.Write(LogLevel::kRefusal, line);
}

Platform::Link Platform::Admit(std::string_view entry) {
  if (!running_) {
    Refuse(entry, "the platform is not started");
    return Link::kNotStarted;
  }
  if (scenario_.latency_ms > 0) clock_.Sleep(scenario_.latency_ms / 1000.0);
  ++calls_;
  if (!link_lost_ && scenario_.drop_link_after > 0 && calls_ > scenario_.drop_link_after) {
    link_lost_ = true;
    Refuse(entry, "the link to the platform dropped after " +
                      std::to_string(scenario_.drop_link_after) + " calls");
  }
  if (link_lost_) {
    Refuse(entry, "the link is lost; values are frozen");
    return Link::kLost;
  }
  return Link::kUp;
}

int Platform::Find(std::string_view entry, std::string_view name) {
  if (name.empty()) {
    Refuse(entry, "no signal name");
    return -1;
  }
  if (name.size() > kMaxSignalName) {
    Refuse(entry, "signal name longer than 49 characters");
    return -1;
  }
  for (std::size_t i = 0; i < config_.signals.size(); ++i)
    if (config_.signals[i].name == name) return static_cast<int>(i);
  Refuse(entry, "unknown signal " + Quoted(name));
  return -1;
}

double Platform::RawReading(std::size_t index) {
  const Signal& s = config_.signals[index];
  const SignalState& state = states_[index];
  if (auto held = held_.find(s.name); held != held_.end()) return held->second;
  if (state.wire >= 0) {
    const Signal& out = config_.signals[state.wire];
    double v = states_[state.wire].output;
    if (IsDigital(s.kind)) return v;
    return s.low + (v - out.low) / (out.high - out.low) * (s.high - s.low);
  }
  double t = clock_.Now() - start_time_;
  double v = WaveformValue(s.wave, t);
  if (IsDigital(s.kind)) return v >= 0.5 ? 1.0 : 0.0;
  v += s.wave.noise * NoiseSample(seed_, s.name, t);
  return std::clamp(v, s.low, s.high);
}

float Platform::GetValue(std::string_view name) {
  constexpr std::string_view kEntry = "getValue_ZUNVarno";
  Link link = Admit(kEntry);
  if (link == Link::kNotStarted) return 0.0f;
  int i = Find(kEntry, name);
  if (i < 0) return 0.0f;
  const SignalState& state = states_[i];
  if (link == Link::kLost) return frozen_.Value(name);
  double value = 0.0;
  switch (config_.signals[i].kind) {
    case SignalKind::kDigitalInput: value = RawReading(i); break;
    case SignalKind::kAnalogInput: value = Calibrated(state.calibration, RawReading(i)); break;
    case SignalKind::kDigitalOutput:
    case SignalKind::kAnalogOutput: value = state.output; break;
  }
  float reading = ToFloat(value);
  frozen_.KeepValue(name, reading);
  return reading;
}

bool Platform::SetValue(std::string_view name, float value) {
  constexpr std::string_view kEntry = "setValue_ZUNVarno";
  if (Admit(kEntry) != Link::kUp) return false;
  int i = Find(kEntry, name);
  if (i < 0) return false;
  const Signal& s = config_.signals[i];
  if (IsInput(s.kind)) {
    Refuse(kEntry, Quoted(name) + " is an input");
    return false;
  }
  bool in_range =
      IsDigital(s.kind) ? (value == 0.0f || value == 1.0f) : (value >= s.low && value <= s.high);
  if (!in_range) {  // NaN fails both tests too
    Refuse(kEntry, FloatText(value) + " is outside the range of " + Quoted(name));
    return false;
  }
  states_[i].output = value;
  states_[i].set_at = clock_.Now() - start_time_;
  return true;
}

float Platform::GetRawValue(std::string_view name) {
  constexpr std::string_view kEntry = "getAIValueForCalibration_ZUNVarno";
  Link link = Admit(kEntry);
  if (link == Link::kNotStarted) return 0.0f;
  int i = Find(kEntry, name);
  if (i < 0) return 0.0f;
  if (config_.signals[i].kind != SignalKind::kAnalogInput) {
    Refuse(kEntry, Quoted(name) + " is not an analogue input");
    return 0.0f;
  }
  if (link == Link::kLost) return frozen_.Raw(name);
  float raw = ToFloat(RawReading(i));
  frozen_.KeepRaw(name, raw);
  return raw;
}

std::int32_t Platform::SetCalibration(std::string_view name, float zero, float full_scale) {
  constexpr std::string_view kEntry = "setCalibration_ZUNVarno";
  if (Admit(kEntry) != Link::kUp) return kCalibrationNoLink;
  int i = Find(kEntry, name);
  if (i < 0) return kCalibrationUnknownSignal;
  if (config_.signals[i].kind != SignalKind::kAnalogInput) {
    Refuse(kEntry, Quoted(name) + " is not an analogue input");
    return kCalibrationNotAnalogInput;
  }
  std::optional<Calibration> calibration = MakeCalibration(zero, full_scale);
  if (!calibration) {
    Refuse(kEntry, "A " + FloatText(zero) + " and B " + FloatText(full_scale) +
                       " do not define a calibration");
    return kCalibrationDegenerate;
  }
  states_[i].calibration = *calibration;
  return kCalibrationStored;
}

std::uint32_t Platform::Status() {
  if (Admit("getStatus_ZUNVarno") == Link::kNotStarted) return 0;
  return StatusWord();
}

std::uint32_t Platform::StatusWord() const {
  if (!running_) return 0;
  if (link_lost_) return kLinkLost | motion_->Bits();
  std::uint32_t word = kLinkUp | motion_->Bits();
  for (const Module& m : config_.modules) word |= ModuleBit(m.number) & ~pulled_modules_;
  return word;
}

bool Platform::LoseLink() {
  if (!running_) return false;
  if (!link_lost_) Refuse("link", "the link was cut from the platform's side; values are frozen");
  link_lost_ = true;
  return true;
}

void Platform::Hold(std::string_view name, double raw) {
  if (auto it = held_.find(name); it != held_.end())
    it->second = raw;
  else
    held_.emplace(std::string(name), raw);
}

bool Platform::Release(std::string_view name) {
  auto it = held_.find(name);
  if (it == held_.end()) return false;
  held_.erase(it);
  return true;
}

void Platform::SetModuleAnswering(int module, bool answering) {
  if (answering)
    pulled_modules_ &= ~ModuleBit(module);
  else
    pulled_modules_ |= ModuleBit(module);
}

bool Platform::ModuleAnswering(int module) const {
  return (pulled_modules_ & ModuleBit(module)) == 0;
}

bool Platform::ControlCommand(std::int32_t command) {
  if (!running_) return false;
  std::string refused = motion_->Send(command);
  if (!refused.empty()) Refuse("control", refused);
  return true;
}

std::vector<Platform::SignalView> Platform::View() {
  std::vector<SignalView> view;
  if (!running_) return view;
  for (std::size_t i = 0; i < config_.signals.size(); ++i) {
    const Signal& s = config_.signals[i];
    SignalView v;
    v.signal = &s;
    if (auto held = held_.find(s.name); held != held_.end()) v.held = held->second;
    if (IsInput(s.kind)) {
      v.raw = RawReading(i);
      v.value =
          s.kind == SignalKind::kAnalogInput ? Calibrated(states_[i].calibration, v.raw) : v.raw;
    } else {
      v.raw = v.value = states_[i].output;
      v.set_at = states_[i].set_at;
    }
    view.push_back(v);
  }
  return view;
}

float Platform::GetParameter(std::int32_t number) {
  constexpr std::string_view kEntry = "MP_getParameter";
  if (Admit(kEntry) == Link::kNotStarted) return 0.0f;
  const double* value = motion_->Parameter(number);
  if (value == nullptr) {
    Refuse(kEntry, "unknown parameter " + std::to_string(number));
    return 0.0f;
  }
  return ToFloat(*value);  // unchanged while the link is lost, so frozen too
}

void Platform::UpdateDynamicParameters(const float (&values)[5]) {
  constexpr std::string_view kEntry = "MP_updateDynamicParameters";
  if (Admit(kEntry) != Link::kUp) return;
  std::string refused = motion_->LoadDynamicParameters(values);
  if (!refused.empty()) Refuse(kEntry, refused);
}

void Platform::SendCommand(std::int32_t command) {
  constexpr std::string_view kEntry = "MP_sendCommand";
  if (Admit(kEntry) != Link::kUp) return;
  std::string refused = motion_->Send(command);
  if (!refused.empty()) Refuse(kEntry, refused);
}

}  // namespace varno::sim
