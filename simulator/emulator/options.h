// varno-sim's command line.
#pragma once

#include <string>
#include <vector>

#include "endpoint.h"

namespace varno::sim {

struct Options {
  std::string config;                 // empty: the built-in platform
  std::string scenario;               // empty: the configuration's
  std::string seed;                   // empty: the configuration's
  Endpoint listen{0x7f000001, 5020};  // the platform protocol, UDP
  Endpoint http{0x7f000001, 8020};    // the control API
  std::string port_file;
  std::string token;  // required of changing requests when set
  std::string log;    // every refusal: a file, or "-" for standard error
  bool help = false;
};

inline constexpr char kUsage[] =
    "usage: varno-sim [--config FILE] [--scenario NAME] [--seed N] [--listen ADDR:PORT]\n"
    "                 [--http ADDR:PORT] [--port-file FILE] [--token T] [--log FILE|-]\n"
    "The simulated VARNO platform behind the platform protocol (UDP, default\n"
    "127.0.0.1:5020) with its control API and panel over HTTP (default\n"
    "127.0.0.1:8020). Port 0 takes a free port; --port-file writes the two\n"
    "addresses taken. Listening for HTTP beyond the loopback needs a token:\n"
    "--token T, or one is made and printed. Runs until SIGINT or SIGTERM.\n";

// False with *error set for an unknown option, a missing value or an
// address that is not ADDR:PORT.
bool ParseOptions(const std::vector<std::string>& arguments, Options* options, std::string* error);

}  // namespace varno::sim
