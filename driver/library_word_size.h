// Telling a Windows driver library's word size (32-bit or 64-bit) from its
// header, so that a library the system refuses for it can be told apart from
// any other it refuses.
#pragma once

#include <cstddef>
#include <string_view>

// How many leading bytes of a file PeWordSize looks at, at most.
inline constexpr std::size_t kPeHeaderBytes = 4096;

// 32 or 64 for the leading bytes of a Windows executable or library (PE32
// or PE32+); 0 when they are not one, or are cut short.
int PeWordSize(std::string_view header);
