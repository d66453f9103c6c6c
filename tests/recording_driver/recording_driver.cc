// A stand-in for the platform's host driver library, for tests.
//
// VARNO_TEST_JOURNAL names a file to which every call is appended as one
// line, e.g. `setValue_ZUNVarno("DO_1",7.5) -> 1`, written and flushed when
// the call begins so that a test can see a call that is still in progress.
// VARNO_TEST_SCRIPT names a file of `name = value` lines giving the results
// (a comma-separated list is returned in turn, its last value repeating) and
// `name.delay_ms = N` lines that make a call sleep after journaling, and
// `name.fault = F[, F...]` lines that make it misbehave after that, in turn.
// F is segv, abort, exit (exit(0)), nonblock (leaves standard output
// non-blocking), log (writes a line to standard error, as a library's debug
// output does), and on POSIX: raw or cooked (sets standard input's terminal
// to cfmakeraw's modes, or to canonical mode with echo), close_stdio (closes
// standard input and output and opens /dev/null, which takes both), signals
// (SIGSEGV and SIGPIPE to their defaults, SIGINT ignored, every signal
// blocked, the alternate stack off), alarm (alarm(1)), thread_segv (a thread
// that crashes), pthread_exit, quick_exit (quick_exit(7)).
// The name `load` stands for the library's loading: it is journaled as
// `load()` when the script names it. Without a script: both starts return 1, setValue_ZUNVarno 1,
// all else 0. Only this library reads these variables. It is not thread-safe.
#include <cerrno>
#include <cfloat>
#include <chrono>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "driver/driver_api.h"

#if defined(_WIN32)
#include <windows.h>
#else
#include <fcntl.h>
#include <pthread.h>
#include <termios.h>
#include <unistd.h>
#endif

#define VARNO_EXPORT extern "C" __attribute__((visibility("default")))

namespace {

enum class Kind { kInteger, kFloat, kNoResult };

// A scripted result, read as the entry's kind of number.
struct Value {
  long long integer = 0;
  double real = 0;
};

struct Entry {
  const char* name;
  Kind kind;
  long long fallback;  // the result when the script gives none
};

constexpr Entry kEntries[] = {
    {"start_ZUNVarno", Kind::kInteger, 1},
    {"start_ZUNVarno2", Kind::kInteger, 1},
    {"getValue_ZUNVarno", Kind::kFloat, 0},
    {"setValue_ZUNVarno", Kind::kInteger, 1},
    {"getAIValueForCalibration_ZUNVarno", Kind::kFloat, 0},
    {"close_ZUNVarno", Kind::kNoResult, 0},
    {"setCalibration_ZUNVarno", Kind::kInteger, 0},
    {"getStatus_ZUNVarno", Kind::kInteger, 0},
    {"MP_getParameter", Kind::kFloat, 0},
    {"MP_updateDynamicParameters", Kind::kNoResult, 0},
    {"MP_sendCommand", Kind::kNoResult, 0},
};

const Entry* FindEntry(const std::string& name) {
  for (const Entry& entry : kEntries) {
    if (name == entry.name) return &entry;
  }
  return nullptr;
}

std::string Trim(const std::string& text) {
  const char* blanks = " \t\r\n";
  size_t first = text.find_first_not_of(blanks);
  if (first == std::string::npos) return "";
  return text.substr(first, text.find_last_not_of(blanks) - first + 1);
}

// Parses a whole token as a number of `kind`; false when anything is left.
bool ParseNumber(const std::string& token, Kind kind, Value* value) {
  if (token.empty()) return false;
  char* end = nullptr;
  errno = 0;
  if (kind == Kind::kFloat) {
    value->real = std::strtod(token.c_str(), &end);
  } else {
    value->integer = std::strtoll(token.c_str(), &end, 10);
    if (errno == ERANGE) return false;
  }
  return *end == '\0';
}

enum class Fault {
  kSegv,
  kAbort,
  kExit,
  kNonBlock,
  kLog,
  kRaw,
  kCooked,
  kCloseStdio,
  kSignals,
  kAlarm,
  kThreadSegv,
  kPthreadExit,
  kQuickExit,
};

struct Script {
  std::map<std::string, std::vector<Value>> results;
  std::map<std::string, long> delays_ms;
  std::map<std::string, std::vector<Fault>> faults;
  std::map<std::string, size_t> calls;
};

// Fails as a bad memory access does. On Windows that is an exception, which
// the C runtime's raise(SIGSEGV) would not give: it ends the process at once.
void Crash() {
#if defined(_WIN32)
  RaiseException(EXCEPTION_ACCESS_VIOLATION, EXCEPTION_NONCONTINUABLE, 0, nullptr);
#else
  std::raise(SIGSEGV);
#endif
}

// An entry's name, or `load`.
bool IsScriptable(const std::string& name) { return name == "load" || FindEntry(name) != nullptr; }

// A comma-separated list of faults.
bool ParseFaults(const std::string& text, std::vector<Fault>* faults) {
  const std::map<std::string, Fault> kFaults = {{"segv", Fault::kSegv},
                                                {"abort", Fault::kAbort},
                                                {"exit", Fault::kExit},
                                                {"nonblock", Fault::kNonBlock},
                                                {"log", Fault::kLog},
                                                {"raw", Fault::kRaw},
                                                {"cooked", Fault::kCooked},
                                                {"close_stdio", Fault::kCloseStdio},
                                                {"signals", Fault::kSignals},
                                                {"alarm", Fault::kAlarm},
                                                {"thread_segv", Fault::kThreadSegv},
                                                {"pthread_exit", Fault::kPthreadExit},
                                                {"quick_exit", Fault::kQuickExit}};
  faults->clear();
  for (size_t start = 0; start <= text.size();) {
    size_t comma = text.find(',', start);
    if (comma == std::string::npos) comma = text.size();
    const auto found = kFaults.find(Trim(text.substr(start, comma - start)));
    if (found == kFaults.end()) return false;
    faults->push_back(found->second);
    start = comma + 1;
  }
  return true;
}

// Splits `name` = "entry.suffix"; false when it does not end so.
bool TakeSuffix(std::string* name, const std::string& suffix) {
  if (name->size() <= suffix.size() ||
      name->compare(name->size() - suffix.size(), suffix.size(), suffix) != 0) {
    return false;
  }
  name->resize(name->size() - suffix.size());
  return true;
}

void ReportMalformed(const char* path, int number, const std::string& line) {
  std::fprintf(stderr, "recording driver: %s line %d ignored: %s\n", path, number, line.c_str());
}

// Reads one `name = value[, value...]` or `name.delay_ms = N` line into
// `script`; false when the line means nothing.
bool ParseScriptLine(const std::string& line, Script* script) {
  size_t equals = line.find('=');
  if (equals == std::string::npos) return false;
  std::string name = Trim(line.substr(0, equals));
  std::string rest = line.substr(equals + 1);

  if (TakeSuffix(&name, ".delay_ms")) {
    Value delay;
    if (!IsScriptable(name) || !ParseNumber(Trim(rest), Kind::kInteger, &delay) ||
        delay.integer < 0) {
      return false;
    }
    script->delays_ms[name] = static_cast<long>(delay.integer);
    return true;
  }
  if (TakeSuffix(&name, ".fault")) {
    return IsScriptable(name) && ParseFaults(Trim(rest), &script->faults[name]);
  }

  const Entry* entry = FindEntry(name);
  if (entry == nullptr || entry->kind == Kind::kNoResult) return false;
  std::vector<Value> values;
  size_t start = 0;
  while (true) {
    size_t comma = rest.find(',', start);
    Value value;
    if (!ParseNumber(Trim(rest.substr(start, comma - start)), entry->kind, &value)) {
      return false;
    }
    values.push_back(value);
    if (comma == std::string::npos) break;
    start = comma + 1;
  }
  script->results[name] = values;
  return true;
}

Script LoadScript() {
  Script script;
  const char* path = std::getenv("VARNO_TEST_SCRIPT");
  if (path == nullptr || *path == '\0') return script;
  FILE* file = std::fopen(path, "r");
  if (file == nullptr) {
    std::fprintf(stderr, "recording driver: cannot read %s\n", path);
    return script;
  }
  std::string line;
  int number = 0;
  for (int c = 0; c != EOF;) {
    c = std::fgetc(file);
    if (c != '\n' && c != EOF) {
      line.push_back(static_cast<char>(c));
      continue;
    }
    ++number;
    std::string text = Trim(line.substr(0, line.find('#')));
    if (!text.empty() && !ParseScriptLine(text, &script)) {
      ReportMalformed(path, number, line);
    }
    line.clear();
  }
  std::fclose(file);
  return script;
}

Script& TheScript() {
  static Script script = LoadScript();
  return script;
}

// The next scripted result of `name`, or its default.
Value NextResult(const char* name) {
  Script& script = TheScript();
  size_t call = script.calls[name]++;
  auto found = script.results.find(name);
  if (found == script.results.end()) {
    long long fallback = FindEntry(name)->fallback;
    return {fallback, static_cast<double>(fallback)};
  }
  const std::vector<Value>& values = found->second;
  return values[call < values.size() ? call : values.size() - 1];
}

// Integers wrap to the result type as the platform's would.
template <typename T>
T NextInteger(const char* name) {
  return static_cast<T>(NextResult(name).integer);
}

// A scripted value beyond float's range becomes an infinity rather than
// undefined behaviour.
float NextFloat(const char* name) {
  double real = NextResult(name).real;
  if (real > FLT_MAX) return INFINITY;
  if (real < -FLT_MAX) return -INFINITY;
  return static_cast<float>(real);
}

std::string Quote(const char* text) {
  if (text == nullptr) return "null";
  std::string quoted = "\"";
  for (const char* p = text; *p != '\0'; ++p) {
    const auto byte = static_cast<unsigned char>(*p);
    if (byte == '\\' || byte == '"') {
      quoted += '\\';
      quoted += static_cast<char>(byte);
    } else if (byte >= 0x20 && byte < 0x7f) {
      quoted += static_cast<char>(byte);
    } else {
      char escape[8];
      std::snprintf(escape, sizeof escape, "\\x%02x", byte);
      quoted += escape;
    }
  }
  return quoted + "\"";
}

std::string Float(float value) {
  char text[64];
  std::snprintf(text, sizeof text, "%.9g", static_cast<double>(value));
  return text;
}

std::string Integer(long long value) { return std::to_string(value); }

#if defined(_WIN32)
void SetOutputNonBlocking() {}
void Misbehave(Fault /*fault*/) {}
#else
void SetOutputNonBlocking() {
  fcntl(STDOUT_FILENO, F_SETFL, fcntl(STDOUT_FILENO, F_GETFL) | O_NONBLOCK);
}

// The POSIX faults, as libraries commit them.
void Misbehave(Fault fault) {
  termios modes{};
  switch (fault) {
    case Fault::kRaw:
    case Fault::kCooked:
      if (tcgetattr(STDIN_FILENO, &modes) != 0) return;
      if (fault == Fault::kRaw) {
        cfmakeraw(&modes);
      } else {
        modes.c_iflag |= ICRNL;
        modes.c_lflag |= ICANON | ECHO | ISIG;
      }
      tcsetattr(STDIN_FILENO, TCSANOW, &modes);
      return;
    case Fault::kCloseStdio:
      close(STDIN_FILENO);
      close(STDOUT_FILENO);
      open("/dev/null", O_RDWR);
      open("/dev/null", O_RDWR);
      return;
    case Fault::kSignals: {
      signal(SIGSEGV, SIG_DFL);
      signal(SIGPIPE, SIG_DFL);
      signal(SIGINT, SIG_IGN);
      sigset_t all;
      sigfillset(&all);
      pthread_sigmask(SIG_BLOCK, &all, nullptr);
      stack_t off{};
      off.ss_flags = SS_DISABLE;
      sigaltstack(&off, nullptr);
      return;
    }
    case Fault::kAlarm: alarm(1); return;
    case Fault::kThreadSegv: std::thread(Crash).detach(); return;
    case Fault::kPthreadExit: pthread_exit(nullptr);
    case Fault::kQuickExit: std::quick_exit(7);
    default: return;
  }
}
#endif

// Appends one line to the journal, then sleeps for the call's scripted delay.
void Record(const char* name, const std::string& arguments, const std::string& result) {
  const char* path = std::getenv("VARNO_TEST_JOURNAL");
  if (path != nullptr && *path != '\0') {
    if (FILE* file = std::fopen(path, "a")) {
      std::string line = std::string(name) + "(" + arguments + ")";
      if (!result.empty()) line += " -> " + result;
      line += "\n";
      std::fputs(line.c_str(), file);
      std::fclose(file);
    }
  }
  auto delay = TheScript().delays_ms.find(name);
  if (delay != TheScript().delays_ms.end() && delay->second > 0) {
    std::this_thread::sleep_for(std::chrono::milliseconds(delay->second));
  }
  const auto faults = TheScript().faults.find(name);
  if (faults == TheScript().faults.end()) return;
  for (const Fault fault : faults->second) {
    switch (fault) {
      case Fault::kSegv: Crash(); break;
      case Fault::kAbort: std::abort();
      case Fault::kExit: std::exit(0);
      case Fault::kNonBlock: SetOutputNonBlocking(); break;
      case Fault::kLog: std::fprintf(stderr, "recording driver: %s answered\n", name); break;
      default: Misbehave(fault); break;
    }
  }
}

// The library's loading, when the script names it.
[[maybe_unused]] const bool kLoaded = [] {
  const Script& script = TheScript();
  if (script.delays_ms.contains("load") || script.faults.contains("load")) Record("load", "", "");
  return true;
}();

}  // namespace

VARNO_EXPORT StartResult start_ZUNVarno() {
  auto result = NextInteger<StartResult>(__func__);
  Record(__func__, "", Integer(result));
  return result;
}

VARNO_EXPORT StartResult start_ZUNVarno2(const char* first, const char* second, const char* third) {
  auto result = NextInteger<StartResult>(__func__);
  Record(__func__, Quote(first) + "," + Quote(second) + "," + Quote(third), Integer(result));
  return result;
}

VARNO_EXPORT float getValue_ZUNVarno(const char* name) {
  float result = NextFloat(__func__);
  Record(__func__, Quote(name), Float(result));
  return result;
}

VARNO_EXPORT unsigned char setValue_ZUNVarno(const char* name, float value) {
  auto result = NextInteger<unsigned char>(__func__);
  Record(__func__, Quote(name) + "," + Float(value), Integer(result));
  return result;
}

VARNO_EXPORT float getAIValueForCalibration_ZUNVarno(const char* name) {
  float result = NextFloat(__func__);
  Record(__func__, Quote(name), Float(result));
  return result;
}

VARNO_EXPORT void close_ZUNVarno() { Record(__func__, "", ""); }

VARNO_EXPORT std::int32_t setCalibration_ZUNVarno(const char* name, float a, float b) {
  auto result = NextInteger<std::int32_t>(__func__);
  Record(__func__, Quote(name) + "," + Float(a) + "," + Float(b), Integer(result));
  return result;
}

#if !defined(VARNO_PARTIAL_DRIVER)
VARNO_EXPORT std::uint32_t getStatus_ZUNVarno() {
  // Both -1 and 4294967295 script the all-ones word.
  auto result = NextInteger<std::uint32_t>(__func__);
  Record(__func__, "", Integer(result));
  return result;
}
#endif

VARNO_EXPORT float MP_getParameter(std::int32_t number) {
  float result = NextFloat(__func__);
  Record(__func__, Integer(number), Float(result));
  return result;
}

VARNO_EXPORT void MP_updateDynamicParameters(float a, float b, float c, float d, float e) {
  Record(__func__, Float(a) + "," + Float(b) + "," + Float(c) + "," + Float(d) + "," + Float(e),
         "");
}

#if !defined(VARNO_PARTIAL_DRIVER)
VARNO_EXPORT void MP_sendCommand(std::int32_t command) { Record(__func__, Integer(command), ""); }
#else
// Declared for the type checks only: the partial driver does not export them.
extern "C" std::uint32_t getStatus_ZUNVarno();
extern "C" void MP_sendCommand(std::int32_t command);
#endif

#include "driver/export_checks.h"
