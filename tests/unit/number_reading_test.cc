#include <gtest/gtest.h>

#include <clocale>
#include <cmath>
#include <deque>
#include <string>

#include "console/string_printf.h"
#include "console/terminal/input_buffer.h"
#include "console/terminal/number_reader.h"

namespace {

TEST(ParseFloat, TakesTheLongestNumberAndRefusesWhatIsNoNumber) {
  const struct {
    const char* text;
    NumberStatus status;
    float value;
    std::size_t consumed;
  } cases[] = {
      {"7.5\n", NumberStatus::kOk, 7.5f, 3},
      {"-0.25x", NumberStatus::kOk, -0.25f, 5},
      {"+3", NumberStatus::kOk, 3.0f, 2},
      {"1e3 4", NumberStatus::kOk, 1000.0f, 3},
      {"1ex", NumberStatus::kOk, 1.0f, 1},
      {".5", NumberStatus::kOk, 0.5f, 2},
      {"0x10", NumberStatus::kOk, 16.0f, 4},
      {"1,5", NumberStatus::kOk, 1.0f, 1},    // "." is the decimal point
      {"1e-50", NumberStatus::kOk, 0.0f, 5},  // underflow: nearest value
      {"-1e-400", NumberStatus::kOk, -0.0f, 7},
      {"0.0000000000000000000000000000000000000000000001e-300", NumberStatus::kOk, 0.0f, 53},
      {"0x1p-150", NumberStatus::kOk, 0.0f, 8},
      {"0x1.8p1", NumberStatus::kOk, 3.0f, 7},
      {"0x", NumberStatus::kOk, 0.0f, 1},
      {"0x1p+-1", NumberStatus::kOk, 1.0f, 3},
      {"1e400", NumberStatus::kInvalid, 0, 5},
      {"abc", NumberStatus::kInvalid, 0, 0},
      {"", NumberStatus::kInvalid, 0, 0},
      {"-", NumberStatus::kInvalid, 0, 0},
      {"--5", NumberStatus::kInvalid, 0, 0},
      {"+-5", NumberStatus::kInvalid, 0, 0},
      {"-+5", NumberStatus::kInvalid, 0, 0},
      {"nan", NumberStatus::kInvalid, 0, 3},
      {"NaN(12)", NumberStatus::kInvalid, 0, 7},
      {"inf", NumberStatus::kInvalid, 0, 3},
      {"-Infinity", NumberStatus::kInvalid, 0, 9},
      {"1e39", NumberStatus::kInvalid, 0, 4},  // overflows a 32-bit float
      {"-3.5e38", NumberStatus::kInvalid, 0, 7},
  };
  for (const auto& c : cases) {
    float value = -99;
    std::size_t consumed = 99;
    EXPECT_EQ(ParseFloat(c.text, &value, &consumed), c.status) << c.text;
    EXPECT_EQ(consumed, c.consumed) << c.text;
    if (c.status == NumberStatus::kOk)
      EXPECT_EQ(value, c.value) << c.text;
    else
      EXPECT_EQ(value, -99) << c.text << ": untouched";
  }
}

TEST(ParseInt, ReadsDecimalWithinThe32BitRange) {
  const struct {
    const char* text;
    NumberStatus status;
    std::int32_t value;
    std::size_t consumed;
  } cases[] = {
      {"42\n", NumberStatus::kOk, 42, 2},
      {"-5", NumberStatus::kOk, -5, 2},
      {"+7", NumberStatus::kOk, 7, 2},
      {"12.5", NumberStatus::kOk, 12, 2},
      {"0x1A", NumberStatus::kOk, 0, 1},
      {"2147483647", NumberStatus::kOk, 2147483647, 10},
      {"-2147483648", NumberStatus::kOk, INT32_MIN, 11},
      {"2147483648", NumberStatus::kInvalid, 0, 10},
      {"-2147483649", NumberStatus::kInvalid, 0, 11},
      {"99999999999999999999999", NumberStatus::kInvalid, 0, 23},
      {"x42", NumberStatus::kInvalid, 0, 0},
      {"- 5", NumberStatus::kInvalid, 0, 0},
      {"+-5", NumberStatus::kInvalid, 0, 0},  // a second sign, as in "--5"
  };
  for (const auto& c : cases) {
    std::int32_t value = -99;
    std::size_t consumed = 99;
    EXPECT_EQ(ParseInt(c.text, &value, &consumed), c.status) << c.text;
    EXPECT_EQ(consumed, c.consumed) << c.text;
    EXPECT_EQ(value, c.status == NumberStatus::kOk ? c.value : -99) << c.text;
  }
}

// A driver library may set a locale whose decimal point is ",": numbers are
// still read and written with ".".
TEST(Numbers, ReadAndWrittenInTheCLocaleWhateverTheProcessLocale) {
  const std::string before = std::setlocale(LC_ALL, nullptr);
  if (std::setlocale(LC_ALL, "de_DE.UTF-8") == nullptr)
    GTEST_SKIP() << "no de_DE.UTF-8 locale (scripts/test makes one)";
  float value = 0;
  std::size_t consumed = 0;
  EXPECT_EQ(ParseFloat("7.5", &value, &consumed), NumberStatus::kOk);
  EXPECT_EQ(value, 7.5f);
  EXPECT_EQ(ParseFloat("7,5", &value, &consumed), NumberStatus::kOk);
  EXPECT_EQ(consumed, 1u);
  EXPECT_EQ(FixedPoint(70.0), "70.000000");
  std::setlocale(LC_ALL, before.c_str());
}

// Lines as typed; running out is the end of input.
struct Lines {
  std::deque<std::string> lines;
  int taken = 0;
  InputBuffer::LineSource Source() {
    return [this](std::string* line) {
      if (lines.empty()) return LineStatus::kLeave;
      ++taken;
      *line = lines.front();
      lines.pop_front();
      return line->size() > 20 ? LineStatus::kTooLong : LineStatus::kOk;
    };
  }
};

TEST(InputBuffer, ReadsNumbersAsScanfDoes) {
  InputBuffer buffer;
  Lines typed{{"", "   ", " 1.5 2", "3 abc", "abc", "def"}};
  float value = 0;
  // Empty lines are skipped; two numbers on one line take one line.
  ASSERT_EQ(buffer.ReadFloat(&value, typed.Source()), NumberStatus::kOk);
  EXPECT_EQ(value, 1.5f);
  EXPECT_EQ(typed.taken, 3);
  ASSERT_EQ(buffer.ReadFloat(&value, typed.Source()), NumberStatus::kOk);
  EXPECT_EQ(value, 2.0f);
  EXPECT_EQ(typed.taken, 3);
  // The line end is left: the next read takes the next line.
  std::int32_t command = 0;
  ASSERT_EQ(buffer.ReadInt(&command, typed.Source()), NumberStatus::kOk);
  EXPECT_EQ(command, 3);
  // Text that is no number stays, and stops every read until discarded.
  EXPECT_EQ(buffer.ReadFloat(&value, typed.Source()), NumberStatus::kInvalid);
  EXPECT_EQ(buffer.ReadFloat(&value, typed.Source()), NumberStatus::kInvalid);
  std::string rest;
  ASSERT_TRUE(buffer.TakeLine(&rest));
  EXPECT_EQ(rest, "abc");
  EXPECT_FALSE(buffer.TakeLine(&rest));
  // Discarding drops the unread rest of a line.
  EXPECT_EQ(buffer.ReadInt(&command, typed.Source()), NumberStatus::kInvalid);
  buffer.Discard();
  EXPECT_TRUE(buffer.empty());
  EXPECT_EQ(buffer.ReadInt(&command, typed.Source()), NumberStatus::kInvalid);
  buffer.Discard();
  // End of input.
  EXPECT_EQ(buffer.ReadInt(&command, typed.Source()), NumberStatus::kLeave);
}

TEST(InputBuffer, ALineTooLongToTakeInIsNoNumber) {
  InputBuffer buffer;
  Lines typed{{std::string(30, '1')}};
  float value = 0;
  EXPECT_EQ(buffer.ReadFloat(&value, typed.Source()), NumberStatus::kInvalid);
}

}  // namespace
