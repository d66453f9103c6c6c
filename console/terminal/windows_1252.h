// The tool's messages are Windows-1252 text; POSIX terminals expect UTF-8.
#pragma once

#include <string>
#include <string_view>

// ASCII passes unchanged; every other byte becomes its character in UTF-8
// (bytes that Windows-1252 leaves undefined map to the same code point).
std::string Windows1252ToUtf8(std::string_view text);
