#include "console/string_printf.h"

#include <charconv>
#include <cstdarg>
#include <cstdio>
#include <iterator>

// The messages are printf formats by definition.
std::string StringPrintf(const char* format, ...) {  // NOLINT(cert-dcl50-cpp)
  va_list args;
  va_start(args, format);
  va_list measure;
  va_copy(measure, args);
  const int length = std::vsnprintf(nullptr, 0, format, measure);
  va_end(measure);
  std::string text;
  if (length > 0) {
    text.resize(static_cast<std::size_t>(length) + 1);
    std::vsnprintf(text.data(), text.size(), format, args);
    text.pop_back();  // the terminating NUL
  }
  va_end(args);
  return text;
}

std::string FixedPoint(double value) {
  // "%f" of the largest double has 309 digits before the point.
  char text[400];
  const std::to_chars_result result =
      std::to_chars(std::begin(text), std::end(text), value, std::chars_format::fixed, 6);
  return {std::begin(text), result.ptr};
}
