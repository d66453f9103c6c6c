// How values are written in the journal and the log: the same spelling the
// recording test driver uses, so their records can be compared line by line.
#pragma once

#include <string>
#include <string_view>

namespace varno::sim {

// In double quotes, with \\, \" and \xNN for bytes outside printable ASCII.
std::string Quoted(std::string_view text);

// "%.9g": enough digits to give a 32-bit float back exactly.
std::string FloatText(double value);

// The float nearest to `value`, infinite beyond the float range rather than
// undefined as a plain conversion would be.
float ToFloat(double value);

}  // namespace varno::sim
