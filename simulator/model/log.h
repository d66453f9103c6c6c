// Where the simulator says why it refused a call or failed to start; the
// entry points have no error channel of their own.
#pragma once

#include <string_view>

namespace varno::sim {

enum class LogLevel {
  kRefusal,       // one call refused or answered with a stand-in value
  kStartFailure,  // a start that did not return 1
};

class Log {
 public:
  virtual ~Log() = default;
  virtual void Write(LogLevel level, std::string_view message) = 0;
};

}  // namespace varno::sim
