#include "console/terminal/input_buffer.h"

#include "console/terminal/number_reader.h"

namespace {

// scanf's white space: what isspace() accepts in the C locale.
constexpr char kWhiteSpace[] = " \t\n\v\f\r";

}  // namespace

template <typename T, typename Parse>
NumberStatus InputBuffer::ReadNumber(T* value, Parse parse, const LineSource& more) {
  for (;;) {
    pending_.erase(0, pending_.find_first_not_of(kWhiteSpace));
    if (!pending_.empty()) break;
    std::string line;
    switch (more(&line)) {
      case LineStatus::kOk:
        pending_ = std::move(line);
        pending_ += '\n';
        break;
      case LineStatus::kTooLong:
      case LineStatus::kNotPrintable: return NumberStatus::kInvalid;
      case LineStatus::kLeave: return NumberStatus::kLeave;
    }
  }
  std::size_t consumed = 0;
  const NumberStatus status = parse(pending_.c_str(), value, &consumed);
  pending_.erase(0, consumed);
  return status;
}

NumberStatus InputBuffer::ReadFloat(float* value, const LineSource& more) {
  return ReadNumber(value, ParseFloat, more);
}

NumberStatus InputBuffer::ReadInt(std::int32_t* value, const LineSource& more) {
  return ReadNumber(value, ParseInt, more);
}

bool InputBuffer::TakeLine(std::string* line) {
  if (pending_.empty()) return false;
  const std::size_t end = pending_.find('\n');
  *line = pending_.substr(0, end);
  pending_.erase(0, end == std::string::npos ? end : end + 1);
  return true;
}
