// Telling a driver library built for the other word size (32-bit against
// 64-bit) from any other library the system refuses, so that the operator
// learns which build of the tool to use with it.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

// How many leading bytes of a file PeWordSize looks at, at most.
inline constexpr std::size_t kPeHeaderBytes = 4096;

// 32 or 64 for the leading bytes of a Windows executable or library (PE32
// or PE32+); 0 when they are not one, or are cut short.
int PeWordSize(std::string_view header);

// The words put after the system's reason when a library of
// `library_bits` could not be loaded into this build of `tool_bits`; empty
// when the two match or either is unknown (0).
std::string WordSizeMismatchNote(int library_bits, int tool_bits);
