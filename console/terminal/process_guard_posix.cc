// The process guard on POSIX. Interrupts (SIGINT outside key reads, SIGTERM,
// SIGHUP, SIGQUIT) ask the tool to leave; see OnInterrupt. Ctrl-Z gives the
// terminal back while stopped, and every resume takes it again; see OnStop
// and OnContinue. A crash, an abort, an exit or a terminating signal inside
// the driver library gives the terminal back before the process ends; see
// OnFatalSignal and OnExit. A library may change any of this: the console
// has it put back (ReassertSignalState).
#include <fcntl.h>
#include <pthread.h>
#include <sys/resource.h>
#include <termios.h>
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
int g_wake_fd = -1;                      // write end of a pipe that wakes a blocked wait
int g_wake_read_fd = -1;                 // and its read end
std::atomic<bool> g_orderly_end{false};  // the tool itself is ending the run
std::atomic<bool> g_run_ending{false};   // the guard is ending it for the library
std::atomic<bool> g_resumed{false};      // continued since the console last asked

// Standard input, output and error as held: a duplicate of each, and its
// file status flags (O_NONBLOCK among them) as found.
struct HeldDescriptor {
  int fd = -1;
  int found_flags = -1;
};
HeldDescriptor g_held[3];

// The signal mask and alternate stack the guard keeps.
sigset_t g_mask;
char g_alternate_stack[64 * 1024];

std::atomic<void (*)()> g_give_back{nullptr};
std::atomic<void (*)()> g_take_again{nullptr};

// Lowest number for the held descriptors, when the limit on open files
// leaves room: above those a library opens, or closes in a loop from 3 up.
constexpr int kHeldDescriptorFloor = 512;

int HoldHigh(int fd) {
  rlimit limit{};
  int floor = kHeldDescriptorFloor;
  if (getrlimit(RLIMIT_NOFILE, &limit) == 0 && limit.rlim_cur != RLIM_INFINITY)
    floor = std::min<int>(floor, static_cast<int>(limit.rlim_cur / 2));
  int held = fcntl(fd, F_DUPFD_CLOEXEC, std::max(floor, STDERR_FILENO + 1));
  if (held < 0) held = fcntl(fd, F_DUPFD_CLOEXEC, STDERR_FILENO + 1);
  return held;
}

void RestoreStatusFlags() {
  for (const HeldDescriptor& held : g_held) {
    if (held.fd >= 0 && held.found_flags != -1) fcntl(held.fd, F_SETFL, held.found_flags);
  }
}

// The terminal's modes and the descriptors' status flags as they were found.
void GiveTerminalBack() {
  if (void (*give_back)() = g_give_back.load()) give_back();
  RestoreStatusFlags();
}

void WriteAll(int fd, const char* bytes, std::size_t size) {
  while (size > 0) {
    const ssize_t written = write(fd, bytes, size);
    if (written < 0 && errno == EINTR) continue;
    if (written <= 0) return;  // nothing more can be told
    bytes += written;
    size -= static_cast<std::size_t>(written);
  }
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
  pthread_sigmask(SIG_UNBLOCK, &stop, nullptr);
  raise(SIGTSTP);
  // Resumed, or never stopped (an orphaned process group is not).
  signal(SIGTSTP, OnStop);
  if (void (*take_again)() = g_take_again.load()) take_again();
  errno = saved_errno;
}

// Every resume, after Ctrl-Z or a stop from outside (whose shell may have put
// its own modes on the terminal meanwhile): the terminal is taken again when
// the tool is in the foreground (a background tool that touched the modes
// would be stopped again), and the screen is drawn again.
void OnContinue(int /*signal_number*/) {
  const int saved_errno = errno;
  const int terminal = g_held[0].fd >= 0 ? g_held[0].fd : STDIN_FILENO;
  if (tcgetpgrp(terminal) == getpgrp()) {
    if (void (*take_again)() = g_take_again.load()) take_again();
  }
  g_resumed = true;
  errno = saved_errno;
}

// The terminal as it was found, the line that says the driver library ended
// the run, and the tool's exit status. Marks the end first, so that a mode
// switch on another thread that lands after the give-back gives it back again.
[[noreturn]] void EndRunForTheDriver() {
  g_run_ending = true;
  GiveTerminalBack();
  const int output = g_held[1].fd >= 0 ? g_held[1].fd : STDOUT_FILENO;
  // Output left non-blocking would lose the message to EAGAIN.
  const int flags = fcntl(output, F_GETFL);
  if (flags != -1 && (flags & O_NONBLOCK) != 0) fcntl(output, F_SETFL, flags & ~O_NONBLOCK);
  WriteAll(output, g_driver_ended_message, g_driver_ended_message_size);
  // On a terminal, the shell's prompt on a line of its own.
  struct termios modes {};
  if (tcgetattr(output, &modes) == 0) {
    if ((modes.c_oflag & (OPOST | ONLCR)) == (OPOST | ONLCR))
      WriteAll(output, "\n", 1);
    else
      WriteAll(output, "\r\n", 2);
  }
  RestoreStatusFlags();
  _exit(g_exit_status);
}

void OnFatalSignal(int /*signal_number*/) { EndRunForTheDriver(); }

// An exit() or quick_exit() that is not the tool's own comes from the driver
// library; the tool's own puts the descriptors' flags back.
void OnExit() {
  if (!g_orderly_end) EndRunForTheDriver();
  RestoreStatusFlags();
}

constexpr int kInterruptSignals[] = {SIGINT, SIGTERM, SIGHUP, SIGQUIT};
constexpr int kFatalSignals[] = {SIGSEGV, SIGBUS, SIGILL, SIGFPE, SIGABRT, SIGSYS, SIGTRAP};
// Signals whose default action ends the process and that nothing but the
// library sends (alarm(), its timers, its limits): without a handler of the
// library's they end the run as a crash does.
constexpr int kUnhandledEndings[] = {
    SIGUSR1,   SIGUSR2, SIGALRM, SIGVTALRM, SIGPROF, SIGXCPU, SIGXFSZ, SIGIO,
#if defined(SIGPWR)
    SIGPWR,
#endif
#if defined(SIGSTKFLT)
    SIGSTKFLT,
#endif
};

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

// The handler that ends the run runs on a stack of its own, so that a stack
// overflow inside the driver library is caught too.
void InstallEndingHandler(int signal_number) {
  struct sigaction action {};
  action.sa_handler = OnFatalSignal;
  sigemptyset(&action.sa_mask);
  // A fault inside the handler itself ends the process the default way.
  action.sa_flags = SA_ONSTACK | SA_RESETHAND;
  sigaction(signal_number, &action, nullptr);
}

void InstallHandlers() {
  for (int s : kInterruptSignals) InstallHandler(s, OnInterrupt);
  InstallHandler(SIGTSTP, OnStop);
  InstallHandler(SIGCONT, OnContinue);
  stack_t stack{};
  stack.ss_sp = g_alternate_stack;
  stack.ss_size = sizeof g_alternate_stack;
  sigaltstack(&stack, nullptr);
  for (int s : kFatalSignals) InstallEndingHandler(s);
  for (int s : kUnhandledEndings) {
    struct sigaction now {};
    if (sigaction(s, nullptr, &now) == 0 && now.sa_handler == SIG_DFL) InstallEndingHandler(s);
  }
  // A closed output shows as a failed write, not as a fatal signal.
  signal(SIGPIPE, SIG_IGN);
  pthread_sigmask(SIG_SETMASK, &g_mask, nullptr);
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
  for (int fd = STDIN_FILENO; fd <= STDERR_FILENO; ++fd) {
    g_held[fd].fd = HoldHigh(fd);
    if (g_held[fd].fd >= 0) g_held[fd].found_flags = fcntl(g_held[fd].fd, F_GETFL);
  }
  int wake[2];
  if (pipe(wake) == 0) {
    for (int fd : wake) {
      fcntl(fd, F_SETFD, FD_CLOEXEC);
      fcntl(fd, F_SETFL, O_NONBLOCK);
    }
    g_wake_read_fd = wake[0];
    g_wake_fd = wake[1];
  }
  // The mask as found, less every signal the guard handles.
  pthread_sigmask(SIG_SETMASK, nullptr, &g_mask);
  for (int s : kInterruptSignals) sigdelset(&g_mask, s);
  for (int s : kFatalSignals) sigdelset(&g_mask, s);
  for (int s : kUnhandledEndings) sigdelset(&g_mask, s);
  for (int s : {SIGTSTP, SIGCONT}) sigdelset(&g_mask, s);
  InstallHandlers();
  std::atexit(OnExit);
  if (at_quick_exit(OnExit) != 0) {
    // No room for the hook: a library's quick_exit() then goes unseen.
  }
}

// A member, so that only the guard's owner ends the run.
void ProcessGuard::EndOrderly() {  // NOLINT(readability-convert-member-functions-to-static)
  g_orderly_end = true;
}

bool InterruptRequested() { return g_interrupted != 0; }

bool RunEnding() { return g_run_ending; }

int InterruptWakeFd() { return g_wake_read_fd; }

int HeldInputFd() { return g_held[0].fd >= 0 ? g_held[0].fd : STDIN_FILENO; }

int HeldOutputFd() { return g_held[1].fd >= 0 ? g_held[1].fd : STDOUT_FILENO; }

void ReassertSignalState() { InstallHandlers(); }

bool TakeResumed() {
  // Read first: a sample's check then costs no locked exchange.
  return g_resumed.load(std::memory_order_relaxed) && g_resumed.exchange(false);
}

void SetTerminalHold(TerminalHold hold) {
  g_give_back = hold.give_back;
  g_take_again = hold.take_again;
}
