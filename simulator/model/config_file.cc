#include "config_file.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <fstream>
#include <limits>
#include <optional>
#include <set>
#include <sstream>
#include <vector>

// toml++ states its assumptions as assertions, or as compiler assumptions
// where NDEBUG is set. Some do not hold for invalid text that it goes on to
// refuse with an error of its own, such as "[[[" or "m=[}": an assertion would
// end the simulator and a false assumption is undefined behaviour. Both are
// off for this inclusion; its errors do the work.
#pragma push_macro("NDEBUG")
#undef NDEBUG
#define TOML_ASSERT(expr) static_cast<void>(0)
#include <toml++/toml.h>
#pragma pop_macro("NDEBUG")

#include "endpoint.h"
#include "scenario.h"

namespace varno::sim {
namespace {

using Keys = std::vector<std::string_view>;

struct KindRule {
  std::string_view name;
  SignalKind kind;
  Keys keys;  // beyond name, kind and module
  double low, high;
};

const std::vector<KindRule>& KindRules() {
  static const std::vector<KindRule> kRules = {
      {"DI", SignalKind::kDigitalInput, {"wired_to", "value", "toggle_period"}, 0, 1},
      {"DO", SignalKind::kDigitalOutput, {}, 0, 1},
      {"AI", SignalKind::kAnalogInput, {"wired_to", "range", "wave"}, 0, 10},
      {"AO", SignalKind::kAnalogOutput, {"range"}, 0, 1},
  };
  return kRules;
}

using StartName = std::pair<std::string_view, StartResult>;
constexpr StartName kStartNames[] = {
    {"ok", kStartOk},
    {"config-error", kStartConfigurationError},
    {"socket-error", kStartSocketError},
    {"unreachable", kStartUnreachable},
};

// A key as problems name it, 'key'. Appended rather than written
// "'" + std::string(key): GCC 12 at -O3 takes that for an overlapping copy
// (a false -Wrestrict inside std::string).
std::string Quoted(std::string_view key) {
  std::string quoted(1, '\'');
  quoted.append(key);
  quoted += '\'';
  return quoted;
}

// Reads values out of tables, keeping the first problem met with its line.
class Reader {
 public:
  explicit Reader(std::string source) : source_(std::move(source)) {}
  const std::string& error() const { return error_; }
  bool ok() const { return error_.empty(); }

  bool Fail(const toml::source_region& where, const std::string& problem) {
    if (error_.empty()) error_ = source_ + ":" + std::to_string(where.begin.line) + ": " + problem;
    return false;
  }

  bool OnlyKeys(const toml::table& table, const Keys& allowed, const std::string& what) {
    for (auto&& [key, node] : table) {
      bool known = false;
      for (std::string_view a : allowed) known = known || key.str() == a;
      if (!known)
        return Fail(key.source(), "unknown key '" + std::string(key.str()) + "' in " + what);
    }
    return true;
  }

  bool Require(const toml::table& table, std::string_view key, const std::string& what) {
    return table.contains(key) || Fail(table.source(), what + " needs '" + std::string(key) + "'");
  }

  // Each getter leaves *out alone when the key is absent.
  bool Integer(const toml::table& table, std::string_view key, std::int64_t low, std::int64_t high,
               std::int64_t* out) {
    const toml::node* node = table.get(key);
    if (node == nullptr) return true;
    const auto* value = node->as_integer();
    if (value == nullptr || value->get() < low || value->get() > high)
      return Fail(node->source(), Quoted(key) + " must be an integer from " + std::to_string(low) +
                                      " to " + std::to_string(high));
    *out = value->get();
    return true;
  }

  bool Number(const toml::node* node, std::string_view key, double* out) {
    std::optional<double> value = node->is_number() ? node->value<double>() : std::nullopt;
    if (!value || !std::isfinite(*value))
      return Fail(node->source(), Quoted(key) + " must be a finite number");
    *out = *value;
    return true;
  }

  bool Number(const toml::table& table, std::string_view key, double* out) {
    const toml::node* node = table.get(key);
    return node == nullptr || Number(node, key, out);
  }

  bool String(const toml::table& table, std::string_view key, std::string* out) {
    const toml::node* node = table.get(key);
    if (node == nullptr) return true;
    if (!node->is_string()) return Fail(node->source(), Quoted(key) + " must be a string");
    *out = *node->value<std::string>();
    return true;
  }

  // The key's array of tables, or null (and an error) when it is something else.
  const toml::array* Tables(const toml::table& table, std::string_view key) {
    const toml::node* node = table.get(key);
    if (node == nullptr) return nullptr;
    const toml::array* array = node->as_array();
    if (array == nullptr || !array->is_array_of_tables()) {
      Fail(node->source(), Quoted(key) + " must be written as [[" + std::string(key) + "]] tables");
      return nullptr;
    }
    return array;
  }

 private:
  std::string source_;
  std::string error_;
};

bool ReadModules(Reader& r, const toml::table& root, PlatformConfig& config) {
  const toml::array* modules = r.Tables(root, "module");
  if (modules == nullptr) {
    if (r.ok()) r.Fail(root.source(), "the platform needs at least one [[module]]");
    return false;
  }
  for (const toml::node& node : *modules) {
    const toml::table& t = *node.as_table();
    Module m;
    std::int64_t number = 0;
    if (!r.OnlyKeys(t, {"number", "name"}, "a module") || !r.Require(t, "number", "a module") ||
        !r.Integer(t, "number", kFirstModule, kLastModule, &number) ||
        !r.String(t, "name", &m.name))
      return false;
    m.number = static_cast<int>(number);
    for (const Module& other : config.modules)
      if (other.number == m.number)
        return r.Fail(t.source(), "module " + std::to_string(m.number) + " is declared twice");
    config.modules.push_back(m);
  }
  return true;
}

bool ReadWave(Reader& r, const toml::node& node, Waveform* wave) {
  const toml::table* t = node.as_table();
  if (t == nullptr) return r.Fail(node.source(), "'wave' must be a table");
  std::string shape;
  if (!r.OnlyKeys(*t, {"shape", "amplitude", "offset", "period", "phase", "noise"}, "a wave") ||
      !r.Require(*t, "shape", "a wave") || !r.String(*t, "shape", &shape))
    return false;
  std::optional<Shape> known = ShapeNamed(shape);
  if (!known) return r.Fail(t->get("shape")->source(), "unknown shape '" + shape + "'");
  wave->shape = *known;
  if (!r.Number(*t, "amplitude", &wave->amplitude) || !r.Number(*t, "offset", &wave->offset) ||
      !r.Number(*t, "period", &wave->period) || !r.Number(*t, "phase", &wave->phase) ||
      !r.Number(*t, "noise", &wave->noise))
    return false;
  // A reading is taken at most once a millisecond or so; anything faster is
  // a mistake, and tiny periods would overflow the phase.
  if (wave->period < 0.001) return r.Fail(t->source(), "a wave's 'period' must be at least 0.001");
  if (wave->noise < 0) return r.Fail(t->source(), "a wave's 'noise' must not be negative");
  return true;
}

// Kind-specific keys of one signal; `what` names it in messages.
bool ReadSignalDetails(Reader& r, const toml::table& t, const std::string& what, Signal& s) {
  if (!r.String(t, "wired_to", &s.wired_to)) return false;
  if (!s.wired_to.empty() &&
      (t.contains("wave") || t.contains("value") || t.contains("toggle_period")))
    return r.Fail(t.source(),
                  what + " is wired, so it takes no 'wave', 'value' or 'toggle_period'");
  if (const toml::node* range = t.get("range")) {
    const toml::array* a = range->as_array();
    if (a == nullptr || a->size() != 2 || !r.Number(&(*a)[0], "range", &s.low) ||
        !r.Number(&(*a)[1], "range", &s.high) || s.low >= s.high)
      return r.Fail(range->source(), "'range' must be [low, high] with low below high");
  }
  if (const toml::node* wave = t.get("wave"); wave != nullptr && !ReadWave(r, *wave, &s.wave))
    return false;
  if (s.kind == SignalKind::kDigitalInput) {
    // A digital input is a square wave between 0 and 1, starting at `value`.
    std::int64_t value = 0;
    double toggle = 0;
    if (!r.Integer(t, "value", 0, 1, &value) || !r.Number(t, "toggle_period", &toggle))
      return false;
    if (t.contains("toggle_period") && toggle < 0.001)
      return r.Fail(t.get("toggle_period")->source(), "'toggle_period' must be at least 0.001");
    s.wave = toggle > 0 ? Waveform{Shape::kSquare, 0.5, 0.5, 2 * toggle, value ? 0.0 : 0.5, 0}
                        : Waveform{Shape::kConstant, 0, static_cast<double>(value), 1, 0, 0};
  }
  return true;
}

bool ReadSignals(Reader& r, const toml::table& root, PlatformConfig& config) {
  const toml::array* signals = r.Tables(root, "signal");
  if (signals == nullptr) return r.ok();  // none, or not [[signal]] tables
  for (const toml::node& node : *signals) {
    const toml::table& t = *node.as_table();
    Signal s;
    std::string kind;
    std::int64_t module = 0;
    if (!r.Require(t, "name", "a signal") || !r.String(t, "name", &s.name)) return false;
    std::string what = "signal '" + s.name + "'";
    if (s.name.empty() || s.name.size() > kMaxSignalName)
      return r.Fail(t.source(), "a signal name needs 1 to 49 characters");
    for (unsigned char c : s.name)
      if (c <= 32 || c > 126)
        return r.Fail(t.source(), what + ": names are printable ASCII without spaces");
    for (const Signal& other : config.signals)
      if (other.name == s.name) return r.Fail(t.source(), what + " is declared twice");
    if (!r.Require(t, "kind", what) || !r.String(t, "kind", &kind) ||
        !r.Require(t, "module", what) ||
        !r.Integer(t, "module", kFirstModule, kLastModule, &module))
      return false;
    const KindRule* rule = nullptr;
    for (const KindRule& k : KindRules())
      if (k.name == kind) rule = &k;
    if (rule == nullptr)
      return r.Fail(t.get("kind")->source(), what + ": kind must be DI, DO, AI or AO");
    Keys keys = rule->keys;
    keys.insert(keys.end(), {"name", "kind", "module"});
    if (!r.OnlyKeys(t, keys, what)) return false;
    s.kind = rule->kind;
    s.module = static_cast<int>(module);
    s.low = rule->low;
    s.high = rule->high;
    bool declared = false;
    for (const Module& m : config.modules) declared = declared || m.number == s.module;
    if (!declared) return r.Fail(t.get("module")->source(), what + ": no such module");
    if (!ReadSignalDetails(r, t, what, s)) return false;
    config.signals.push_back(s);
  }
  // Wiring, once every output is known.
  std::size_t index = 0;
  for (const Signal& s : config.signals) {
    const toml::table& t = *(*signals)[index++].as_table();
    if (s.wired_to.empty()) continue;
    const Signal* out = nullptr;
    for (const Signal& o : config.signals) out = o.name == s.wired_to ? &o : out;
    if (out == nullptr || IsInput(out->kind) || IsDigital(out->kind) != IsDigital(s.kind))
      return r.Fail(t.get("wired_to")->source(),
                    "signal '" + s.name + "' must be wired to an output of the same family");
  }
  return true;
}

bool ReadParameters(Reader& r, const toml::table& root, PlatformConfig& config) {
  const toml::node* node = root.get("parameters");
  if (node == nullptr) return true;
  const toml::table* t = node->as_table();
  if (t == nullptr) return r.Fail(node->source(), "'parameters' must be a table");
  for (auto&& [key, value] : *t) {
    std::int32_t number = 0;
    std::string_view text = key.str();
    auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), number);
    if (ec != std::errc() || end != text.data() + text.size())
      return r.Fail(key.source(), "parameter '" + std::string(text) + "' is not a 32-bit number");
    if (!r.Number(&value, text, &config.parameters[number])) return false;
  }
  return true;
}

bool ReadScenarios(Reader& r, const toml::table& root, PlatformConfig& config) {
  const toml::node* node = root.get("scenarios");
  if (node == nullptr) return true;
  const toml::table* all = node->as_table();
  if (all == nullptr) return r.Fail(node->source(), "'scenarios' must be a table");
  for (auto&& [key, value] : *all) {
    std::string what = "scenario '" + std::string(key.str()) + "'";
    const toml::table* t = value.as_table();
    if (t == nullptr) return r.Fail(value.source(), what + " must be a table");
    Scenario s;
    s.name = std::string(key.str());
    std::string start = "ok";
    std::int64_t latency = 0;
    std::int64_t drop = 0;
    if (!r.OnlyKeys(*t, {"start", "missing_modules", "latency_ms", "drop_link_after"}, what) ||
        !r.String(*t, "start", &start) || !r.Integer(*t, "latency_ms", 0, 10000, &latency) ||
        !r.Integer(*t, "drop_link_after", 0, std::numeric_limits<int>::max(), &drop))
      return false;
    const StartName* named = std::ranges::find(kStartNames, start, &StartName::first);
    if (named == std::end(kStartNames))
      return r.Fail(t->get("start")->source(),
                    what + ": start must be ok, config-error, socket-error or unreachable");
    if (const toml::node* missing = t->get("missing_modules")) {
      const toml::array* a = missing->as_array();
      if (a == nullptr) return r.Fail(missing->source(), "'missing_modules' must be a list");
      for (const toml::node& m : *a) {
        std::optional<std::int64_t> n = m.is_integer() ? m.value<std::int64_t>() : std::nullopt;
        if (!n || *n < kFirstModule || *n > kLastModule)
          return r.Fail(m.source(), what + ": missing modules are numbers from 1 to 15");
        s.missing_modules.push_back(static_cast<int>(*n));
      }
    }
    s.start = named->second;
    s.latency_ms = static_cast<int>(latency);
    s.drop_link_after = static_cast<int>(drop);
    config.scenarios.push_back(s);
  }
  return true;
}

// The line of the first byte outside ASCII, after a byte-order mark if the
// text opens with one (toml++ skips it). toml++ 3.3.0 asks of such
// characters outside strings and comments whether they are white space,
// and for many, U+00A1 to U+0499 among them, that is undefined behaviour.
// Telling where strings and comments lie would take a second TOML reader,
// so the file must be ASCII throughout.
std::optional<int> FirstLineOutsideAscii(std::string_view text) {
  if (text.starts_with("\xEF\xBB\xBF")) text.remove_prefix(3);
  const std::string_view::iterator outside =
      std::ranges::find_if(text, [](char c) { return static_cast<unsigned char>(c) >= 0x80; });
  if (outside == text.end()) return std::nullopt;
  return 1 + static_cast<int>(std::count(text.begin(), outside, '\n'));
}

// A file with `emulator` points at varno-sim, whose own configuration holds
// the platform: it may hold nothing else.
bool ReadEmulatorPointer(Reader& r, const toml::table& root, PlatformConfig c,
                         PlatformConfig* config, std::string* error) {
  if (r.OnlyKeys(root, {"emulator"},
                 "a file that names an emulator (the platform is the emulator's)") &&
      r.String(root, "emulator", &c.emulator) && !ParseEndpoint(c.emulator))
    r.Fail(root.get("emulator")->source(),
           "'emulator' must be ADDR:PORT, a numeric IPv4 address and a port");
  if (!r.ok()) {
    *error = r.error();
    return false;
  }
  *config = std::move(c);
  return true;
}

}  // namespace

bool ParseConfig(std::string_view text, const std::string& source, PlatformConfig* config,
                 std::string* error) {
  if (const std::optional<int> line = FirstLineOutsideAscii(text)) {
    *error = source + ":" + std::to_string(*line) + ": only ASCII characters are accepted";
    return false;
  }
  toml::parse_result parsed = toml::parse(text, source);
  if (!parsed) {
    *error = source + ":" + std::to_string(parsed.error().source().begin.line) + ": " +
             std::string(parsed.error().description());
    return false;
  }
  const toml::table& root = parsed.table();
  Reader r(source);
  PlatformConfig c;
  c.source = source;
  if (root.contains("emulator")) return ReadEmulatorPointer(r, root, c, config, error);
  auto seed = static_cast<std::int64_t>(c.seed);
  bool read = r.OnlyKeys(root, {"seed", "scenario", "module", "signal", "parameters", "scenarios"},
                         "the file") &&
              r.Integer(root, "seed", 0, std::numeric_limits<std::int64_t>::max(), &seed) &&
              r.String(root, "scenario", &c.scenario) && ReadModules(r, root, c) &&
              ReadSignals(r, root, c) && ReadParameters(r, root, c) && ReadScenarios(r, root, c);
  // "normal" always exists, so an unknown name was written in the file.
  if (read && FindScenario(c, c.scenario) == nullptr)
    r.Fail(root.get("scenario")->source(), "unknown scenario '" + c.scenario + "'");
  if (!r.ok()) {
    *error = r.error();
    return false;
  }
  c.seed = static_cast<std::uint64_t>(seed);
  *config = std::move(c);
  return true;
}

bool LoadConfigFile(const std::string& path, PlatformConfig* config, std::string* error) {
  std::ifstream file(path, std::ios::binary);
  if (!file) {
    *error = path + ": cannot open the file";
    return false;
  }
  std::ostringstream text;
  text << file.rdbuf();
  return ParseConfig(text.str(), path, config, error);
}

}  // namespace varno::sim
