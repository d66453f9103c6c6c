// Measures varno-diag against the recording test driver and prints figures:
//  - the live reading rate (READ INPUT samples per second, output drained
//    from a pseudo-terminal), beside the same loop clearing the screen with
//    system("clear") and beside its bound (the driver call and one write of
//    the sample's bytes, nothing else);
//  - the time from launch to the start message (median of many runs);
//  - the peak resident memory of a whole session.
// The comparison loops are this program run again in a loop mode, on a
// pseudo-terminal of their own, calling the same driver library.
#include <dlfcn.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <string_view>
#include <vector>

#include "driver/driver_api.h"
#include "pty_session.h"

namespace {

using Clock = std::chrono::steady_clock;
using varno::e2e::Launch;
using varno::e2e::PtySession;

constexpr char kSignalName[] = "DI_1";
// What marks one sample in every loop's output.
constexpr std::string_view kSampleMarker = " DI_1 -> ";
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
    float value = get_value(kSignalName);
    std::printf("\n %s -> %f", kSignalName, static_cast<double>(value));
    std::fflush(stdout);
    // The command processor is what this loop measures.
    if (std::system("clear") != 0) std::exit(2);  // NOLINT(cert-env33-c)
  }
}

// The least a live reading can do: the call, then one write of the bytes
// the tool writes per sample (the clear and the line).
[[noreturn]] void BoundLoop(GetValueEntry get_value) {
  char sample[128];
  for (;;) {
    float value = get_value(kSignalName);
    int length = std::snprintf(sample, sizeof sample, "\x1b[H\x1b[2J\x1b[3J\n %s -> %f",
                               kSignalName, static_cast<double>(value));
    if (write(STDOUT_FILENO, sample, static_cast<size_t>(length)) != length) {
      std::exit(2);
    }
  }
}

// ------------------------------------------------------------ measuring

// Drains the session's output for the window and counts the samples in it.
double SamplesPerSecond(PtySession& session) {
  session.StopScreen();
  session.WaitFor([] { return false; }, kWarmUp);
  session.TakeOutput();

  size_t samples = 0;
  std::string carry;  // a marker may straddle two reads
  const Clock::time_point begin = Clock::now();
  const Clock::time_point end = begin + kWindow;
  session.WaitFor(
      [&] {
        std::string chunk = carry + session.TakeOutput();
        for (size_t at = chunk.find(kSampleMarker); at != std::string::npos;
             at = chunk.find(kSampleMarker, at + kSampleMarker.size())) {
          ++samples;
        }
        size_t keep = std::min(chunk.size(), kSampleMarker.size() - 1);
        carry = chunk.substr(chunk.size() - keep);
        return Clock::now() >= end;
      },
      kWindow * 2);
  std::chrono::duration<double> elapsed = Clock::now() - begin;
  return static_cast<double>(samples) / elapsed.count();
}

Launch QuietLaunch() {
  Launch launch;
  launch.journal = false;  // the driver answers at once
  return launch;
}

bool Fail(const char* what) {
  std::fprintf(stderr, "varno_bench: %s\n", what);
  return false;
}

// Starts the tool and walks it into READ INPUT.
bool StartLiveReading(PtySession& session) {
  if (!session.started()) return Fail(session.error().c_str());
  if (!session.WaitForOutput("detectada...") || !session.Type("k") ||
      !session.WaitForOutput("Option>>> ") || !session.Type("1") ||
      !session.WaitForOutput("SIGNAL NAME? ") || !session.Type(std::string(kSignalName) + "\r") ||
      !session.WaitForOutput(kSampleMarker)) {
    return Fail("the tool did not reach its live reading");
  }
  return true;
}

double LoopRate(const char* mode) {
  Launch launch = QuietLaunch();
  launch.tool = std::filesystem::read_symlink("/proc/self/exe");
  launch.args = {mode};
  PtySession loop(launch);
  if (!loop.started() || !loop.WaitForOutput(kSampleMarker)) {
    Fail("a comparison loop did not start");
    return 0;
  }
  double rate = SamplesPerSecond(loop);
  loop.Signal(SIGTERM);
  loop.WaitForExit();
  return rate;
}

void LiveReadingRate() {
  double tool = 0;
  {
    PtySession session(QuietLaunch());
    if (!StartLiveReading(session)) return;
    tool = SamplesPerSecond(session);
    session.Signal(SIGTERM);
    session.WaitForExit();
  }
  const double system_clear = LoopRate(kSystemClearMode);
  const double bound = LoopRate(kBoundMode);
  std::printf("Live reading, samples per second over %.0f s:\n",
              std::chrono::duration<double>(kWindow).count());
  std::printf("  varno-diag READ INPUT          %12.0f\n", tool);
  std::printf("  same loop, system(\"clear\")     %12.0f\n", system_clear);
  std::printf("  bound (call + one write)       %12.0f\n", bound);
  if (system_clear > 0) {
    std::printf("  varno-diag / system(\"clear\")   %12.1f x  (target >= 100)\n",
                tool / system_clear);
  }
  if (tool > 0) {
    std::printf("  bound / varno-diag             %12.2f x  (target <= 1.5)\n", bound / tool);
  }
}

void LaunchToStartMessage() {
  std::vector<double> times_ms;
  for (int run = 0; run < kLaunchRuns; ++run) {
    PtySession session(QuietLaunch());
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

}  // namespace

int main(int argc, char** argv) {
  if (argc == 2 && std::strcmp(argv[1], kSystemClearMode) == 0) {
    SystemClearLoop(LoadGetValue());
  }
  if (argc == 2 && std::strcmp(argv[1], kBoundMode) == 0) {
    BoundLoop(LoadGetValue());
  }
  LiveReadingRate();
  LaunchToStartMessage();
  PeakMemory();
  return 0;
}
