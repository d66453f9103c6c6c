// The key strings a terminal sends, as its compiled terminfo entry lists
// them (term(5): the legacy and the 32-bit number format, with extended
// capabilities), so that keys are decoded by the terminal's own strings.
// Anything unreadable or malformed gives no keys, never an error.
#pragma once

#include <string>
#include <string_view>
#include <vector>

struct TerminalKey {
  std::string capability;  // the terminfo name: "kf1", "kcuu1", "kDC5"
  std::string bytes;       // as stored: a NUL is 0x80, as in the entry
};

// The key capabilities (names starting with 'k') of a compiled entry.
std::vector<TerminalKey> ParseTerminfoKeys(std::string_view compiled);

// The keys of the terminal type `term` (the TERM variable), from the first
// terminfo directory that has it: $TERMINFO, ~/.terminfo, $TERMINFO_DIRS
// (an empty element standing for the system's), then /etc/terminfo,
// /lib/terminfo and /usr/share/terminfo. None when `term` is null, is no
// plain name, or names nothing readable.
std::vector<TerminalKey> ReadTerminalKeys(const char* term);
