// The process guard on POSIX. Interrupts (SIGINT outside key reads, SIGTERM,
// SIGHUP, SIGQUIT) ask the tool to leave; see OnInterrupt. Ctrl-Z gives the
// terminal back while stopped; see OnStop. A crash, an abort or an exit
// inside the driver library gives the terminal back before the process ends;
// see OnFatalSignal and OnExit.
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>

#include "console/terminal/process_guard.h"

namespace {

// Set up before any handler is installed and read-only afterwards, but for
// the flags.
int g_exit_status = 1;
char g_driver_ended_message[256];
std::size_t g_driver_ended_message_size = 0;

volatile sig_atomic_t g_interrupted = 0;
int g_wake_fd = -1;                       // write end of a pipe that wakes a blocked wait
int g_wake_read_fd = -1;                  // and its read end
volatile sig_atomic_t g_orderly_end = 0;  // the tool itself is ending the run

std::atomic<void (*)()> g_give_back{nullptr};
std::atomic<void (*)()> g_take_again{nullptr};

void GiveTerminalBack() {
  if (void (*give_back)() = g_give_back.load()) give_back();
}

// The first interrupt asks the tool to leave as Escape does, which it does
// once any driver call in progress has returned; a second one ends it at once.
void OnInterrupt(int /*signal_number*/) {
  const int saved_errno = errno;
  if (g_interrupted) {
    GiveTerminalBack();
    _exit(g_exit_status);
  }
  g_interrupted = 1;
  const char byte = 1;
  if (write(g_wake_fd, &byte, 1) < 0) {
    // The pipe is full: it is awake already.
  }
  errno = saved_errno;
}

// Ctrl-Z: give the terminal back while stopped, take it again on resuming.
void OnStop(int /*signal_number*/) {
  const int saved_errno = errno;
  GiveTerminalBack();
  signal(SIGTSTP, SIG_DFL);
  sigset_t stop;
  sigemptyset(&stop);
  sigaddset(&stop, SIGTSTP);
  sigprocmask(SIG_UNBLOCK, &stop, nullptr);
  raise(SIGTSTP);
  // Resumed.
  signal(SIGTSTP, OnStop);
  if (void (*take_again)() = g_take_again.load()) take_again();
  errno = saved_errno;
}

// The terminal as it was found, the line that says the driver library ended
// the run, and the tool's exit status.
[[noreturn]] void EndRunForTheDriver() {
  GiveTerminalBack();
  if (write(STDOUT_FILENO, g_driver_ended_message, g_driver_ended_message_size) < 0) {
    // Nothing more can be told.
  }
  _exit(g_exit_status);
}

void OnFatalSignal(int /*signal_number*/) { EndRunForTheDriver(); }

// An exit() that is not the tool's own comes from the driver library.
void OnExit() {
  if (!g_orderly_end) EndRunForTheDriver();
}

constexpr int kInterruptSignals[] = {SIGINT, SIGTERM, SIGHUP, SIGQUIT};
constexpr int kFatalSignals[] = {SIGSEGV, SIGBUS, SIGILL, SIGFPE, SIGABRT, SIGSYS, SIGTRAP};

void InstallHandler(int signal_number, void (*handler)(int)) {
  struct sigaction action {};
  action.sa_handler = handler;
  sigemptyset(&action.sa_mask);
  for (int s : kInterruptSignals) sigaddset(&action.sa_mask, s);
  // Restart the driver's own system calls; the console's waits use poll(),
  // which the wake pipe ends.
  action.sa_flags = SA_RESTART;
  sigaction(signal_number, &action, nullptr);
}

// The fatal signals' handler runs on a stack of its own, so that a stack
// overflow inside the driver library is caught too.
void InstallFatalHandlers() {
  static char alternate_stack[64 * 1024];
  stack_t stack{};
  stack.ss_sp = alternate_stack;
  stack.ss_size = sizeof alternate_stack;
  sigaltstack(&stack, nullptr);
  struct sigaction action {};
  action.sa_handler = OnFatalSignal;
  sigemptyset(&action.sa_mask);
  // A fault inside the handler itself ends the process the default way.
  action.sa_flags = SA_ONSTACK | SA_RESETHAND;
  for (int s : kFatalSignals) sigaction(s, &action, nullptr);
}

// Standard input, output and error that are closed are taken by /dev/null
// opened the wrong way round: reads of input fail as ended input, writes of
// output fail as a closed output does, and no later descriptor takes them.
void HoldStandardDescriptors() {
  constexpr int kFlags[] = {O_WRONLY, O_RDONLY, O_RDONLY};
  for (int fd = STDIN_FILENO; fd <= STDERR_FILENO; ++fd) {
    if (fcntl(fd, F_GETFD) != -1 || errno != EBADF) continue;
    const int held = open("/dev/null", kFlags[fd]);
    if (held >= 0 && held != fd) {
      dup2(held, fd);
      close(held);
    }
  }
}

}  // namespace

ProcessGuard::ProcessGuard(int exit_status, std::string_view driver_ended_message) {
  g_exit_status = exit_status;
  g_driver_ended_message_size =
      std::min(driver_ended_message.size(), sizeof g_driver_ended_message);
  std::memcpy(g_driver_ended_message, driver_ended_message.data(), g_driver_ended_message_size);
  HoldStandardDescriptors();
  int wake[2];
  if (pipe(wake) == 0) {
    for (int fd : wake) {
      fcntl(fd, F_SETFD, FD_CLOEXEC);
      fcntl(fd, F_SETFL, O_NONBLOCK);
    }
    g_wake_read_fd = wake[0];
    g_wake_fd = wake[1];
  }
  for (int s : kInterruptSignals) InstallHandler(s, OnInterrupt);
  InstallHandler(SIGTSTP, OnStop);
  InstallFatalHandlers();
  std::atexit(OnExit);
  // A closed output shows as a failed write, not as a fatal signal.
  signal(SIGPIPE, SIG_IGN);
}

ProcessGuard::~ProcessGuard() { g_orderly_end = 1; }

bool InterruptRequested() { return g_interrupted != 0; }

int InterruptWakeFd() { return g_wake_read_fd; }

void SetTerminalHold(TerminalHold hold) {
  g_give_back = hold.give_back;
  g_take_again = hold.take_again;
}
