// Measures varno-diag and prints figures, section by section (kSections at
// the end; `varno_bench NAME...` runs only those named):
//  - live: the live reading's samples per second, counted by the driver's
//    getValue_ZUNVarno calls, and the bytes written to the terminal per
//    sample, for a value that changes with every call and for a constant
//    one; beside them the same loop clearing the screen with
//    system("clear"), and the bound (the driver call and one write of the
//    sample's bytes, nothing else), all in the same run;
//  - launch: the time from launch to the start message (median of many runs);
//  - memory: the peak resident memory of a whole session.
//  - emulator: the live reading of the simulated platform in the tool's
//    process beside the same through varno-sim (calls counted by the
//    journal), one call's round trip (median and 99th percentile), and
//    varno-sim's CPU while idle and while a live reading runs.
// The comparison loops are this program run again in a loop mode, on a
// pseudo-terminal of their own, loading the same counting driver library.
#include <dlfcn.h>
#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "console/terminal/screen_frame.h"
#include "driver/driver_api.h"
#include "driver/driver_binding.h"
#include "emulator_process.h"
#include "pty_session.h"

namespace {

using Clock = std::chrono::steady_clock;
using varno::e2e::Launch;
using varno::e2e::PtySession;

// The counting driver's signals: one that changes with every call, one that
// never does.
constexpr char kChangingSignal[] = "AI_1";
constexpr char kConstantSignal[] = "CONSTANT";
constexpr std::chrono::milliseconds kWarmUp{300};
constexpr std::chrono::milliseconds kWindow{2000};
constexpr int kLaunchRuns = 31;

constexpr char kSystemClearMode[] = "--system-clear-loop";
constexpr char kBoundMode[] = "--bound-loop";

// ------------------------------------------------------------ loop modes

// The driver library copied beside this program.
GetValueEntry LoadGetValue() {
  std::string self = std::filesystem::read_symlink("/proc/self/exe");
  std::string library = std::filesystem::path(self).parent_path() / VARNO_DRIVER_LIBRARY_NAME;
  void* handle = dlopen(library.c_str(), RTLD_NOW);
  if (handle == nullptr) {
    std::fprintf(stderr, "%s\n", dlerror());
    std::exit(2);
  }
  return reinterpret_cast<GetValueEntry>(dlsym(handle, "getValue_ZUNVarno"));
}

// The live reading as the console runtime would do it: print, then clear
// the screen by running the clear command.
[[noreturn]] void SystemClearLoop(GetValueEntry get_value) {
  for (;;) {
    float value = get_value(kChangingSignal);
    std::printf("\n %s -> %f", kChangingSignal, static_cast<double>(value));
    std::fflush(stdout);
    // The command processor is what this loop measures.
    if (std::system("clear") != 0) std::exit(2);  // NOLINT(cert-env33-c)
  }
}

// The least a live reading can do: the call, then one write of the bytes
// that erasing and writing the whole sample take.
[[noreturn]] void BoundLoop(GetValueEntry get_value) {
  char sample[128];
  for (;;) {
    float value = get_value(kChangingSignal);
    int length = std::snprintf(sample, sizeof sample, "\x1b[H\x1b[2J\x1b[3J\n %s -> %f",
                               kChangingSignal, static_cast<double>(value));
    if (write(STDOUT_FILENO, sample, static_cast<size_t>(length)) != length) {
      std::exit(2);
    }
  }
}

// ------------------------------------------------------------ measuring

bool Fail(const char* what) {
  std::fprintf(stderr, "varno_bench: %s\n", what);
  return false;
}

// The counting driver's shared count of getValue_ZUNVarno calls: a file of
// eight bytes, mapped here and in every process that loads the driver.
class CallCounter {
 public:
  CallCounter() : path_(std::filesystem::temp_directory_path() / "varno-bench-XXXXXX") {
    const int file = mkstemp(path_.data());
    if (file < 0) return;
    if (ftruncate(file, sizeof(std::uint64_t)) == 0) {
      void* shared =
          mmap(nullptr, sizeof(std::uint64_t), PROT_READ | PROT_WRITE, MAP_SHARED, file, 0);
      if (shared != MAP_FAILED) count_ = static_cast<std::uint64_t*>(shared);
    }
    close(file);
  }
  ~CallCounter() {
    if (count_ != nullptr) munmap(count_, sizeof(std::uint64_t));
    std::remove(path_.c_str());
  }
  CallCounter(const CallCounter&) = delete;
  CallCounter& operator=(const CallCounter&) = delete;

  bool ok() const { return count_ != nullptr; }
  // Not const: other processes add to the count.
  std::uint64_t Calls() {
    return std::atomic_ref<std::uint64_t>(*count_).load(std::memory_order_relaxed);
  }
  // A run whose driver adds to this count.
  Launch Counted() const {
    Launch launch;
    launch.driver = VARNO_COUNTING_DRIVER_PATH;
    launch.journal = false;
    launch.Env("VARNO_BENCH_COUNTER", path_);
    return launch;
  }

 private:
  std::string path_;
  std::uint64_t* count_ = nullptr;
};

struct LiveFigures {
  double samples_per_second = 0;
  double bytes_per_sample = 0;
};

// Drains the session's output for the window, the samples being the driver
// calls made meanwhile, then ends the run.
LiveFigures MeasureAndEnd(PtySession& session, CallCounter& counter) {
  session.StopScreen();
  session.WaitFor([] { return false; }, kWarmUp);
  session.TakeOutput();

  size_t bytes = 0;
  const std::uint64_t calls_before = counter.Calls();
  const Clock::time_point begin = Clock::now();
  const Clock::time_point end = begin + kWindow;
  session.WaitFor(
      [&] {
        bytes += session.TakeOutput().size();
        return Clock::now() >= end;
      },
      kWindow * 2);
  const std::uint64_t samples = counter.Calls() - calls_before;
  const std::chrono::duration<double> elapsed = Clock::now() - begin;
  LiveFigures figures;
  figures.samples_per_second = static_cast<double>(samples) / elapsed.count();
  if (samples > 0)
    figures.bytes_per_sample = static_cast<double>(bytes) / static_cast<double>(samples);
  session.Signal(SIGTERM);
  session.WaitForExit();
  return figures;
}

// Walks a started tool into READ INPUT of `signal`, up to its first sample.
bool StartLiveReading(PtySession& session, const char* signal) {
  if (!session.started()) return Fail(session.error().c_str());
  const std::string sample = std::string(" ") + signal + " -> ";
  if (!session.WaitForOutput("detectada...") || !session.Type("k") ||
      !session.WaitForOutput("Option>>> ") || !session.Type("1") ||
      !session.WaitForOutput("SIGNAL NAME? ") || !session.Type(std::string(signal) + "\r") ||
      !session.WaitForOutput(sample)) {
    return Fail("the tool did not reach its live reading");
  }
  return true;
}

LiveFigures ToolLiveReading(CallCounter& counter, const char* signal) {
  PtySession session(counter.Counted());
  if (!StartLiveReading(session, signal)) return {};
  return MeasureAndEnd(session, counter);
}

LiveFigures LoopLiveReading(CallCounter& counter, const char* mode) {
  Launch launch = counter.Counted();
  launch.tool = std::filesystem::read_symlink("/proc/self/exe");
  launch.args = {mode};
  PtySession loop(launch);
  if (!loop.started() || !loop.WaitForOutput(std::string(" ") + kChangingSignal + " -> ")) {
    Fail("a comparison loop did not start");
    return {};
  }
  return MeasureAndEnd(loop, counter);
}

void PrintLiveRow(const char* what, const LiveFigures& figures) {
  std::printf("  %-32s %12.0f %14.1f\n", what, figures.samples_per_second,
              figures.bytes_per_sample);
}

// The whole-sample repaint, which keeps lines others write from hiding the
// reading: a constant value's samples send nothing but it (a redraw by
// difference sends nothing for them), so their bytes are its cost.
void PrintRepaintCost(const LiveFigures& changing, const LiveFigures& constant) {
  std::printf(
      "  repaint (what follows the sample erased every %zu samples, the sample whole every 100 "
      "ms):\n",
      kTidyEvery);
  std::printf("    %.2f bytes/sample", constant.bytes_per_sample);
  if (changing.bytes_per_sample > 0)
    std::printf(" (%.0f %% of a changing value's)",
                100.0 * constant.bytes_per_sample / changing.bytes_per_sample);
  std::printf("\n");
}

void LiveReadingRate() {
  CallCounter counter;
  if (!counter.ok()) {
    Fail("cannot make the shared call count");
    return;
  }
  const LiveFigures changing = ToolLiveReading(counter, kChangingSignal);
  const LiveFigures constant = ToolLiveReading(counter, kConstantSignal);
  const LiveFigures system_clear = LoopLiveReading(counter, kSystemClearMode);
  const LiveFigures bound = LoopLiveReading(counter, kBoundMode);
  std::printf("Live reading over %.0f s each, samples counted by the driver's calls:\n",
              std::chrono::duration<double>(kWindow).count());
  std::printf("  %-32s %12s %14s\n", "", "samples/s", "bytes/sample");
  PrintLiveRow("varno-diag, a changing value", changing);
  PrintLiveRow("varno-diag, a constant value", constant);
  PrintLiveRow("same loop, system(\"clear\")", system_clear);
  PrintLiveRow("bound (call + one write)", bound);
  if (system_clear.samples_per_second > 0) {
    std::printf("  varno-diag / system(\"clear\")   %12.1f x  (target >= 100)\n",
                changing.samples_per_second / system_clear.samples_per_second);
  }
  if (changing.samples_per_second > 0) {
    std::printf("  bound / varno-diag               %12.2f x  (target <= 1.5)\n",
                bound.samples_per_second / changing.samples_per_second);
  }
  PrintRepaintCost(changing, constant);
}

void LaunchToStartMessage() {
  std::vector<double> times_ms;
  for (int run = 0; run < kLaunchRuns; ++run) {
    Launch launch;
    launch.journal = false;  // the driver answers at once
    PtySession session(launch);
    if (!session.started() || !session.WaitForOutput("detectada...")) {
      Fail("the tool did not start");
      return;
    }
    std::chrono::duration<double, std::milli> took = Clock::now() - session.start_time();
    times_ms.push_back(took.count());
    session.Signal(SIGTERM);
    session.WaitForExit();
  }
  std::sort(times_ms.begin(), times_ms.end());
  std::printf(
      "Launch to start message over %d runs: median %.2f ms (min %.2f, max "
      "%.2f)\n",
      kLaunchRuns, times_ms[times_ms.size() / 2], times_ms.front(), times_ms.back());
}

// A field of /proc/PID/status in KiB, or -1.
long StatusKiB(const std::string& pid, const std::string& field) {
  std::ifstream status("/proc/" + pid + "/status");
  std::string line;
  while (std::getline(status, line)) {
    if (line.rfind(field + ":", 0) == 0) {
      return std::strtol(line.c_str() + field.size() + 1, nullptr, 10);
    }
  }
  return -1;
}

void PeakMemory() {
  const long own_rss = StatusKiB("self", "VmRSS");
  PtySession session(Launch().Script("getStatus_ZUNVarno = 31"));
  // Start, GET STATUS, GET PARAMETER, SEND COMMAND, SET MOTION PARAMETERS,
  // SET OUTPUT, a moment of READ INPUT, then Escape.
  const char* const steps[][2] = {
      {"", "detectada..."},     {"k", "Option>>> "},
      {"5", "STATUS OF VARNO"}, {"k", "Option>>> "},
      {"6", "USER_WEIGHT"},     {"k", "Option>>> "},
      {"8", "comando: "},       {"42\r", "42"},
      {"k", "Option>>> "},      {"7", ""},
      {"k", "Option>>> "},      {"2", "SIGNAL NAME? "},
      {"DO_1\r", "VALUE"},      {"0.5\r", "SUCCESS"},
      {"k", "Option>>> "},      {"1", "SIGNAL NAME? "},
      {"DI_1\r", " DI_1 -> "},  {"\x1b", "Option>>> "},
  };
  for (const auto& [keys, shown] : steps) {
    const size_t from = session.Output().size();
    if (!session.Type(keys) || !session.WaitForOutput(shown, from)) {
      Fail(("the session did not show " + std::string(shown)).c_str());
      return;
    }
  }
  const long high_water = StatusKiB(std::to_string(session.pid()), "VmHWM");
  session.Press(varno::e2e::Key::kEscape);
  if (session.WaitForExit() != 1) {
    Fail("the session did not end with status 1");
    return;
  }
  std::printf("Peak resident memory of a session:\n");
  std::printf("  the tool's high-water mark before Escape  %6ld KiB\n", high_water);
  std::printf(
      "  wait4 ru_maxrss                           %6ld KiB  (may count "
      "the forked copy of this benchmark, %ld KiB resident, until exec)\n",
      session.PeakResidentKiB(), own_rss);
}

// ------------------------------------------------------------ varno-sim

using varno::sim::EmulatorProcess;

// A signal of the built-in simulated platform.
constexpr char kSimulatedSignal[] = "DI_1";

constexpr int kRoundTrips = 20000;

// User and system CPU seconds a process has used, from /proc/PID/stat.
double CpuSeconds(pid_t pid) {
  std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
  std::string text((std::istreambuf_iterator<char>(stat)), std::istreambuf_iterator<char>());
  const size_t after_name = text.rfind(')');
  if (after_name == std::string::npos) return 0;
  std::istringstream fields(text.substr(after_name + 2));
  std::string field;
  unsigned long long user = 0;
  unsigned long long system = 0;
  for (int i = 3; i <= 15 && fields >> field; ++i) {
    if (i == 14) user = std::stoull(field);
    if (i == 15) system = std::stoull(field);
  }
  return static_cast<double>(user + system) / static_cast<double>(sysconf(_SC_CLK_TCK));
}

// The lines of a journal file so far.
size_t JournalLines(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  return static_cast<size_t>(
      std::count(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>(), '\n'));
}

// Live reading samples a second, counted as the calls the library journals
// (a sample whose value did not change writes nothing to the terminal, so
// the output cannot count them), while `during` runs for the window.
double CallsPerSecond(PtySession& session, const std::string& journal,
                      const std::function<void()>& during) {
  session.StopScreen();
  session.WaitFor([] { return false; }, kWarmUp);
  const size_t before = JournalLines(journal);
  const Clock::time_point begin = Clock::now();
  during();
  std::chrono::duration<double> elapsed = Clock::now() - begin;
  return static_cast<double>(JournalLines(journal) - before) / elapsed.count();
}

// varno-sim's share of one core over the window, in percent; the session's
// output is drained meanwhile.
double CpuShare(pid_t pid, PtySession* session) {
  const double before = CpuSeconds(pid);
  const Clock::time_point begin = Clock::now();
  if (session != nullptr)
    session->WaitFor([] { return false; }, kWindow);
  else
    std::this_thread::sleep_for(kWindow);
  std::chrono::duration<double> elapsed = Clock::now() - begin;
  return 100.0 * (CpuSeconds(pid) - before) / elapsed.count();
}

// With the journal in memory (/dev/shm) for both, so that it costs alike.
double LiveReadingAgainstTheSimulator(const EmulatorProcess* emulator, double* emulator_cpu) {
  const std::string journal = "/dev/shm/varno_bench_journal_" + std::to_string(getpid());
  std::remove(journal.c_str());
  Launch launch;
  launch.journal = false;  // the simulated platform's own journal counts
  launch.Driver(VARNO_SIMULATOR_PATH).Env("VARNO_SIM_JOURNAL", journal);
  if (emulator != nullptr) launch.Env("VARNO_SIM_EMULATOR", emulator->platform());
  double rate = 0;
  {
    PtySession session(launch);
    if (!StartLiveReading(session, kSimulatedSignal)) return 0;
    rate = CallsPerSecond(session, journal, [&] {
      if (emulator != nullptr)
        *emulator_cpu = CpuShare(emulator->pid(), &session);
      else
        session.WaitFor([] { return false; }, kWindow);
    });
    session.Signal(SIGTERM);
    session.WaitForExit();
  }
  std::remove(journal.c_str());
  return rate;
}

// One getValue_ZUNVarno through the library in this process, timed alone.
void RoundTrips(const EmulatorProcess& emulator) {
  const DriverBinding binding = LoadAndBindDriver(VARNO_SIMULATOR_PATH);
  if (!binding.bound()) {
    Fail("the simulated platform's library did not load");
    return;
  }
  setenv("VARNO_SIM_EMULATOR", emulator.platform().c_str(), 1);
  if (binding.api.start_ZUNVarno() != kStartOk) {
    Fail("varno-sim did not start");
    return;
  }
  std::vector<double> micros;
  micros.reserve(kRoundTrips);
  for (int i = 0; i < kRoundTrips; ++i) {
    const Clock::time_point begin = Clock::now();
    binding.api.getValue_ZUNVarno(kSimulatedSignal);
    micros.push_back(std::chrono::duration<double, std::micro>(Clock::now() - begin).count());
  }
  binding.api.close_ZUNVarno();
  unsetenv("VARNO_SIM_EMULATOR");
  std::sort(micros.begin(), micros.end());
  std::printf("  round trip of one call over %d   p50 %.1f us, p99 %.1f us, max %.0f us\n",
              kRoundTrips, micros[micros.size() / 2], micros[micros.size() * 99 / 100],
              micros.back());
}

void EmulatorFigures() {
  EmulatorProcess emulator;
  if (!emulator.started()) {
    Fail(emulator.error().c_str());
    return;
  }
  const double idle = CpuShare(emulator.pid(), nullptr);
  double busy = 0;
  const double in_process = LiveReadingAgainstTheSimulator(nullptr, nullptr);
  const double remote = LiveReadingAgainstTheSimulator(&emulator, &busy);
  std::printf("Live reading of the simulated platform, calls per second over %.0f s:\n",
              std::chrono::duration<double>(kWindow).count());
  std::printf("  simulated platform in-process  %12.0f\n", in_process);
  std::printf("  the same through varno-sim     %12.0f\n", remote);
  RoundTrips(emulator);
  std::printf("  varno-sim CPU, idle            %11.1f %%\n", idle);
  std::printf("  varno-sim CPU, live reading    %11.1f %%\n", busy);
}

// Each section prints its own figures; another goes in as one more row.
struct Section {
  const char* name;
  void (*run)();
};
constexpr Section kSections[] = {
    {"live", LiveReadingRate},
    {"launch", LaunchToStartMessage},
    {"memory", PeakMemory},
    {"emulator", EmulatorFigures},
};

}  // namespace

// `varno_bench` runs every section; `varno_bench NAME...` those named.
int main(int argc, char** argv) {
  if (argc == 2 && std::strcmp(argv[1], kSystemClearMode) == 0) {
    SystemClearLoop(LoadGetValue());
  }
  if (argc == 2 && std::strcmp(argv[1], kBoundMode) == 0) {
    BoundLoop(LoadGetValue());
  }
  const std::vector<std::string_view> wanted(argv + 1, argv + argc);
  for (const std::string_view name : wanted) {
    if (std::none_of(std::begin(kSections), std::end(kSections),
                     [&](const Section& section) { return name == section.name; })) {
      std::fprintf(stderr, "varno_bench: no section %.*s\n", static_cast<int>(name.size()),
                   name.data());
      return 2;
    }
  }
  for (const Section& section : kSections) {
    if (wanted.empty() || std::find(wanted.begin(), wanted.end(), section.name) != wanted.end()) {
      section.run();
    }
  }
  return 0;
}
