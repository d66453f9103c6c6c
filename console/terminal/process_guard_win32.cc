// The process guard on Windows. Ctrl-C (outside key reads), Ctrl-Break and
// closing the window ask the tool to leave; see OnConsoleEvent. A crash, an
// abort or an exit inside the driver library gives the console modes back
// before the process ends; see EndRunForTheDriver.
#include <windows.h>

#include <atomic>
#include <csignal>
#include <cstdlib>

#include "console/terminal/process_guard.h"

namespace {

// Set up before any handler is installed and read-only afterwards, but for
// the flags. The message is kept twice: as written to a console, and with
// the console runtime's text-mode line ends for redirected output.
int g_exit_status = 1;
char g_message[256];
DWORD g_message_size = 0;
char g_message_as_text[512];
DWORD g_message_as_text_size = 0;

std::atomic<bool> g_interrupted{false};
HANDLE g_wake = nullptr;                 // set when an interrupt arrives
std::atomic<bool> g_orderly_end{false};  // the tool itself is ending the run
std::atomic<bool> g_run_ending{false};   // the guard is ending it for the library

std::atomic<void (*)()> g_give_back{nullptr};

void GiveConsoleBack() {
  if (void (*give_back)() = g_give_back.load()) give_back();
}

// The console modes as they were found, the line that says the driver
// library ended the run, and the tool's exit status.
[[noreturn]] void EndRunForTheDriver() {
  g_run_ending = true;
  GiveConsoleBack();
  HANDLE output = GetStdHandle(STD_OUTPUT_HANDLE);
  DWORD mode = 0;
  DWORD written = 0;
  if (GetConsoleMode(output, &mode)) {
    WriteFile(output, g_message, g_message_size, &written, nullptr);
    WriteFile(output, "\r\n", 2, &written, nullptr);  // the next prompt on a line of its own
  } else {
    WriteFile(output, g_message_as_text, g_message_as_text_size, &written, nullptr);
  }
  ExitProcess(static_cast<UINT>(g_exit_status));
}

LONG WINAPI OnUnhandledException(EXCEPTION_POINTERS* /*exception*/) { EndRunForTheDriver(); }

void OnAbort(int /*signal_number*/) { EndRunForTheDriver(); }

// An exit() that is not the tool's own comes from the driver library. (A
// library's quick_exit() runs its own C runtime's hooks, not the tool's.)
void OnExit() {
  if (!g_orderly_end) EndRunForTheDriver();
}

// The first event asks the tool to leave as Escape does, once any driver call
// in progress has returned; a second one ends it at once. Closing the window
// ends the process when this returns, so it waits for the orderly leave.
BOOL WINAPI OnConsoleEvent(DWORD event) {
  if (g_interrupted.exchange(true)) {
    GiveConsoleBack();
    ExitProcess(static_cast<UINT>(g_exit_status));
  }
  SetEvent(g_wake);
  if (event == CTRL_CLOSE_EVENT || event == CTRL_LOGOFF_EVENT || event == CTRL_SHUTDOWN_EVENT) {
    Sleep(INFINITE);  // the main thread's exit ends the process
  }
  return TRUE;
}

}  // namespace

ProcessGuard::ProcessGuard(int exit_status, std::string_view driver_ended_message) {
  g_exit_status = exit_status;
  for (const char c : driver_ended_message.substr(0, sizeof g_message)) {
    g_message[g_message_size++] = c;
    if (c == '\n') g_message_as_text[g_message_as_text_size++] = '\r';
    g_message_as_text[g_message_as_text_size++] = c;
  }
  g_wake = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  // Started with Ctrl-C ignored (as `start /b` leaves a program), it is
  // turned on again: it reaches OnConsoleEvent as everywhere else.
  SetConsoleCtrlHandler(nullptr, FALSE);
  SetConsoleCtrlHandler(OnConsoleEvent, TRUE);
  SetUnhandledExceptionFilter(OnUnhandledException);
  signal(SIGABRT, OnAbort);
  std::atexit(OnExit);
}

// A member, so that only the guard's owner ends the run.
void ProcessGuard::EndOrderly() {  // NOLINT(readability-convert-member-functions-to-static)
  g_orderly_end = true;
}

bool InterruptRequested() { return g_interrupted; }

bool RunEnding() { return g_run_ending; }

void* InterruptWakeEvent() { return g_wake; }

void SetTerminalHold(TerminalHold hold) { g_give_back = hold.give_back; }
