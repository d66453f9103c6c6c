#include "emulated_platform.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "start_request.h"

namespace varno::sim {
namespace {

// Enough for any look back a panel or a test takes; older calls are only in
// the host's own journal (VARNO_SIM_JOURNAL).
constexpr std::size_t kJournalKept = 10000;

const char* KindName(SignalKind kind) {
  switch (kind) {
    case SignalKind::kDigitalInput: return "DI";
    case SignalKind::kDigitalOutput: return "DO";
    case SignalKind::kAnalogInput: return "AI";
    case SignalKind::kAnalogOutput: return "AO";
  }
  return "?";
}

// "-", empty or null: the emulator's own default.
std::string Argument(const std::optional<std::string>& text) {
  return text && *text != "-" ? *text : "";
}

std::string Number(double value) {
  char text[32];
  std::snprintf(text, sizeof text, "%g", value);
  return text;
}

}  // namespace

EmulatedPlatform::EmulatedPlatform(Options options, PlatformConfig listing, Log& log)
    : options_(std::move(options)),
      listing_(std::move(listing)),
      log_(log),
      random_(std::random_device{}()) {}

std::optional<EmulatedPlatform::Answer> EmulatedPlatform::Serve(
    std::span<const std::uint8_t> datagram, const Endpoint& from) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (!link_.up || LostOnTheWay()) return std::nullopt;
  std::optional<Request> request = DecodeRequest(datagram);
  if (!request) return std::nullopt;  // not ours, or damaged: a real platform would not answer
  const Call& call = request->call;
  const double now = clock_.Now();
  const bool start = call.entry == Entry::kStart || call.entry == Entry::kStart2;
  Reply reply{request->session, request->sequence, call.entry, ReplyStatus::kDone, {}};
  const bool ours = session_ && session_->id == request->session;
  if (!start && !ours) {
    reply.status = ReplyStatus::kNotYourSession;
    return Answer{Encode(reply), std::chrono::duration<double>(LinkDelay())};
  }
  if (ours && std::equal(datagram.begin(), datagram.end(), session_->request.begin(),
                         session_->request.end())) {
    // A retry, the same datagram again: the call ran once, and its reply is
    // sent again.
    session_->heard_at = now;
    if (LostOnTheWay()) return std::nullopt;
    const double delay = std::max(LinkDelay(), session_->ready_at - now);
    return Answer{session_->reply, std::chrono::duration<double>(delay)};
  }
  if (start) {
    if (session_ && !ours && !session_->closed)
      log_.Write(LogLevel::kRefusal, "host " + EndpointText(from) +
                                         " took the platform over from " +
                                         EndpointText(session_->host));
    session_.emplace();
    session_->id = request->session;
    session_->host = from;
  }
  clock_.TakeOwed();
  reply.result = start ? Start(call) : ApplyCall(platform_, call);
  const double owed = clock_.TakeOwed();
  HostSession& session = *session_;
  session.request.assign(datagram.begin(), datagram.end());
  session.reply = Encode(reply);
  session.ready_at = now + owed;
  session.heard_at = now;
  session.closed = call.entry == Entry::kClose;
  ++session.calls;
  Record(JournalText(call, reply.result));
  if (IsWrite(call.entry)) ++version_;
  changed_.notify_all();
  if (LostOnTheWay()) return std::nullopt;  // the retry will have it
  return Answer{session.reply, std::chrono::duration<double>(owed + LinkDelay())};
}

Result EmulatedPlatform::Start(const Call& call) {
  const bool named = call.entry == Entry::kStart2;
  StartRequest request{options_.config, named ? Argument(call.texts[1]) : "",
                       named ? Argument(call.texts[2]) : ""};
  if (request.scenario.empty()) request.scenario = options_.scenario;
  if (request.seed.empty()) request.seed = options_.seed;
  Result result;
  result.code = StartPlatform(platform_, log_, request);
  return result;
}

bool EmulatedPlatform::LostOnTheWay() {
  return link_.loss > 0 && std::uniform_real_distribution<double>(0, 1)(random_) < link_.loss;
}

double EmulatedPlatform::LinkDelay() {
  double ms = link_.latency_ms;
  if (link_.jitter_ms > 0)
    ms += std::uniform_real_distribution<double>(-link_.jitter_ms, link_.jitter_ms)(random_);
  return std::max(0.0, ms) / 1000.0;
}

void EmulatedPlatform::Record(const std::string& call) {
  journal_.push_back(call);
  if (journal_.size() > kJournalKept) {
    journal_.pop_front();
    ++journal_first_;
  }
}

void EmulatedPlatform::Changed() {
  ++version_;
  changed_.notify_all();
}

const PlatformConfig& EmulatedPlatform::Listing() const {
  return platform_.running() ? platform_.config() : listing_;
}

const Signal* EmulatedPlatform::FindSignal(const std::string& name) const {
  for (const Signal& s : Listing().signals)
    if (s.name == name) return &s;
  return nullptr;
}

std::optional<Refusal> EmulatedPlatform::Hold(const std::string& name, double value) {
  std::lock_guard<std::mutex> lock(mutex_);
  const Signal* s = FindSignal(name);
  if (s == nullptr) return Refusal{Refusal::kNotFound, "unknown signal '" + name + "'"};
  if (!IsInput(s->kind))
    return Refusal{Refusal::kConflict,
                   "'" + name + "' is an output: the host sets it, and only inputs can be held"};
  if (IsDigital(s->kind) ? (value != 0 && value != 1) : !(value >= s->low && value <= s->high))
    return Refusal{Refusal::kOutOfRange,
                   IsDigital(s->kind)
                       ? "'" + name + "' is digital: it holds 0 or 1"
                       : "'" + name + "' reads from " + Number(s->low) + " to " + Number(s->high)};
  platform_.Hold(name, value);
  Changed();
  return std::nullopt;
}

std::optional<Refusal> EmulatedPlatform::Release(const std::string& name) {
  std::lock_guard<std::mutex> lock(mutex_);
  const Signal* s = FindSignal(name);
  if (s == nullptr) return Refusal{Refusal::kNotFound, "unknown signal '" + name + "'"};
  if (!IsInput(s->kind))
    return Refusal{Refusal::kConflict, "'" + name + "' is an output: nothing holds it"};
  platform_.Release(name);
  Changed();
  return std::nullopt;
}

std::optional<Refusal> EmulatedPlatform::SetModuleAnswering(int module, bool answering) {
  std::lock_guard<std::mutex> lock(mutex_);
  const std::vector<Module>& modules = Listing().modules;
  if (std::none_of(modules.begin(), modules.end(),
                   [&](const Module& m) { return m.number == module; }))
    return Refusal{Refusal::kNotFound, "no module " + std::to_string(module) + " on the platform"};
  platform_.SetModuleAnswering(module, answering);
  Changed();
  return std::nullopt;
}

LinkSettings EmulatedPlatform::ChangeLink(const LinkChange& change) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (change.up) {
    link_.up = *change.up;
    // The model loses its link as its link-drop scenario does, and stays so
    // until the host's next start: readings frozen, writes refused.
    if (!link_.up) platform_.LoseLink();
  }
  if (change.latency_ms) link_.latency_ms = *change.latency_ms;
  if (change.jitter_ms) link_.jitter_ms = *change.jitter_ms;
  if (change.loss) link_.loss = *change.loss;
  Changed();
  return link_;
}

std::optional<Refusal> EmulatedPlatform::MotionCommand(std::int32_t command) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (!platform_.ControlCommand(command))
    return Refusal{Refusal::kConflict, "the platform is not started: no host has started it"};
  Changed();
  return std::nullopt;
}

PlatformState EmulatedPlatform::State() {
  std::lock_guard<std::mutex> lock(mutex_);
  PlatformState state;
  state.status = platform_.StatusWord();
  state.running = platform_.running();
  if (state.running) {
    state.scenario = platform_.scenario().name;
    state.seed = platform_.seed();
    state.time_s = platform_.SecondsSinceStart();
  }
  state.link = link_;
  for (const Module& m : Listing().modules)
    state.modules.push_back({m.number, m.name, platform_.ModuleAnswering(m.number)});
  const std::vector<Platform::SignalView> view = platform_.View();
  const std::vector<Signal>& signals = Listing().signals;
  for (std::size_t i = 0; i < signals.size(); ++i) {
    PlatformState::SignalState s;
    s.name = signals[i].name;
    s.kind = KindName(signals[i].kind);
    s.module = signals[i].module;
    s.low = signals[i].low;
    s.high = signals[i].high;
    s.wired_to = signals[i].wired_to;
    if (i < view.size()) {
      s.live = true;
      s.value = view[i].value;
      s.raw = view[i].raw;
      s.held = view[i].held.has_value();
      s.set_at = view[i].set_at;
    }
    state.signals.push_back(s);
  }
  if (const MotionSystem* motion = platform_.motion()) {
    state.motion_bits = motion->Bits();
    state.parameters = motion->parameters();
  }
  if (session_) {
    state.host.connected = !session_->closed;
    state.host.address = EndpointText(session_->host);
    state.host.session = session_->id;
    state.host.idle_s = clock_.Now() - session_->heard_at;
    state.host.calls = session_->calls;
  }
  state.journal_next = journal_first_ + journal_.size();
  return state;
}

JournalPage EmulatedPlatform::Journal(const JournalQuery& query) {
  std::lock_guard<std::mutex> lock(mutex_);
  JournalPage page;
  page.first = journal_first_;
  page.end = journal_first_ + journal_.size();
  const std::uint64_t from = std::clamp(query.since, page.first, page.end);
  // A call's text begins with its entry's name and its parenthesis.
  const std::string prefix = query.entry + "(";
  const auto wanted = [&](std::uint64_t i) -> const std::string* {
    const std::string& call = journal_[i - journal_first_];
    return query.entry.empty() || call.rfind(prefix, 0) == 0 ? &call : nullptr;
  };
  if (query.newest) {
    for (std::uint64_t i = page.end; i > from && page.calls.size() < query.most; --i)
      if (const std::string* call = wanted(i - 1)) page.calls.push_back(*call);
    std::reverse(page.calls.begin(), page.calls.end());
    page.next = page.end;
    return page;
  }
  std::uint64_t i = from;
  for (; i < page.end && page.calls.size() < query.most; ++i)
    if (const std::string* call = wanted(i)) page.calls.push_back(*call);
  page.next = i;
  return page;
}

std::uint64_t EmulatedPlatform::WaitForChange(std::uint64_t seen, std::uint64_t journal_seen,
                                              std::chrono::milliseconds timeout) {
  std::unique_lock<std::mutex> lock(mutex_);
  changed_.wait_for(lock, timeout, [&] {
    return stopped_ || version_ != seen || journal_first_ + journal_.size() != journal_seen;
  });
  return version_;
}

bool EmulatedPlatform::WaitForStop(std::chrono::milliseconds timeout) {
  std::unique_lock<std::mutex> lock(mutex_);
  return changed_.wait_for(lock, timeout, [&] { return stopped_.load(); });
}

void EmulatedPlatform::Stop() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stopped_ = true;
  }
  changed_.notify_all();
}

}  // namespace varno::sim
