// The one platform model varno-sim holds, under one lock: what the host's
// datagrams (platform_server) and the control API (control_api) both act
// on. It keeps the host's session and its last reply, the link's faults,
// the journal of the host's calls and a counter of changes that event
// streams wait on.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <map>
#include <mutex>
#include <optional>
#include <random>
#include <span>
#include <string>
#include <utility>
#include <vector>

#include "clock.h"
#include "datagram.h"
#include "endpoint.h"
#include "log.h"
#include "options.h"
#include "platform.h"

namespace varno::sim {

struct LinkSettings {
  bool up = true;
  double latency_ms = 0;  // added to every reply
  double jitter_ms = 0;   // latency varies by up to this either way
  double loss = 0;        // chance that a datagram is lost, each way
};

// Why a control request was refused, for its HTTP status.
struct Refusal {
  enum Kind { kNotFound, kConflict, kOutOfRange } kind;
  std::string message;
};

// A picture of the platform for GET /api/state and the event stream.
struct PlatformState {
  struct SignalState {
    std::string name, kind;
    int module = 0;
    double low = 0, high = 1;  // the raw reading's range (outputs: the values accepted)
    std::string wired_to;      // inputs: the output they read, if any
    bool live = false;         // value and raw are meaningful (the platform runs)
    double value = 0, raw = 0;
    bool held = false;
    double set_at = -1;  // outputs: seconds after the start the host set it
  };
  struct ModuleState {
    int number = 0;
    std::string name;
    bool answering = true;
  };
  struct HostState {
    bool connected = false;  // a session started and not closed
    std::string address;
    std::uint32_t session = 0;
    double idle_s = 0;  // since its last datagram
    std::uint64_t calls = 0;
  };
  std::uint32_t status = 0;
  bool running = false;
  double time_s = 0;  // seconds since the start, while running
  std::string scenario;
  std::uint64_t seed = 0;
  LinkSettings link;
  std::vector<ModuleState> modules;
  std::vector<SignalState> signals;
  std::uint32_t motion_bits = 0;
  std::map<std::int32_t, double> parameters;
  HostState host;
  std::uint64_t journal_next = 0;
};

// Which calls of the journal a page holds.
struct JournalQuery {
  std::uint64_t since = 0;  // the first call's number to look at
  std::size_t most = 1000;
  std::string entry;    // only this entry's calls (its exported name); empty: every call
  bool newest = false;  // the last `most` calls from `since` on, rather than the first
};

struct JournalPage {
  std::uint64_t first = 0;  // the oldest call still kept
  std::uint64_t next = 0;   // the number after the last call looked at
  std::uint64_t end = 0;    // the number the host's next call will have
  std::vector<std::string> calls;
};

// The host whose start came last: its session and the reply it was given
// last, for that reply's duplicates.
struct HostSession {
  std::uint32_t id = 0;
  Endpoint host;
  Bytes request;        // the last request run, whole
  Bytes reply;          // the answer to it
  double ready_at = 0;  // not sent before: the scenario's latency
  double heard_at = 0;
  bool closed = false;
  std::uint64_t calls = 0;
};

class EmulatedPlatform {
 public:
  // `listing` is the configuration read at launch: the signals and modules
  // the control API knows before a host has started the platform.
  EmulatedPlatform(Options options, PlatformConfig listing, Log& log);

  // ---- The host's side.
  struct Answer {
    Bytes reply;
    std::chrono::duration<double> delay{0};  // the link's latency and the scenario's
  };
  // Answers one datagram; nothing when it goes unanswered (malformed, the
  // link down, lost on the way either way).
  std::optional<Answer> Serve(std::span<const std::uint8_t> datagram, const Endpoint& from);

  // ---- The control API's side.
  std::optional<Refusal> Hold(const std::string& name, double value);
  std::optional<Refusal> Release(const std::string& name);
  std::optional<Refusal> SetModuleAnswering(int module, bool answering);
  // Each field left empty keeps its setting; the caller checks ranges.
  struct LinkChange {
    std::optional<bool> up;
    std::optional<double> latency_ms, jitter_ms, loss;
  };
  LinkSettings ChangeLink(const LinkChange& change);
  std::optional<Refusal> MotionCommand(std::int32_t command);

  PlatformState State();
  JournalPage Journal(const JournalQuery& query);

  // Until the counter of changes passes `seen`, the journal grows, Stop()
  // is called or `timeout` passes; returns the counter then.
  std::uint64_t WaitForChange(std::uint64_t seen, std::uint64_t journal_seen,
                              std::chrono::milliseconds timeout);
  // Until Stop() is called or `timeout` passes; true when stopped.
  bool WaitForStop(std::chrono::milliseconds timeout);
  void Stop();
  bool stopped() const { return stopped_; }

 private:
  // The model's latency is owed to the reply rather than slept, so that the
  // one thread serving the protocol never blocks.
  class OwedClock final : public Clock {
   public:
    double Now() override { return steady_.Now(); }
    void Sleep(double seconds) override { owed_ += seconds; }
    double TakeOwed() { return std::exchange(owed_, 0.0); }

   private:
    SteadyClock steady_;
    double owed_ = 0;
  };

  Result Start(const Call& call);
  const PlatformConfig& Listing() const;
  const Signal* FindSignal(const std::string& name) const;
  bool LostOnTheWay();
  double LinkDelay();
  void Changed();
  void Record(const std::string& call);

  const Options options_;
  const PlatformConfig listing_;
  Log& log_;
  std::mutex mutex_;
  std::condition_variable changed_;
  OwedClock clock_;
  Platform platform_{clock_, log_};
  std::optional<HostSession> session_;
  LinkSettings link_;
  std::mt19937_64 random_;
  std::deque<std::string> journal_;
  std::uint64_t journal_first_ = 0;
  std::uint64_t version_ = 0;
  std::atomic<bool> stopped_{false};
};

}  // namespace varno::sim
