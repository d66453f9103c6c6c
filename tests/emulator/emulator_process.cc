#include "emulator_process.h"

#include <fcntl.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

namespace varno::sim {
namespace {

using Clock = std::chrono::steady_clock;

std::string Field(const std::string& text, const std::string& name) {
  std::istringstream lines(text);
  for (std::string line; std::getline(lines, line);)
    if (line.rfind(name + "=", 0) == 0) return line.substr(name.size() + 1);
  return "";
}

}  // namespace

EmulatorProcess::EmulatorProcess(std::vector<std::string> arguments) {
  char folder[] = "/tmp/varno_emulator_XXXXXX";
  if (mkdtemp(folder) == nullptr) {
    error_ = "mkdtemp failed";
    return;
  }
  folder_ = folder;
  const std::string ports = folder_ + "/ports";
  std::vector<std::string> line = {VARNO_SIM_PATH, "--listen",    "127.0.0.1:0", "--http",
                                   "127.0.0.1:0",  "--port-file", ports};
  line.insert(line.end(), arguments.begin(), arguments.end());
  const std::string out = folder_ + "/output";
  const pid_t parent = getpid();
  pid_ = fork();
  if (pid_ == 0) {
    // A test that dies without its destructors (killed, timed out) takes
    // its emulator with it rather than leave it serving.
    prctl(PR_SET_PDEATHSIG, SIGTERM);
    if (getppid() != parent) _exit(127);
    // Descriptors only: the parent's buffered output is not the child's.
    const int output = open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    dup2(output, STDOUT_FILENO);
    dup2(output, STDERR_FILENO);
    std::vector<char*> argv;
    argv.reserve(line.size() + 1);
    for (std::string& a : line) argv.push_back(a.data());
    argv.push_back(nullptr);
    execv(argv[0], argv.data());
    _exit(127);
  }
  const Clock::time_point deadline = Clock::now() + std::chrono::seconds(10);
  while (Clock::now() < deadline) {
    std::ifstream file(ports);
    std::stringstream text;
    text << file.rdbuf();
    platform_ = Field(text.str(), "platform");
    http_ = Field(text.str(), "http");
    if (!platform_.empty() && !http_.empty()) return;
    int status = 0;
    if (waitpid(pid_, &status, WNOHANG) == pid_) {
      pid_ = -1;
      error_ = "varno-sim ended at once: " + Output();
      return;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  platform_.clear();
  error_ = "varno-sim wrote no port file within 10 s: " + Output();
}

EmulatorProcess::~EmulatorProcess() {
  if (pid_ > 0) Stop(SIGTERM, std::chrono::milliseconds(3000));
  std::error_code ignored;
  if (!folder_.empty()) std::filesystem::remove_all(folder_, ignored);
}

std::uint16_t EmulatorProcess::http_port() const {
  return static_cast<std::uint16_t>(std::strtol(http_.c_str() + http_.rfind(':') + 1, nullptr, 10));
}

std::string EmulatorProcess::Output() const {
  std::ifstream file(folder_ + "/output");
  std::stringstream text;
  text << file.rdbuf();
  return text.str();
}

std::optional<std::chrono::milliseconds> EmulatorProcess::Stop(int signal,
                                                               std::chrono::milliseconds timeout) {
  if (pid_ <= 0) return std::chrono::milliseconds(0);
  const Clock::time_point begin = Clock::now();
  kill(pid_, signal);
  for (;;) {
    int status = 0;
    if (waitpid(pid_, &status, WNOHANG) == pid_) {
      pid_ = -1;
      return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - begin);
    }
    if (Clock::now() - begin > timeout) break;
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  Kill();
  return std::nullopt;
}

void EmulatorProcess::Kill() {
  if (pid_ <= 0) return;
  kill(pid_, SIGKILL);
  int status = 0;
  waitpid(pid_, &status, 0);
  pid_ = -1;
}

}  // namespace varno::sim
