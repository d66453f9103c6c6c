// What the end-to-end tests share: the tool's texts as the operator gets
// them, and the steps most tests begin with.
#pragma once

#include <gtest/gtest.h>
#include <termios.h>

#include <algorithm>
#include <string>
#include <string_view>
#include <vector>

#include "pty_session.h"

namespace varno::e2e {

inline const std::string kStarted = "\nPlataforma VARNO correctamente arrancada y detectada...";
// The "ó" as a terminal shows it.
inline const std::string kBadArguments =
    "\nError al lanzar la aplicaci\xc3\xb3n. Revise los argumentos de entrada";

// `text` as the tool writes it to a pipe: as it stands on Linux; on Windows
// with the console runtime's text-mode line ends, "\r\n" for "\n".
inline std::string OnAPipe(std::string_view text) {
  std::string out;
  for (char c : text) {
    if (c == '\n' && UnderWine()) out += '\r';
    out += c;
  }
  return out;
}

// The argument message written to a pipe: UTF-8 on Linux; on Windows the
// single Windows-1252 byte.
inline const std::string kBadArgumentsOnAPipe =
    OnAPipe(UnderWine() ? "\nError al lanzar la aplicaci\xf3n. Revise los argumentos de entrada"
                        : kBadArguments);
inline const std::string kLoadError =
    std::string("\nError al cargar la libreria ZUNVARNO_HOSTDRIVER.") +
    (UnderWine() ? "dll" : "so") + ": ";
inline const std::string kDriverEndedRun = std::string("\nLa libreria ZUNVARNO_HOSTDRIVER.") +
                                           (UnderWine() ? "dll" : "so") +
                                           " ha terminado la ejecucion.";
inline const std::string kMenu =
    "\n\nVARNO DIAGNOSTIC TOOL"
    "\n*********************"
    "\n[1]. READ INPUT"
    "\n[2]. SET OUTPUT"
    "\n[3]. CALIBRATION ASSISTANT"
    "\n[4]. MAKE CALIBRATION"
    "\n[5]. GET STATUS OF VARNO"
    "\n[6]. GET PARAMETER OF MOTO MOTION SYSTEM"
    "\n[7]. SET MOTION PARAMETERS OF MOTO MOTION SYSTEM"
    "\n[8]. SEND COMMAND TO MOTION SYSTEM OF MOTO"
    "\n[ESC]. EXIT"
    "\n\nOption>>> ";
inline const std::string kMenuTitle = "VARNO DIAGNOSTIC TOOL";
// A clear goes out with the next text as one synchronized update that draws
// the text over the old screen from the top left and erases what it leaves
// once new text shows: the empty rows it begins with, the rest of each line,
// the rest of the screen. How a screen's first clear begins: synchronized
// update, home, erase the scrollback.
inline const std::string kClear = "\x1b[?2026h\x1b[H\x1b[3J";
inline const std::string kFrameBegin = "\x1b[?2026h";
// Erase the top rows: save the cursor, to the end of the last such row,
// erase from the top to there, restore the cursor.
inline std::string EraseTopRows(int rows) {
  return "\x1b"
         "7\x1b[" +
         std::to_string(rows) +
         ";999H\x1b[1J\x1b"
         "8";
}
// Erase the rest of the screen; end of the synchronized update.
inline const std::string kFrameEnd = "\x1b[J\x1b[?2026l";
inline const std::string kSignalNamePrompt = "\n\nSIGNAL NAME? ";
inline const std::string kNameTooLong = "\nSIGNAL NAME TOO LONG (49 CHARACTERS AT MOST)";
inline const std::string kInvalidNumber = "\nINVALID NUMBER";

inline const std::string kStartCall = "start_ZUNVarno() -> 1";
inline const std::string kCloseCall = "close_ZUNVarno()";

// Whether the terminal gets the tool's own bytes. Under Wine the console
// host redraws the screen in its own way, so what only the bytes show (an
// echo cleared again at once, a clear held back until the next output) is
// checked on Linux only; the screen is checked everywhere.
inline bool BytesVisible() { return !UnderWine(); }

// `text` as it arrives through a terminal that turns "\n" into CR LF.
inline std::string OnTerminal(std::string_view text) {
  std::string out;
  for (char c : text) {
    if (c == '\n') out += '\r';
    out += c;
  }
  return out;
}

// What a terminal shows of a run that showed `text` and left: on a terminal
// the tool leaves the cursor at the start of a fresh line.
inline std::string ThenLeft(std::string_view text) {
  return text.empty() ? "" : std::string(text) + "\n";
}

// The menu drawn by a screen's first clear, as the terminal gets it.
inline const std::string kMenuOnClear = kClear + "\r\n\r\n" + kMenuTitle + EraseTopRows(2) +
                                        kFrameEnd + OnTerminal(kMenu.substr(2 + kMenuTitle.size()));

inline size_t Count(std::string_view text, std::string_view part) {
  size_t count = 0;
  for (size_t at = text.find(part); at != std::string_view::npos;
       at = text.find(part, at + part.size())) {
    ++count;
  }
  return count;
}

inline size_t CountPrefix(const std::vector<std::string>& lines, std::string_view prefix) {
  return std::count_if(lines.begin(), lines.end(), [&](const std::string& l) {
    return l.compare(0, prefix.size(), prefix) == 0;
  });
}

// While the tool is blocked in a key read, Ctrl-C is key 3: the terminal
// then sends no interrupt for it (signals off, or the interrupt character
// disabled). Everywhere else Ctrl-C interrupts. A test that sends Ctrl-C
// waits for the matching state first.
inline bool CtrlCInterrupts(const termios& settings) {
  return (settings.c_lflag & ISIG) != 0 && settings.c_cc[VINTR] != _POSIX_VDISABLE;
}
inline bool InKeyRead(const termios& settings) { return !CtrlCInterrupts(settings); }
inline bool SignalsOn(const termios& settings) { return CtrlCInterrupts(settings); }

// Waits for the start message and the key wait after it.
inline void ReachStartKeyWait(PtySession& session) {
  ASSERT_TRUE(session.started()) << session.error();
  ASSERT_TRUE(session.WaitForScreen(kStarted.substr(1))) << session.Output();
  ASSERT_TRUE(session.WaitForSettings(InKeyRead));
}

// Waits for the menu's option prompt, armed to read a key.
inline void ReachMenuPrompt(PtySession& session) {
  ASSERT_TRUE(session.WaitForScreen("Option>>>")) << session.ScreenText();
  ASSERT_TRUE(session.WaitForSettings(InKeyRead));
}

// Starts successfully and passes the key wait to the menu.
inline void ReachMenu(PtySession& session) {
  ASSERT_NO_FATAL_FAILURE(ReachStartKeyWait(session));
  ASSERT_TRUE(session.Type("k"));
  ASSERT_NO_FATAL_FAILURE(ReachMenuPrompt(session));
}

// Chooses `option` at the menu and waits for the signal name prompt.
inline void ReachSignalNamePrompt(PtySession& session, char option) {
  ASSERT_TRUE(session.Type(std::string(1, option)));
  ASSERT_TRUE(session.WaitForScreen("SIGNAL NAME?")) << session.ScreenText();
  ASSERT_TRUE(session.WaitForSettings(SignalsOn));
}

// The tool has left as Escape does: platform closed once, status 1,
// terminal as it was before the run.
inline void ExpectClosedAndRestored(PtySession& session) {
  EXPECT_EQ(session.WaitForExit(), 1) << session.Output();
  std::vector<std::string> journal = session.JournalLines();
  EXPECT_EQ(CountPrefix(journal, kCloseCall), 1u);
  ASSERT_FALSE(journal.empty());
  EXPECT_EQ(journal.back(), kCloseCall);
  EXPECT_TRUE(session.SettingsRestored());
}

}  // namespace varno::e2e
