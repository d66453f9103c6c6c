// printf-style formatting into a std::string, for the tool's messages.
#pragma once

#include <string>

#if defined(__GNUC__)
#define VARNO_PRINTF_FORMAT(f, a) __attribute__((format(printf, f, a)))
#else
#define VARNO_PRINTF_FORMAT(f, a)
#endif

std::string StringPrintf(const char* format, ...) VARNO_PRINTF_FORMAT(1, 2);

// `value` as "%f" writes it in the C locale ("." as the decimal point), so
// that a locale the driver library sets cannot change what is shown.
std::string FixedPoint(double value);
