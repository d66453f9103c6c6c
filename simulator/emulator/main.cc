// varno-sim: the simulated VARNO platform as a process of its own, reached
// by the stand-in library over UDP (docs/platform-protocol.md) and watched
// and changed live through its control API (README.md, "varno-sim").
// Runs until SIGINT or SIGTERM and ends within 1 s of either.
#include <pthread.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <ctime>
#include <fstream>
#include <future>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "config_file.h"
#include "control_api.h"
#include "default_platform.h"
#include "emulated_platform.h"
#include "line_file.h"
#include "options.h"
#include "platform_server.h"

namespace varno::sim {
namespace {

// How long the HTTP side may take to let its last connections go once
// asked to stop; past that the process ends without waiting for them, so
// that it always ends within 1 s.
constexpr std::chrono::milliseconds kStopGrace{800};

// Refusals and failures: all of them to --log, else start failures alone to
// standard error, as the library does.
class EmulatorLog final : public Log {
 public:
  explicit EmulatorLog(const std::string& path) : file_(path) {}
  void Write(LogLevel level, std::string_view message) override {
    std::lock_guard<std::mutex> lock(mutex_);
    if (file_.IsOpen())
      file_.Append(clock_.Now() - origin_, message);
    else if (level == LogLevel::kStartFailure)
      std::fprintf(stderr, "varno-sim: %.*s\n", static_cast<int>(message.size()), message.data());
  }

 private:
  std::mutex mutex_;
  LineFile file_;
  SteadyClock clock_;
  double origin_ = clock_.Now();
};

std::string NewToken() {
  std::random_device random;
  std::string token;
  for (int i = 0; i < 4; ++i) {
    char part[9];
    std::snprintf(part, sizeof part, "%08x", random());
    token += part;
  }
  return token;
}

// Written whole under another name, then renamed, so that a script that
// sees the file sees both lines.
bool WritePortFile(const std::string& path, const Endpoint& platform, const Endpoint& http) {
  const std::string partial = path + ".partial";
  {
    std::ofstream file(partial, std::ios::trunc);
    file << "platform=" << EndpointText(platform) << "\nhttp=" << EndpointText(http) << "\n";
    if (!file.flush()) return false;
  }
  return std::rename(partial.c_str(), path.c_str()) == 0;
}

int Fail(const std::string& message) {
  std::fprintf(stderr, "varno-sim: %s\n", message.c_str());
  return 2;
}

int Run(const Options& options) {
  PlatformConfig listing = DefaultPlatform();
  std::string error;
  if (!options.config.empty() && !LoadConfigFile(options.config, &listing, &error))
    return Fail(error);
  if (!listing.emulator.empty())
    return Fail(options.config + " names an emulator and describes no platform");

  ControlOptions control{options.http, options.token, VARNO_SIM_ASSETS_DIR};
  if (!options.http.IsLoopback() && control.token.empty()) control.token = NewToken();

  // SIGINT and SIGTERM are taken by this thread alone, waiting for them
  // below; every thread started from here on inherits the mask.
  sigset_t stop_signals;
  sigemptyset(&stop_signals);
  sigaddset(&stop_signals, SIGINT);
  sigaddset(&stop_signals, SIGTERM);
  pthread_sigmask(SIG_BLOCK, &stop_signals, nullptr);
  signal(SIGPIPE, SIG_IGN);  // a client gone mid-answer is an error, not an end

  EmulatorLog log(options.log);
  EmulatedPlatform platform(options, std::move(listing), log);
  PlatformServer udp(platform);
  if (!udp.Open(options.listen, &error)) return Fail(error);
  ControlApi api(platform, control);
  if (!api.Open(&error)) return Fail(error);
  if (!options.port_file.empty() && !WritePortFile(options.port_file, udp.Local(), api.Local()))
    return Fail("cannot write " + options.port_file);

  // The panel takes its token from the address's fragment, which the
  // browser never sends.
  const std::string panel = "http://" + EndpointText(api.Local()) + "/" +
                            (control.token.empty() ? "" : "#token=" + control.token);
  std::printf("varno-sim: platform on udp %s, panel on %s\n", EndpointText(udp.Local()).c_str(),
              panel.c_str());
  if (!control.token.empty())
    std::printf("varno-sim: token %s (changing requests send Authorization: Bearer %s)\n",
                control.token.c_str(), control.token.c_str());
  if (!options.listen.IsLoopback())
    std::printf("varno-sim: the platform protocol has no token: whoever reaches %s drives it\n",
                EndpointText(udp.Local()).c_str());
  std::fflush(stdout);

  std::atomic<bool> stop{false};
  std::thread udp_thread([&] { udp.Run(stop); });
  std::promise<void> http_done;
  std::thread http_thread([&] {
    api.Run();
    http_done.set_value();
  });

  timespec tick{0, 200'000'000L};
  int received = -1;
  std::future<void> http_ended = http_done.get_future();
  while (received < 0 && http_ended.wait_for(std::chrono::seconds(0)) != std::future_status::ready)
    received = sigtimedwait(&stop_signals, nullptr, &tick);

  stop = true;
  api.Stop();
  udp_thread.join();
  if (http_ended.wait_for(kStopGrace) != std::future_status::ready) {
    std::fflush(nullptr);
    _exit(0);  // an HTTP client still holds a connection: not waited for
  }
  http_thread.join();
  return received < 0 ? Fail("the HTTP side stopped serving") : 0;
}

}  // namespace
}  // namespace varno::sim

int main(int argc, char** argv) {
  varno::sim::Options options;
  std::string error;
  if (!varno::sim::ParseOptions(std::vector<std::string>(argv + 1, argv + argc), &options,
                                &error)) {
    std::fprintf(stderr, "varno-sim: %s\n%s", error.c_str(), varno::sim::kUsage);
    return 2;
  }
  if (options.help) {
    std::fputs(varno::sim::kUsage, stdout);
    return 0;
  }
  return varno::sim::Run(options);
}
