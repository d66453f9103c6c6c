#include "console/number_reader.h"

#include <cerrno>
#include <cmath>
#include <cstdlib>

// Both use the C locale, the only one the tool ever runs in: "." is the
// decimal point.

NumberStatus ParseFloat(const char* text, float* value, std::size_t* consumed) {
  char* end = nullptr;
  const float parsed = std::strtof(text, &end);
  *consumed = static_cast<std::size_t>(end - text);
  if (*consumed == 0 || !std::isfinite(parsed)) return NumberStatus::kInvalid;
  *value = parsed;
  return NumberStatus::kOk;
}

NumberStatus ParseInt(const char* text, std::int32_t* value, std::size_t* consumed) {
  char* end = nullptr;
  errno = 0;
  const long long parsed = std::strtoll(text, &end, 10);
  *consumed = static_cast<std::size_t>(end - text);
  if (*consumed == 0 || errno == ERANGE || parsed < INT32_MIN || parsed > INT32_MAX) {
    return NumberStatus::kInvalid;
  }
  *value = static_cast<std::int32_t>(parsed);
  return NumberStatus::kOk;
}
