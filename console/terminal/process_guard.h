// Holds the process for the whole run, from before the driver library is
// loaded: standard input, output and error stay taken, so that no descriptor
// of the tool's or the library's becomes one of them (a closed one reads as
// ended input or fails as output), and the terminal is held on descriptors of
// the tool's own, so that nothing the library does with 0, 1 or 2 moves it;
// interrupts make the tool leave (see InterruptRequested); a run that the
// driver library ends (a crash, an abort, an exit, pthread_exit or
// quick_exit inside it, a terminating signal it raised and does not handle)
// gives the terminal back as it was found, says so in one line and ends with
// the tool's exit status. One implementation per platform.
#pragma once

#include <string_view>

class ProcessGuard {
 public:
  // Every way out that the guard itself takes ends with `exit_status`; a run
  // the driver library ends prints `driver_ended_message` first. Only one
  // guard may exist.
  ProcessGuard(int exit_status, std::string_view driver_ended_message);
  ProcessGuard(const ProcessGuard&) = delete;
  ProcessGuard& operator=(const ProcessGuard&) = delete;

  // The tool itself ends the run here: an exit from now on is its own.
  // Called where the tool returns from its entry, never from a destructor,
  // which a library's pthread_exit() runs too.
  void EndOrderly();
};

// What the console shares with the guard; all of it async-signal-safe.

// True once an interrupt (Ctrl-C outside key reads, hang-up, terminate,
// Ctrl-Break, closing the console window) has asked the tool to leave as
// Escape does.
bool InterruptRequested();

// True once the guard has begun to end the run for the driver library. A
// switch of the terminal's mode that lands after the guard gave the
// terminal back looks at this and gives it back again.
bool RunEnding();

// What wakes a wait for input when an interrupt arrives, each defined on its
// own platform only: on POSIX the read end of a pipe that becomes readable
// (-1 without a guard), on Windows an event HANDLE that is set (null).
int InterruptWakeFd();
void* InterruptWakeEvent();

// POSIX only. The terminal as the guard holds it: standard input and output
// duplicated above the descriptors a library uses, close-on-exec, before the
// library was loaded. Without a guard, standard input and output themselves.
int HeldInputFd();
int HeldOutputFd();

// POSIX only. Puts the guard's signal handlers, signal mask and alternate
// stack back as the guard set them, whatever the library changed; a
// terminating signal that the library handles itself keeps its handler.
// Costs some thirty system calls: the console calls it when a wait for input
// begins and every 100 ms while the tool runs.
void ReassertSignalState();

// POSIX only. True once after each time the process was continued (after
// Ctrl-Z, or a stop from outside): the screen may have been written
// meanwhile, and the console draws it again.
bool TakeResumed();

// How the console's hold on the terminal is given back when the process ends
// or is stopped from the guard's handlers, and taken again when it goes on.
// Both run inside signal handlers (or the console's event thread) and must be
// async-signal-safe; either may be null.
struct TerminalHold {
  void (*give_back)() = nullptr;
  void (*take_again)() = nullptr;
};
void SetTerminalHold(TerminalHold hold);
