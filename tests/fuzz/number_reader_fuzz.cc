// Number reading over any text. ParseFloat and ParseInt accept a number only
// when it is finite and in range, and then it is what strtof or strtol make
// of the text consumed. An InputBuffer fed the input's lines, with reads
// chosen by the first line (f float, i int, l line, d discard), behaves as
// scanf over the lines: compared with the text it must still hold.
#include <bit>
#include <cerrno>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "console/terminal/input_buffer.h"
#include "console/terminal/number_reader.h"
#include "fuzz_check.h"

namespace {

constexpr char kWhiteSpace[] = " \t\n\v\f\r";
// Longer lines are refused as the terminal refuses lines past its limit.
constexpr std::size_t kLongestLine = 64;

// The same bits: NaN matches NaN, and 0 does not match -0.
bool Same(float a, float b) {
  return std::bit_cast<std::uint32_t>(a) == std::bit_cast<std::uint32_t>(b);
}

// Checks both parsers on `text`; returns how much the float read took.
void CheckParsers(const char* text) {
  float value = 0;
  std::size_t used = 0;
  NumberStatus status = ParseFloat(text, &value, &used);
  char* end = nullptr;
  const float expected = std::strtof(text, &end);
  FUZZ_CHECK(used == static_cast<std::size_t>(end - text));
  FUZZ_CHECK(status != NumberStatus::kLeave);
  if (status == NumberStatus::kOk) {
    const std::string consumed(text, used);
    FUZZ_CHECK(used > 0 && std::isfinite(value));
    FUZZ_CHECK(Same(value, std::strtof(consumed.c_str(), nullptr)));
  } else {
    FUZZ_CHECK(used == 0 || !std::isfinite(expected));
  }

  std::int32_t integer = 0;
  status = ParseInt(text, &integer, &used);
  errno = 0;
  const long whole = std::strtol(text, &end, 10);
  const bool fits = errno == 0 && whole >= INT32_MIN && whole <= INT32_MAX;
  FUZZ_CHECK(used == static_cast<std::size_t>(end - text));
  FUZZ_CHECK(status != NumberStatus::kLeave);
  FUZZ_CHECK((status == NumberStatus::kOk) == (used > 0 && fits));
  if (status == NumberStatus::kOk) FUZZ_CHECK(integer == whole);
}

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::size_t start = 0;
  for (std::size_t end; (end = text.find('\n', start)) != std::string::npos; start = end + 1) {
    lines.push_back(text.substr(start, end - start));
  }
  lines.push_back(text.substr(start));
  return lines;
}

// What scanf's "%f" or "%d" takes from the front of `held`, which loses
// the white space and the number; how much the number took.
struct Front {
  float real;
  long integer;
  bool integer_fits;
  std::size_t used;
};

Front TakeFront(std::string* held, bool real) {
  held->erase(0, held->find_first_not_of(kWhiteSpace));
  Front front{};
  char* end = nullptr;
  errno = 0;
  if (real) {
    front.real = std::strtof(held->c_str(), &end);
  } else {
    front.integer = std::strtol(held->c_str(), &end, 10);
    front.integer_fits = errno == 0 && front.integer >= INT32_MIN && front.integer <= INT32_MAX;
  }
  front.used = static_cast<std::size_t>(end - held->c_str());
  held->erase(0, front.used);
  return front;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::vector<std::string> lines =
      Lines(std::string(reinterpret_cast<const char*>(data), size));
  for (const std::string& line : lines) CheckParsers(line.c_str());

  // What the buffer must hold: the text taken in and not handed out.
  std::string held;
  std::size_t next = 1;
  bool refused = false;  // the last line taken in was too long
  InputBuffer buffer;
  const InputBuffer::LineSource more = [&](std::string* line) {
    // A line is taken in only when nothing but white space is held.
    FUZZ_CHECK(held.find_first_not_of(kWhiteSpace) == std::string::npos);
    held.clear();
    if (next == lines.size()) return LineStatus::kLeave;
    *line = lines[next++];
    refused = line->size() > kLongestLine;
    if (refused) return LineStatus::kTooLong;
    held = *line + "\n";
    return LineStatus::kOk;
  };
  for (const char op : lines[0]) {
    const int choice = op == 'f' ? 0 : op == 'i' ? 1 : op == 'l' ? 2 : op == 'd' ? 3 : op & 3;
    NumberStatus status = NumberStatus::kOk;
    if (choice == 0 || choice == 1) {
      float real = 0;
      std::int32_t integer = 0;
      refused = false;
      status = choice == 0 ? buffer.ReadFloat(&real, more) : buffer.ReadInt(&integer, more);
      if (status == NumberStatus::kLeave) break;
      // The line source sets `refused` during the read.
      // cppcheck-suppress knownConditionTrueFalse
      if (refused) {
        FUZZ_CHECK(status == NumberStatus::kInvalid);
      } else {
        const Front front = TakeFront(&held, choice == 0);
        const bool valid =
            front.used > 0 && (choice == 0 ? std::isfinite(front.real) : front.integer_fits);
        FUZZ_CHECK((status == NumberStatus::kOk) == valid);
        if (status == NumberStatus::kOk && choice == 0) FUZZ_CHECK(Same(real, front.real));
        if (status == NumberStatus::kOk && choice == 1) FUZZ_CHECK(integer == front.integer);
      }
    } else if (choice == 2) {
      std::string line;
      FUZZ_CHECK(buffer.TakeLine(&line) == !held.empty());
      FUZZ_CHECK(line == held.substr(0, held.find('\n')));
      held.erase(0, line.size() + 1);
    } else {
      buffer.Discard();
      held.clear();
    }
    // After a refused number the tool returns to the menu, which discards.
    if (status == NumberStatus::kInvalid) {
      buffer.Discard();
      held.clear();
    }
    FUZZ_CHECK(buffer.empty() == held.empty());
  }
  return 0;
}
