// A soak of the real tool: varno-diag runs in a pseudo-terminal against the
// recording test driver and is fed random keys for a bounded time, session
// after session. Each session's journal and exit are checked: every name
// passed has at most 49 characters; every value set, calibrated or sent as a
// command was typed; close_ZUNVarno comes once and last; the tool exits with
// status 1 and leaves the terminal's settings as they were; no sanitizer
// report. The seed printed first replays the same keys.
//
//   varno_soak [--seed N] [--seconds S]
#include <termios.h>

#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "pty_session.h"

namespace varno::soak {
namespace {

using Clock = std::chrono::steady_clock;
using Rng = std::mt19937_64;
using e2e::Launch;
using e2e::PtySession;

// What the driver answers, including what no platform should: NaN and
// infinite readings, every status bit, the most negative calibration result.
constexpr char kScript[] =
    "getValue_ZUNVarno = 1, nan, -inf, 3.5\n"
    "getValue_ZUNVarno.delay_ms = 1\n"
    "getAIValueForCalibration_ZUNVarno = 7.25, inf, -nan\n"
    "getAIValueForCalibration_ZUNVarno.delay_ms = 1\n"
    "setValue_ZUNVarno = 1, 0, 255\n"
    "setCalibration_ZUNVarno = 0, -3, -2147483648\n"
    "getStatus_ZUNVarno = 4294967295\n"
    "MP_getParameter = nan, 75\n";

// How long the tool may take to read what was typed.
constexpr std::chrono::seconds kReadTimeout{10};
// Twice the key decoder's wait for the rest of an escape sequence: an ESC
// followed by nothing for this long has been read as the Escape key.
constexpr std::chrono::milliseconds kEscapeAlone{100};
// How long an interrupted tool may take to leave.
constexpr std::chrono::seconds kInterruptTimeout{2};
constexpr std::size_t kLongestName = 49;

// One burst of typing, written to the terminal at once. `edits` is what it
// does to a line being typed: characters kept, '\b' erases, '\n' ends it.
struct Action {
  enum class Then {
    kNothing,
    // It may leave the key decoder waiting for more bytes, or ready to
    // swallow the rest of a broken sequence: a key that ends either follows,
    // so that the next burst is read alike whether or not it arrives in time.
    kGuard,
    // A lone Escape: the guard follows after kEscapeAlone, or once the tool
    // has left.
    kEscape,
    // Ctrl-C: where it interrupts, nothing follows until the tool has left,
    // since a second interrupt while it leaves ends it at once, unclosed.
    kInterrupt,
  };
  std::string bytes;
  std::string edits;
  int keys = 1;
  Then then = Then::kNothing;
};

int Uniform(Rng& rng, int low, int high) {
  return std::uniform_int_distribution<int>(low, high)(rng);
}

template <std::size_t N>
std::string Pick(Rng& rng, const char* const (&list)[N]) {
  return list[Uniform(rng, 0, static_cast<int>(N) - 1)];
}

// Printable ASCII but '0'.
char Printable(Rng& rng) {
  const char c = static_cast<char>(Uniform(rng, 0x20, 0x7E));
  return c == '0' ? '9' : c;
}

Action Typed(const std::string& text) { return {text, text, static_cast<int>(text.size())}; }

Action Line(const std::string& text) {
  Action action = Typed(text + "\r");
  action.edits.back() = '\n';
  return action;
}

// Arrows, Home, End, F1, F5, Ctrl+Up, the Linux console's F1, Delete, a
// paste bracket, Shift+Tab, Alt+x and Alt+5.
constexpr const char* kSequences[] = {"\x1b[A",  "\x1b[B",    "\x1b[C",   "\x1b[D",    "\x1b[H",
                                      "\x1b[F",  "\x1bOP",    "\x1b[15~", "\x1b[1;5A", "\x1b[[A",
                                      "\x1b[3~", "\x1b[200~", "\x1b[Z",   "\x1bx",     "\x1b\x35"};
constexpr const char* kBrokenSequences[] = {"\x1b[", "\x1b[12", "\x1bO", "\x1b[1;"};
// Nothing typed reads as zero, so that a zero passed on is a value nobody
// typed (the one a variable holds before its first read).
constexpr const char* kNumbers[] = {"7.5",    "-3",         "1e3",         "15e-1", "42",
                                    "-5",     "2147483647", "-2147483648", "1 2",   "+.5",
                                    "3.4e38", "1e-40",      "-.25e1"};
constexpr const char* kNotNumbers[] = {"abc",     "nan",        "inf",        "-Infinity",
                                       "1e39",    "2147483648", "-",          ".",
                                       "NAN(12)", "e5",         "99999999999"};
constexpr const char* kNames[] = {
    "DO_1", "DI_1", "AI_1", "AO_2", "X", "N123456789123456789123456789123456789123456789123"};

// The keys an operator, or a cat on the keyboard, might press; weighted.
struct Weighted {
  int weight;
  Action (*make)(Rng&);
};
const Action kEscape{"\x1b", "", 1, Action::Then::kEscape};

const Weighted kActions[] = {
    {24, [](Rng& r) { return Typed(std::string(1, static_cast<char>('1' + Uniform(r, 0, 7)))); }},
    {12, [](Rng& r) { return Line(Uniform(r, 0, 3) ? "" : "\n"); }},
    {8, [](Rng&) { return kEscape; }},
    // Alt+x and Alt+5 leave their character in a line, where the ESC before
    // it is Escape, which does nothing.
    {8,
     [](Rng& r) {
       const std::string bytes = Pick(r, kSequences);
       return Action{bytes, bytes.size() == 2 ? bytes.substr(1) : ""};
     }},
    // So does what follows the ESC of a broken sequence.
    {2,
     [](Rng& r) {
       const std::string bytes = Pick(r, kBrokenSequences);
       return Action{bytes, bytes.substr(1), 1, Action::Then::kGuard};
     }},
    {10,
     [](Rng& r) {
       return Uniform(r, 0, 2) ? Line(Pick(r, kNumbers))
                               : Typed(Pick(r, kNumbers) + std::string(" "));
     }},
    {5, [](Rng& r) { return Line(Pick(r, kNotNumbers)); }},
    {6, [](Rng& r) { return Line(Pick(r, kNames)); }},
    {3,
     [](Rng& r) {
       std::string text(Uniform(r, 50, 300), ' ');
       for (char& c : text) c = Printable(r);
       return Line(text);
     }},
    // Bytes beyond ASCII, kept in a line as typed; none starts a UTF-8
    // character, so that Backspace erases one byte of them at a time.
    {4,
     [](Rng& r) {
       std::string bytes(Uniform(r, 1, 4), ' ');
       for (char& c : bytes)
         c = static_cast<char>(Uniform(r, 0, 1) ? Uniform(r, 0x80, 0xC1) : Uniform(r, 0xF5, 0xFF));
       return Action{bytes, bytes, static_cast<int>(bytes.size())};
     }},
    {4,
     [](Rng& r) {
       return Action{Uniform(r, 0, 1) ? "\x7f" : "\b", "\b"};
     }},
    {4, [](Rng& r) { return Typed(std::string(1, Printable(r))); }},
    // Control keys that are plain keys to the tool (not Ctrl-C, Backspace,
    // Enter, Escape, nor Ctrl-Z, which would stop it), kept in a line.
    {2,
     [](Rng& r) {
       char c = static_cast<char>(Uniform(r, 1, 0x1F));
       if (std::strchr("\x03\x08\x0a\x0d\x1a\x1b", c)) c = 0x01;
       return Action{std::string(1, c), std::string(1, c)};
     }},
    {1,
     [](Rng&) {
       return Action{"\x03", "", 1, Action::Then::kInterrupt};
     }},
};

Action NextAction(Rng& rng) {
  int total = 0;
  for (const Weighted& w : kActions) total += w.weight;
  int pick = Uniform(rng, 1, total);
  for (const Weighted& w : kActions) {
    if ((pick -= w.weight) <= 0) return w.make(rng);
  }
  return kActions[0].make(rng);
}

// Ctrl-A: nothing at the menu or in a live reading, a character kept in a
// line at a prompt, and a plain key wherever a key is awaited. It never
// continues an escape sequence, so it ends one that a pause broke off.
const Action kGuard{"\x01", "\x01"};

// Every number that a number prompt could have read from what was typed: a
// prompt reads from some point of a line on, as the line editor kept it.
class TypedNumbers {
 public:
  void Apply(const std::string& edits) {
    for (char c : edits) {
      if (c == '\b') {
        if (!line_.empty()) line_.pop_back();
      } else if (c == '\n') {
        for (std::size_t i = 0; i < line_.size(); ++i) Add(line_.c_str() + i);
        line_.clear();
      } else {
        line_ += c;
      }
    }
  }
  bool HasFloat(float value) const { return floats_.contains(Bits(value)); }
  bool HasInt(long value) const { return ints_.contains(value); }

 private:
  static std::uint32_t Bits(float value) {
    std::uint32_t bits;
    std::memcpy(&bits, &value, sizeof bits);
    return bits;
  }
  void Add(const char* text) {
    char* end = nullptr;
    const float real = std::strtof(text, &end);
    if (end != text && std::isfinite(real)) floats_.insert(Bits(real));
    errno = 0;
    const long whole = std::strtol(text, &end, 10);
    if (end != text && errno == 0) ints_.insert(whole);
  }

  std::string line_;
  std::set<std::uint32_t> floats_;
  std::set<long> ints_;
};

bool InKeyRead(const termios& t) {
  return (t.c_lflag & ISIG) == 0 || t.c_cc[VINTR] == _POSIX_VDISABLE;
}

// One journal line, `entry(arguments) -> result`, taken apart.
struct Call {
  std::string entry;
  std::string name;                  // the quoted argument, unescaped
  std::vector<std::string> numbers;  // the other arguments
};

Call ParseCall(const std::string& line) {
  Call call;
  const std::size_t open = line.find('(');
  const std::size_t close = line.rfind(')');
  call.entry = line.substr(0, open);
  if (open == std::string::npos || close == std::string::npos) return call;
  std::string args = line.substr(open + 1, close - open - 1);
  std::size_t i = 0;
  if (!args.empty() && args[0] == '"') {
    for (i = 1; i < args.size() && args[i] != '"'; ++i) {
      if (args[i] == '\\' && i + 1 < args.size() && args[i + 1] == 'x') {
        call.name += static_cast<char>(std::stoi(args.substr(i + 2, 2), nullptr, 16));
        i += 3;
      } else {
        if (args[i] == '\\') ++i;
        call.name += args[i];
      }
    }
    i += 2;  // the closing quote and the comma
  }
  std::stringstream rest(i < args.size() ? args.substr(i) : "");
  for (std::string number; std::getline(rest, number, ',');) call.numbers.push_back(number);
  return call;
}

class Soak {
 public:
  Soak(std::uint64_t seed, int seconds, std::string logs)
      : rng_(seed), end_(Clock::now() + std::chrono::seconds(seconds)), logs_(std::move(logs)) {}

  void Run() {
    while (Clock::now() < end_) RunSession();
  }
  void Report(std::uint64_t seed) const {
    std::printf(
        "soak: %ld keys (%ld bytes) in %d sessions, %d ended by the "
        "final Escape; %ld driver calls; %d times Ctrl-C left the tool "
        "running; %zu findings\n",
        keys_, bytes_, sessions_, final_escapes_, calls_, kept_on_after_ctrl_c_, findings_.size());
    for (const std::string& f : findings_) std::printf("  FINDING %s\n", f.c_str());
    if (!findings_.empty())
      std::printf("replay with --seed %llu\n", static_cast<unsigned long long>(seed));
  }
  bool clean() const { return findings_.empty(); }

 private:
  void Find(const std::string& what) {
    findings_.push_back("session " + std::to_string(sessions_) + ", key " + std::to_string(keys_) +
                        ": " + what);
  }

  // Types the burst and waits until the tool has read it (or has left),
  // then does what the action says comes next.
  // Recurses once at most: the guard key is followed by nothing.
  void Send(PtySession& session, const Action& action) {  // NOLINT(misc-no-recursion)
    keys_ += action.keys;
    bytes_ += static_cast<long>(action.bytes.size());
    typed_.Apply(action.edits);
    session.Drain();
    const auto settings = session.Settings();
    const bool interrupts = settings && !InKeyRead(*settings);
    if (!session.Type(action.bytes)) return;
    auto gone = [&] { return !session.Running(); };
    if (!session.WaitFor(
            [&] {
              const auto queued = session.TypedNotRead();
              return gone() || !queued || *queued == 0;
            },
            kReadTimeout)) {
      Find("the tool read nothing for 10 s");
    }
    switch (action.then) {
      case Action::Then::kNothing: break;
      case Action::Then::kEscape:
        // Only time tells that the ESC has been read alone: output seen
        // meanwhile may still be the previous key's.
        session.WaitFor(gone, kEscapeAlone);
        [[fallthrough]];
      case Action::Then::kGuard: Send(session, kGuard); break;
      case Action::Then::kInterrupt:
        // Where Ctrl-C interrupts, the tool leaves at once. It is not a
        // finding when it does not: typed bytes reach the terminal's line
        // discipline a moment later, and a key read begun meanwhile takes
        // Ctrl-C as a key. Counted, since it can also be a real fault.
        if (interrupts && !session.WaitFor(
                              [&] {
                                const auto now = session.Settings();
                                return gone() || (now && InKeyRead(*now));
                              },
                              kInterruptTimeout)) {
          ++kept_on_after_ctrl_c_;
        }
        break;
    }
  }

  void RunSession() {
    ++sessions_;
    typed_ = TypedNumbers();
    PtySession session(Launch()
                           .Script(kScript)
                           .Env("ASAN_OPTIONS", "log_path=" + logs_ + "/asan:exitcode=23")
                           .Env("UBSAN_OPTIONS", "log_path=" + logs_ +
                                                     "/ubsan:exitcode=23:"
                                                     "print_stacktrace=1:halt_on_error=1"));
    if (!session.started() || !session.WaitForOutput("correctamente arrancada") ||
        !session.WaitForSettings(InKeyRead)) {
      Find("the tool did not start: " + session.error());
      return;
    }
    Send(session, Typed("k"));
    while (Clock::now() < end_ && session.Running()) {
      Send(session, NextAction(rng_));
      session.TakeOutput();  // the screen model keeps what matters
    }
    if (session.Running()) LeaveFromMenu(session);
    Check(session);
  }

  // Steers the tool back to its menu and presses Escape there.
  void LeaveFromMenu(PtySession& session) {
    auto at_menu = [&] {
      const auto settings = session.Settings();
      return settings && InKeyRead(*settings) &&
             session.ScreenRow(session.Cursor().first).find("Option>>>") != std::string::npos;
    };
    for (int step = 0; step < 30 && session.Running(); ++step) {
      if (session.WaitFor(at_menu, std::chrono::milliseconds(300))) {
        Send(session, Action{"\x1b", ""});  // nothing follows it
        ++final_escapes_;
        return;
      }
      const auto settings = session.Settings();
      if (settings && InKeyRead(*settings)) {
        Send(session, Typed("k"));  // a key wait after a result
      } else {
        // A live reading ends at Escape; a prompt ignores it and takes "x"
        // as a name or as no number, then soon shows the menu again.
        Send(session, kEscape);
        if (!at_menu()) Send(session, Line("x"));
      }
    }
    if (session.Running()) Find("could not reach the menu to leave");
  }

  void Check(PtySession& session) {
    const std::optional<e2e::ExitStatus> status = session.WaitForExit();
    if (status != 1)
      Find("exit status " + (status ? std::to_string(*status) : "none (still running)"));
    if (!session.SettingsRestored()) Find("terminal settings not restored");

    const std::vector<std::string> journal = session.JournalLines();
    calls_ += static_cast<long>(journal.size());
    int closes = 0;
    for (const std::string& line : journal) {
      const Call call = ParseCall(line);
      if (call.entry == "close_ZUNVarno") ++closes;
      if (call.name.size() > kLongestName) Find("name too long: " + line);
      if (call.entry == "setValue_ZUNVarno" || call.entry == "setCalibration_ZUNVarno") {
        const std::size_t values = call.entry == "setValue_ZUNVarno" ? 1 : 2;
        for (std::size_t i = 0; i < values && i < call.numbers.size(); ++i) {
          if (!typed_.HasFloat(std::strtof(call.numbers[i].c_str(), nullptr)))
            Find("value nobody typed: " + line);
        }
      }
      if (call.entry == "MP_sendCommand" && !call.numbers.empty() &&
          !typed_.HasInt(std::strtol(call.numbers[0].c_str(), nullptr, 10)))
        Find("command nobody typed: " + line);
    }
    if (closes != 1 || journal.empty() || journal.back() != "close_ZUNVarno()")
      Find("close_ZUNVarno called " + std::to_string(closes) +
           " times, last call: " + (journal.empty() ? "none" : journal.back()));
    CheckSanitizerLogs();
  }

  void CheckSanitizerLogs() {
    for (const auto& entry : std::filesystem::directory_iterator(logs_)) {
      std::ifstream log(entry.path());
      std::string first_lines;
      std::string line;
      for (int i = 0; i < 6 && std::getline(log, line); ++i) first_lines += "\n    " + line;
      Find("sanitizer report " + entry.path().filename().string() + first_lines);
      std::filesystem::remove(entry.path());
    }
  }

  Rng rng_;
  Clock::time_point end_;
  std::string logs_;
  TypedNumbers typed_;
  long keys_ = 0, bytes_ = 0, calls_ = 0;
  int sessions_ = 0, final_escapes_ = 0, kept_on_after_ctrl_c_ = 0;
  std::vector<std::string> findings_;
};

}  // namespace
}  // namespace varno::soak

int main(int argc, char** argv) {
  std::uint64_t seed = std::random_device()();
  int seconds = 30;
  for (int i = 1; i + 1 < argc; i += 2) {
    const std::string option = argv[i];
    if (option == "--seed") {
      seed = std::strtoull(argv[i + 1], nullptr, 10);
    } else if (option == "--seconds") {
      seconds = static_cast<int>(std::strtol(argv[i + 1], nullptr, 10));
    } else {
      std::fprintf(stderr, "usage: %s [--seed N] [--seconds S]\n", argv[0]);
      return 2;
    }
  }
  std::printf("soak: seed %llu, %d s (replay: --seed %llu --seconds %d)\n",
              static_cast<unsigned long long>(seed), seconds, static_cast<unsigned long long>(seed),
              seconds);
  std::fflush(stdout);

  std::string logs = (std::filesystem::temp_directory_path() / "varno-soak-XXXXXX").string();
  if (mkdtemp(logs.data()) == nullptr) {
    std::perror("mkdtemp");
    return 2;
  }
  varno::soak::Soak soak(seed, seconds, logs);
  soak.Run();
  soak.Report(seed);
  std::filesystem::remove_all(logs);
  return soak.clean() ? 0 : 1;
}
