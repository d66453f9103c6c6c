// The only file that includes cpp-httplib and nlohmann-json. Four traps of
// Debian's cpp-httplib 0.11, each met here: its shared build wants its
// pkg-config definitions (CMakeLists.txt); its pool of 8 threads would stop
// answering once 8 event streams are open (a larger pool, and a cap on
// streams below it); a content provider that waits without a timeout would
// hold stop() forever (each wait is 40 ms at most and looks at a stop
// flag); a POST or PUT without a body would wait 5 s for one (a body is
// read only when the request announces one).
#include "control_api.h"

#include <atomic>
#include <charconv>
#include <fstream>
#include <sstream>

#include <httplib.h>
#include <nlohmann/json.hpp>

namespace varno::sim {
namespace {

using nlohmann::json;

constexpr int kMaxEventStreams = 16;
// Event streams hold a thread each for as long as they last; the API keeps
// eight more for itself.
constexpr int kWorkers = kMaxEventStreams + 8;
constexpr std::size_t kMaxBody = std::size_t{64} * 1024;
// An event stream sends what is new at most this often, and while the
// platform runs a state this often too, since its readings move with time:
// the panel then redraws 25 times a second. A host's burst of calls or
// writes is one message, not thousands.
constexpr std::chrono::milliseconds kEventGap{40};
// While nothing changes a state is sent now and then all the same, so that
// a client finds out a server gone silent and the server a client gone.
constexpr std::chrono::milliseconds kEventHeartbeat{1000};
// Calls sent at most per message; a faster host's calls are skipped over.
constexpr std::size_t kCallsPerWait = 200;
constexpr std::size_t kJournalPage = 1000;

// The panel's files: only these are ever read, whatever the path asked.
struct Asset {
  const char* path;
  const char* file;
  const char* type;
};
constexpr Asset kAssets[] = {
    {"/", "index.html", "text/html; charset=utf-8"},
    {"/panel.css", "panel.css", "text/css; charset=utf-8"},
    {"/panel.js", "panel.js", "text/javascript; charset=utf-8"},
    {"/panel-stream.js", "panel-stream.js", "text/javascript; charset=utf-8"},
};
// The panel's files load nothing from elsewhere, and no other page may
// frame them.
constexpr const char* kAssetPolicy =
    "default-src 'self'; img-src 'self' data:; object-src 'none'; base-uri 'none'; "
    "form-action 'none'; frame-ancestors 'none'";

// A message may quote a request's own bytes (a name from its path, its
// Origin), which need not be UTF-8: those are replaced, not thrown over.
std::string Dump(const json& value) {
  return value.dump(-1, ' ', false, json::error_handler_t::replace);
}

void Error(httplib::Response& res, int status, const std::string& message) {
  res.status = status;
  res.set_content(Dump(json{{"error", message}}), "application/json");
}

void Send(httplib::Response& res, const json& body) {
  res.status = 200;
  res.set_content(Dump(body), "application/json");
}

int StatusFor(const Refusal& refusal) {
  switch (refusal.kind) {
    case Refusal::kNotFound: return 404;
    case Refusal::kConflict: return 409;
    case Refusal::kOutOfRange: return 422;
  }
  return 400;
}

json StateJson(const PlatformState& s, bool token_required) {
  json signals = json::array();
  for (const auto& signal : s.signals) {
    json j = {{"name", signal.name},
              {"kind", signal.kind},
              {"module", signal.module},
              {"range", {signal.low, signal.high}}};
    const bool input = signal.kind == "DI" || signal.kind == "AI";
    j["value"] = signal.live ? json(signal.value) : json(nullptr);
    if (input) {
      j["raw"] = signal.live ? json(signal.raw) : json(nullptr);
      j["held"] = signal.held;
      j["wired_to"] = signal.wired_to.empty() ? json(nullptr) : json(signal.wired_to);
    } else {
      j["set_by"] = signal.set_at >= 0 ? json("host") : json(nullptr);
      j["set_at"] = signal.set_at >= 0 ? json(signal.set_at) : json(nullptr);
    }
    signals.push_back(j);
  }
  json modules = json::array();
  for (const auto& m : s.modules)
    modules.push_back({{"number", m.number}, {"name", m.name}, {"answering", m.answering}});
  json parameters = json::object();
  for (const auto& [number, value] : s.parameters) parameters[std::to_string(number)] = value;
  const auto bit = [&](std::uint32_t b) { return (s.motion_bits & b) != 0; };
  char hex[16];
  std::snprintf(hex, sizeof hex, "%x", static_cast<unsigned>(s.status));
  return {
      {"status", s.status},
      {"status_hex", hex},
      {"running", s.running},
      {"time_s", s.running ? json(s.time_s) : json(nullptr)},
      {"token_required", token_required},
      {"scenario", s.running ? json(s.scenario) : json(nullptr)},
      {"seed", s.running ? json(s.seed) : json(nullptr)},
      {"link",
       {{"up", s.link.up},
        {"latency_ms", s.link.latency_ms},
        {"jitter_ms", s.link.jitter_ms},
        {"loss", s.link.loss}}},
      {"modules", modules},
      {"signals", signals},
      {"motion",
       {{"enabled", bit(1u << 16)},
        {"homed", bit(1u << 17)},
        {"moving", bit(1u << 18)},
        {"emergency_stop", bit(1u << 19)},
        {"parameters_loaded", bit(1u << 20)},
        {"fault", bit(1u << 23)},
        {"parameters", parameters}}},
      {"host",
       {{"connected", s.host.connected},
        {"address", s.host.address.empty() ? json(nullptr) : json(s.host.address)},
        {"session", s.host.session},
        {"idle_s", s.host.idle_s},
        {"calls", s.host.calls}}},
      {"journal_next", s.journal_next},
  };
}

bool HasBody(const httplib::Request& req) {
  return (req.has_header("Content-Length") && req.get_header_value("Content-Length") != "0") ||
         req.has_header("Transfer-Encoding");
}

bool IsChanging(const httplib::Request& req) { return req.method != "GET" && req.method != "HEAD"; }

// The request's JSON object, or an answered error and nothing.
std::optional<json> ReadObject(const httplib::Request& req, const httplib::ContentReader& reader,
                               httplib::Response& res, const char* example) {
  std::string body;
  if (HasBody(req) && !reader([&](const char* data, std::size_t size) {
        body.append(data, size);
        return body.size() <= kMaxBody;
      })) {
    if (body.size() > kMaxBody)
      Error(res, 413, "the body is larger than 64 KiB");
    else
      Error(res, 400, "the body ended before its Content-Length");
    return std::nullopt;
  }
  if (body.empty()) {
    Error(res, 400, std::string("the request needs a JSON body, such as ") + example);
    return std::nullopt;
  }
  json parsed = json::parse(body, nullptr, false);
  if (parsed.is_discarded() || !parsed.is_object()) {
    Error(res, 400, std::string("the body is not a JSON object, such as ") + example);
    return std::nullopt;
  }
  return parsed;
}

// Keys beyond `allowed` are refused, so that a misspelt one is not ignored.
bool OnlyKeys(const json& object, std::initializer_list<const char*> allowed,
              httplib::Response& res) {
  for (const auto& [key, value] : object.items()) {
    bool known = false;
    for (const char* a : allowed) known = known || key == a;
    if (!known) {
      Error(res, 400, "unknown key '" + key + "'");
      return false;
    }
  }
  return true;
}

}  // namespace

struct ControlApi::Impl {
  Impl(EmulatedPlatform& p, ControlOptions o) : platform(p), options(std::move(o)) {}

  EmulatedPlatform& platform;
  ControlOptions options;
  httplib::Server server;
  Endpoint local;
  std::atomic<int> streams{0};
  std::atomic<bool> stopping{false};

  bool LoopbackHost(const std::string& host) const {
    const std::string port = std::to_string(local.port);
    return host == "127.0.0.1:" + port || host == "localhost:" + port || host == "[::1]:" + port ||
           host == EndpointText(local);
  }

  // Before any route, and before any body is read.
  httplib::Server::HandlerResponse Guard(const httplib::Request& req,
                                         httplib::Response& res) const {
    using Handled = httplib::Server::HandlerResponse;
    const std::string host = req.get_header_value("Host");
    // Without a token only loopback names: a page whose name was made to
    // point here (DNS rebinding) is refused.
    if (options.token.empty() && !LoopbackHost(host)) {
      Error(res, 403, "Host '" + host + "' is not this emulator's loopback address");
      return Handled::Handled;
    }
    if (!IsChanging(req)) return Handled::Unhandled;
    if (!options.token.empty() &&
        req.get_header_value("Authorization") != "Bearer " + options.token) {
      Error(res, 401, "this emulator needs its token: Authorization: Bearer TOKEN");
      return Handled::Handled;
    }
    const std::string origin = req.get_header_value("Origin");
    if ((!origin.empty() && origin != "http://" + host) ||
        req.get_header_value("Sec-Fetch-Site") == "cross-site") {
      Error(res, 403, "a page of another origin (" + origin + ") cannot change the platform");
      return Handled::Handled;
    }
    if (HasBody(req) && req.get_header_value("Content-Type").rfind("application/json", 0) != 0) {
      Error(res, 415, "send the body as Content-Type: application/json");
      return Handled::Handled;
    }
    return Handled::Unhandled;
  }

  static void Answer(httplib::Response& res, const std::optional<Refusal>& refusal,
                     const json& done) {
    if (refusal)
      Error(res, StatusFor(*refusal), refusal->message);
    else
      Send(res, done);
  }

  void PutSignal(const httplib::Request& req, httplib::Response& res,
                 const httplib::ContentReader& reader) {
    const std::string name = req.matches[1];
    std::optional<json> body = ReadObject(req, reader, res, R"({"value": 1} or {"release": true})");
    if (!body || !OnlyKeys(*body, {"value", "release"}, res)) return;
    if (body->contains("release")) {
      if (body->contains("value") || (*body)["release"] != true)
        return Error(res, 400, R"(give {"release": true} alone)");
      return Answer(res, platform.Release(name), {{"name", name}, {"held", false}});
    }
    if (!body->contains("value") ||
        !((*body)["value"].is_number() || (*body)["value"].is_boolean()))
      return Error(res, 400, R"('value' must be a number, as in {"value": 1})");
    const json& v = (*body)["value"];
    const double value = v.is_boolean() ? (v.get<bool>() ? 1.0 : 0.0) : v.get<double>();
    Answer(res, platform.Hold(name, value), {{"name", name}, {"held", true}, {"value", value}});
  }

  void PutModule(const httplib::Request& req, httplib::Response& res,
                 const httplib::ContentReader& reader) {
    int module = 0;
    const std::string text = req.matches[1];
    std::from_chars(text.data(), text.data() + text.size(), module);
    std::optional<json> body = ReadObject(req, reader, res, R"({"answering": false})");
    if (!body || !OnlyKeys(*body, {"answering"}, res)) return;
    if (!body->contains("answering") || !(*body)["answering"].is_boolean())
      return Error(res, 400, R"('answering' must be true or false)");
    const bool answering = (*body)["answering"].get<bool>();
    Answer(res, platform.SetModuleAnswering(module, answering),
           {{"number", module}, {"answering", answering}});
  }

  void PutLink(const httplib::Request& req, httplib::Response& res,
               const httplib::ContentReader& reader) {
    std::optional<json> body =
        ReadObject(req, reader, res, R"({"up": false} or {"latency_ms": 40, "loss": 0.2})");
    if (!body || !OnlyKeys(*body, {"up", "latency_ms", "jitter_ms", "loss"}, res)) return;
    EmulatedPlatform::LinkChange change;
    if (body->contains("up")) {
      if (!(*body)["up"].is_boolean()) return Error(res, 400, "'up' must be true or false");
      change.up = (*body)["up"].get<bool>();
    }
    const struct {
      const char* key;
      double most;
      std::optional<double>* field;
    } kNumbers[] = {{"latency_ms", 10000, &change.latency_ms},
                    {"jitter_ms", 10000, &change.jitter_ms},
                    {"loss", 1, &change.loss}};
    for (const auto& n : kNumbers) {
      if (!body->contains(n.key)) continue;
      const json& v = (*body)[n.key];
      if (!v.is_number() || v.get<double>() < 0 || v.get<double>() > n.most) {
        char most[16];
        std::snprintf(most, sizeof most, "%g", n.most);
        return Error(res, 422, std::string("'") + n.key + "' must be a number from 0 to " + most);
      }
      *n.field = v.get<double>();
    }
    const LinkSettings link = platform.ChangeLink(change);
    Send(res, {{"up", link.up},
               {"latency_ms", link.latency_ms},
               {"jitter_ms", link.jitter_ms},
               {"loss", link.loss}});
  }

  void Motion(httplib::Response& res, std::int32_t command) {
    std::optional<Refusal> refusal = platform.MotionCommand(command);
    Answer(res, refusal, {{"status", refusal ? 0 : platform.State().status}});
  }

  json State() const { return StateJson(platform.State(), !options.token.empty()); }

  void GetJournal(const httplib::Request& req, httplib::Response& res) {
    JournalQuery query;
    query.most = kJournalPage;
    // A whole number from the query, or false with the error answered.
    const auto number = [&](const char* name, std::uint64_t most, const char* example,
                            std::uint64_t* value) {
      if (!req.has_param(name)) return true;
      const std::string text = req.get_param_value(name);
      auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), *value);
      if (ec == std::errc() && end == text.data() + text.size() && !text.empty() && *value <= most)
        return true;
      Error(res, 400, std::string("'") + name + "' must be a whole number" + example);
      return false;
    };
    std::uint64_t last = 0;
    if (!number("since", UINT64_MAX, ", as in /api/journal?since=0", &query.since) ||
        !number("last", kJournalPage, " from 1 to 1000, as in /api/journal?last=200", &last))
      return;
    if (last == 0 && req.has_param("last"))
      return Error(res, 400, "'last' must be a whole number from 1 to 1000");
    if (req.has_param("last")) {
      query.most = last;
      query.newest = true;
    }
    if (req.has_param("entry")) {
      query.entry = req.get_param_value("entry");
      std::string names;
      bool known = false;
      for (int e = kFirstEntry; e <= kLastEntry; ++e) {
        const char* name = EntryName(static_cast<Entry>(e));
        known = known || query.entry == name;
        names += std::string(e == kFirstEntry ? "" : ", ") + name;
      }
      if (!known) return Error(res, 400, "unknown entry '" + query.entry + "': one of " + names);
    }
    JournalPage page = platform.Journal(query);
    Send(res, {{"first", page.first}, {"next", page.next}, {"calls", page.calls}});
  }

  void Events(httplib::Response& res) {
    if (++streams > kMaxEventStreams) {
      --streams;
      return Error(res, 429, "at most 16 event streams are served at once");
    }
    using Clock = std::chrono::steady_clock;
    struct Cursor {
      bool first = true;
      std::uint64_t version = 0;
      std::uint64_t journal = 0;
      Clock::time_point sent, state_sent;
    };
    auto cursor = std::make_shared<Cursor>();
    cursor->journal = platform.State().journal_next;  // news only
    res.set_header("Cache-Control", "no-store");
    res.set_chunked_content_provider(
        "text/event-stream",
        [this, cursor](std::size_t /*offset*/, httplib::DataSink& sink) {
          std::uint64_t version = cursor->version;
          if (!cursor->first) {
            version = platform.WaitForChange(cursor->version, cursor->journal, kEventGap);
            const auto since = Clock::now() - cursor->sent;
            if (since < kEventGap)
              platform.WaitForStop(
                  std::chrono::duration_cast<std::chrono::milliseconds>(kEventGap - since));
          }
          if (stopping || platform.stopped()) return false;
          const Clock::time_point now = Clock::now();
          const PlatformState state = platform.State();
          std::string out;
          if (cursor->first || version != cursor->version || state.running ||
              now - cursor->state_sent >= kEventHeartbeat) {
            out += "event: state\ndata: " + Dump(StateJson(state, !options.token.empty())) + "\n\n";
            cursor->version = version;
            cursor->first = false;
            cursor->state_sent = now;
          }
          JournalQuery query;
          query.since = cursor->journal;
          query.most = kCallsPerWait;
          JournalPage page = platform.Journal(query);
          if (page.first > cursor->journal)
            out += "event: skipped\ndata: " + Dump(json{{"calls", page.first - cursor->journal}}) +
                   "\n\n";
          std::uint64_t n = std::max(cursor->journal, page.first);
          for (const std::string& call : page.calls)
            out += "event: call\ndata: " + Dump(json{{"n", n++}, {"call", call}}) + "\n\n";
          cursor->journal = page.next;
          // A host faster than the stream: the calls between are skipped,
          // and said so, rather than the stream falling behind for ever.
          if (page.end > page.next) {
            out += "event: skipped\ndata: " + Dump(json{{"calls", page.end - page.next}}) + "\n\n";
            cursor->journal = page.end;
          }
          if (out.empty()) return true;
          cursor->sent = now;
          return sink.write(out.data(), out.size());
        },
        [this](bool /*success*/) { --streams; });
  }

  void GetAsset(const Asset& asset, httplib::Response& res) const {
    std::ifstream file(options.assets + "/" + asset.file, std::ios::binary);
    if (!file) return Error(res, 404, "the panel's files are not installed here");
    std::ostringstream text;
    text << file.rdbuf();
    res.status = 200;
    res.set_header("Content-Security-Policy", kAssetPolicy);
    res.set_content(text.str(), asset.type);
  }

  void Routes() {
    using httplib::ContentReader;
    using httplib::Request;
    using httplib::Response;
    server.new_task_queue = [] { return new httplib::ThreadPool(kWorkers); };
    server.set_pre_routing_handler(
        [this](const Request& req, Response& res) { return Guard(req, res); });
    server.set_post_routing_handler([](const Request& /*req*/, Response& res) {
      res.set_header("X-Content-Type-Options", "nosniff");
      if (!res.has_header("Cache-Control")) res.set_header("Cache-Control", "no-store");
    });
    server.set_error_handler([](const Request& req, Response& res) {
      if (res.body.empty())
        Error(res, res.status, "no such endpoint: " + req.method + " " + req.path);
    });
    server.set_exception_handler(
        [](const Request& /*req*/, Response& res, const std::exception_ptr& /*error*/) {
          Error(res, 400, "the request could not be handled");
        });
    server.set_payload_max_length(kMaxBody);
    // One request a connection's wait for its next at most 1 s, so that
    // stop() is not held by an idle keep-alive connection for long.
    server.set_keep_alive_timeout(1);
    server.set_read_timeout(std::chrono::seconds(2));
    server.set_write_timeout(std::chrono::seconds(2));

    server.Get("/api/state", [this](const Request&, Response& res) { Send(res, State()); });
    server.Put(R"(/api/signals/([^/]+))",
               [this](const Request& req, Response& res, const ContentReader& reader) {
                 PutSignal(req, res, reader);
               });
    server.Put(R"(/api/modules/([0-9]{1,2}))",
               [this](const Request& req, Response& res, const ContentReader& reader) {
                 PutModule(req, res, reader);
               });
    server.Put("/api/link", [this](const Request& req, Response& res, const ContentReader& reader) {
      PutLink(req, res, reader);
    });
    // No body is read: none is wanted, and none is waited for.
    server.Post("/api/motion/emergency-stop",
                [this](const Request&, Response& res, const ContentReader&) { Motion(res, 6); });
    server.Post("/api/motion/reset",
                [this](const Request&, Response& res, const ContentReader&) { Motion(res, 7); });
    server.Get("/api/journal", [this](const Request& req, Response& res) { GetJournal(req, res); });
    server.Get("/api/events", [this](const Request&, Response& res) { Events(res); });
    for (const Asset& asset : kAssets)
      server.Get(asset.path,
                 [this, &asset](const Request&, Response& res) { GetAsset(asset, res); });
  }
};

ControlApi::ControlApi(EmulatedPlatform& platform, ControlOptions options)
    : impl_(std::make_unique<Impl>(platform, std::move(options))) {
  impl_->Routes();
}

ControlApi::~ControlApi() = default;

bool ControlApi::Open(std::string* error) {
  const std::string address = AddressText(impl_->options.http.address);
  int port = impl_->options.http.port;
  if (port == 0)
    port = impl_->server.bind_to_any_port(address);
  else if (!impl_->server.bind_to_port(address, port))
    port = -1;
  if (port <= 0) {
    *error = "cannot listen for HTTP on " + EndpointText(impl_->options.http);
    return false;
  }
  impl_->local = {impl_->options.http.address, static_cast<std::uint16_t>(port)};
  return true;
}

Endpoint ControlApi::Local() const { return impl_->local; }

bool ControlApi::Run() { return impl_->server.listen_after_bind(); }

void ControlApi::Stop() {
  impl_->stopping = true;
  impl_->platform.Stop();
  impl_->server.stop();
}

}  // namespace varno::sim
