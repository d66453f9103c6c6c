// varno-sim as the tests and the benchmark run it: a child process on free
// loopback ports (--port-file tells which), stopped by its pid with a
// bounded wait, and sent SIGTERM by the system should the test die first.
// Linux only.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <optional>
#include <string>
#include <vector>

namespace varno::sim {

class EmulatorProcess {
 public:
  // Starts build/varno-sim with `arguments` after its ports; started() is
  // false and error() says why when it did not come up within 10 s.
  explicit EmulatorProcess(std::vector<std::string> arguments = {});
  ~EmulatorProcess();  // stops it if still running
  EmulatorProcess(const EmulatorProcess&) = delete;
  EmulatorProcess& operator=(const EmulatorProcess&) = delete;

  bool started() const { return pid_ > 0 && !platform_.empty(); }
  const std::string& error() const { return error_; }
  pid_t pid() const { return pid_; }
  // "127.0.0.1:PORT", as VARNO_SIM_EMULATOR takes it.
  const std::string& platform() const { return platform_; }
  const std::string& http() const { return http_; }
  std::uint16_t http_port() const;
  // What it wrote to standard output and error so far.
  std::string Output() const;

  // Sends `signal` and waits at most `timeout` for the exit; the time it
  // took, or nothing (and it is killed) when it did not end in time.
  std::optional<std::chrono::milliseconds> Stop(int signal, std::chrono::milliseconds timeout);
  // SIGKILL, as a crash or a pulled plug ends it.
  void Kill();

 private:
  std::string folder_;
  pid_t pid_ = -1;
  std::string platform_, http_, error_;
};

}  // namespace varno::sim
