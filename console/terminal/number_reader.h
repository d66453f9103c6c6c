// Reading the number at the front of a text, as scanf's "%f" and "%d" do,
// refusing what a motion system must never be sent: no number at all, NaN or
// infinity in any spelling, a float that overflows, an integer outside the
// 32-bit signed range. A float that underflows reads as the nearest value.
#pragma once

#include <cstddef>
#include <cstdint>

#include "console/terminal/terminal.h"

// `text` is NUL-terminated; white space before the number is skipped as
// strtof and strtol skip it. *consumed is how many characters the number
// took, white space included (0 if none).
// Never returns kLeave.
NumberStatus ParseFloat(const char* text, float* value, std::size_t* consumed);
NumberStatus ParseInt(const char* text, std::int32_t* value, std::size_t* consumed);
