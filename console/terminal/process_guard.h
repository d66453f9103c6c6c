// Holds the process for the whole run, from before the driver library is
// loaded: standard input, output and error stay taken, so that no descriptor
// of the tool's or the library's becomes one of them (a closed one reads as
// ended input or fails as output); interrupts make the tool leave (see
// InterruptRequested); a run that the driver library ends (a crash, an abort,
// an exit inside it) gives the terminal back as it was found, says so in one
// line and ends with the tool's exit status. One implementation per platform.
#pragma once

#include <string_view>

class ProcessGuard {
 public:
  // Every way out that the guard itself takes ends with `exit_status`; a run
  // the driver library ends prints `driver_ended_message` first. Only one
  // guard may exist.
  ProcessGuard(int exit_status, std::string_view driver_ended_message);
  // Marks the tool's own orderly end: an exit from here on is the tool's.
  ~ProcessGuard();
  ProcessGuard(const ProcessGuard&) = delete;
  ProcessGuard& operator=(const ProcessGuard&) = delete;
};

// What the console shares with the guard; all of it async-signal-safe.

// True once an interrupt (Ctrl-C outside key reads, hang-up, terminate,
// Ctrl-Break, closing the console window) has asked the tool to leave as
// Escape does.
bool InterruptRequested();

// What wakes a wait for input when an interrupt arrives, each defined on its
// own platform only: on POSIX the read end of a pipe that becomes readable
// (-1 without a guard), on Windows an event HANDLE that is set (null).
int InterruptWakeFd();
void* InterruptWakeEvent();

// How the console's hold on the terminal is given back when the process ends
// or is stopped from the guard's handlers, and taken again when it goes on.
// Both run inside signal handlers (or the console's event thread) and must be
// async-signal-safe; either may be null.
struct TerminalHold {
  void (*give_back)() = nullptr;
  void (*take_again)() = nullptr;
};
void SetTerminalHold(TerminalHold hold);
