// Test doubles for the simulator's model: a clock the test moves by hand and
// a log that keeps its lines.
#pragma once

#include <algorithm>
#include <string>
#include <string_view>
#include <vector>

#include "clock.h"
#include "log.h"

namespace varno::sim {

struct FakeClock final : Clock {
  double now = 100.0;  // not zero, so that times relative to a start show
  double Now() override { return now; }
  void Sleep(double seconds) override { now += seconds; }
};

struct RecordingLog final : Log {
  std::vector<std::string> lines;
  void Write(LogLevel /*level*/, std::string_view message) override { lines.emplace_back(message); }
  std::string Last() const { return lines.empty() ? "" : lines.back(); }
  bool Has(std::string_view fragment) const {
    return std::ranges::any_of(
        lines, [&](const std::string& line) { return line.find(fragment) != std::string::npos; });
  }
};

}  // namespace varno::sim
