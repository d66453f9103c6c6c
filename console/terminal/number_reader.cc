#include "console/terminal/number_reader.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstring>
#include <limits>
#include <string_view>

// Both read as the C locale does ("." is the decimal point) whatever locale
// the process is in: the driver library may well set one of its own.

namespace {

// As strtof and strtol: white space as the C locale has it comes first.
const char* SkipWhiteSpace(const char* text) { return text + std::strspn(text, " \t\n\v\f\r"); }

bool IsHexDigit(char c) {
  return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}

// Where a "0x" number's digits start, after the sign; null when `text` does
// not start one (then "0x" reads as the number 0, as strtof has it).
const char* HexDigits(const char* text) {
  if (text[0] != '0' || (text[1] != 'x' && text[1] != 'X')) return nullptr;
  const char* digits = text + 2;
  if (IsHexDigit(digits[0]) || (digits[0] == '.' && IsHexDigit(digits[1]))) return digits;
  return nullptr;
}

// Where from_chars must stop reading a "0x" number's digits: libstdc++ 12
// takes "p+-1" as an exponent, which strtof does not.
const char* HexNumberLimit(const char* digits, const char* end) {
  const char* mark = digits;
  while (mark != end && (IsHexDigit(*mark) || *mark == '.')) ++mark;
  if (end - mark >= 3 && (mark[0] == 'p' || mark[0] == 'P') && mark[1] == '+' && mark[2] == '-')
    return mark;
  return end;
}

// For a number out of the double's range, so beyond 1e300 or below 1e-300:
// whether it is tiny, from the order of its first significant digit.
bool TinyBeyondDouble(std::string_view number, bool hex) {
  const std::size_t mark = number.find_first_of(hex ? "pP" : "eE");
  const std::string_view mantissa = number.substr(0, mark);
  long long exponent = 0;
  if (mark != std::string_view::npos) {
    const char* from = number.data() + mark + 1;
    if (*from == '+') ++from;
    const char* const to = number.data() + number.size();
    if (std::from_chars(from, to, exponent).ec != std::errc()) {
      exponent = (*from == '-' ? -1 : 1) * (std::numeric_limits<long long>::max() / 8);
    }
  }
  const std::size_t point = std::min(mantissa.find('.'), mantissa.size());
  const std::size_t first = mantissa.find_first_not_of("0.");
  if (first == std::string_view::npos) return true;
  const long long order = static_cast<long long>(point) - static_cast<long long>(first);
  return (hex ? 4 : 1) * order + exponent < 0;
}

}  // namespace

NumberStatus ParseFloat(const char* text, float* value, std::size_t* consumed) {
  const char* const end = text + std::strlen(text);
  const char* number = SkipWhiteSpace(text);
  const bool negative = *number == '-';
  if (*number == '+' || *number == '-') ++number;
  const char* digits = HexDigits(number);
  const bool hex = digits != nullptr;
  if (!hex) digits = number;

  float parsed = 0;
  const auto [stop, error] =
      std::from_chars(digits, hex ? HexNumberLimit(digits, end) : end, parsed,
                      hex ? std::chars_format::hex : std::chars_format::general);
  // from_chars would take a second sign.
  if (stop == digits || *digits == '-') {
    *consumed = 0;
    return NumberStatus::kInvalid;
  }
  *consumed = static_cast<std::size_t>(stop - text);
  if (error == std::errc::result_out_of_range) {
    // strtof: an underflow reads as the nearest value, an overflow as an
    // infinity (which is refused below).
    double wide = 0;
    const auto [wide_stop, wide_error] = std::from_chars(
        digits, stop, wide, hex ? std::chars_format::hex : std::chars_format::general);
    const bool tiny =
        wide_error == std::errc() ? std::fabs(wide) < 1.0 : TinyBeyondDouble({digits, stop}, hex);
    parsed = tiny ? static_cast<float>(wide_error == std::errc() ? wide : 0.0)
                  : std::numeric_limits<float>::infinity();
  }
  if (!std::isfinite(parsed)) return NumberStatus::kInvalid;
  *value = negative ? -parsed : parsed;
  return NumberStatus::kOk;
}

NumberStatus ParseInt(const char* text, std::int32_t* value, std::size_t* consumed) {
  const char* const end = text + std::strlen(text);
  const char* const number = SkipWhiteSpace(text);
  const char* digits = number + (*number == '+');
  long long parsed = 0;
  // from_chars takes a '-' but no '+'; a lone sign is no number.
  const auto [stop, error] = std::from_chars(digits, end, parsed);
  if (stop == digits || (digits != number && *digits == '-')) {
    *consumed = 0;
    return NumberStatus::kInvalid;
  }
  *consumed = static_cast<std::size_t>(stop - text);
  if (error == std::errc::result_out_of_range || parsed < INT32_MIN || parsed > INT32_MAX) {
    return NumberStatus::kInvalid;
  }
  *value = static_cast<std::int32_t>(parsed);
  return NumberStatus::kOk;
}
